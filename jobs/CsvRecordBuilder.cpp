#include "jobs/CsvRecordBuilder.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <queue>

#include "TesselWrapper/ConnectWrapper.h"
#include "TesselWrapper/Errors.h"
#include "TesselWrapper/data/DateTime.h"
#include "TesselWrapper/data/Text.h"
#include "data/NumberText.h"
#include "data/Quoted.h"

namespace Tessel::Jobs {
namespace {

using Data::DataTable;
using Data::DataType;
using Data::RecordId;

// Rows tried on one trial table before it is renewed: enough to make the
// renewal cheap, few enough that the trial rows never weigh in memory.
constexpr std::size_t kTrialRows = 4096;

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

// A typed field as the value the bridge will store for it.
template <class Typed>
Data::ValueView ViewOf(const Typed& typed) {
  switch (typed.kind) {
    case Typed::Integer:
      return typed.integer;
    case Typed::Double:
      return typed.number;
    default:
      return std::string_view(typed.text);
  }
}

// Whether two cells of `column` hold the same key, compared as the table's
// unique rules compare them: numbers by value (0.0 and -0.0 alike, NaN equal
// to NaN), decimals by value ("1.50" and "1.5"), text byte by byte or without
// regard to ASCII case, a null equal to nothing.
bool SameKeyCell(const DataTable& table, std::size_t column, RecordId a, RecordId b) {
  if (table.IsNull(a, column) || table.IsNull(b, column)) return false;
  const Data::DataColumn& shape = table.Column(column);
  switch (shape.Type) {
    case DataType::Boolean:
    case DataType::Int16:
    case DataType::Int32:
    case DataType::Int64:
      return table.GetInt64(a, column) == table.GetInt64(b, column);
    case DataType::Double: {
      const double x = table.GetDouble(a, column), y = table.GetDouble(b, column);
      return x == y || (std::isnan(x) && std::isnan(y));
    }
    case DataType::Decimal: {
      auto value = [](std::string_view text) {
        if (text.find('.') == std::string_view::npos) return text;
        while (text.back() == '0') text.remove_suffix(1);
        if (text.back() == '.') text.remove_suffix(1);
        return text;
      };
      return value(table.GetText(a, column)) == value(table.GetText(b, column));
    }
    case DataType::String:
      return shape.IgnoreCase
                 ? Text::EqualsIgnoreAsciiCase(table.GetText(a, column), table.GetText(b, column))
                 : table.GetText(a, column) == table.GetText(b, column);
    case DataType::DateTime:
      return table.GetDateTime(a, column) == table.GetDateTime(b, column);
    case DataType::Binary: {
      const auto x = table.GetBytes(a, column), y = table.GetBytes(b, column);
      return std::equal(x.begin(), x.end(), y.begin(), y.end());
    }
  }
  return false;
}

// Replaces, in `message`, each "<before>N<after>" by what `describe` makes of N.
template <typename Describe>
std::string ReplaceNumbers(std::string message, std::string_view before, std::string_view after,
                           Describe describe) {
  for (std::size_t at = message.find(before); at != std::string::npos; at = message.find(before, at + 1)) {
    std::size_t end = at + before.size();
    std::uint64_t number = 0;
    const std::size_t digits = end;
    while (end < message.size() && message[end] >= '0' && message[end] <= '9')
      number = number * 10 + static_cast<std::uint64_t>(message[end++] - '0');
    if (end == digits || message.compare(end, after.size(), after) != 0) continue;
    const std::optional<std::string> text = describe(number);
    if (text) message.replace(at, end + after.size() - at, *text);
  }
  return message;
}

// "a", "b c" from `"a", "b c"`: a list as PostgreSQL prints identifiers.
std::vector<std::string> SplitNames(std::string_view list) {
  std::vector<std::string> names;
  for (;;) {
    const std::size_t comma = list.find(", ");
    std::string name(list.substr(0, comma));
    if (name.size() >= 2 && name.front() == '"' && name.back() == '"') {
      std::string unquoted;
      for (std::size_t i = 1; i + 1 < name.size(); ++i) {
        unquoted += name[i];
        if (name[i] == '"' && name[i + 1] == '"') ++i;
      }
      name = unquoted;
    }
    names.push_back(std::move(name));
    if (comma == std::string_view::npos) return names;
    list.remove_prefix(comma + 2);
  }
}

}  // namespace

CsvRecordBuilder::CsvRecordBuilder(std::shared_ptr<const Data::DataTable> shape,
                                   std::span<const CsvField> names, std::uint64_t headerLine)
    : shape_(std::move(shape)), nativeIsUtf8_(Text::NativeIsUtf8()) {
  const std::string& table = shape_->TableName();
  std::vector<std::size_t> fieldOfColumn(shape_->ColumnCount(), SIZE_MAX);

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
    if (fieldOfColumn[*column] != SIZE_MAX)
      throw CsvLoadError(headerLine, std::string(name), "",
                         "column '" + shape_->Column(*column).ColumnName + "' is named twice");
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
      case DataType::DateTime:
        kind = Kind::DateTime;
        break;
      default:
        break;
    }
    // The bridge reads names in the locale's character set.
    const CStringA nativeName(nativeIsUtf8_ ? shapeColumn.ColumnName
                                            : Text::ManagedToNative(shapeColumn.ColumnName));
    plans_.push_back(
        {*column, shapeColumn.ColumnName, nativeName, kind, shapeColumn.Type == DataType::String});
  }

  for (std::size_t c = 0; c < shape_->ColumnCount(); ++c) {
    if (!NeedsValue(shape_->Column(c))) continue;
    if (fieldOfColumn[c] == SIZE_MAX)
      throw CsvLoadError(headerLine, shape_->Column(c).ColumnName, "",
                         "table " + Quoted(table) +
                             " needs a value in this column (NOT NULL, no default) "
                             "and the file has no such column");
    required_.push_back(fieldOfColumn[c]);
  }

  // The key table: the key columns as the shape has them (type, letter case
  // rule, default), null allowed everywhere, since the trial table checks
  // the nulls and a null never collides.
  keys_ = DataTable::Create(table);
  keyColumnOf_.assign(shape_->ColumnCount(), SIZE_MAX);
  for (const DataTable::UniqueConstraint& constraint : shape_->UniqueConstraints()) {
    KeyRule rule;
    for (std::size_t c : constraint.Columns) {
      if (keyColumnOf_[c] == SIZE_MAX) {
        Data::DataColumn column = shape_->Column(c);
        column.AllowDBNull = true;
        keyColumnOf_[c] = keys_->AddColumn(std::move(column));
      }
      rule.columns.push_back(keyColumnOf_[c]);
      rule.description += (rule.description.empty() ? "" : ", ") + shape_->Column(c).ColumnName;
    }
    rule.description = "(" + rule.description + ")";
    keys_->AddUniqueConstraint(rule.columns);
    rules_.push_back(std::move(rule));
  }
  typed_.resize(plans_.size());
}

