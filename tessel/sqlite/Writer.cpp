#include "tessel/sqlite/Writer.h"

#include <algorithm>
#include <deque>
#include <optional>
#include <span>
#include <string_view>
#include <typeinfo>
#include <vector>

#include "TesselWrapper/Errors.h"
#include "TesselWrapper/component/DbConnect.h"
#include "TesselWrapper/data/Text.h"
#include "data/Quoted.h"
#include "data/TableImpl.h"
#include "data/TableLoad.h"
#include "tessel/BackendStream.h"
#include "tessel/NameLookup.h"
#include "tessel/StorableValues.h"
#include "tessel/dialect/sqlite/TypeMap.h"
#include "tessel/dialect/sqlite/ValueRules.h"
#include "tessel/sqlite/Binding.h"
#include "tessel/sqlite/Errors.h"
#include "tessel/sqlite/Handles.h"
#include "tessel/sqlite/Schema.h"
#include "tessel/sqlite/SqliteConnect.h"

namespace Tessel::Sqlite {

enum class CellKind : std::uint8_t { Integer, Real, Text, Date, Blob };

// What the checked table tells the insert: per column of the writer's table,
// its quoted database name and how its cells are bound.
struct WritePlan {
  std::string target;  // "schema"."table"
  std::vector<std::string> quotedColumns;
  std::vector<CellKind> kinds;
  std::vector<bool> dayColumns;        // date columns declared to hold days (ValueRules.h)
  std::vector<std::size_t> generated;  // columns that may be left to the database
};

namespace {

using Data::DataType;
using Plan = WritePlan;

// SqliteConnect's writes take tables still being filled (RowWriter::Write);
// the stream reads a table's row count only to see that it has one, so it
// is handed a table once that count is final or at least one (TableFeed).
[[maybe_unused]] const bool kTakesFeeds = (Data::detail::AcceptTableFeeds(typeid(SqliteConnect)), true);

CellKind KindOf(DataType type) noexcept {
  switch (type) {
    case DataType::Boolean:
    case DataType::Int16:
    case DataType::Int32:
    case DataType::Int64:
      return CellKind::Integer;
    case DataType::Double:
      return CellKind::Real;
    case DataType::Decimal:
    case DataType::String:
      return CellKind::Text;
    case DataType::DateTime:
      return CellKind::Date;
    case DataType::Binary:
      return CellKind::Blob;
  }
  return CellKind::Text;
}

// Kinds of value that may stand for one another when the table handed in is
// compared with the database: integer widths and booleans; exact and
// floating-point numbers.
int Family(DataType type) noexcept {
  switch (type) {
    case DataType::Boolean:
    case DataType::Int16:
    case DataType::Int32:
    case DataType::Int64:
      return 0;
    case DataType::Double:
    case DataType::Decimal:
      return 1;
    case DataType::String:
      return 2;
    case DataType::DateTime:
      return 3;
    case DataType::Binary:
      return 4;
  }
  return 2;
}

// Checks the table handed in against the database; the reason for a
// mismatch, or nullopt when the write can go ahead (`plan` filled).
std::optional<std::string> CheckShape(sqlite3* db, const std::string& schema, const Data::DataTable& table,
                                      Plan& plan) {
  const std::optional<std::string> dbTable = PickByName(table.TableName(), ListTables(db, schema));
  if (!dbTable) return "table " + Quoted(table.TableName()) + " no longer exists in " + Quoted(schema);

  const std::vector<ColumnInfo> dbColumns = ReadColumns(db, schema, *dbTable);
  std::vector<std::string> names;
  names.reserve(dbColumns.size());
  for (const ColumnInfo& c : dbColumns) names.push_back(c.name);

  plan.target = QuoteIdentifier(schema) + "." + QuoteIdentifier(*dbTable);
  std::vector<const ColumnInfo*> matched;
  for (std::size_t i = 0; i < table.ColumnCount(); ++i) {
    const Data::DataColumn& column = table.Column(i);
    const std::optional<std::string> dbName = PickByName(column.ColumnName, names);
    if (!dbName) return "column " + Quoted(column.ColumnName) + " no longer exists";
    const ColumnInfo* info = nullptr;
    for (const ColumnInfo& c : dbColumns)
      if (c.name == *dbName) info = &c;
    if (!info->Writable()) return "column " + Quoted(column.ColumnName) + " is now computed by the database";
    if (!info->declaredType.empty() && Family(MapDeclaredType(info->declaredType)) != Family(column.Type))
      return "column " + Quoted(column.ColumnName) + " is now declared '" + info->declaredType +
             "', which does not hold " + std::string(Data::DataTypeName(column.Type)) + " values";
    plan.quotedColumns.push_back(QuoteIdentifier(*dbName));
    plan.kinds.push_back(KindOf(column.Type));
    plan.dayColumns.push_back(DeclaresDay(info->declaredType));
    if (column.Generated) plan.generated.push_back(i);
    matched.push_back(info);
  }
  // A column the table handed in lacks gets NULL or its default; one that is
  // NOT NULL without a default (and no rowid alias, which SQLite fills)
  // appeared since the shape was read, and no row could be written.
  const auto keyColumns =
      std::count_if(dbColumns.begin(), dbColumns.end(), [](const ColumnInfo& c) { return c.pkPosition > 0; });
  for (const ColumnInfo& c : dbColumns) {
    if (std::find(matched.begin(), matched.end(), &c) != matched.end()) continue;
    const bool rowidAlias =
        keyColumns == 1 && c.pkPosition == 1 && Text::EqualsIgnoreAsciiCase(c.declaredType, "INTEGER");
    if (c.Writable() && c.notNull && !c.defaultSql && !rowidAlias)
      return "the database's table has a new required column " + Quoted(c.name);
  }
  return std::nullopt;
}

// The prepared inserts for one set of omitted columns: one row per step, and
// (made when first needed) kBatchRows rows per step.
struct Insert {
  std::string omitted;               // per generated column: '1' when left out
  std::vector<std::size_t> columns;  // the columns it binds, in parameter order
  StmtHandle single;
  StmtHandle batch;
  bool batchUnavailable = false;  // the batch statement could not be prepared
};

// Rows per multi-row insert. A step costs SQLite a fixed amount (opening a
// cursor on the table, finding its last rowid, halting the program) on top
// of the values; one step for many rows spreads that cost, which makes the
// insert nearly twice as fast as one step per row. Beyond a few dozen rows
// the gain is gone.
constexpr std::size_t kBatchRows = 64;

std::string InsertSql(const Plan& plan, const std::vector<std::size_t>& columns, std::size_t rows) {
  if (columns.empty()) return "INSERT INTO " + plan.target + " DEFAULT VALUES";
  std::string sql = "INSERT INTO " + plan.target + " (";
  for (std::size_t k = 0; k < columns.size(); ++k) {
    if (k > 0) sql += ", ";
    sql += plan.quotedColumns[columns[k]];
  }
  sql += ") VALUES ";
  for (std::size_t r = 0; r < rows; ++r) {
    sql += r == 0 ? "(?" : ", (?";
    for (std::size_t k = 1; k < columns.size(); ++k) sql += ", ?";
    sql += ')';
  }
  return sql;
}

const char kEmpty[] = "";

// A date's ISO text, kept until the insert that binds it has run (bound
// without a copy).
struct DateText {
  char text[kIsoDateTimeCapacity];
};

}  // namespace

// Sends the rows of the write's batches through the prepared inserts, in
// order; the statements are made once for the whole write.
class RowWriter {
 public:
  RowWriter(sqlite3* db, const Plan& plan, const Data::DataTable& table)
      : db_(db), plan_(plan), columnCount_(table.ColumnCount()), omitted_(plan.generated.size(), '0') {
    // Each date cell of a batch needs text of its own until the step.
    std::size_t dates = 0;
    dateSlot_.assign(table.ColumnCount(), 0);
    for (std::size_t c = 0; c < table.ColumnCount(); ++c)
      if (plan.kinds[c] == CellKind::Date) dateSlot_[c] = dates++;
    datesPerRow_ = dates;
    // Never more parameters than the connection allows in one statement.
    const auto maxParameters = static_cast<std::size_t>(sqlite3_limit(db, SQLITE_LIMIT_VARIABLE_NUMBER, -1));
    const std::size_t columns = std::max<std::size_t>(table.ColumnCount(), 1);
    batchRows_ = std::clamp<std::size_t>(maxParameters / columns, 1, kBatchRows);
    // Rows are taken from a table still being filled 64 statements' worth
    // at a time: a whole number of batches, so that no chunk ends in rows
    // that go one per step.
    chunkRows_ = 64 * batchRows_;
    dateText_.resize(std::max<std::size_t>(datesPerRow_ * batchRows_, 1));
    limits_ = Limits(static_cast<std::uint64_t>(sqlite3_limit(db, SQLITE_LIMIT_LENGTH, -1)));
  }

