// The queued road: a queue of native row records becomes one table that the
// component writes in a single call.
//
// The records are read where they are and leave the queue only once their
// rows are in the database: a record that cannot be stored, a write the
// database refuses or asks to rerun, or any error on the way leaves the
// caller's queue exactly as it was, so that the caller can mend it or run the
// same call again and every row is written once. The price is that the
// records and the table coexist until the write.
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <queue>
#include <string>
#include <string_view>
#include <vector>

#include "TesselWrapper/ConnectWrapper.h"
#include "TesselWrapper/Errors.h"
#include "TesselWrapper/SqlRow.h"
#include "TesselWrapper/component/DbConnect.h"
#include "TesselWrapper/data/DataTable.h"
#include "TesselWrapper/data/DateTime.h"
#include "TesselWrapper/data/Text.h"
#include "TesselWrapper/data/Value.h"
#include "bridge/ErrorContext.h"
#include "bridge/Int32Wire.h"
#include "bridge/Trace.h"
#include "data/Utf8.h"

namespace {

using Tessel::Data::DataRow;
using Tessel::Data::ValueView;

// The kinds of value a field type name calls for. Date and DateTime are one
// kind, and so are Text and Memo.
enum class FieldKind { Double, LongInteger, ShortInteger, Date, Text, Unknown };

// The seven type names with the kind each calls for, in the order in which
// a type name is matched against them.
struct TypeName {
  std::string_view name;
  FieldKind kind;
};

const std::array<TypeName, 7>& TypeNames() {
  static const std::array<TypeName, 7> names = {{
      {ConnectWrapper::m_lpszDOUBLE, FieldKind::Double},
      {ConnectWrapper::m_lpszLONGINTEGER, FieldKind::LongInteger},
      {ConnectWrapper::m_lpszSHORTINTEGER, FieldKind::ShortInteger},
      {ConnectWrapper::m_lpszDATE, FieldKind::Date},
      {ConnectWrapper::m_lpszDATETIME, FieldKind::Date},
      {ConnectWrapper::m_lpszTEXT, FieldKind::Text},
      {ConnectWrapper::m_lpszMEMO, FieldKind::Text},
  }};
  return names;
}

// Runs once per field. Callers nearly always use the constants themselves,
// so an exact match is tried before the comparison that ignores case; the
// length rules out most names before any character is compared.
FieldKind KindOf(std::string_view typeName) noexcept {
  for (const TypeName& candidate : TypeNames()) {
    if (candidate.name.size() != typeName.size()) continue;
    if (candidate.name == typeName || Tessel::Text::EqualsIgnoreAsciiCase(typeName, candidate.name))
      return candidate.kind;
  }
  return FieldKind::Unknown;
}

// A field name or text as managed text. Under a UTF-8 locale (read once per
// call by the caller, into `nativeIsUtf8`) valid text is used where it is;
// everything else takes the general conversion.
std::string_view ManagedView(const char* native, bool nativeIsUtf8, std::string& scratch) {
  if (nativeIsUtf8) {
    const std::string_view text(native);
    if (Tessel::Text::detail::ValidUtf8Length(text) == text.size()) return text;
  }
  return Tessel::Text::NativeToManagedView(native, scratch);
}

// The record's numeric entry read as the member its type names. Callers fill
// the union through any member; copying the bytes reads it without relying on
// which member was written last.
template <typename T>
T NumberAs(const NUMERICDATA& number) noexcept {
  T value;
  std::memcpy(&value, &number, sizeof value);
  return value;
}

// The value of field `i` as text, for an error message.
std::string FieldValueText(const SqlRow& record, std::size_t i, FieldKind kind) {
  const NUMERICDATA& number = record.numericValues[i];
  switch (kind) {
    case FieldKind::Double:
    case FieldKind::Date:
      return Tessel::Data::ToString(ValueView{NumberAs<double>(number)});
    case FieldKind::LongInteger:
      return std::to_string(NumberAs<std::int32_t>(number));
    case FieldKind::ShortInteger:
      return std::to_string(NumberAs<std::int16_t>(number));
    case FieldKind::Text:
      return Tessel::Quoted(record.fieldValues[i].GetString());
    case FieldKind::Unknown:
      break;
  }
  return {};
}

// What field i of the records resolved to last time: the type name and its
// kind, the field name and its column. The records of one queue nearly always
// repeat the same names in the same order, so a field whose texts are the
// very bytes seen at its index before skips the type match, the conversion
// of its name and the column lookup; anything else is worked out afresh.
class FieldMemo {
 public:
  FieldKind KindOf(const CStringA& typeName) {
    if (!hasKind_ || typeName_ != typeName.str()) {
      hasKind_ = false;
      // The name ends at its first NUL, as for every native text: a type name
      // taken from a fixed-width, NUL-padded buffer is still that type.
      kind_ = ::KindOf(std::string_view(typeName.GetString()));
      typeName_ = typeName.str();
      hasKind_ = true;
    }
    return kind_;
  }

