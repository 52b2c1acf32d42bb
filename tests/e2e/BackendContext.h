// The per-backend context of the end-to-end suite: a fresh database for one
// test, the connection string a native caller would hand to LoadObject, and
// plain database access of the test's own (not through the library) to set
// tables and routines up and to look at what landed.
//
// The test bodies are written once and run against every backend; whatever
// differs between the databases lives behind this interface:
//
//   - column types: SQL given to Exec may use the placeholders {int},
//     {bigint}, {real}, {numeric}, {text}, {datetime}, {date} (a day) and
//     {blob}, which each backend replaces by its own type names;
//   - routines: DefineRoutine turns one neutral description into the
//     backend's way of keeping a routine (a row of tessel_procedures on
//     SQLite, a function or procedure on PostgreSQL);
//   - another connection that holds the write lock of a table, and a
//     connection string under which the library waits for it only briefly;
//   - the database's own codes for failures, as its messages carry them.
//
// Query gives every row of a result as text: values joined with '|', rows
// joined with '\n', "NULL" for a null. Write queries whose text form is the
// same on every backend (no whole-number doubles, dates with whole seconds).
#pragma once

#include <memory>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

class IConnectWrapper;

namespace Tessel::EndToEnd {

// The ODBC backends are the same databases reached through their ODBC
// drivers (the library's "odbc:" connection strings).
enum class Backend { Sqlite, Postgres, OdbcSqlite, OdbcPostgres };

// Failures whose database code a test looks for in a message.
enum class Failure {
  LockWait,  // another connection's lock was not released in time
  UniqueViolation,
  CheckViolation,
  NotNullViolation,
  MissingTable,  // a statement names a table the database does not have
};

// A routine described once for every backend.
struct RoutineDefinition {
  std::string name;
  // Argument names and types (type placeholders as for Exec). Name them
  // unlike any column the body touches: on PostgreSQL a column name hides an
  // argument of the same name.
  std::vector<std::pair<std::string, std::string>> parameters;
  // Statements separated by ';'. An argument is written :name. Write table
  // and column names without quotes.
  std::string body;
  // The columns of the row the last statement returns, with their types; empty
  // when the routine returns no row.
  std::vector<std::pair<std::string, std::string>> result;
  // Keep the name's letter case. SQLite always does; PostgreSQL otherwise
  // folds the name to lower case, as it does any name written without quotes.
  bool exactName = false;
};

// Another connection's hold on a table's write lock, released by Release or
// when the object goes.
class LockHolder {
 public:
  virtual ~LockHolder() = default;
  virtual void Release() = 0;
};

// A LockHolder whose lock is a transaction that `begin` opened on a connection
// of its own; Release, or the end of its life, rolls that transaction back.
template <class Connection>
class TransactionLock : public LockHolder {
 public:
  template <class... ConnectionArgs>
  explicit TransactionLock(const std::string& begin, ConnectionArgs&&... args)
      : connection_(std::forward<ConnectionArgs>(args)...) {
    connection_.Exec(begin);
  }
  ~TransactionLock() override { Release(); }
  void Release() override {
    if (held_) connection_.Exec("ROLLBACK");
    held_ = false;
  }

 private:
  Connection connection_;
  bool held_ = true;
};

class BackendContext {
 public:
  virtual ~BackendContext() = default;

  // LoadObject's two arguments. With `shortLockWait`, the library waits only
  // ShortLockWaitMs() for a lock that another connection holds.
  virtual std::string ConnectionString(bool shortLockWait = false) const = 0;
  virtual std::string TableSet() const = 0;
  virtual int ShortLockWaitMs() const = 0;

  // Runs SQL (several statements allowed) on the test's own connection; a
  // failure is a test failure.
  virtual void Exec(const std::string& sql) = 0;
  virtual std::string Query(const std::string& sql) = 0;
  // SQL for the kind of value `expression` holds, as one word that reads the
  // same on every backend: integer, real, text (dates included) or null.
  virtual std::string KindOf(const std::string& expression) const = 0;

  virtual void DefineRoutine(const RoutineDefinition& routine) = 0;

  // Another connection takes the write lock of `table` and keeps it.
  virtual std::unique_ptr<LockHolder> HoldWriteLock(const std::string& table) = 0;

  // Another connection takes a lock under which even reading the catalogue
  // table tessel_enum_tables waits, and keeps it. CatalogueLockSparesWrites
  // tells whether other tables can still be written meanwhile (a lock on one
  // table), or not (SQLite: the whole file).
  virtual std::unique_ptr<LockHolder> HoldCatalogueLock() = 0;
  virtual bool CatalogueLockSparesWrites() const = 0;

  // Through `bridge`'s own connection, stops the database from growing
  // (`full`) or lets it grow again, as a full disk and the space freed would.
  // False when the backend cannot do that from a client.
  virtual bool SetDiskFull(IConnectWrapper& bridge, bool full) = 0;

  // Words that the database's refusal of a duplicate key contains.
  virtual std::string UniqueViolationText() const = 0;
  // The code by which the database names a failure of `kind` in its messages.
  virtual std::string FailureCode(Failure kind) const = 0;
};

// "Sqlite", "Postgres", "OdbcSqlite" or "OdbcPostgres", as the names of tests end.
std::string NameOf(Backend backend);
// The same word where gtest prints a test's parameter.
void PrintTo(Backend backend, std::ostream* out);
// Every backend this build has.
std::vector<Backend> BuiltBackends();
// The context of `backend` for the running test. Without TESSEL_PG_URI a
// PostgreSQL test is skipped, or failed under CI=true, and `context` stays
// empty: the caller returns when it is.
void MakeContext(Backend backend, std::unique_ptr<BackendContext>& context);

// A fresh SQLite file in a temporary directory, removed with the context.
std::unique_ptr<BackendContext> MakeSqliteContext();
// A fresh schema on the server at `uri`, dropped with the context.
std::unique_ptr<BackendContext> MakePostgresContext(const std::string& uri);
// The same two through the ODBC drivers; `odbc` is the ODBC connection string
// of the PostgreSQL server (OdbcPostgresString).
std::unique_ptr<BackendContext> MakeOdbcSqliteContext();
std::unique_ptr<BackendContext> MakeOdbcPostgresContext(const std::string& odbc);

// Replaces the type placeholders of `sql` with `types[i].second` for each
// placeholder `types[i].first`.
std::string WithTypes(std::string sql, const std::vector<std::pair<std::string, std::string>>& types);

}  // namespace Tessel::EndToEnd
