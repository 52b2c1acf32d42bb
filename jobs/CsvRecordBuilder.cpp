#include "jobs/CsvRecordBuilder.h"

#include <algorithm>
#include <limits>

#include "TesselWrapper/ConnectWrapper.h"
#include "TesselWrapper/Errors.h"
#include "TesselWrapper/data/Text.h"
#include "data/NumberText.h"
#include "data/Quoted.h"

namespace Tessel::Jobs {
namespace {

using Data::DataType;

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool FitsInt32(std::int64_t value) noexcept {
  return value >= std::numeric_limits<std::int32_t>::min() &&
         value <= std::numeric_limits<std::int32_t>::max();
}

bool NeedsValue(const Data::DataColumn& column) {
  return !column.AllowDBNull && !column.Generated && column.DefaultValue.IsDBNull();
}

}  // namespace

CsvRecordBuilder::CsvRecordBuilder(std::shared_ptr<const Data::DataTable> shape,
                                   std::span<const CsvField> header, std::uint64_t headerLine)
    : shape_(std::move(shape)) {
  const std::string& table = shape_->TableName();
  std::vector<std::size_t> fieldOfColumn(shape_->ColumnCount(), SIZE_MAX);

  for (std::size_t i = 0; i < header.size(); ++i) {
    std::string_view name = header[i].text;
    if (i == 0 && name.starts_with(kByteOrderMark)) name.remove_prefix(kByteOrderMark.size());
    if (name.empty())
      throw CsvLoadError(headerLine, FieldLabel(i), "", "the header gives this field no column name");
    std::optional<std::size_t> column;
    try {
      column = shape_->FindColumn(name);
    } catch (const Error& e) {  // a name that matches several columns by case only
      throw CsvLoadError(headerLine, std::string(name), "", e.what());
    }
    if (!column)
      throw CsvLoadError(headerLine, std::string(name), "", "table " + Quoted(table) + " has no such column");
    if (fieldOfColumn[*column] != SIZE_MAX)
      throw CsvLoadError(headerLine, std::string(name), "",
                         "the header names column '" + shape_->Column(*column).ColumnName + "' twice");
    fieldOfColumn[*column] = i;

    const Data::DataColumn& shapeColumn = shape_->Column(*column);
    Kind kind = Kind::Text;
    switch (shapeColumn.Type) {
      case DataType::Int16:
      case DataType::Int32:
      case DataType::Int64:
        kind = Kind::Integer;
        break;
      case DataType::Boolean:
        kind = Kind::Boolean;
        break;
      case DataType::Double:
        kind = Kind::Double;
        break;
      default:
        break;
    }
    plans_.push_back({*column, CStringA(shapeColumn.ColumnName), kind,
                      shapeColumn.Type == DataType::String});
  }

  for (std::size_t c = 0; c < shape_->ColumnCount(); ++c) {
    if (!NeedsValue(shape_->Column(c))) continue;
    if (fieldOfColumn[c] == SIZE_MAX)
      throw CsvLoadError(headerLine, shape_->Column(c).ColumnName, "",
                         "table " + Quoted(table) + " needs a value in this column (NOT NULL, no default) "
                         "and the file has no such column");
    required_.push_back(fieldOfColumn[c]);
  }

  for (const Data::DataTable::UniqueConstraint& rule : shape_->UniqueConstraints()) {
    KeyRule key;
    bool alwaysNull = false;
    for (std::size_t c : rule.Columns) {
      key.description += (key.description.empty() ? "" : ", ") + shape_->Column(c).ColumnName;
      if (fieldOfColumn[c] != SIZE_MAX) {
        key.fields.push_back(fieldOfColumn[c]);
      } else if (shape_->Column(c).DefaultValue.IsDBNull()) {
        alwaysNull = true;  // a null never collides, so this rule can never trip
      }
      // A column left to its literal default holds the same value in every
      // row and so takes no part in telling rows apart.
    }
    if (alwaysNull || key.fields.empty()) continue;
    key.description = "(" + key.description + ")";
    keys_.push_back(std::move(key));
  }
}

std::string CsvRecordBuilder::FieldLabel(std::size_t index) const {
  if (index < plans_.size()) return plans_[index].name.str();
  return "field " + std::to_string(index + 1);
}

void CsvRecordBuilder::CheckKeys(std::uint64_t line, std::span<const CsvField> fields) {
  for (KeyRule& rule : keys_) {
    keyScratch_.clear();
    bool hasNull = false;
    for (std::size_t f : rule.fields) {
      const ColumnPlan& plan = plans_[f];
      if (!HasValue(plan, fields[f])) {
        hasNull = true;
        break;
      }
      // The same key may be spelt differently ("7", "+7", " 7"); compare what
      // the table would store, read with the table's own number parser.
      std::string_view text = fields[f].text;
      std::string canonical;
      if (plan.kind == Kind::Integer) {
        std::int64_t value = 0;
        if (Data::ParseInt64(text, value)) canonical = std::to_string(value);
      } else if (plan.kind == Kind::Double) {
        double value = 0;
        if (Data::ParseDouble(text, value)) canonical = Data::FormatDouble(value == 0 ? 0.0 : value);
      } else if (plan.kind == Kind::Boolean) {
        if (text == "1" || Text::EqualsIgnoreAsciiCase(text, "true")) canonical = "1";
        if (text == "0" || Text::EqualsIgnoreAsciiCase(text, "false")) canonical = "0";
      }
      if (!canonical.empty()) text = canonical;
      keyScratch_ += std::to_string(text.size());
      keyScratch_ += ':';
      keyScratch_ += text;
    }
    if (hasNull) continue;
    const auto [it, inserted] = rule.firstLine.try_emplace(keyScratch_, line);
    if (inserted) continue;
    // The key's values as the file gave them, built only for the message.
    std::string shown;
    for (std::size_t f : rule.fields) shown += (shown.empty() ? "" : ", ") + std::string(fields[f].text);
    throw CsvLoadError(line, rule.description, shown,
                       "repeats the key of line " + std::to_string(it->second) +
                           "; the table keeps its key unique");
  }
}

std::unique_ptr<SqlRow> CsvRecordBuilder::Build(std::uint64_t line, std::span<const CsvField> fields) {
  if (fields.size() != plans_.size())
    throw CsvLoadError(line, "", "",
                       "the line has " + std::to_string(fields.size()) + " fields, the header has " +
                           std::to_string(plans_.size()));
  for (std::size_t f : required_)
    if (!HasValue(plans_[f], fields[f]))
      throw CsvLoadError(line, plans_[f].name.str(), "",
                         "no value, and the column needs one (NOT NULL, no default)");
  if (!keys_.empty()) CheckKeys(line, fields);

  auto row = std::make_unique<SqlRow>();
  row->fieldNames.reserve(fields.size());
  row->fieldTypes.reserve(fields.size());
  row->fieldValues.reserve(fields.size());
  row->numericValues.reserve(fields.size());
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const ColumnPlan& plan = plans_[i];
    const CsvField& field = fields[i];
    if (!HasValue(plan, field)) continue;  // the column keeps its default
    switch (plan.kind) {
      case Kind::Integer: {
        std::int64_t value = 0;
        if (Data::ParseInt64(field.text, value, Data::kExact) && FitsInt32(value)) {
          row->AddLongField(plan.name, static_cast<std::int32_t>(value));
          continue;
        }
        break;
      }
      case Kind::Boolean:
        if (field.text == "0" || field.text == "1") {
          row->AddLongField(plan.name, field.text == "1" ? 1 : 0);
          continue;
        }
        break;
      case Kind::Double: {
        double value = 0;
        if (Data::ParseDouble(field.text, value, Data::kExact)) {
          row->AddDoubleField(plan.name, value);
          continue;
        }
        break;
      }
      case Kind::Text:
        break;
    }
    // Anything not taken above goes as text: the table parses it with its
    // own rules and refuses what the column cannot hold.
    row->AddTextField(plan.name, CStringA(field.text));
  }
  return row;
}

