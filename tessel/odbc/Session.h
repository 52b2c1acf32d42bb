// One ODBC connection, opened at first need and kept open, what the backend
// learns about its driver, and the statement helpers the rest of the backend
// uses.
//
//   odbc:DSN=name[;UID=...;PWD=...]               a data source of odbc.ini
//   odbc:Driver={PostgreSQL Unicode};Server=...   a driver of odbcinst.ini
//
// Everything after "odbc:" is handed to SQLDriverConnectW unchanged (no
// prompt); on Linux the driver manager is unixODBC (ODBCSYSINI and ODBCINI
// name the folder of odbcinst.ini and the odbc.ini it reads), on Windows the
// system's odbc32. A login time-out of 10 seconds applies, so that an
// unreachable server never blocks without end (where the driver honours it).
//
// After connecting, the session reads the driver's answers (SQLGetInfo): the
// database's name, the identifier quote, the search-pattern escape, whether
// schemas and procedures exist. The table set is the schema in which tables
// and routines are looked up; empty means the connection's default (for
// PostgreSQL its current schema, elsewhere no schema at all: names then go
// unqualified and the driver resolves them). A driver without schemas takes
// only the empty table set.
//
// On PostgreSQL the session then does what the native backend does: the
// table set goes first on the search path (so that routines that name tables
// without a schema find the table set's), and a lock another connection
// holds is waited for at most 5 seconds unless the connection string (e.g.
// psqlODBC's ConnSettings), the role or the database sets lock_timeout.
//
// Errors: Connection() and the helpers throw QueryError; a connection string
// that is no "odbc:" form (set later) throws ArgumentError. They never close
// the connection themselves; at the end of an operation that failed, call
// DropIfBroken so that a connection that is gone is reopened at the next use.
//
// Not thread-safe: one thread at a time, like the component that owns it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "tessel/odbc/Errors.h"
#include "tessel/odbc/Handles.h"

namespace Tessel::Odbc {

inline constexpr std::string_view kScheme = "odbc:";

// True for the connection strings this backend takes: "odbc:" and anything.
bool IsOdbcConnectionString(const std::string& connect) noexcept;

// What the backend learns of a driver once per connection.
struct DriverTraits {
  Dbms dbms = Dbms::Other;
  std::string dbmsName;      // SQL_DBMS_NAME
  std::string dbmsVersion;   // SQL_DBMS_VER
  std::string driverName;    // SQL_DRIVER_NAME, the driver's file
  std::string quote = "\"";  // SQL_IDENTIFIER_QUOTE_CHAR; empty when names cannot be quoted
  std::string escape;        // SQL_SEARCH_PATTERN_ESCAPE; empty when there is none
  bool schemas = false;      // schemas may qualify table names in statements
  bool procedures = false;   // SQL_PROCEDURES is "Y"
};

class Session {
 public:
  Session(std::string connect, std::string tableSet)
      : connect_(std::move(connect)), tableSet_(std::move(tableSet)) {}
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Closes an open connection; the next use connects with the new string.
  void SetConnectionString(std::string connect);

  // The open connection, connecting first when there is none.
  SQLHDBC Connection();
  bool IsOpen() const noexcept { return conn_ != nullptr; }
  void Close() noexcept;
  // Closes the connection when the driver reports it dead (or when
  // `lost` says so), so that the next Connection() reconnects.
  void DropIfBroken(bool lost = false) noexcept;

  // Valid after Connection().
  const DriverTraits& Traits() const noexcept { return traits_; }
  // The schema in which tables and routines are looked up; empty for none.
  const std::string& Schema() const noexcept { return schema_; }
  // The table set as given (for messages).
  const std::string& TableSet() const noexcept { return tableSet_; }
  // Where tables are looked up, for messages: "schema 'x'", or "the ODBC
  // data source" when there is no schema.
  std::string WhereText() const;

  // `name` quoted with the driver's identifier quote (doubled inside).
  std::string QuoteName(std::string_view name) const;
  // The table's name for SQL text: qualified with the schema when there is one.
  std::string Qualified(std::string_view table) const;
  // `name` as a search-pattern argument that matches only itself ('_' and
  // '%' escaped where the driver has an escape).
  Wide Pattern(std::string_view name) const;
  // The schema as a catalogue function's argument, an ordinary one
  // (SQLPrimaryKeys, SQLStatistics) or a search pattern (SQLTables,
  // SQLColumns, SQLProcedures); null (every schema) when there is none.
  SQLWCHAR* SchemaArgument() const noexcept { return schema_.empty() ? nullptr : Arg(schemaWide_); }
  SQLWCHAR* SchemaPattern() const noexcept { return schema_.empty() ? nullptr : Arg(schemaPattern_); }

  // A new statement on the connection (connecting first).
  StmtHandle Statement();

  // How a transaction runs on this connection (Handles.h): as plain
  // statements on SQLite, whose driver loses track of a transaction that
  // SQLite ended by itself, opened with BEGIN IMMEDIATE so that a file
  // another connection writes is reported at once, as the SQLite backend
  // does; by the driver everywhere else.
  Transaction::Style TransactionStyle() const noexcept {
    return traits_.dbms == Dbms::SQLite ? Transaction::Style::Statements : Transaction::Style::Driver;
  }
  static constexpr const char* kBeginStatement = "BEGIN IMMEDIATE";

  // The failure the call that returned `rc` left on `handle`.
  Odbc::Failure Failure(SQLSMALLINT handleType, SQLHANDLE handle, SQLRETURN rc) const;
  // Throws QueryError("<context>: ...") unless `rc` is a success.
  void Check(SQLSMALLINT handleType, SQLHANDLE handle, SQLRETURN rc, std::string_view context) const;
  void Check(const StmtHandle& stmt, SQLRETURN rc, std::string_view context) const {
    Check(SQL_HANDLE_STMT, stmt.get(), rc, context);
  }

  // Runs SQL that returns nothing the caller needs, on a statement of its
  // own. Throws as Check.
  void Exec(const std::string& sql, std::string_view context);

 private:
  void ReadTraits();
  void SetUpSession();

  std::string connect_;
  std::string tableSet_;
  EnvHandle env_;
  ConnHandle conn_;
  DriverTraits traits_;
  std::string schema_;
  Wide schemaWide_;
  Wide schemaPattern_;
};

}  // namespace Tessel::Odbc