  // Writes every row of `table`, whose first row is the write's row
  // `first`; false with `failure` set when one fails. A table still being
  // filled (TableFeed) is written a chunk at a time as its rows are made.
  bool Write(const Data::DataTable& table, std::uint64_t first, WriteFailure& failure) {
    Data::detail::RowsToWrite source(table);
    // Cells are read straight from the column stores; a column that holds no
    // DBNull at all skips the test per cell. Whether a column of a table
    // still being filled holds one is only known cell by cell.
    columns_.clear();
    for (const Data::detail::ColumnStore& store : Data::detail::TableAccess::Stores(table))
      columns_.push_back({&store, {}, source.Streamed() || store.AnyNull()});
    first_ = first;
    std::span<const Data::RecordId> records;
    for (std::size_t written = 0;;) {
      if (!source.Upto(written + chunkRows_, records)) {
        failure = WriteFailure{ErrorCategory::Other, "the rows to write could not all be made", std::nullopt};
        return false;
      }
      if (written >= records.size()) return true;
      const std::size_t end = std::min(records.size(), written + chunkRows_);
      // The cells stay where they are while the chunk is read and written.
      const auto lease = source.Lease();
      if (!WriteChunk(table, records.subspan(written, end - written), written, failure)) return false;
      written = end;
    }
  }

