// The SQLite backend of the data-access component.
//
// Connection: the forms of tessel/sqlite/Session.h. The file opens at the
// first operation that needs it and stays open; setting the connection string
// closes it (and forgets the cached table shapes), and the destructor closes
// it. A lock held by another connection is waited for up to the busy time-out
// (default 5000 ms) before an operation reports the database busy.
//
// Table set: the SQLite database name within the connection in which tables,
// the catalogue tables (tessel_enum_tables, tessel_procedures) and routines
// are looked up: "main" (the default, also for an empty table set), "temp",
// or the name of an attached database. Any other name makes the operations
// that need the table set throw ArgumentError, and Test() answer false.
//
// Errors: a connection string that is no SQLite form throws ArgumentError at
// creation and when opening (Test() answers false with the reason); a file that cannot be opened throws
// DatabaseError from every operation that needs it except Test(), which
// answers false. Failures of the database while reading shapes or the enum
// catalogue throw DatabaseError; a write (BulkToTable) or routine
// (ExecuteStoredProcedure) that fails answers false / -1 with the reason in
// Message() and leaves nothing of its work behind. On success both leave a
// short status in Message() ("3 rows written to table 'cases'", "routine
// 'AddCase' completed").
//
// Routines: see tessel/sqlite/Routines.h for the catalogue and binding
// conventions. Writes: see tessel/sqlite/Writer.h. Shapes and type mapping:
// see tessel/sqlite/Schema.h.
//
// Not thread-safe: one thread at a time per component (the connection and the
// shape cache are unsynchronised).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "TesselWrapper/component/DbConnect.h"
#include "tessel/ShapeCache.h"
#include "tessel/sqlite/Handles.h"
#include "tessel/sqlite/Schema.h"
#include "tessel/sqlite/Session.h"

namespace Tessel::Sqlite {

class SqliteConnect final : public DbConnect {
 public:
  // Opens nothing; throws ArgumentError when `connect` is not an SQLite form.
  SqliteConnect(const std::string& connect, const std::string& tableSet);
  ~SqliteConnect() override;

  bool Test() override;
  // Writes `iterations` generated rows (integer, real, text and date columns)
  // into the temporary table temp.tessel_bulk_example through the writer of
  // BulkToTable, then drops that table. Returns the microseconds the write
  // took (the generation of the rows is not counted). Throws DatabaseError
  // when the write fails.
  std::int64_t BulkExample(std::int32_t iterations) override;
  std::shared_ptr<Data::DataTable> GetTable(const std::string& name) override;
  void ForgetShape(const std::string& name) override { shapes_.Forget(name); }
  bool IsEnumTable(const std::string& name) override;
  std::string TableSetName() const override { return schema_; }
  bool BulkToTable(Data::DataTable& table, std::int64_t& executionTime) override;
  // Writes each batch as it comes through the writer of BulkToTable
  // (tessel/sqlite/Writer.h), in one transaction on the connection.
  std::unique_ptr<BulkStream> OpenBulkStream(const Data::DataTable& table) override;
  std::int32_t ExecuteStoredProcedure(const std::string& procName,
                                      std::vector<std::shared_ptr<Data::DbParameter>>& parameters,
                                      ManagedText& output) override;
  // All rows of the routine's result, columns named as it names them, typed
  // Int64 when every value is an integer (or null), Double when every value
  // is a number, String otherwise. Throws DatabaseError naming the routine
  // when it fails.
  std::shared_ptr<Data::DataTable> GetMaxSolnIdCaseId(const std::string& modelDir) override;
  // Runs the statements in one transaction (BEGIN IMMEDIATE ... COMMIT) on
  // the table set's connection; unqualified names go to "main" as SQLite
  // resolves them. Forgets the cached table shapes, since a script may
  // change any table. Throws DatabaseError, after rolling back, naming the
  // failing statement's error.
  void ExecuteScript(const std::string& sql) override;

  const std::string& TableSet() const noexcept { return schema_; }

 protected:
  void OnConnectionStringChanged() override;

 private:
  // The open connection, opened now if needed. Throws ArgumentError for a
  // connection string that is no SQLite form, DatabaseError when the file
  // cannot be opened.
  sqlite3* Db();
  // Db(), after checking once per connection that the table set exists.
  sqlite3* DbWithTableSet();

  Session session_;
  std::string schema_;
  bool tableSetChecked_ = false;
  ShapeCache shapes_;
};

}  // namespace Tessel::Sqlite
