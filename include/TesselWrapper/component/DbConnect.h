// The data-access component: what the bridge drives to reach a database.
//
// A DbConnect owns one database connection (opened lazily at first need and
// kept open) and the staging state the bridge shares between its operations:
// the current table and the current row. Components are made by
// DbConnectFactory::CreateDbConnect and held by std::shared_ptr; a bridge never
// closes or disposes one, and the connection closes when the last owner lets
// go.
//
// Failures: operations that talk to the database report an ordinary failure
// (a refused write, a routine that fails) as a false or -1 result with the
// reason in Message(); misuse and faults of the caller's data throw
// Tessel::Error subclasses (Errors.h). After a BulkToTable that returned
// false, FailureCategory() tells the failure's kind, and the message contains
// "Rerun the transaction" when nothing was written and the same write may
// succeed later without anyone changing anything (a deadlock, serialization
// failure, lock time-out, busy database, full disk, lost connection), and
// "schema change" when the table's shape in the database no longer matches
// the table handed in; any other message means the database refused the
// rows for good, the failure lasts until someone mends its cause, or (said
// in so many words) nobody knows whether a commit happened. The bridge
// decides from the category; it reads the two texts only from a component
// that leaves the category empty (one of a caller's own written before the
// category existed). A thrown DatabaseError carries the same decision as
// its Category(). The built-in components never let a name, a value or the
// database's own text read as a retry text (data quoted in a message has
// those words defused, see the README).
//
// A component is not thread-safe: one thread at a time. Separate components
// may be used from separate threads.
//
// To plug in a component of your own, derive from DbConnect, implement the
// pure virtual operations, and register a factory for a connection-string
// scheme with DbConnectFactory::RegisterProvider.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "TesselWrapper/Errors.h"
#include "TesselWrapper/Export.h"
#include "TesselWrapper/data/DataTable.h"
#include "TesselWrapper/data/DbParameter.h"
#include "TesselWrapper/data/Text.h"

namespace Tessel {

// Texts that the bridge looks for in Message() after a flush.
inline constexpr const char* kRerunTransaction = "Rerun the transaction";
inline constexpr const char* kSchemaChange = "schema change";

// A write of one table's rows that arrive a batch at a time, in one
// transaction: every row appended is in the database after Commit, or none
// is. Made by DbConnect::OpenBulkStream:
//
//   std::unique_ptr<BulkStream> stream = component.OpenBulkStream(*shape);
//   while (more) if (!stream->Append(*NextBatch())) return Fail(component.Message());
//   if (!stream->Commit()) return Fail(component.Message());
//
// A batch is a DataTable with the columns of the table the stream was opened
// for (made with CloneShape, or columns of the same names and types in the
// same order); its rows are written in row order, after the rows of the
// batches before it, and the batch may be reused or dropped as soon as
// Append returns. The write begins with the first row: a stream that gets
// none commits without touching the database.
//
// Failures are reported as BulkToTable reports them: Append or Commit
// returns false, nothing of the table is written, the component's Message()
// holds the reason (with "Rerun the transaction" or "schema change" where a
// rerun may succeed; a row at fault is named by its 0-based position among
// all the rows appended, "the row at position 70000 (0-based)", and
// FailedRow() gives that position), and Category() tells its kind. A failed
// stream stays failed: every later call returns false at once. A stream
// dropped without a successful Commit rolls back whatever it wrote.
//
// The stream holds its component's connection (inside the transaction)
// until it is committed or dropped: the component must outlive it, and is
// not used for anything else meanwhile. One thread at a time, as for the
// component; it may be another thread than the one that opened it.
class TESSELWRAPPER_API BulkStream {
 public:
  BulkStream() = default;
  virtual ~BulkStream();
  BulkStream(const BulkStream&) = delete;
  BulkStream& operator=(const BulkStream&) = delete;

  // Writes the rows of `batch` (none: nothing happens). False when the write
  // failed, now or with an earlier call. Throws ArgumentError for a batch
  // whose columns are not those of the stream's table.
  virtual bool Append(const Data::DataTable& batch) = 0;
  // Commits the rows appended. False when they were not written (or when
  // the stream failed before); once true, later calls return true.
  virtual bool Commit() = 0;

  // The rows appended without failure so far.
  std::uint64_t Rows() const noexcept { return rows_; }
  // Milliseconds spent in Append and Commit, the component's figure for the
  // write (as BulkToTable adds to its executionTime).
  std::int64_t Milliseconds() const noexcept { return milliseconds_; }
  // After a failure: its kind, and the position of the row at fault when
  // the database named one.
  ErrorCategory Category() const noexcept { return category_; }
  std::optional<std::uint64_t> FailedRow() const noexcept { return failedRow_; }

 protected:
  // For implementations: count rows and time, record a failure.
  void AddRows(std::uint64_t rows) noexcept { rows_ += rows; }
  void AddMilliseconds(std::int64_t ms) noexcept { milliseconds_ += ms; }
  void SetFailure(ErrorCategory category, std::optional<std::uint64_t> row) noexcept {
    category_ = category;
    failedRow_ = row;
  }

 private:
  std::uint64_t rows_ = 0;
  std::int64_t milliseconds_ = 0;
  ErrorCategory category_ = ErrorCategory::Other;
  std::optional<std::uint64_t> failedRow_;
};

class TESSELWRAPPER_API DbConnect {
 public:
  DbConnect() = default;
  virtual ~DbConnect();
  DbConnect(const DbConnect&) = delete;
  DbConnect& operator=(const DbConnect&) = delete;