std::optional<CsvLoadError> CsvRecordBuilder::Explain(const SqlRow& record, std::uint64_t line) const {
  std::shared_ptr<Data::DataTable> scratch = shape_->CloneShape();
  Data::DataRow row = scratch->NewRow();
  const std::size_t count = std::min<std::size_t>(static_cast<std::size_t>(std::max(record.fieldCount, 0)),
                                                  record.fieldNames.size());
  for (std::size_t i = 0; i < count; ++i) {
    const std::string& name = record.fieldNames[i].str();
    const std::string_view type = record.fieldTypes[i].str();
    Data::ValueView value;
    std::string shown;
    if (Text::EqualsIgnoreAsciiCase(type, ConnectWrapper::m_lpszLONGINTEGER)) {
      value = record.numericValues[i].longValue;
      shown = std::to_string(record.numericValues[i].longValue);
    } else if (Text::EqualsIgnoreAsciiCase(type, ConnectWrapper::m_lpszDOUBLE)) {
      value = record.numericValues[i].doubleValue;
      shown = Data::FormatDouble(record.numericValues[i].doubleValue);
    } else {
      value = std::string_view(record.fieldValues[i].str());
      shown = record.fieldValues[i].str();
    }
    try {
      row.Set(name, value);
    } catch (const Error& e) {
      return CsvLoadError(line, name, shown, e.what());
    }
  }
  return std::nullopt;
}

}  // namespace Tessel::Jobs