CsvRecordBuilder::~CsvRecordBuilder() = default;

std::string CsvRecordBuilder::FieldLabel(std::size_t index) const {
  if (index < plans_.size()) return plans_[index].name;
  return "field " + std::to_string(index + 1);
}

void CsvRecordBuilder::TypeField(std::uint64_t line, const ColumnPlan& plan, const CsvField& field,
                                 Typed& typed) const {
  typed.kind = Typed::None;
  if (!HasValue(plan, field)) return;
  const std::string_view text = field.text;
  switch (plan.kind) {
    case Kind::Integer: {
      std::int64_t value = 0;
      if (Data::ParseInt64(text, value, Data::kExact) && FitsInt32(value)) {
        typed.kind = Typed::Integer;
        typed.integer = static_cast<std::int32_t>(value);
        return;
      }
      break;  // wider integers and blanks around them: the table reads the text
    }
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
      break;
    case Kind::DateTime:
      try {
        if (std::optional<std::string> utc = UtcText(text)) {
          typed.kind = Typed::Text;
          typed.text = std::move(*utc);
          return;
        }
      } catch (const Error& e) {
        throw CsvLoadError(line, plan.name, std::string(text), e.what());
      }
      break;
    case Kind::Text:
      break;
  }
  typed.kind = Typed::Text;
  typed.text.assign(text);
  // The bridge takes text in the locale's character set; what that set
  // cannot hold would arrive as '?'.
  if (!nativeIsUtf8_ && Text::NativeToManaged(Text::ManagedToNative(typed.text)) != typed.text) {
    throw CsvLoadError(line, plan.name, typed.text,
                       "the locale's character set " + Text::NativeCharsetName() +
                           " cannot hold every character of this text, and the bridge takes text in that set "
                           "(run under a UTF-8 locale)");
  }
}

std::optional<std::size_t> CsvRecordBuilder::FirstEqualKey(RecordId record, const KeyRule& rule) const {
  for (std::size_t c : rule.columns)
    if (keys_->IsNull(record, c)) return std::nullopt;
  const std::span<const RecordId> rows = keys_->Rows().Records();
  for (std::size_t r = 0; r < rows.size(); ++r) {
    bool same = true;
    for (std::size_t c : rule.columns) {
      if (!SameKeyCell(*keys_, c, rows[r], record)) {
        same = false;
        break;
      }
    }
    if (same) return r;
  }
  return std::nullopt;
}

