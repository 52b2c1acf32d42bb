// The data-access component for any database an ODBC driver reaches.
//
// Made by DbConnectFactory for "odbc:" connection strings (Session.h); the
// table set is the schema in which tables, the catalogue tables and routines
// are looked up (empty: the connection's default). The connection opens at
// first need, stays open, closes when the connection string changes and when
// the component goes; a connection the driver reports dead after a failure
// is reopened at the next use. The reading operations (GetTable, IsEnumTable,
// GetMaxSolnIdCaseId) that find a connection lost since its last use try
// once more on a new one; writes and routines do not repeat themselves.
//
// GetTable reads the shape through the catalogue functions once per name and
// keeps it (Schema.h); a write that finds the table's shape changed, a
// script, and a new connection string drop what was kept.
//
// BulkToTable writes in one transaction (auto-commit off, SQLEndTran) with
// parameter arrays (Writer.h), after checking the table against the
// catalogue inside that transaction. Its message on success is "3 rows
// written to table 'cases'"; on failure "could not write table 'cases': "
// and the driver's text with the SQLSTATE (Errors.h), with "Rerun the
// transaction" or "schema change" where a rerun may succeed. A COMMIT that
// fails without a verdict of the database (the connection lost while it was
// in flight) is reported as an outcome nobody knows, with neither retry text:
// unlike the PostgreSQL backend, this one cannot ask the server afterwards
// what became of the transaction. A table without rows succeeds without
// touching the database.
//
// Errors: Test(), BulkToTable and ExecuteStoredProcedure report failures of
// the database (an unreachable one included) in their result and Message();
// GetTable, IsEnumTable, GetMaxSolnIdCaseId, BulkExample and ExecuteScript
// throw DatabaseError (with the SQLSTATE) for them.
//
// Not thread-safe: one thread at a time (see DbConnect).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "TesselWrapper/component/DbConnect.h"
#include "tessel/ShapeCache.h"
#include "tessel/odbc/Errors.h"
#include "tessel/odbc/Session.h"

namespace Tessel::Odbc {

class OdbcConnect final : public DbConnect {
 public:
  // Opens nothing.
  OdbcConnect(const std::string& connect, const std::string& tableSet);
  ~OdbcConnect() override;

  bool Test() override;
  // Writes `iterations` generated rows into the table tessel_bulk_example,
  // made for the purpose (as a temporary table where the database has them)
  // and dropped afterwards. Returns the microseconds the write took.
  std::int64_t BulkExample(std::int32_t iterations) override;
  std::shared_ptr<Data::DataTable> GetTable(const std::string& name) override;
  void ForgetShape(const std::string& name) override { shapes_.Forget(name); }
  bool IsEnumTable(const std::string& name) override;
  std::string TableSetName() const override {
    return session_.Schema().empty() ? session_.TableSet() : session_.Schema();
  }
  bool BulkToTable(Data::DataTable& table, std::int64_t& executionTime) override;
  // Writes each batch as it comes with parameter arrays (Writer.h), in one
  // transaction, committed as BulkToTable commits.
  std::unique_ptr<BulkStream> OpenBulkStream(const Data::DataTable& table) override;
  std::int32_t ExecuteStoredProcedure(const std::string& procName,
                                      std::vector<std::shared_ptr<Data::DbParameter>>& parameters,
                                      ManagedText& output) override;
  std::shared_ptr<Data::DataTable> GetMaxSolnIdCaseId(const std::string& modelDir) override;
  // Runs the statements in one transaction: as one text where the driver
  // takes several statements at once (PostgreSQL's), else one by one
  // (SplitStatements; SQLite's driver takes one at a time).
  void ExecuteScript(const std::string& sql) override;

  // What the driver said about itself (after the first connection).
  const DriverTraits& Traits() const noexcept { return session_.Traits(); }

 protected:
  void OnConnectionStringChanged() override;

 private:
  // Checks `table` against the catalogue and inserts its rows, in one
  // transaction; the failure, if any, after rolling back.
  std::optional<Failure> WriteInTransaction(const Data::DataTable& table);

  // Runs `read`; when it fails because a connection that was already open
  // has been lost, runs it once more on a new connection.
  template <typename Read>
  auto ReadWithReconnect(Read&& read) -> decltype(read());

  Session session_;
  ShapeCache shapes_;
};

}  // namespace Tessel::Odbc
