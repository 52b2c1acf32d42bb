// How ODBC failures become this library's errors and messages. Every failure
// the backend reports passes through here, so that the wording, the SQLSTATE
// and the choice of the retry texts live in one place.
//
// A message carries the driver's text (the first diagnostic record that is
// not a warning, on one line) and its SQLSTATE, and, for a database whose
// native code says more than the SQLSTATE, that code: `ERROR: duplicate key
// value violates unique constraint "cases_pkey" ... (SQLSTATE 23505)`,
// `[SQLite]database is locked (5) (SQLSTATE HY000, native error 5)`.
//
// ODBC's SQLSTATEs are coarse (a driver may well report every failure as
// HY000), so the native code is read too where the database behind the
// driver is known by its SQL_DBMS_NAME: PostgreSQL passes the server's own
// SQLSTATEs through, SQLite's drivers report SQLite's result code as the
// native code, MySQL/MariaDB and SQL Server their error numbers.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "TesselWrapper/Errors.h"
#include "tessel/FailureText.h"
#include "tessel/odbc/Handles.h"

namespace Tessel::Odbc {

// The database behind the driver, as far as this backend treats it
// differently (failure codes, declared types, session set-up).
enum class Dbms { Other, PostgreSQL, SQLite, MySql, SqlServer };

// The Dbms that SQL_DBMS_NAME names ("PostgreSQL", "SQLite", "MySQL",
// "MariaDB", "Microsoft SQL Server"); Other for anything else.
Dbms DbmsOf(std::string_view dbmsName) noexcept;

// One failure as the driver or the driver manager reported it.
struct Failure {
  std::string text;      // the diagnostic's message, or the backend's own
  std::string sqlState;  // five characters; empty for a failure found here
  std::int32_t nativeCode = 0;
  Dbms dbms = Dbms::Other;
  bool connectionLost = false;  // the driver reports the connection dead
  bool shapeChanged = false;    // the table no longer matches the caller's
  bool outcomeUnknown = false;  // a commit whose result nobody could learn
  bool refused = false;         // a value the database cannot keep, found before it was sent
  bool connecting = false;      // the connection could not be made
  // The position of the row at fault among the rows of the write, where the
  // writer knows it.
  std::optional<std::uint64_t> row;
};

// The failure that the call which returned `rc` left on `handle` (of
// `handleType`). `conn`, when given, is asked whether it is dead.
Failure FailureOf(SQLSMALLINT handleType, SQLHANDLE handle, SQLRETURN rc, Dbms dbms, SQLHDBC conn = nullptr);

// A failure found on the client side, such as a catalogue mismatch.
Failure ClientFailure(std::string text, bool shapeChanged = false);

// What a failure means for the caller's rows. A PostgreSQL server's
// SQLSTATEs and SQLite's result codes are sorted by those databases' own
// rules (tessel/dialect/postgres/SqlStates.h,
// tessel/dialect/sqlite/ResultCodes.h), so that a database answers alike
// through either driver; for the others:
//   SchemaChange  a mismatch found in the catalogue; a table or column not
//                 found (42S02, 42S22; MySQL 1146, 1054; SQL Server 208, 207)
//   Rerun         serialization failure (40001), deadlock (40P01), a time-out
//                 (HYT00, HYT01) and lock time-outs (MySQL 1205, 1213; SQL
//                 Server 1222, 1205)
//   OutcomeUnknown  a commit whose answer was lost (the writer's own check),
//                 or 40003 (statement completion unknown)
//   Connection    the connection was lost or could not be made (class 08, or
//                 the driver reports it dead)
//   Refused       integrity rules (class 23, 40002), values the column
//                 refuses (class 22), a value the writer found the database
//                 cannot keep
//   Other         everything else
// A connection that could not be made (`connecting`) is sorted by whether
// the cause may pass (a server that does not answer yet: Connection; a login
// time-out: Rerun) or lasts until someone acts (Other): no driver or data
// source (IM, or only the driver manager's warning that it cannot load the
// library), a refused login (class 28), the PostgreSQL server's or libpq's
// lasting refusals in the PostgreSQL driver's text
// (Postgres::IsLastingConnectFailure), and SQLite's code in its driver's
// native code, by SQLite's rules.
ErrorCategory CategoryOf(const Failure& failure) noexcept;

// A failure of COMMIT as the write reports it. A server database that did
// not answer the COMMIT with a verdict of its own (a serialization failure,
// a deferred constraint) may have committed or not: such a failure becomes
// OutcomeUnknown, never a request to rerun. An embedded database (SQLite)
// always knows: its failure keeps its category.
Failure CommitFailure(Failure failure);

// "<text> (SQLSTATE xxxxx)", with ", native error N" where the native code
// means something, or just the text when there is no SQLSTATE.
std::string DescribeError(const Failure& failure);

// DescribeError with the category's sentence (tessel/FailureText.h).
std::string DescribeFailure(const Failure& failure);

// The failure of a write, as every backend reports one.
WriteFailure WriteFailureOf(const Failure& failure);

// The DatabaseError this backend throws: "<context>: <DescribeFailure>" with
// the failure's category, native code and SQLSTATE. It keeps the Failure, so
// that operations that report failures in Message() can classify it.
class QueryError : public DatabaseError {
 public:
  QueryError(const Odbc::Failure& failure, std::string_view context);
  const Odbc::Failure& Failure() const noexcept { return failure_; }

 private:
  Odbc::Failure failure_;
};

[[noreturn]] void ThrowDatabaseError(const Failure& failure, std::string_view context);

}  // namespace Tessel::Odbc