void CsvRecordBuilder::CheckKey(std::uint64_t line, std::span<const CsvField> fields) {
  Data::DataRow row = keys_->NewRow();
  for (std::size_t f = 0; f < plans_.size(); ++f) {
    const std::size_t column = keyColumnOf_[plans_[f].column];
    const Typed& typed = typed_[f];
    if (column != SIZE_MAX && typed.kind != Typed::None) row.Set(column, ViewOf(typed));
  }
  try {
    keys_->Rows().Add(row);
    return;
  } catch (const ConstraintError& e) {
    for (const KeyRule& rule : rules_) {
      const std::optional<std::size_t> first = FirstEqualKey(row.Record(), rule);
      if (!first) continue;
      std::string shown;
      for (std::size_t c : rule.columns) {
        std::string value;
        for (std::size_t f = 0; f < plans_.size(); ++f)
          if (keyColumnOf_[plans_[f].column] == c) value = std::string(fields[f].text);
        if (value.empty()) value = keys_->Column(c).DefaultValue.ToString();
        shown += (shown.empty() ? "" : ", ") + value;
      }
      throw CsvLoadError(line, rule.description, shown,
                         "repeats the key of line " + std::to_string(lines_.at(*first)) +
                             " as the table compares keys; the table keeps its key unique");
    }
    throw CsvLoadError(line, "", "", std::string(e.what()) + " (on an earlier line of the file)");
  }
}

std::unique_ptr<SqlRow> CsvRecordBuilder::Build(std::uint64_t line, std::span<const CsvField> fields) {
  if (fields.size() != plans_.size())
    throw CsvLoadError(line, "", "",
                       "the line has " + std::to_string(fields.size()) + " fields, the header has " +
                           std::to_string(plans_.size()));
  bool anyValue = false;
  for (std::size_t f = 0; f < fields.size(); ++f) {
    TypeField(line, plans_[f], fields[f], typed_[f]);
    anyValue = anyValue || typed_[f].kind != Typed::None;
  }
  if (!anyValue) {
    // The bridge writes no row for a record without fields, and a record
    // has no way to ask for a row of defaults.
    throw CsvLoadError(line, "", "",
                       "every field of the line is empty, and a row needs at least one value to be written; "
                       "fill one in or delete the line");
  }
  for (std::size_t f : required_)
    if (typed_[f].kind == Typed::None)
      throw CsvLoadError(line, plans_[f].name, "",
                         "no value, and the column needs one (NOT NULL, no default)");

  // The values go into a row of the write's own shape, as the bridge will
  // store them: a value the column cannot hold is refused here, with its
  // line, rather than by the write.
  if (!trial_ || trialRows_ == kTrialRows) {
    trial_ = shape_->CloneShape();
    trialRows_ = 0;
  }
  Data::DataRow row = trial_->NewRow();
  for (std::size_t f = 0; f < fields.size(); ++f) {
    const Typed& typed = typed_[f];
    if (typed.kind == Typed::None) continue;
    try {
      row.Set(plans_[f].column, ViewOf(typed));
    } catch (const Error& e) {
      throw CsvLoadError(line, plans_[f].name, std::string(fields[f].text), e.what());
    }
  }
  if (!rules_.empty()) CheckKey(line, fields);
  try {
    trial_->Rows().Add(row);
    ++trialRows_;
  } catch (const Error& e) {
    throw CsvLoadError(line, "", "", e.what());
  }
  lines_.push_back(line);

  auto record = std::make_unique<SqlRow>();
  record->fieldNames.reserve(fields.size());
  record->fieldTypes.reserve(fields.size());
  record->fieldValues.reserve(fields.size());
  record->numericValues.reserve(fields.size());
  for (std::size_t f = 0; f < fields.size(); ++f) {
    const Typed& typed = typed_[f];
    const CStringA& name = plans_[f].nativeName;
    switch (typed.kind) {
      case Typed::None:
        break;  // the column keeps its default
      case Typed::Integer:
        record->AddLongField(name, typed.integer);
        break;
      case Typed::Double:
        record->AddDoubleField(name, typed.number);
        break;
      case Typed::Text:
        record->AddTextField(
            name, nativeIsUtf8_ ? CStringA(typed.text) : CStringA(Text::ManagedToNative(typed.text)));
        break;
    }
  }
  return record;
}

