// The data-access component for a PostgreSQL server (libpq).
//
// Made by DbConnectFactory for postgresql:// and postgres:// URIs and libpq
// "key=value" strings; the table set is the schema in which tables, the
// catalogue table tessel_enum_tables and routines are looked up (default
// "public"), and which goes first on the session's search path. The
// connection opens at first need (see Session.h for the
// settings added to the connection string), stays open, closes when the
// connection string changes and when the component goes; a connection found
// broken after a failure is reopened at the next use. The reading operations
// (Test, GetTable, IsEnumTable, GetMaxSolnIdCaseId) that find a connection
// lost since its last use (a server restart) reconnect and try once more;
// writes and routines do not repeat themselves (the write reports "Rerun the
// transaction" instead).
//
// GetTable reads the shape from the catalogues once per name and keeps it; a
// write that finds the table's shape changed, a script, and a new connection
// string drop what was kept.
//
// BulkToTable writes in one transaction with COPY (Writer.h) after checking
// the table against the catalogue. Its message on success is "3 rows written
// to table 'cases'"; on failure "could not write table 'cases': " and the
// server's text with the SQLSTATE (Errors.h), with "Rerun the transaction"
// for a deadlock, serialization failure, lock time-out or lost connection,
// and "schema change" when the table no longer matches. A table without rows
// succeeds without touching the database.
//
// A connection lost while COMMIT is in flight does not by itself mean that
// nothing was written: the writer then asks the server, on a new connection,
// what became of the transaction (Commit.h). Committed is a success like any
// other; rolled back is a lost connection ("Rerun the transaction ...
// Nothing of the table was written."); when nobody can tell (the server
// unreachable, or still busy with the COMMIT after a few seconds) the write
// fails with a message that names the transaction id and says the outcome is
// unknown, with neither retry text, so that the caller looks before writing
// the rows again.
//
// Errors: Test(), BulkToTable and ExecuteStoredProcedure report failures of
// the server (an unreachable one included) in their result and Message();
// GetTable, IsEnumTable, GetMaxSolnIdCaseId, BulkExample and ExecuteScript
// throw DatabaseError (with the SQLSTATE) for them. A connection string that
// is no PostgreSQL form (set after creation) makes Test() answer false and
// the other operations throw ArgumentError.
//
// Not thread-safe: one thread at a time (see DbConnect).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "TesselWrapper/component/DbConnect.h"
#include "tessel/ShapeCache.h"
#include "tessel/postgres/Errors.h"
#include "tessel/postgres/Session.h"

namespace Tessel::Postgres {

inline constexpr const char* kDefaultSchema = "public";

class PostgresConnect final : public DbConnect {
 public:
  // Opens nothing. An empty `tableSet` means kDefaultSchema.
  PostgresConnect(const std::string& connect, const std::string& tableSet);
  ~PostgresConnect() override;

  const std::string& Schema() const noexcept { return schema_; }

  bool Test() override;
  std::int64_t BulkExample(std::int32_t iterations) override;
  std::shared_ptr<Data::DataTable> GetTable(const std::string& name) override;
  void ForgetShape(const std::string& name) override { shapes_.Forget(name); }
  bool IsEnumTable(const std::string& name) override;
  std::string TableSetName() const override { return schema_; }
  bool BulkToTable(Data::DataTable& table, std::int64_t& executionTime) override;
  // Sends each batch into one COPY as it comes (Writer.h), in one
  // transaction, committed as BulkToTable commits.
  std::unique_ptr<BulkStream> OpenBulkStream(const Data::DataTable& table) override;
  std::int32_t ExecuteStoredProcedure(const std::string& procName,
                                      std::vector<std::shared_ptr<Data::DbParameter>>& parameters,
                                      ManagedText& output) override;
  std::shared_ptr<Data::DataTable> GetMaxSolnIdCaseId(const std::string& modelDir) override;
  void ExecuteScript(const std::string& sql) override;

 protected:
  void OnConnectionStringChanged() override;

 private:
  // Checks `table` against the catalogue of `schema` and copies its rows, in
  // one transaction (TableWriter); the failure, if any, after rolling back.
  // After a lost COMMIT answer the session holds a new connection (or none),
  // and the failure, if any, is what the server said of the transaction
  // (Commit.h).
  std::optional<Failure> WriteInTransaction(const Data::DataTable& table, const std::string& schema);

  // Runs `read`; when it fails because a connection that was already open
  // has been lost, runs it once more on a new connection. Drops a broken
  // connection before letting a QueryError pass.
  template <typename Read>
  auto ReadWithReconnect(Read&& read) -> decltype(read());

  Session session_;
  std::string schema_;
  ShapeCache shapes_;
};

}  // namespace Tessel::Postgres