  // --- properties: store and return what was set -------------------------
  const ManagedText& Message() const noexcept { return message_; }
  void SetMessage(ManagedText message) { message_ = std::move(message); }

  // The kind of the failure that the last BulkToTable returning false
  // reported. Components set it with the message (SetFailureCategory); for
  // one that left it empty (a component of a caller's own that predates it)
  // it is read from the message: Rerun when it holds "Rerun the
  // transaction", SchemaChange when it holds "schema change", else Other.
  // Callers of BulkToTable clear it first (SetFailureCategory(std::nullopt)).
  ErrorCategory FailureCategory() const;
  void SetFailureCategory(std::optional<ErrorCategory> category) noexcept { failureCategory_ = category; }

  const ManagedText& ConnectionString() const noexcept { return connectionString_; }
  // Setting the connection string closes an open connection; the next use
  // opens the new one (see OnConnectionStringChanged).
  void SetConnectionString(ManagedText connectionString);

  const std::shared_ptr<Data::DataTable>& DataTableCur() const noexcept { return tableCur_; }
  void SetDataTableCur(std::shared_ptr<Data::DataTable> table) noexcept { tableCur_ = std::move(table); }
  const std::optional<Data::DataRow>& DataRowCur() const noexcept { return rowCur_; }
  std::optional<Data::DataRow>& DataRowCur() noexcept { return rowCur_; }
  void SetDataRowCur(std::optional<Data::DataRow> row) noexcept { rowCur_ = std::move(row); }

  // --- operations --------------------------------------------------------
  // Opens the connection if needed and runs a trivial query. True when the
  // database answers; false with the reason in Message() otherwise. Does not
  // throw for a database that cannot be reached.
  virtual bool Test() = 0;

  // A built-in probe: writes `iterations` generated rows into a temporary
  // table through the same path as BulkToTable; returns elapsed microseconds.
  virtual std::int64_t BulkExample(std::int32_t iterations) = 0;

  // An empty table shaped like the named database table (exact name first,
  // then the one table matching without regard to case), whose TableName()
  // is exactly `name`; nullptr when there is no such table.
  virtual std::shared_ptr<Data::DataTable> GetTable(const std::string& name) = 0;

  // Forgets what the component remembers of the shape of table `name`, so
  // that the next GetTable reads the database again. The bridge calls it
  // when the caller names a column the shape it holds lacks, and after a
  // write that found the shape changed. The default remembers nothing.
  virtual void ForgetShape(const std::string& name);

  // True for tables into which rows are not staged (enumeration tables).
  virtual bool IsEnumTable(const std::string& name) = 0;

  // The name of the table set in which tables and routines are looked up
  // ("main", "public", ...), for messages; empty when the component has none.
  virtual std::string TableSetName() const { return {}; }

  // Writes every row of `table` in one transaction. Adds the elapsed
  // milliseconds to `executionTime`. On failure nothing of the table is
  // written, the result is false and Message() holds the reason.
  virtual bool BulkToTable(Data::DataTable& table, std::int64_t& executionTime) = 0;

  // A stream of batches into the database table that `table` (an empty
  // table of GetTable, or any table of the same name and columns) stands
  // for; see BulkStream. Opening touches nothing: the write begins with the
  // first row appended. The built-in backends write each batch as it comes
  // (and keep none of it); the default keeps a copy of every row and writes
  // them all with one BulkToTable at Commit, so that a component of a
  // caller's own streams without more ado, in memory that grows with the
  // rows.
  virtual std::unique_ptr<BulkStream> OpenBulkStream(const Data::DataTable& table);

  // A parameter holding exactly the given figures. The default makes a plain
  // Data::DbParameter; a component overrides it only to keep more.
  virtual std::shared_ptr<Data::DbParameter> NewDbParameter(const std::string& name, Data::DbType type,
                                                            std::int32_t size,
                                                            Data::ParameterDirection direction,
                                                            Data::Value value);

  // Runs the named routine with the parameters. Leaves the routine's result
  // row in `output` as "name=value;" pieces; returns the first column when it
  // is an integer, else 0; -1 with the reason in Message() (and `output`
  // unchanged) when the routine fails or does not exist.
  virtual std::int32_t ExecuteStoredProcedure(const std::string& procName,
                                              std::vector<std::shared_ptr<Data::DbParameter>>& parameters,
                                              ManagedText& output) = 0;

  // The rows of the table set's routine GetMaxSolnIdCaseId for `modelDir`
  // (columns SolutionId and Caseid); nullptr when there is no such routine.
  virtual std::shared_ptr<Data::DataTable> GetMaxSolnIdCaseId(const std::string& modelDir) = 0;

  // Runs one or more SQL statements (no parameters, no result) in one
  // transaction, for setting up schemas, catalogues and routines. Throws
  // DatabaseError with the database's text, after rolling back, when a
  // statement fails. The default throws ArgumentError: a component without
  // SQL need not offer it.
  virtual void ExecuteScript(const std::string& sql);

 protected:
  // Called after the connection string changed: close the connection so
  // that the next use opens the new one.
  virtual void OnConnectionStringChanged() {}

 private:
  ManagedText message_ = std::string();
  std::optional<ErrorCategory> failureCategory_;
  ManagedText connectionString_ = std::string();
  std::shared_ptr<Data::DataTable> tableCur_;
  std::optional<Data::DataRow> rowCur_;
};

}  // namespace Tessel
