// The staging road: rows are opened, filled field by field and added to the
// component's current table; a table's rows go to the database when the caller
// moves on to another table name.
//
// All staging state lives in the component (its current table and row), so
// these operations keep nothing of their own between calls. The field stores
// run once per field of a possibly million-row load: they read the open row
// by reference, ask for the locale's character set only for text that is
// not portable ASCII, and hand the name over in native text, which the table
// compares with the name it expects next before converting anything.
#include <climits>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "TesselWrapper/ConnectWrapper.h"
#include "TesselWrapper/Errors.h"
#include "TesselWrapper/component/DbConnect.h"
#include "TesselWrapper/data/DataTable.h"
#include "TesselWrapper/data/DateTime.h"
#include "TesselWrapper/data/Text.h"
#include "TesselWrapper/data/Value.h"
#include "bridge/ErrorContext.h"
#include "bridge/Int32Wire.h"
#include "bridge/ShapeRefresh.h"
#include "bridge/Trace.h"
#include "data/Quoted.h"
#include "data/TableLoad.h"

namespace {

using Tessel::DbConnect;
using Tessel::Data::DataTable;
using Tessel::Data::ValueView;

constexpr const char* kNoCurrentRow =
    "Current Row is null; cannot add data. Did you forget to StartNewRow()?";

void RequirePointer(const void* pointer, const char* operation, const char* argument) {
  if (pointer == nullptr) {
    throw Tessel::ArgumentNullError(std::string(operation) + ": argument '" + argument +
                                    "' must point to a valid integer");
  }
}

// A failed write after which nothing was written and the same rows may go
// through later, as the failure's category says (never its words: they
// carry table names and the database's text). Only a write that returned
// false is asked.
bool AsksForRerunOrNewShape(const DbConnect& component) {
  const Tessel::ErrorCategory category = component.FailureCategory();
  return Tessel::AsksForRerun(category) || category == Tessel::ErrorCategory::SchemaChange;
}

// Makes `name` current: no table for an enumeration table, else the
// component's table of that name. True when it is an enumeration table.
// Throws ArgumentError for a name the database has no table of (rows staged
// for it could never be written). The empty name selects no table, and asks
// the database nothing.
bool SelectTable(DbConnect& component, const std::string& name) {
  if (name.empty()) {
    component.SetDataTableCur(nullptr);
    return false;
  }
  if (component.IsEnumTable(name)) {
    component.SetDataTableCur(nullptr);
    return true;
  }
  std::shared_ptr<DataTable> table = component.GetTable(name);
  if (!table && !name.empty()) {
    const std::string tableSet = component.TableSetName();
    throw Tessel::ArgumentError(
        "StartNewRow: the database has no table " + Tessel::Quoted(name) +
        (tableSet.empty() ? std::string() : " in table set " + Tessel::Quoted(tableSet)) +
        " and it is no enumeration table; no row was opened");
  }
  component.SetDataTableCur(std::move(table));
  return false;
}

enum class FlushOutcome {
  Written,       // the table is in the database and no longer current
  KeptForRerun,  // nothing written; the table and its rows stay current
  Discarded,     // refused for good; the rows are dropped, no table current
};

// Writes the current table through the component and reports what the
// caller's counters receive: the rows written (0 when the write failed) and
// the execution time. The table is held here, since the component is free to
// change its current table while it writes.
FlushOutcome Flush(DbConnect& component, std::int64_t& executionTime, int* rowsWrittenCount,
                   long* callerExecutionTime) {
  const std::shared_ptr<DataTable> flushed = component.DataTableCur();
  component.SetFailureCategory(std::nullopt);
  const bool written = component.BulkToTable(*flushed, executionTime);
  *callerExecutionTime = Tessel::NarrowToLong32(executionTime);
  const auto rows = static_cast<int>(flushed->Rows().Count());
  *rowsWrittenCount = written ? rows : 0;
  if (!written && AsksForRerunOrNewShape(component)) {
    // The rows stay for the rerun; where the shape moved, they move onto
    // the shape the database has now, when it can hold every value.
    if (component.FailureCategory() == Tessel::ErrorCategory::SchemaChange)
      Tessel::Rows::ReshapeCurrentTable(component);
    return FlushOutcome::KeptForRerun;
  }
  // Released before anything else can fail (choosing the next table talks to
  // the database too), so that no later call can write these rows again.
  // A row left open goes with its table: field stores must not go on into a
  // row of a table that is no longer current and reaches no table.
  component.SetDataTableCur(nullptr);
  component.SetDataRowCur(std::nullopt);
  if (written) return FlushOutcome::Written;
  // The write failed without asking for a rerun: the database refused the
  // rows for good (a key already present, a check, a trigger), or nobody can
  // say whether they were committed. Writing the same rows again cannot
  // succeed, or could write them twice, so they are dropped and the caller
  // hears which and why.
  component.SetMessage("StartNewRow: the " + std::to_string(rows) + " staged " +
                       (rows == 1 ? "row" : "rows") + " of table " + Tessel::Quoted(flushed->TableName()) +
                       " have been discarded, since the write failed without asking for a rerun: " +
                       Tessel::DefuseRetryTexts(component.Message().value_or("no reason given")));
  return FlushOutcome::Discarded;
}

// Selects `name` after the rows of the table before were discarded. The
// call reports the discard whatever happens next: an error while the table
// is chosen (a busy catalogue, a name the database lacks) joins the message,
// with its retry words defused, instead of leaving as an exception that
// would hide the lost rows; no table is current then, and a StartNewRow
// with the same name selects it. False when no selection was made.
bool SelectAfterDiscard(DbConnect& component, const std::string& name) {
  const std::string discarded = component.Message().value_or(std::string());
  try {
    SelectTable(component, name);
    return true;
  } catch (const std::exception& e) {
    component.SetDataTableCur(nullptr);
    component.SetMessage(discarded + "; table " + Tessel::Quoted(name) +
                         " was not selected either: " + Tessel::DefuseRetryTexts(e.what()));
    return false;
  }
}

// Stores one field into the open row. Errors from the row (an unknown column,
// a value its column cannot hold) leave with the table, column and value
// named. `charset` asks for the locale's character set at most once for the
// whole call.
bool StoreField(DbConnect& component, const char* fieldName, ValueView value,
                Tessel::Data::detail::NativeCharset& charset) {
  std::optional<Tessel::Data::DataRow>& row = component.DataRowCur();
  if (!row) {
    component.SetMessage(std::string(kNoCurrentRow));
    return false;
  }
  try {
    Tessel::Data::detail::SetField(*row, fieldName, charset, value);
  } catch (...) {
    std::string scratch;
    const std::string_view column = Tessel::Data::detail::NativeTextView(fieldName, charset, scratch);
    // A column the shape lacks may have been added since it was read: the
    // shape is read again once, and the store goes to the table as the
    // database has it now.
    if (!column.empty() && !row->Table().FindColumn(column) &&
        Tessel::Rows::ReshapeCurrentTable(component, column)) {
      return StoreField(component, fieldName, value, charset);
    }
    Tessel::RethrowWithContext("storing " + Tessel::Quoted(Tessel::Data::ToString(value)) + " into column " +
                               Tessel::Quoted(column) + " of table " +
                               Tessel::Quoted(row->Table().TableName()));
  }
  return true;
}

bool StoreField(DbConnect& component, const char* fieldName, ValueView value) {
  Tessel::Data::detail::NativeCharset charset;
  return StoreField(component, fieldName, value, charset);
}

}  // namespace

