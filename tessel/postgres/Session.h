// One PostgreSQL connection, opened at first need and kept open, with the
// query helpers the rest of the backend uses.
//
// The connection string is handed to libpq unchanged (a postgresql:// or
// postgres:// URI, or "key=value" pairs). Two settings are added around it:
// a connect time-out of 10 seconds when the string names none (so that an
// unreachable server never blocks without end), and the client encoding
// UTF-8, which is what the table model holds. After connecting, the session
// sets DateStyle to ISO, the form in which result dates are read back, and
// puts the table set's schema first on the search path (then "public"), so
// that routines and scripts that name tables without a schema find the
// table set's tables.
//
// A lock another connection holds is waited for at most 5 seconds (the
// SQLite backend's default busy time-out), unless the connection string, the
// role or the database sets lock_timeout itself: a write that would wait
// longer fails with SQLSTATE 55P03, which asks the caller to rerun it,
// instead of blocking without end. Server notices are discarded rather than
// printed to the host program's stderr.
//
// Errors: Connection() and the Exec helpers throw QueryError (a
// Tessel::DatabaseError carrying the SQLSTATE). They never close the
// connection themselves (guards may still hold it); at the end of an operation
// that failed, call DropIfBroken so that a connection that is gone is reopened
// at the next use.
//
// Not thread-safe: one thread at a time, like the component that owns it.
#pragma once

#include <libpq-fe.h>

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "tessel/postgres/Errors.h"
#include "tessel/postgres/Handles.h"

namespace Tessel::Postgres {

// True for the connection strings this backend takes: postgresql:// and
// postgres:// URIs, and libpq "keyword=value" strings.
bool IsPostgresConnectionString(const std::string& connect) noexcept;

class Session {
 public:
  // `schema` goes first on the search path of every connection.
  Session(std::string connect, std::string schema)
      : connect_(std::move(connect)), schema_(std::move(schema)) {}
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Closes an open connection; the next use connects with the new string.
  void SetConnectionString(std::string connect);

  // The open connection, connecting first when there is none. Throws
  // QueryError (no SQLSTATE, connectionLost set) when the server cannot be
  // reached or refuses the connection, and ArgumentError when the connection
  // string is not a PostgreSQL form (one set later through
  // SetConnectionString).
  PGconn* Connection();

  // Close and DropIfBroken end the connection (PQfinish: its socket is
  // closed and libpq's state freed). Call them only when nothing still works
  // on the connection: no COPY stream, no Transaction that may still roll
  // back (one whose COMMIT was sent never touches it again); typically at the
  // end of an operation.
  bool IsOpen() const noexcept { return conn_ != nullptr; }
  void Close() noexcept { conn_.reset(); }

  // Closes the connection when libpq reports it broken, so that the next
  // Connection() reconnects. Never fails.
  void DropIfBroken() noexcept;

  // Runs SQL without parameters (several statements may be given; they run
  // as one implicit transaction). Throws QueryError "<context>: ..." unless
  // the result is a command or rows.
  ResultHandle Exec(const char* sql, std::string_view context);

  // Runs one statement with text parameters ($1, $2, ...; a null pointer is
  // SQL NULL), results in text form. Throws as Exec.
  ResultHandle ExecParams(const std::string& sql, const std::vector<const char*>& params,
                          std::string_view context);
  ResultHandle ExecParams(const std::string& sql, std::initializer_list<const char*> params,
                          std::string_view context) {
    return ExecParams(sql, std::vector<const char*>(params), context);
  }

 private:
  ResultHandle Checked(ResultHandle result, std::string_view context);

  std::string connect_;
  std::string schema_;
  ConnHandle conn_;
};

}  // namespace Tessel::Postgres
