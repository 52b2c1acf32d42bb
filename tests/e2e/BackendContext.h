// The per-backend context of the end-to-end suite: a fresh database for one
// test, the connection string a native caller would hand to LoadObject, and
// plain database access of the test's own (not through the library) to set
// tables and routines up and to look at what landed.
//
// The test bodies are written once and run against every backend; whatever
// differs between the databases lives behind this interface:
//
//   - column types: SQL given to Exec may use the placeholders {int},
//     {bigint}, {real}, {numeric}, {text} and {datetime}, which each backend
//     replaces by its own type names;
//   - routines: DefineRoutine turns one neutral description into the
//     backend's way of keeping a routine (a row of tessel_procedures on
//     SQLite, a function or procedure on PostgreSQL);
//   - another connection that holds the write lock of a table, and a
//     connection string under which the library waits for it only briefly.
//
// Query gives every row of a result as text: values joined with '|', rows
// joined with '\n', "NULL" for a null. Write queries whose text form is the
// same on every backend (no whole-number doubles, dates with whole seconds).
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

class IConnectWrapper;

namespace Tessel::EndToEnd {

enum class Backend { Sqlite, Postgres };

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
};

// A fresh SQLite file in a temporary directory, removed with the context.
std::unique_ptr<BackendContext> MakeSqliteContext();
// A fresh schema on the server at `uri`, dropped with the context.
std::unique_ptr<BackendContext> MakePostgresContext(const std::string& uri);

// Replaces the type placeholders of `sql` with `types[i].second` for each
// placeholder `types[i].first`.
std::string WithTypes(std::string sql, const std::vector<std::pair<std::string, std::string>>& types);

}  // namespace Tessel::EndToEnd
