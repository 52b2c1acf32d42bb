#include "jobs/CsvRowBuilder.h"

#include <cstdint>
#include <limits>

#include "TesselWrapper/Errors.h"
#include "TesselWrapper/data/DateTime.h"
#include "TesselWrapper/data/Text.h"
#include "data/NumberText.h"
#include "data/Quoted.h"
#include "data/TableLoad.h"

namespace Tessel::Jobs {
namespace {

using Data::DataTable;
using Data::DataType;
using Data::RecordId;

bool FitsInt32(std::int64_t value) noexcept {
  return value >= std::numeric_limits<std::int32_t>::min() &&
         value <= std::numeric_limits<std::int32_t>::max();
}

bool NeedsValue(const Data::DataColumn& column) {
  return !column.AllowDBNull && !column.Generated && column.DefaultValue.IsDBNull();
}

// The spellings of a truth value in the exports of the databases and
// spreadsheets people load from (PostgreSQL writes t and f), in any case.
std::optional<bool> TruthWord(std::string_view text) {
  static constexpr std::string_view kTrue[] = {"1", "t", "true", "y", "yes", "on"};
  static constexpr std::string_view kFalse[] = {"0", "f", "false", "n", "no", "off"};
  for (std::string_view word : kTrue)
    if (Text::EqualsIgnoreAsciiCase(text, word)) return true;
  for (std::string_view word : kFalse)
    if (Text::EqualsIgnoreAsciiCase(text, word)) return false;
  return std::nullopt;
}

bool TwoDigits(std::string_view text, std::size_t at, int& value) {
  if (at + 2 > text.size() || text[at] < '0' || text[at] > '9' || text[at + 1] < '0' || text[at + 1] > '9')
    return false;
  value = (text[at] - '0') * 10 + (text[at + 1] - '0');
  return true;
}

// The offset of a zone suffix in seconds east of UTC: "Z", "+HH", "+HHMM",
// "+HH:MM" or "+HH:MM:SS" (PostgreSQL prints seconds for historic zones).
std::optional<int> ZoneOffset(std::string_view zone) {
  if (zone == "Z" || zone == "z") return 0;
  if (zone.size() < 3 || (zone[0] != '+' && zone[0] != '-')) return std::nullopt;
  const int sign = zone[0] == '-' ? -1 : 1;
  int hours = 0, minutes = 0, seconds = 0;
  if (!TwoDigits(zone, 1, hours) || hours > 23) return std::nullopt;
  std::size_t at = 3;
  const bool colons = at < zone.size() && zone[at] == ':';
  if (at < zone.size()) {
    if (colons) ++at;
    if (!TwoDigits(zone, at, minutes) || minutes > 59) return std::nullopt;
    at += 2;
  }
  if (at < zone.size()) {
    if (colons) {
      if (zone[at] != ':') return std::nullopt;
      ++at;
    }
    if (!TwoDigits(zone, at, seconds) || seconds > 59) return std::nullopt;
    at += 2;
  }
  if (at != zone.size()) return std::nullopt;
  return sign * (hours * 3600 + minutes * 60 + seconds);
}

// A date and time with a zone suffix ("2024-01-01 12:00:00.5+02:00",
// "2024-01-01T10:00:00Z") as the UTC text the table reads. nullopt when the
// text has no zone or does not read as a date at all: the table then judges
// the text as it is. Throws ArgumentError when the UTC time leaves the range.
std::optional<std::string> UtcText(std::string_view text) {
  // A zone follows a time of day, which starts after "YYYY-MM-DD" and a
  // separator: a '-' earlier belongs to the date.
  constexpr std::size_t kTimeStart = 11;
  if (text.size() <= kTimeStart) return std::nullopt;
  std::size_t zoneAt = text.size();
  if (text.back() == 'Z' || text.back() == 'z') {
    zoneAt = text.size() - 1;
  } else {
    const std::size_t sign = text.find_first_of("+-", kTimeStart);
    if (sign == std::string_view::npos) return std::nullopt;
    zoneAt = sign;
  }
  const std::optional<int> offset = ZoneOffset(text.substr(zoneAt));
  if (!offset) return std::nullopt;
  Data::DateTime local;
  try {
    local = Data::DateTime::Parse(text.substr(0, zoneAt));
  } catch (const Error&) {
    return std::nullopt;
  }
  const std::int64_t ticks = local.Ticks() - std::int64_t{*offset} * Data::DateTime::kTicksPerSecond;
  if (ticks < 0 || ticks > Data::DateTime::kMaxTicks)
    throw ArgumentError("in UTC this time lies outside the years 1 to 9999");
  return Data::DateTime(ticks).ToString();
}

}  // namespace

CsvRowBuilder::CsvRowBuilder(std::shared_ptr<const DataTable> shape, std::span<const CsvField> names,
                             std::uint64_t headerLine)
    : shape_(std::move(shape)) {
  const std::string& table = shape_->TableName();
  fieldOf_.assign(shape_->ColumnCount(), SIZE_MAX);

  for (std::size_t i = 0; i < names.size(); ++i) {
    const std::string_view name = names[i].text;
    if (name.empty())
      throw CsvLoadError(headerLine, FieldLabel(i), "", "no column name is given for this field");
    std::optional<std::size_t> column;
    try {
      column = shape_->FindColumn(name);
    } catch (const Error& e) {  // a name that matches several columns by case only
      throw CsvLoadError(headerLine, std::string(name), "", e.what());
    }
    if (!column)
      throw CsvLoadError(headerLine, std::string(name), "", "table " + Quoted(table) + " has no such column");
    if (fieldOf_[*column] != SIZE_MAX)
      throw CsvLoadError(headerLine, std::string(name), "",
                         "column '" + shape_->Column(*column).ColumnName + "' is named twice");
    fieldOf_[*column] = i;

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
      case DataType::DateTime:
        kind = Kind::DateTime;
        break;
      default:
        break;
    }
    plans_.push_back({*column, shapeColumn.ColumnName, kind, shapeColumn.Type == DataType::String});
  }