 private:
  // The rows of `chunk`, the first of which is the batch's row `offset`.
  bool WriteChunk(const Data::DataTable& table, std::span<const Data::RecordId> chunk, std::size_t offset,
                  WriteFailure& failure) {
    for (Column& column : columns_) column.cells = column.store->Cells();
    if (auto refused = RefuseUnstorable(table, chunk, first_ + offset, limits_)) {
      failure = std::move(*refused);
      return false;
    }
    std::size_t position = 0;
    while (position < chunk.size()) {
      Insert* insert = StatementFor(chunk[position]);
      if (insert == nullptr) {
        failure = WriteFailureOf(db_, rc_, "could not prepare the insert");
        return false;
      }
      // The rows from here that take the same statement, up to one batch.
      std::size_t run = 1;
      if (!insert->columns.empty() && !insert->batchUnavailable && batchRows_ > 1) {
        while (run < batchRows_ && position + run < chunk.size() &&
               (plan_.generated.empty() || MaskOf(chunk[position + run]) == insert->omitted))
          ++run;
      }
      const std::span<const Data::RecordId> rows = chunk.subspan(position, run);
      if (batchRows_ > 1 && run == batchRows_ && PrepareBatch(*insert)) {
        if (!WriteBatch(*insert, rows, offset + position, failure)) return false;
      } else {
        for (std::size_t k = 0; k < rows.size(); ++k)
          if (!WriteSingle(*insert, rows[k], offset + position + k, failure)) return false;
      }
      position += run;
    }
    return true;
  }

 private:
  const std::string& MaskOf(Data::RecordId record) {
    for (std::size_t g = 0; g < plan_.generated.size(); ++g)
      omitted_[g] = columns_[plan_.generated[g]].cells.IsNull(record) ? '1' : '0';
    return omitted_;
  }

  // The insert for the record's set of omitted columns, made once per set;
  // null when it cannot be prepared (rc_ says why).
  Insert* StatementFor(Data::RecordId record) {
    if (!plan_.generated.empty()) MaskOf(record);
    if (last_ != nullptr && last_->omitted == omitted_) return last_;
    for (Insert& insert : inserts_)
      if (insert.omitted == omitted_) return last_ = &insert;
    Insert insert{omitted_, {}, nullptr, nullptr};
    std::size_t g = 0;
    for (std::size_t i = 0; i < columnCount_; ++i) {
      if (g < plan_.generated.size() && plan_.generated[g] == i) {
        if (omitted_[g++] == '1') continue;
      }
      insert.columns.push_back(i);
    }
    rc_ = TryPrepare(db_, InsertSql(plan_, insert.columns, 1), insert.single);
    if (rc_ != SQLITE_OK) return nullptr;
    inserts_.push_back(std::move(insert));
    return last_ = &inserts_.back();
  }