  // Throws as a write by column name does when the table has no such column.
  std::size_t ColumnOf(const CStringA& fieldName, const Tessel::Data::DataTable& table, bool nativeIsUtf8,
                       std::string& scratch) {
    if (!hasColumn_ || fieldName_ != fieldName.str()) {
      hasColumn_ = false;
      column_ = table.ColumnIndex(ManagedView(fieldName.GetString(), nativeIsUtf8, scratch));
      fieldName_ = fieldName.str();
      hasColumn_ = true;
    }
    return column_;
  }

 private:
  std::string typeName_;
  FieldKind kind_ = FieldKind::Unknown;
  bool hasKind_ = false;
  std::string fieldName_;
  std::size_t column_ = 0;
  bool hasColumn_ = false;
};

// Stores field `i` of `record` into `row` as its type name (`kind`) says; a
// field of an unknown type leaves its column at the default NewRow gave it.
// The value is formed before the column is looked up, so a date that is no
// date is reported as such even when its column is unknown too.
void StoreField(DataRow& row, const SqlRow& record, std::size_t i, FieldKind kind, FieldMemo& memo,
                bool nativeIsUtf8, std::string& nameScratch, std::string& textScratch) {
  const NUMERICDATA& number = record.numericValues[i];
  ValueView value;
  switch (kind) {
    case FieldKind::Double:
      value = NumberAs<double>(number);
      break;
    case FieldKind::LongInteger:
      value = NumberAs<std::int32_t>(number);
      break;
    case FieldKind::ShortInteger:
      // Widened with its sign: -1 stays -1, never 65535.
      value = static_cast<std::int32_t>(NumberAs<std::int16_t>(number));
      break;
    case FieldKind::Date:
      // Unlike a staged date, 0 here is a real date (1899-12-30), never null.
      value = Tessel::Data::DateTime::FromOADate(NumberAs<double>(number));
      break;
    case FieldKind::Text:
      value = ManagedView(record.fieldValues[i].GetString(), nativeIsUtf8, textScratch);
      break;
    case FieldKind::Unknown:
      return;
  }
  row.Set(memo.ColumnOf(record.fieldNames[i], row.Table(), nativeIsUtf8, nameScratch), value);
}

// A record whose lists are shorter than its count would be read out of
// bounds; it is refused whole instead, before any of its fields is read.
void CheckShape(const SqlRow* record, std::size_t position, const std::string& table) {
  if (record == nullptr) {
    throw Tessel::ArgumentNullError("BulkToTable into table " + Tessel::Quoted(table) + ": record " +
                                    std::to_string(position) + " of the queue is a null pointer");
  }
  if (record->fieldCount <= 0) return;
  const auto count = static_cast<std::size_t>(record->fieldCount);
  if (record->fieldNames.size() < count || record->fieldTypes.size() < count ||
      record->fieldValues.size() < count || record->numericValues.size() < count) {
    throw Tessel::ArgumentError(
        "BulkToTable into table " + Tessel::Quoted(table) + ": record " +
        std::to_string(position) + " claims " + std::to_string(count) +
        " fields but its lists hold fewer (names " + std::to_string(record->fieldNames.size()) +
        ", types " + std::to_string(record->fieldTypes.size()) + ", texts " +
        std::to_string(record->fieldValues.size()) + ", numbers " +
        std::to_string(record->numericValues.size()) + ")");
  }
}

// The queue's records in order, read in place. std::queue offers only its
// ends; its container is a protected member that a derived class may name.
const std::queue<SqlRow*>::container_type& RecordsOf(const std::queue<SqlRow*>& queue) {
  struct Access : std::queue<SqlRow*> {
    static const container_type& Of(const std::queue<SqlRow*>& q) { return q.*&Access::c; }
  };
  return Access::Of(queue);
}

// Rows the table refused, counted for the message that follows the write.
struct Refusals {
  std::size_t count = 0;
  std::string first;  // the first refusal's reason, with its record
};

}  // namespace