  for (std::size_t c = 0; c < shape_->ColumnCount(); ++c) {
    if (!NeedsValue(shape_->Column(c))) continue;
    if (fieldOf_[c] == SIZE_MAX)
      throw CsvLoadError(headerLine, shape_->Column(c).ColumnName, "",
                         "table " + Quoted(table) +
                             " needs a value in this column (NOT NULL, no default) "
                             "and the file has no such column");
    required_.push_back(fieldOf_[c]);
  }

  for (const DataTable::UniqueConstraint& constraint : shape_->UniqueConstraints()) {
    KeyRule rule;
    for (std::size_t c : constraint.Columns) {
      rule.columns.push_back(c);
      rule.fields.push_back(fieldOf_[c]);
      rule.description += (rule.description.empty() ? "" : ", ") + shape_->Column(c).ColumnName;
    }
    rule.description = "(" + rule.description + ")";
    rules_.push_back(std::move(rule));
  }
}

std::shared_ptr<DataTable> CsvRowBuilder::NewBatch() const {
  std::shared_ptr<DataTable> batch = DataTable::Create(shape_->TableName());
  for (std::size_t c = 0; c < shape_->ColumnCount(); ++c) batch->AddColumn(shape_->Column(c));
  return batch;
}

std::string CsvRowBuilder::FieldLabel(std::size_t index) const {
  if (index < plans_.size()) return plans_[index].name;
  return "field " + std::to_string(index + 1);
}

std::optional<std::size_t> CsvRowBuilder::ColumnNamed(std::string_view name) const {
  for (const ColumnPlan& plan : plans_)
    if (Text::EqualsIgnoreCase(plan.name, name)) return plan.column;
  return std::nullopt;
}

