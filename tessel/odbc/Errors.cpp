#include "tessel/odbc/Errors.h"

#include <algorithm>
#include <initializer_list>

#include "TesselWrapper/data/Text.h"
#include "tessel/dialect/postgres/SqlStates.h"
#include "tessel/dialect/sqlite/ResultCodes.h"

namespace Tessel::Odbc {
namespace {

bool IsOneOf(std::string_view value, std::initializer_list<std::string_view> values) {
  for (std::string_view v : values)
    if (value == v) return true;
  return false;
}

bool IsOneOf(std::int32_t value, std::initializer_list<std::int32_t> values) {
  for (std::int32_t v : values)
    if (value == v) return true;
  return false;
}

// The category the database's own codes give, or Other when they say nothing
// beyond the SQLSTATE. PostgreSQL's SQLSTATEs and SQLite's result codes (its
// drivers pass them as the native code) are sorted by the native backends'
// own rules.
ErrorCategory DbmsCategory(const Failure& failure) {
  const std::string_view state = failure.sqlState;
  switch (failure.dbms) {
    case Dbms::PostgreSQL:
      return Postgres::CategoryOfSqlState(state, failure.connectionLost);
    case Dbms::SQLite:
      return Sqlite::CategoryOf(failure.nativeCode, failure.text);
    case Dbms::MySql:
      if (IsOneOf(failure.nativeCode, {1146, 1054})) return ErrorCategory::SchemaChange;
      if (IsOneOf(failure.nativeCode, {1205, 1213})) return ErrorCategory::Rerun;
      break;
    case Dbms::SqlServer:
      if (IsOneOf(failure.nativeCode, {208, 207})) return ErrorCategory::SchemaChange;
      if (IsOneOf(failure.nativeCode, {1222, 1205})) return ErrorCategory::Rerun;
      break;
    case Dbms::Other:
      break;
  }
  return ErrorCategory::Other;
}

// Before a connection is made, SQL_DBMS_NAME cannot be asked: the drivers'
// own words tell. The SQLite driver tags its texts "[SQLite]" and passes
// SQLite's code (a file it cannot open is SQLITE_CANTOPEN, with no reason of
// the operating system's, so lasting by SQLite's rule); the PostgreSQL
// driver relays libpq's text under 08001.
ErrorCategory ConnectCategory(const Failure& failure) {
  const std::string_view state = failure.sqlState;
  const std::string_view stateClass = state.substr(0, 2);
  if (IsOneOf(state, {"HYT00", "HYT01"})) return ErrorCategory::Rerun;
  // unixODBC reports a driver library it cannot load as a warning (01000)
  // and no error at all.
  if (stateClass == "IM" || stateClass == "01" || stateClass == "28") return ErrorCategory::Other;
  if (failure.text.rfind("[SQLite]", 0) == 0) return Sqlite::CategoryOf(failure.nativeCode, failure.text);
  if (Postgres::IsLastingConnectFailure(failure.text)) return ErrorCategory::Other;
  return ErrorCategory::Connection;
}

// True where the native code adds to the SQLSTATE (psqlODBC's is always 1).
bool NativeCodeSaysMore(const Failure& failure) {
  return failure.nativeCode != 0 && failure.dbms != Dbms::PostgreSQL;
}

}  // namespace

Dbms DbmsOf(std::string_view name) noexcept {
  if (Text::EqualsIgnoreAsciiCase(name, "PostgreSQL")) return Dbms::PostgreSQL;
  if (Text::EqualsIgnoreAsciiCase(name, "SQLite") || Text::EqualsIgnoreAsciiCase(name, "SQLite3"))
    return Dbms::SQLite;
  if (Text::EqualsIgnoreAsciiCase(name, "MySQL") || Text::EqualsIgnoreAsciiCase(name, "MariaDB"))
    return Dbms::MySql;
  if (Text::EqualsIgnoreAsciiCase(name, "Microsoft SQL Server")) return Dbms::SqlServer;
  return Dbms::Other;
}

Failure FailureOf(SQLSMALLINT handleType, SQLHANDLE handle, SQLRETURN rc, Dbms dbms, SQLHDBC conn) {
  Failure failure;
  failure.dbms = dbms;
  if (rc == SQL_INVALID_HANDLE) {
    failure.text = "the driver refused an invalid handle";
  } else if (handle != nullptr) {
    // The first record that is no warning (class 01) says what failed; a
    // warning is taken only when there is nothing else.
    bool haveWarning = false;
    for (SQLSMALLINT record = 1;; ++record) {
      SQLWCHAR state[6] = {};
      SQLINTEGER native = 0;
      SQLWCHAR message[1024];
      constexpr SQLSMALLINT kCapacity = static_cast<SQLSMALLINT>(sizeof message / sizeof message[0]);
      SQLSMALLINT length = 0;
      if (!SQL_SUCCEEDED(
              SQLGetDiagRecW(handleType, handle, record, state, &native, message, kCapacity, &length)))
        break;
      const std::string stateText = FromWide(state, 5);
      const bool warning = stateText.rfind("01", 0) == 0;
      if (warning && haveWarning) continue;
      failure.sqlState = stateText;
      failure.nativeCode = native;
      failure.text = OneLine(
          FromWide(message, static_cast<std::size_t>(std::clamp<SQLSMALLINT>(length, 0, kCapacity - 1))));
      if (!warning) break;
      haveWarning = true;
    }
  }
  if (failure.text.empty())
    failure.text = "the driver gave no reason (return code " + std::to_string(static_cast<int>(rc)) + ")";
  failure.connectionLost = (conn != nullptr && IsDead(conn)) || failure.sqlState.rfind("08", 0) == 0;
  return failure;
}

Failure ClientFailure(std::string text, bool shapeChanged) {
  Failure failure;
  failure.text = std::move(text);
  failure.shapeChanged = shapeChanged;
  return failure;
}

ErrorCategory CategoryOf(const Failure& failure) noexcept {
  const std::string_view state = failure.sqlState;
  const std::string_view stateClass = state.substr(0, 2);
  if (failure.connecting) return ConnectCategory(failure);
  if (failure.outcomeUnknown || state == "40003") return ErrorCategory::OutcomeUnknown;
  if (failure.shapeChanged || IsOneOf(state, {"42S02", "42S22"})) return ErrorCategory::SchemaChange;
  if (failure.refused) return ErrorCategory::Refused;
  if (const ErrorCategory own = DbmsCategory(failure); own != ErrorCategory::Other) return own;
  if (IsOneOf(state, {"40001", "40P01", "HYT00", "HYT01"})) return ErrorCategory::Rerun;
  if (failure.connectionLost || stateClass == "08") return ErrorCategory::Connection;
  if (stateClass == "23" || stateClass == "22" || state == "40002") return ErrorCategory::Refused;
  return ErrorCategory::Other;
}

Failure CommitFailure(Failure failure) {
  if (failure.dbms == Dbms::SQLite) return failure;
  const ErrorCategory category = CategoryOf(failure);
  // A verdict the server gave on this COMMIT: it rolled the transaction back.
  const bool verdict = (category == ErrorCategory::Rerun && failure.sqlState.rfind("40", 0) == 0) ||
                       category == ErrorCategory::Refused;
  if (!verdict) failure.outcomeUnknown = true;
  return failure;
}

std::string DescribeError(const Failure& failure) {
  std::string message = failure.text;
  if (!failure.sqlState.empty()) {
    message += " (SQLSTATE " + failure.sqlState;
    if (NativeCodeSaysMore(failure)) message += ", native error " + std::to_string(failure.nativeCode);
    message += ")";
  }
  return message;
}

std::string DescribeFailure(const Failure& failure) {
  return WithCategorySentence(DescribeError(failure), CategoryOf(failure));
}

WriteFailure WriteFailureOf(const Failure& failure) {
  return WriteFailure{CategoryOf(failure), DescribeError(failure), failure.row};
}

QueryError::QueryError(const Odbc::Failure& failure, std::string_view context)
    : DatabaseError(std::string(context) + ": " + DescribeFailure(failure), CategoryOf(failure),
                    failure.nativeCode, failure.sqlState),
      failure_(failure) {}

void ThrowDatabaseError(const Failure& failure, std::string_view context) {
  throw QueryError(failure, context);
}

}  // namespace Tessel::Odbc
