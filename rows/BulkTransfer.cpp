// The queued road: a queue of native row records becomes one table that the
// component writes in a single call.
//
// Each record is deleted as soon as its row is built, so the native records
// shrink while the table grows. A record is deleted only after its row was
// built: when a field cannot be stored the call ends with that record still
// at the front of the queue and nothing behind it touched, so the caller
// loses no data it has not yet handed over.
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <queue>
#include <string>
#include <string_view>

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

namespace {

using Tessel::Data::DataRow;
using Tessel::Data::ValueView;

// The kinds of value a field type name calls for. Date and DateTime are one
// kind, and so are Text and Memo.
enum class FieldKind { Double, LongInteger, ShortInteger, Date, Text, Unknown };

FieldKind KindOf(std::string_view typeName) noexcept {
  using Tessel::Text::EqualsIgnoreAsciiCase;
  if (EqualsIgnoreAsciiCase(typeName, ConnectWrapper::m_lpszDOUBLE)) return FieldKind::Double;
  if (EqualsIgnoreAsciiCase(typeName, ConnectWrapper::m_lpszLONGINTEGER)) return FieldKind::LongInteger;
  if (EqualsIgnoreAsciiCase(typeName, ConnectWrapper::m_lpszSHORTINTEGER)) return FieldKind::ShortInteger;
  if (EqualsIgnoreAsciiCase(typeName, ConnectWrapper::m_lpszDATE)) return FieldKind::Date;
  if (EqualsIgnoreAsciiCase(typeName, ConnectWrapper::m_lpszDATETIME)) return FieldKind::Date;
  if (EqualsIgnoreAsciiCase(typeName, ConnectWrapper::m_lpszTEXT)) return FieldKind::Text;
  if (EqualsIgnoreAsciiCase(typeName, ConnectWrapper::m_lpszMEMO)) return FieldKind::Text;
  return FieldKind::Unknown;
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

// Stores field `i` of `record` into `row` as its type name says; a field of an
// unknown type leaves its column at the default NewRow gave it.
void StoreField(DataRow& row, const SqlRow& record, std::size_t i, FieldKind kind,
                std::string& nameScratch, std::string& textScratch) {
  if (kind == FieldKind::Unknown) return;
  const std::string_view column =
      Tessel::Text::NativeToManagedView(record.fieldNames[i].GetString(), nameScratch);
  const NUMERICDATA& number = record.numericValues[i];
  switch (kind) {
    case FieldKind::Double:
      row.Set(column, ValueView{NumberAs<double>(number)});
      break;
    case FieldKind::LongInteger:
      row.Set(column, ValueView{NumberAs<std::int32_t>(number)});
      break;
    case FieldKind::ShortInteger:
      // Widened with its sign: -1 stays -1, never 65535.
      row.Set(column, ValueView{static_cast<std::int32_t>(NumberAs<std::int16_t>(number))});
      break;
    case FieldKind::Date:
      // Unlike a staged date, 0 here is a real date (1899-12-30), never null.
      row.Set(column, ValueView{Tessel::Data::DateTime::FromOADate(NumberAs<double>(number))});
      break;
    case FieldKind::Text:
      row.Set(column, ValueView{
                          Tessel::Text::NativeToManagedView(record.fieldValues[i].GetString(), textScratch)});
      break;
    case FieldKind::Unknown:
      break;
  }
}

// A record whose lists are shorter than its count would be read out of
// bounds; it is refused whole instead, before any of its fields is read.
void CheckShape(const SqlRow* record, std::size_t position, const std::string& table) {
  if (record == nullptr) {
    throw Tessel::ArgumentNullError("BulkToTable into table " + Tessel::Quoted(table) +
                                    ": record " + std::to_string(position) +
                                    " of the queue is a null pointer");
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
  const std::size_t queuedAtStart = m_sqlRowQueue->size();
  std::string nameScratch;
  std::string textScratch;
  for (std::size_t position = 0; !m_sqlRowQueue->empty(); ++position) {
    SqlRow* record = m_sqlRowQueue->front();
    CheckShape(record, position, tableName);

    std::optional<DataRow> row;
    if (record->fieldCount > 0) {
      row.emplace(target->NewRow());
      const auto count = static_cast<std::size_t>(record->fieldCount);
      for (std::size_t i = 0; i < count; ++i) {
        const FieldKind kind = KindOf(record->fieldTypes[i].str());
        try {
          StoreField(*row, *record, i, kind, nameScratch, textScratch);
        } catch (...) {
          Tessel::RethrowWithContext("BulkToTable into table " + Tessel::Quoted(tableName) +
                                     ": record " + std::to_string(position) +
                                     " of this call, column " +
                                     Tessel::Quoted(record->fieldNames[i].GetString()) +
                                     ", value " + FieldValueText(*record, i, kind));
        }
      }
    }

    // What a refused row's trace line names has to be taken before the
    // record goes.
    std::string refusedContext;
    if (tracing && row) {
      refusedContext = "TABLE: " + tableName + ", Row: " + std::to_string(position) +
                       ", Col: " + std::to_string(record->fieldCount) + "; " +
                       record->fieldNames[static_cast<std::size_t>(record->fieldCount) - 1].str();
    }
    m_sqlRowQueue->pop();
    delete record;

    if (!row) continue;
    try {
      target->Rows().Add(*row);
    } catch (const std::exception& e) {
      // A row the table refuses (a duplicate key, a missing value) is dropped
      // and the transfer goes on; only the trace hears of it.
      if (tracing) {
        Tessel::Trace::Line(std::string(e.what()) + "\n" + refusedContext + " " + e.what());
      }
    } catch (...) {
      if (tracing) Tessel::Trace::Line("unknown failure\n" + refusedContext + " unknown failure");
    }
  }
  if (tracing) {
    Tessel::Trace::Line(std::to_string(target->Rows().Count()) + " =? " +
                        std::to_string(queuedAtStart));
  }

  const bool written = component.BulkToTable(*target, workingTime);
  *executionTime = Tessel::NarrowToLong32(workingTime);
  return written;
}