void CsvRowBuilder::TypeField(const ColumnPlan& plan, const CsvField& field, Typed& typed) const {
  typed.kind = Typed::None;
  if (!HasValue(plan, field)) return;
  const std::string_view text = field.text;
  switch (plan.kind) {
    case Kind::Integer:
      if (Data::ParseInt64(text, typed.integer, Data::kExact)) {
        typed.kind = Typed::Integer;
        return;
      }
      break;  // blanks around it, and the like: the table reads the text
    case Kind::Boolean:
      if (const std::optional<bool> truth = TruthWord(text)) {
        typed.kind = Typed::Integer;
        typed.integer = *truth ? 1 : 0;
        return;
      }
      break;
    case Kind::Double:
      if (Data::ParseDouble(text, typed.number, Data::kExact)) {
        typed.kind = Typed::Double;
        return;
      }
      break;  // NaN, Infinity: the table reads the text
    case Kind::DateTime:
      if (std::optional<std::string> utc = UtcText(text)) {
        typed.kind = Typed::Text;
        typed.owned = std::move(*utc);
        typed.text = typed.owned;
        return;
      }
      break;
    case Kind::Text:
      break;
  }
  typed.kind = Typed::Text;
  typed.text = text;
}

Data::ValueView CsvRowBuilder::ViewOf(const Typed& typed) noexcept {
  switch (typed.kind) {
    case Typed::Integer:
      if (FitsInt32(typed.integer)) return static_cast<std::int32_t>(typed.integer);
      return typed.integer;
    case Typed::Double:
      return typed.number;
    case Typed::Text:
      return typed.text;
    case Typed::None:
      break;
  }
  return Data::DBNull;
}

void CsvRowBuilder::AddRow(DataTable& batch, std::uint64_t line, std::span<const CsvField> fields) {
  if (fields.size() != plans_.size())
    throw CsvLoadError(line, "", "",
                       "the line has " + std::to_string(fields.size()) + " fields, the header has " +
                           std::to_string(plans_.size()));
  bool anyValue = false;
  for (std::size_t f = 0; f < fields.size() && !anyValue; ++f) anyValue = HasValue(plans_[f], fields[f]);
  if (!anyValue) {
    // A row without any value would be a row of defaults only, which a line
    // of the file cannot ask for.
    throw CsvLoadError(line, "", "",
                       "every field of the line is empty, and a row needs at least one value to be written; "
                       "fill one in or delete the line");
  }
  for (std::size_t f : required_)
    if (!HasValue(plans_[f], fields[f]))
      throw CsvLoadError(line, plans_[f].name, "",
                         "no value, and the column needs one (NOT NULL, no default)");

  Data::detail::RecordLoader loader(batch);
  const RecordId record = loader.NewRecord();
  for (std::size_t f = 0; f < fields.size(); ++f) {
    const ColumnPlan& plan = plans_[f];
    try {
      TypeField(plan, fields[f], typed_);
      if (typed_.kind != Typed::None) loader.Set(record, plan.column, ViewOf(typed_));
    } catch (const Error& e) {
      throw CsvLoadError(line, plan.name, std::string(fields[f].text), e.what());
    }
  }
  try {
    loader.Add(record);
  } catch (const Error& e) {
    throw CsvLoadError(line, "", "", e.what());
  }
}

bool CsvRowBuilder::Fill(Data::DataRow& row, std::span<const CsvField> fields) {
  if (fields.size() != plans_.size()) return false;
  for (std::size_t f = 0; f < fields.size(); ++f) {
    try {
      TypeField(plans_[f], fields[f], typed_);
      if (typed_.kind != Typed::None) row.Set(plans_[f].column, ViewOf(typed_));
    } catch (const Error&) {
      return false;
    }
  }
  return true;
}

bool CsvRowBuilder::FillColumn(Data::DataRow& row, std::size_t column, std::string_view text) {
  const std::size_t field = fieldOf_[column];
  if (field == SIZE_MAX) return false;
  try {
    TypeField(plans_[field], CsvField{text, true}, typed_);
    if (typed_.kind == Typed::None) return false;
    row.Set(column, ViewOf(typed_));
  } catch (const Error&) {
    return false;
  }
  return true;
}

}  // namespace Tessel::Jobs