std::string CsvRecordBuilder::WithFileLines(const std::string& message,
                                            const std::queue<SqlRow*>& queued) const {
  auto lineOf = [&](std::uint64_t position) -> std::optional<std::string> {
    if (position >= lines_.size()) return std::nullopt;
    return std::to_string(lines_[position]);
  };
  // The writers name rows by their position in the table, which is the
  // position of their record: every record built became one row.
  std::string text = ReplaceNumbers(message, "the row at position ", " (0-based)", [&](std::uint64_t p) {
    const auto line = lineOf(p);
    return line ? std::optional<std::string>("the row of line " + *line + " of the file") : std::nullopt;
  });
  // "the rows at positions 64 to 127 (0-based)": the first number, then the
  // last.
  for (std::size_t at = text.find("the rows at positions "); at != std::string::npos;
       at = text.find("the rows at positions ", at + 1)) {
    std::size_t end = at + 22;
    std::uint64_t numbers[2] = {0, 0};
    bool ok = true;
    for (int k = 0; k < 2 && ok; ++k) {
      const std::size_t digits = end;
      while (end < text.size() && text[end] >= '0' && text[end] <= '9')
        numbers[k] = numbers[k] * 10 + static_cast<std::uint64_t>(text[end++] - '0');
      const std::string_view after = k == 0 ? " to " : " (0-based)";
      ok = end > digits && text.compare(end, after.size(), after) == 0;
      end += after.size();
    }
    const auto first = lineOf(numbers[0]), last = lineOf(numbers[1]);
    if (ok && first && last)
      text.replace(at, end - at, "the rows of lines " + *first + " to " + *last + " of the file");
  }

  // PostgreSQL names a refused row by its key: "Key (a, b)=(1, x) already
  // exists." or "... is not present in table ...". The key's values, read
  // as the file's fields are, are looked for among the records.
  const std::size_t key = text.find("Key (");
  const std::size_t equals = key == std::string::npos ? key : text.find(")=(", key);
  if (equals == std::string::npos) return text;
  std::size_t close = text.find(") already exists", equals);
  if (close == std::string::npos) close = text.find(") is not present in table", equals);
  if (close == std::string::npos) return text;
  const std::vector<std::string> columns =
      SplitNames(std::string_view(text).substr(key + 5, equals - key - 5));
  const std::string_view valueList = std::string_view(text).substr(equals + 3, close - equals - 3);
  std::vector<std::string> values;
  if (columns.size() == 1) {
    values.emplace_back(valueList);
  } else {
    for (std::string_view rest = valueList;;) {
      const std::size_t comma = rest.find(", ");
      values.emplace_back(rest.substr(0, comma));
      if (comma == std::string_view::npos) break;
      rest.remove_prefix(comma + 2);
    }
  }
  if (values.size() != columns.size()) return text;

  // The key's fields, typed as the file's fields are, in a row of their own.
  std::shared_ptr<DataTable> scratch = shape_->CloneShape();
  Data::DataRow wanted = scratch->NewRow();
  Data::DataRow candidate = scratch->NewRow();
  std::vector<std::size_t> fields;
  for (std::size_t k = 0; k < columns.size(); ++k) {
    std::size_t found = SIZE_MAX;
    for (std::size_t f = 0; f < plans_.size(); ++f)
      if (Text::EqualsIgnoreCase(plans_[f].name, columns[k])) found = f;
    if (found == SIZE_MAX) return text;
    fields.push_back(found);
    Typed typed;
    try {
      TypeField(0, plans_[found], CsvField{values[k], true}, typed);
      if (typed.kind == Typed::None) return text;
      wanted.Set(plans_[found].column, ViewOf(typed));
    } catch (const Error&) {
      return text;
    }
  }
  // Records in queue order (a failed write leaves the queue as it was); each
  // field of one is read as the bridge reads it.
  std::queue<SqlRow*> records = queued;
  for (std::size_t position = 0; !records.empty() && position < lines_.size(); ++position, records.pop()) {
    const SqlRow& record = *records.front();
    bool same = true;
    for (std::size_t f : fields) {
      const ColumnPlan& plan = plans_[f];
      candidate.Set(plan.column, Data::DBNull);
      for (std::size_t i = 0; i < record.fieldNames.size() && i < static_cast<std::size_t>(record.fieldCount);
           ++i) {
        if (record.fieldNames[i].str() != plan.nativeName.str()) continue;
        const std::string_view type = record.fieldTypes[i].str();
        try {
          if (type == ConnectWrapper::m_lpszLONGINTEGER) {
            candidate.Set(plan.column, record.numericValues[i].longValue);
          } else if (type == ConnectWrapper::m_lpszDOUBLE) {
            candidate.Set(plan.column, record.numericValues[i].doubleValue);
          } else {
            const std::string managed = Text::NativeToManaged(record.fieldValues[i].str());
            candidate.Set(plan.column, std::string_view(managed));
          }
        } catch (const Error&) {
        }
      }
      if (!SameKeyCell(*scratch, plan.column, wanted.Record(), candidate.Record())) {
        same = false;
        break;
      }
    }
    if (same) {
      text.insert(close + 1, " of line " + std::to_string(lines_[position]) + " of the file");
      return text;
    }
  }
  return text;
}

}  // namespace Tessel::Jobs