  // A batch statement that cannot be prepared (a limit of this SQLite build)
  // is not an error: the rows then go one by one.
  bool PrepareBatch(Insert& insert) {
    if (insert.batch) return true;
    if (insert.batchUnavailable) return false;
    if (TryPrepare(db_, InsertSql(plan_, insert.columns, batchRows_), insert.batch) != SQLITE_OK ||
        !insert.batch) {
      insert.batch.reset();
      insert.batchUnavailable = true;
      return false;
    }
    return true;
  }

  // Binds the record's cells to the parameters from `first` on; the date
  // texts go to the `slot`-th set of date buffers. Returns the first failed
  // bind's result code, SQLITE_OK when all succeeded (the connection's own
  // code is no witness: each later bind that succeeds clears it).
  int BindRow(sqlite3_stmt* stmt, int first, const Insert& insert, Data::RecordId record, std::size_t slot) {
    int bindRc = SQLITE_OK;
    int parameter = first;
    for (const std::size_t column : insert.columns) {
      const Data::detail::ColumnStore::View& cells = columns_[column].cells;
      if (columns_[column].mayBeNull && cells.IsNull(record)) {
        bindRc = FirstFailure(bindRc, sqlite3_bind_null(stmt, parameter++));
        continue;
      }
      switch (plan_.kinds[column]) {
        case CellKind::Integer:
          bindRc = FirstFailure(bindRc, sqlite3_bind_int64(stmt, parameter, cells.Int(record)));
          break;
        case CellKind::Real:
          bindRc = FirstFailure(bindRc, sqlite3_bind_double(stmt, parameter, cells.Real(record)));
          break;
        case CellKind::Text: {
          const std::string_view text = cells.Text(record);
          bindRc =
              FirstFailure(bindRc, sqlite3_bind_text64(stmt, parameter, text.empty() ? kEmpty : text.data(),
                                                       text.size(), SQLITE_STATIC, SQLITE_UTF8));
          break;
        }
        case CellKind::Date: {
          char(&text)[kIsoDateTimeCapacity] = dateText_[slot * datesPerRow_ + dateSlot_[column]].text;
          const std::size_t n =
              FormatStoredDate(Data::DateTime(cells.Int(record)), plan_.dayColumns[column], text);
          bindRc = FirstFailure(bindRc,
                                sqlite3_bind_text(stmt, parameter, text, static_cast<int>(n), SQLITE_STATIC));
          break;
        }
        case CellKind::Blob: {
          const std::span<const std::uint8_t> bytes = cells.Bytes(record);
          bindRc = FirstFailure(bindRc, bytes.empty() ? sqlite3_bind_zeroblob(stmt, parameter, 0)
                                                      : sqlite3_bind_blob64(stmt, parameter, bytes.data(),
                                                                            bytes.size(), SQLITE_STATIC));
          break;
        }
      }
      ++parameter;
    }
    return bindRc;
  }

  static int FirstFailure(int sofar, int rc) noexcept { return sofar != SQLITE_OK ? sofar : rc; }

  // Runs a bound statement; SQLITE_DONE or the failure's code (a failed
  // bind's own, without running the statement).
  static int Step(sqlite3_stmt* stmt, int bindRc) {
    if (bindRc != SQLITE_OK) return bindRc;
    return sqlite3_step(stmt);
  }

  // The failure of a step or, when a bind failed, of that bind: its text is
  // then its code's, as the connection no longer holds it.
  WriteFailure FailureOf(int bindRc, int rc, std::uint64_t first, std::uint64_t last) const {
    return RowsWriteFailure(bindRc != SQLITE_OK ? nullptr : db_, rc, first, last);
  }

  bool WriteSingle(Insert& insert, Data::RecordId record, std::size_t position, WriteFailure& failure) {
    sqlite3_stmt* stmt = insert.single.get();
    const int bindRc = BindRow(stmt, 1, insert, record, 0);
    const int rc = Step(stmt, bindRc);
    if (rc != SQLITE_DONE) {
      failure = FailureOf(bindRc, rc, first_ + position, first_ + position);
      sqlite3_reset(stmt);
      return false;
    }
    sqlite3_reset(stmt);
    return true;
  }

