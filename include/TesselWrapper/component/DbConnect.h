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
// false, the message contains "Rerun the transaction" when nothing was
// written and the same write may succeed later (a deadlock, serialization
// failure, lock time-out, busy database, full disk, read-only file, lost
// connection), and "schema change" when the table's shape in the database no
// longer matches the table handed in. The bridge looks for these texts only
// after a write that returned false; a message without either means the
// database refused the rows for good (or, said in so many words, that nobody
// knows whether a commit happened). A thrown DatabaseError carries the same
// decision as its Category().
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

#include "TesselWrapper/Export.h"
#include "TesselWrapper/data/DataTable.h"
#include "TesselWrapper/data/DbParameter.h"
#include "TesselWrapper/data/Text.h"

namespace Tessel {

// Texts that the bridge looks for in Message() after a flush.
inline constexpr const char* kRerunTransaction = "Rerun the transaction";
inline constexpr const char* kSchemaChange = "schema change";

class TESSELWRAPPER_API DbConnect {
 public:
  DbConnect() = default;
  virtual ~DbConnect();
  DbConnect(const DbConnect&) = delete;
  DbConnect& operator=(const DbConnect&) = delete;

  // --- properties: store and return what was set -------------------------
  const ManagedText& Message() const noexcept { return message_; }
  void SetMessage(ManagedText message) { message_ = std::move(message); }

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

  // True for tables into which rows are not staged (enumeration tables).
  virtual bool IsEnumTable(const std::string& name) = 0;

  // The name of the table set in which tables and routines are looked up
  // ("main", "public", ...), for messages; empty when the component has none.
  virtual std::string TableSetName() const { return {}; }

  // Writes every row of `table` in one transaction. Adds the elapsed
  // milliseconds to `executionTime`. On failure nothing of the table is
  // written, the result is false and Message() holds the reason.
  virtual bool BulkToTable(Data::DataTable& table, std::int64_t& executionTime) = 0;

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
  ManagedText connectionString_ = std::string();
  std::shared_ptr<Data::DataTable> tableCur_;
  std::optional<Data::DataRow> rowCur_;
};

}  // namespace Tessel