bool ConnectWrapper::BulkToTable(std::string table, std::queue<SqlRow*>* m_sqlRowQueue,
                                 long* executionTime) {
  Tessel::DbConnect& component = Component();
  if (m_sqlRowQueue == nullptr) {
    throw Tessel::ArgumentNullError("BulkToTable: argument 'm_sqlRowQueue' must point to a queue");
  }
  if (executionTime == nullptr) {
    throw Tessel::ArgumentNullError(
        "BulkToTable: argument 'executionTime' must point to a valid integer");
  }
  std::int64_t workingTime = Tessel::WidenLong32(*executionTime);
  const std::string tableName = Tessel::Text::NativeToManaged(table);

  const std::shared_ptr<Tessel::Data::DataTable> target = component.GetTable(tableName);
  if (!target) {
    // Nothing could be written, so nothing is taken from the caller.
    throw Tessel::ArgumentError("BulkToTable: the database has no table " +
                                Tessel::Quoted(tableName) + "; the " +
                                std::to_string(m_sqlRowQueue->size()) +
                                " queued records were left in the queue");
  }

  const bool tracing = Tessel::Trace::Enabled();
  const std::queue<SqlRow*>::container_type& records = RecordsOf(*m_sqlRowQueue);
  // The caller cannot change its locale while this call runs, so the
  // character set is read once rather than once per field.
  const bool nativeIsUtf8 = Tessel::Text::NativeIsUtf8();
  std::string nameScratch;
  std::string textScratch;
  std::vector<FieldMemo> memos;
  Refusals refusals;
  for (std::size_t position = 0; position < records.size(); ++position) {
    const SqlRow* record = records[position];
    CheckShape(record, position, tableName);
    if (record->fieldCount <= 0) continue;  // no fields: no row

    DataRow row = target->NewRow();
    const auto count = static_cast<std::size_t>(record->fieldCount);
    if (memos.size() < count) memos.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
      const FieldKind kind = memos[i].KindOf(record->fieldTypes[i]);
      try {
        StoreField(row, *record, i, kind, memos[i], nativeIsUtf8, nameScratch, textScratch);
      } catch (...) {
        Tessel::RethrowWithContext("BulkToTable into table " + Tessel::Quoted(tableName) + ": record " +
                                   std::to_string(position) + " of the queue, column " +
                                   Tessel::Quoted(record->fieldNames[i].GetString()) + ", value " +
                                   FieldValueText(*record, i, kind) +
                                   "; nothing was written and the queue is as it was");
      }
    }

    try {
      target->Rows().Add(row);
    } catch (const std::exception& e) {
      // A row the table refuses (a duplicate key, a missing value) is left
      // out of the write, as the table decides; the message says so.
      if (refusals.count++ == 0) refusals.first = "record " + std::to_string(position) + ": " + e.what();
      if (tracing) {
        Tessel::Trace::Line("TABLE: " + tableName + ", Row: " + std::to_string(position) + ", Col: " +
                            std::to_string(record->fieldCount) + "; " + record->fieldNames[count - 1].str() +
                            " " + e.what());
      }
    }
  }
  if (tracing) {
    Tessel::Trace::Line(std::to_string(target->Rows().Count()) + " =? " + std::to_string(records.size()));
  }

  const bool written = component.BulkToTable(*target, workingTime);
  *executionTime = Tessel::NarrowToLong32(workingTime);
  if (refusals.count != 0) {
    component.SetMessage(component.Message().value_or(std::string()) + "; " + std::to_string(refusals.count) +
                         " of " + std::to_string(records.size()) + " records were refused by table " +
                         Tessel::Quoted(tableName) + " and are not part of the write (first: " + refusals.first +
                         ")");
  }
  if (!written) return false;
  // Every row is in the database: now, and only now, the records go.
  while (!m_sqlRowQueue->empty()) {
    delete m_sqlRowQueue->front();
    m_sqlRowQueue->pop();
  }
  return true;
}