  bool WriteBatch(Insert& insert, std::span<const Data::RecordId> rows, std::size_t position,
                  WriteFailure& failure) {
    sqlite3_stmt* stmt = insert.batch.get();
    const auto perRow = static_cast<int>(insert.columns.size());
    int bindRc = SQLITE_OK;
    for (std::size_t k = 0; k < rows.size(); ++k)
      bindRc = FirstFailure(bindRc, BindRow(stmt, 1 + static_cast<int>(k) * perRow, insert, rows[k], k));
    const int rc = Step(stmt, bindRc);
    if (rc == SQLITE_DONE) {
      sqlite3_reset(stmt);
      return true;
    }
    // The statement failed as a whole and SQLite undid its rows. Unless the
    // failure ended the transaction (or is the database's lock, which would
    // only be waited for again), the rows go once more one by one, so that
    // the message names the row at fault as a row-by-row write would.
    failure = FailureOf(bindRc, rc, first_ + position, first_ + position + rows.size() - 1);
    sqlite3_reset(stmt);
    if (sqlite3_get_autocommit(db_) == 0 && !AsksForRerun(failure.category)) {
      for (std::size_t k = 0; k < rows.size(); ++k)
        if (!WriteSingle(insert, rows[k], position + k, failure)) return false;
    }
    return false;
  }

  struct Column {
    const Data::detail::ColumnStore* store;
    Data::detail::ColumnStore::View cells;  // the store's cells while a chunk is written
    bool mayBeNull;
  };

  sqlite3* db_;
  const Plan& plan_;
  std::size_t columnCount_;
  std::vector<Column> columns_;  // per column of the batch being written
  std::uint64_t first_ = 0;      // the write's position of the batch's first row
  std::string omitted_;          // the mask of the record looked at last
  std::deque<Insert> inserts_;   // a deque keeps pointers valid as statements are added
  Insert* last_ = nullptr;
  int rc_ = SQLITE_OK;
  std::size_t batchRows_ = 1;
  std::size_t chunkRows_ = 64;
  std::size_t datesPerRow_ = 0;
  std::vector<std::size_t> dateSlot_;  // per column: its place among the date columns
  std::vector<DateText> dateText_;
  ValueLimits limits_;  // what the connection keeps of a value
};

TableWriter::TableWriter(sqlite3* db, std::string schema, const Data::DataTable& table)
    : db_(db), schema_(std::move(schema)), table_(table), transaction_(db) {}

TableWriter::~TableWriter() { Rollback(); }

std::optional<WriteFailure> TableWriter::Begin() {
  const int rc = transaction_.Begin();
  if (rc != SQLITE_OK) return WriteFailureOf(db_, rc, "could not start the transaction");
  auto plan = std::make_unique<Plan>();
  try {
    if (auto mismatch = CheckShape(db_, schema_, table_, *plan))
      return WriteFailure{ErrorCategory::SchemaChange,
                          "it no longer matches the table handed in: " + *mismatch, std::nullopt};
  } catch (const DatabaseError& e) {
    return WriteFailure{e.Category(), std::string("could not check its shape: ") + e.what(), std::nullopt};
  }
  plan_ = std::move(plan);
  rows_ = std::make_unique<RowWriter>(db_, *plan_, table_);
  return std::nullopt;
}

std::optional<WriteFailure> TableWriter::Write(const Data::DataTable& batch, std::uint64_t first) {
  WriteFailure failure;
  if (!rows_->Write(batch, first, failure)) return failure;
  return std::nullopt;
}

std::optional<WriteFailure> TableWriter::Commit() {
  rows_.reset();
  const int rc = transaction_.Commit();
  if (rc != SQLITE_OK) return WriteFailureOf(db_, rc, "could not commit");
  return std::nullopt;
}

void TableWriter::Rollback() noexcept {
  rows_.reset();
  transaction_.Rollback();
}

std::optional<WriteFailure> WriteTable(sqlite3* db, const std::string& schema, const Data::DataTable& table) {
  if (table.Rows().Count() == 0) return std::nullopt;
  TableWriter writer(db, schema, table);
  return WriteAtOnce(writer, table);
}

}  // namespace Tessel::Sqlite