bool ConnectWrapper::StartNewRow(const char* tablename, int* rowsStoredCount, int* rowsWrittenCount,
                                 long* executionTime) {
  DbConnect& component = Component();
  RequirePointer(rowsStoredCount, "StartNewRow", "rowsStoredCount");
  RequirePointer(rowsWrittenCount, "StartNewRow", "rowsWrittenCount");
  RequirePointer(executionTime, "StartNewRow", "executionTime");

  std::int64_t workingTime = Tessel::WidenLong32(*executionTime);
  std::string scratch;
  Tessel::Data::detail::NativeCharset charset;
  const std::string_view requestedView = Tessel::Data::detail::NativeTextView(tablename, charset, scratch);

  bool result = true;
  if (!component.DataTableCur()) {
    *rowsStoredCount = SelectTable(component, std::string(requestedView)) ? -1 : 0;
  } else if (component.DataTableCur()->TableName() != requestedView || requestedView.empty()) {
    // Another table, or the empty name again while the empty-named table is
    // current (a caller that flushes with "" twice): the current table is
    // written first.
    if (requestedView.empty() && component.DataTableCur()->TableName().empty()) {
      Tessel::Trace::Line(
          "StartNewRow: the empty table name was requested while the current table's name is "
          "empty too; flushing it and selecting the empty name again");
    }
    const FlushOutcome outcome = Flush(component, workingTime, rowsWrittenCount, executionTime);
    if (outcome == FlushOutcome::KeptForRerun) return false;
    if (outcome == FlushOutcome::Written) {
      SelectTable(component, std::string(requestedView));
    } else if (!SelectAfterDiscard(component, std::string(requestedView))) {
      return false;
    }
    result = outcome == FlushOutcome::Written;
  }
  // Otherwise the same non-empty name: keep the table, open another row.

  const std::shared_ptr<DataTable>& table = component.DataTableCur();
  if (!table) return result;
  try {
    component.SetDataRowCur(table->NewRow());
    *rowsStoredCount = static_cast<int>(table->Rows().Count());
  } catch (const std::exception& e) {
    component.SetMessage(e.what());
    return false;
  } catch (...) {
    component.SetMessage("StartNewRow: an unknown error while opening a row of table " +
                         Tessel::Quoted(table->TableName()));
    return false;
  }
  return result;
}

