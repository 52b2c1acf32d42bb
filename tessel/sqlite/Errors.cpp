#include "tessel/sqlite/Errors.h"

#include <sqlite3.h>

#include <iterator>

#include "TesselWrapper/Errors.h"
#include "TesselWrapper/component/DbConnect.h"

namespace Tessel::Sqlite {
namespace {

struct CodeName {
  int code;
  const char* name;
};

// The primary codes, and the extended codes a caller is likely to meet on
// this backend's paths (constraints, locks, opening, read-only files).
constexpr CodeName kCodeNames[] = {
    {SQLITE_OK, "SQLITE_OK"},
    {SQLITE_ERROR, "SQLITE_ERROR"},
    {SQLITE_INTERNAL, "SQLITE_INTERNAL"},
    {SQLITE_PERM, "SQLITE_PERM"},
    {SQLITE_ABORT, "SQLITE_ABORT"},
    {SQLITE_BUSY, "SQLITE_BUSY"},
    {SQLITE_LOCKED, "SQLITE_LOCKED"},
    {SQLITE_NOMEM, "SQLITE_NOMEM"},
    {SQLITE_READONLY, "SQLITE_READONLY"},
    {SQLITE_INTERRUPT, "SQLITE_INTERRUPT"},
    {SQLITE_IOERR, "SQLITE_IOERR"},
    {SQLITE_CORRUPT, "SQLITE_CORRUPT"},
    {SQLITE_NOTFOUND, "SQLITE_NOTFOUND"},
    {SQLITE_FULL, "SQLITE_FULL"},
    {SQLITE_CANTOPEN, "SQLITE_CANTOPEN"},
    {SQLITE_PROTOCOL, "SQLITE_PROTOCOL"},
    {SQLITE_EMPTY, "SQLITE_EMPTY"},
    {SQLITE_SCHEMA, "SQLITE_SCHEMA"},
    {SQLITE_TOOBIG, "SQLITE_TOOBIG"},
    {SQLITE_CONSTRAINT, "SQLITE_CONSTRAINT"},
    {SQLITE_MISMATCH, "SQLITE_MISMATCH"},
    {SQLITE_MISUSE, "SQLITE_MISUSE"},
    {SQLITE_NOLFS, "SQLITE_NOLFS"},
    {SQLITE_AUTH, "SQLITE_AUTH"},
    {SQLITE_FORMAT, "SQLITE_FORMAT"},
    {SQLITE_RANGE, "SQLITE_RANGE"},
    {SQLITE_NOTADB, "SQLITE_NOTADB"},
    {SQLITE_NOTICE, "SQLITE_NOTICE"},
    {SQLITE_WARNING, "SQLITE_WARNING"},
    {SQLITE_ROW, "SQLITE_ROW"},
    {SQLITE_DONE, "SQLITE_DONE"},
    {SQLITE_BUSY_RECOVERY, "SQLITE_BUSY_RECOVERY"},
    {SQLITE_BUSY_SNAPSHOT, "SQLITE_BUSY_SNAPSHOT"},
    {SQLITE_BUSY_TIMEOUT, "SQLITE_BUSY_TIMEOUT"},
    {SQLITE_LOCKED_SHAREDCACHE, "SQLITE_LOCKED_SHAREDCACHE"},
    {SQLITE_LOCKED_VTAB, "SQLITE_LOCKED_VTAB"},
    {SQLITE_CANTOPEN_NOTEMPDIR, "SQLITE_CANTOPEN_NOTEMPDIR"},
    {SQLITE_CANTOPEN_ISDIR, "SQLITE_CANTOPEN_ISDIR"},
    {SQLITE_CANTOPEN_FULLPATH, "SQLITE_CANTOPEN_FULLPATH"},
    {SQLITE_READONLY_RECOVERY, "SQLITE_READONLY_RECOVERY"},
    {SQLITE_READONLY_CANTLOCK, "SQLITE_READONLY_CANTLOCK"},
    {SQLITE_READONLY_ROLLBACK, "SQLITE_READONLY_ROLLBACK"},
    {SQLITE_READONLY_DBMOVED, "SQLITE_READONLY_DBMOVED"},
    {SQLITE_READONLY_DIRECTORY, "SQLITE_READONLY_DIRECTORY"},
    {SQLITE_ABORT_ROLLBACK, "SQLITE_ABORT_ROLLBACK"},
    {SQLITE_CONSTRAINT_CHECK, "SQLITE_CONSTRAINT_CHECK"},
    {SQLITE_CONSTRAINT_COMMITHOOK, "SQLITE_CONSTRAINT_COMMITHOOK"},
    {SQLITE_CONSTRAINT_FOREIGNKEY, "SQLITE_CONSTRAINT_FOREIGNKEY"},
    {SQLITE_CONSTRAINT_FUNCTION, "SQLITE_CONSTRAINT_FUNCTION"},
    {SQLITE_CONSTRAINT_NOTNULL, "SQLITE_CONSTRAINT_NOTNULL"},
    {SQLITE_CONSTRAINT_PRIMARYKEY, "SQLITE_CONSTRAINT_PRIMARYKEY"},
    {SQLITE_CONSTRAINT_TRIGGER, "SQLITE_CONSTRAINT_TRIGGER"},
    {SQLITE_CONSTRAINT_UNIQUE, "SQLITE_CONSTRAINT_UNIQUE"},
    {SQLITE_CONSTRAINT_VTAB, "SQLITE_CONSTRAINT_VTAB"},
    {SQLITE_CONSTRAINT_ROWID, "SQLITE_CONSTRAINT_ROWID"},
#ifdef SQLITE_CONSTRAINT_DATATYPE
    {SQLITE_CONSTRAINT_DATATYPE, "SQLITE_CONSTRAINT_DATATYPE"},
#endif
};

const char* FindName(int code) noexcept {
  for (const CodeName& entry : kCodeNames)
    if (entry.code == code) return entry.name;
  return nullptr;
}

}  // namespace

std::string ResultCodeName(int extendedCode) {
  if (const char* name = FindName(extendedCode)) return name;
  const char* primary = FindName(extendedCode & 0xff);
  return std::string(primary ? primary : "SQLITE_UNKNOWN") + " (code " + std::to_string(extendedCode) + ")";
}

ErrorCategory CategoryOf(int code, std::string_view errorText) noexcept {
  switch (code & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
    case SQLITE_FULL:
    case SQLITE_READONLY:
    case SQLITE_IOERR:
    case SQLITE_NOMEM:
      return ErrorCategory::Rerun;
    case SQLITE_CANTOPEN:
      return ErrorCategory::Connection;
    case SQLITE_SCHEMA:
      return ErrorCategory::SchemaChange;
    case SQLITE_CONSTRAINT:
    case SQLITE_MISMATCH:
    case SQLITE_TOOBIG:
    case SQLITE_RANGE:
      return ErrorCategory::Refused;
    default:
      break;
  }
  // A prepare against a table or column that is gone fails with plain
  // SQLITE_ERROR; only its text tells the cause (which an ODBC driver may
  // put after a prefix of its own).
  if (errorText.find("no such table") != std::string_view::npos ||
      errorText.find("no such column") != std::string_view::npos ||
      errorText.find("has no column named") != std::string_view::npos)
    return ErrorCategory::SchemaChange;
  return ErrorCategory::Other;
}

namespace {

int ExtendedCode(sqlite3* db, int code) {
  // The connection's extended code is only about this failure when its
  // primary part is the code the failing call returned.
  if (db != nullptr && (sqlite3_extended_errcode(db) & 0xff) == (code & 0xff))
    return sqlite3_extended_errcode(db);
  return code;
}

ErrorCategory CategoryOn(sqlite3* db, int code) {
  return CategoryOf(code, db != nullptr ? sqlite3_errmsg(db) : "");
}

}  // namespace

std::string DescribeError(sqlite3* db, int code) {
  const std::string text = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(code);
  return text + " (" + ResultCodeName(ExtendedCode(db, code)) + ")";
}

std::string DescribeWithRetry(sqlite3* db, int code) {
  return WithRetrySentence(DescribeError(db, code), CategoryOn(db, code));
}

WriteFailure WriteFailureOf(sqlite3* db, int code, std::string_view what) {
  return WriteFailure{CategoryOn(db, code), std::string(what) + ": " + DescribeError(db, code), std::nullopt};
}

void ThrowDatabaseError(sqlite3* db, int code, std::string_view context) {
  const ErrorCategory category = CategoryOn(db, code);
  throw DatabaseError(WithCategorySentence(std::string(context) + ": " + DescribeError(db, code), category),
                      category, ExtendedCode(db, code));
}

}  // namespace Tessel::Sqlite
