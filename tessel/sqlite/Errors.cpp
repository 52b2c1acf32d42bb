#include "tessel/sqlite/Errors.h"

#include <sqlite3.h>

#include <iterator>
#include <system_error>

#include "TesselWrapper/Errors.h"
#include "TesselWrapper/component/DbConnect.h"

namespace Tessel::Sqlite {

// The rules of tessel/dialect/sqlite/ResultCodes.h know SQLite's codes by
// number: they must be the numbers this sqlite3 library returns.
static_assert(ResultCode::kBusy == SQLITE_BUSY && ResultCode::kLocked == SQLITE_LOCKED &&
              ResultCode::kNoMem == SQLITE_NOMEM && ResultCode::kReadOnly == SQLITE_READONLY &&
              ResultCode::kIoErr == SQLITE_IOERR && ResultCode::kFull == SQLITE_FULL &&
              ResultCode::kCantOpen == SQLITE_CANTOPEN && ResultCode::kSchema == SQLITE_SCHEMA &&
              ResultCode::kTooBig == SQLITE_TOOBIG && ResultCode::kConstraint == SQLITE_CONSTRAINT &&
              ResultCode::kMismatch == SQLITE_MISMATCH && ResultCode::kRange == SQLITE_RANGE &&
              ResultCode::kReadOnlyRecovery == SQLITE_READONLY_RECOVERY);

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

namespace {

int ExtendedCode(sqlite3* db, int code) {
  // The connection's extended code is only about this failure when its
  // primary part is the code the failing call returned.
  if (db != nullptr && (sqlite3_extended_errcode(db) & 0xff) == (code & 0xff))
    return sqlite3_extended_errcode(db);
  return code;
}

// The operating system's error behind a failure to open a file, 0 when the
// failure is of another kind (the connection keeps the last one it saw).
int SystemErrno(sqlite3* db, int code) {
  return db != nullptr && (code & 0xff) == SQLITE_CANTOPEN ? sqlite3_system_errno(db) : 0;
}

ErrorCategory CategoryOn(sqlite3* db, int code) {
  return CategoryOf(ExtendedCode(db, code), db != nullptr ? sqlite3_errmsg(db) : "", SystemErrno(db, code));
}

}  // namespace

std::string DescribeError(sqlite3* db, int code) {
  const std::string text = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(code);
  std::string reason = ResultCodeName(ExtendedCode(db, code));
  // "unable to open database file" alone hides whether the path or the
  // process is at fault.
  if (const int systemErrno = SystemErrno(db, code); systemErrno != 0)
    reason += ": " + std::generic_category().message(systemErrno);
  return text + " (" + reason + ")";
}

std::string DescribeWithRetry(sqlite3* db, int code) {
  return WithRetrySentence(DescribeError(db, code), CategoryOn(db, code));
}

WriteFailure WriteFailureOf(sqlite3* db, int code, std::string_view what) {
  return WriteFailure{CategoryOn(db, code), std::string(what) + ": " + DescribeError(db, code), std::nullopt};
}

WriteFailure RowsWriteFailure(sqlite3* db, int code, std::uint64_t first, std::uint64_t last) {
  WriteFailure failure{CategoryOn(db, code), DescribeError(db, code), std::nullopt};
  if (!BlamesTheRows(failure.category)) return failure;
  if (first == last) failure.row = first;
  failure.reason =
      (first == last ? RowAtPosition(first) : RowsAtPositions(first, last)) + ": " + failure.reason;
  return failure;
}

void ThrowDatabaseError(sqlite3* db, int code, std::string_view context) {
  const ErrorCategory category = CategoryOn(db, code);
  throw DatabaseError(WithCategorySentence(std::string(context) + ": " + DescribeError(db, code), category),
                      category, ExtendedCode(db, code));
}

}  // namespace Tessel::Sqlite