bool ConnectWrapper::AddCurRow() {
  DbConnect& component = Component();
  const std::shared_ptr<DataTable>& table = component.DataTableCur();
  if (!table) return true;
  try {
    const std::optional<Tessel::Data::DataRow>& row = component.DataRowCur();
    if (!row) {
      throw Tessel::ArgumentNullError("AddCurRow: no open row to add to table " +
                                      Tessel::Quoted(table->TableName()) +
                                      " (it was added already, or StartNewRow was not called)");
    }
    table->Rows().Add(*row);
    // Cleared only once the table took it: a refused row stays open to be
    // mended.
    component.SetDataRowCur(std::nullopt);
  } catch (const std::exception& e) {
    component.SetMessage(e.what());
    return false;
  } catch (...) {
    component.SetMessage("AddCurRow: an unknown error while adding a row to table " +
                         Tessel::Quoted(table->TableName()));
    return false;
  }
  return true;
}

bool ConnectWrapper::AddFieldData(const char* fieldName, const char* data) {
  DbConnect& component = Component();
  Tessel::Data::detail::NativeCharset charset;
  std::string scratch;
  const std::string_view text = Tessel::Data::detail::NativeTextView(data, charset, scratch);
  return StoreField(component, fieldName, ValueView{text}, charset);
}

bool ConnectWrapper::AddFieldData(const char* fieldName, int data) {
  return StoreField(Component(), fieldName, ValueView{static_cast<std::int32_t>(data)});
}

bool ConnectWrapper::AddFieldData(const char* fieldName, long data) {
  // `long` carries 32-bit figures on the wire; a wider one is stored whole so
  // that its column accepts or refuses it rather than receiving a cut value.
  if (data >= INT32_MIN && data <= INT32_MAX) {
    return StoreField(Component(), fieldName, ValueView{static_cast<std::int32_t>(data)});
  }
  return StoreField(Component(), fieldName, ValueView{static_cast<std::int64_t>(data)});
}

bool ConnectWrapper::AddFieldData(const char* fieldName, double data) {
  return StoreField(Component(), fieldName, ValueView{data});
}

bool ConnectWrapper::AddFieldDateTimeData(const char* fieldName, double data) {
  DbConnect& component = Component();
  // 0.0 (and -0.0) is how callers say "no date"; NaN is not 0.0 and goes on
  // to the conversion, which refuses it.
  // Without an open row the store fails as every store does, before the date
  // is looked at.
  if (data == 0.0 || !component.DataRowCur()) {
    return StoreField(component, fieldName, ValueView{Tessel::Data::DBNull});
  }
  Tessel::Data::DateTime when;
  try {
    when = Tessel::Data::DateTime::FromOADate(data);
  } catch (...) {
    std::string scratch;
    Tessel::RethrowWithContext("storing the date " + Tessel::Data::ToString(ValueView{data}) +
                               " into column " +
                               Tessel::Quoted(Tessel::Text::NativeToManagedView(fieldName, scratch)) +
                               " of table " + Tessel::Quoted(component.DataRowCur()->Table().TableName()));
  }
  return StoreField(component, fieldName, ValueView{when});
}
