// How SQLite result codes become this library's errors and messages. Every
// SQLite failure the backend reports passes through here, so that the wording,
// the naming of the code and the choice of the retry texts live in one place.
//
// Messages carry SQLite's own text (sqlite3_errmsg) followed by the extended
// result code's name, e.g. "UNIQUE constraint failed: cases.id
// (SQLITE_CONSTRAINT_PRIMARYKEY)". The sentences that follow ("Rerun the
// transaction", "schema change") come from the failure's category
// (tessel/FailureText.h).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "TesselWrapper/Errors.h"
#include "tessel/FailureText.h"
#include "tessel/dialect/sqlite/ResultCodes.h"  // CategoryOf, the codes sorted

struct sqlite3;

namespace Tessel::Sqlite {

// "SQLITE_BUSY", "SQLITE_CONSTRAINT_UNIQUE", ...; for a code without a name
// here, the primary code's name with the number, e.g. "SQLITE_IOERR (code 5386)".
std::string ResultCodeName(int extendedCode);

// SQLite's text for the connection's last error with the code's name:
// "database is locked (SQLITE_BUSY)", and the operating system's reason for
// a file it could not open: "unable to open database file (SQLITE_CANTOPEN:
// No such file or directory)". `code` is the result the failing call
// returned; the connection's extended code is preferred when it agrees.
std::string DescribeError(sqlite3* db, int code);

// DescribeError plus the retry sentence when the failure asks for a rerun.
std::string DescribeWithRetry(sqlite3* db, int code);

// The failure of a write step: its category, and "<what>: <DescribeError>".
WriteFailure WriteFailureOf(sqlite3* db, int code, std::string_view what);

// The failure of writing the rows at positions `first` to `last` (one row
// when they are equal): named as "the row at position 3 (0-based): ..." only
// when the database refused the rows themselves (BlamesTheRows), otherwise
// the database's reason alone, with no row.
WriteFailure RowsWriteFailure(sqlite3* db, int code, std::uint64_t first, std::uint64_t last);

// Throws Tessel::DatabaseError with the failure's category, the extended
// result code as native code and the text "<context>: <DescribeError>" with
// the category's sentence (so a busy database while a shape is read says
// "Rerun the transaction" as a busy write does).
[[noreturn]] void ThrowDatabaseError(sqlite3* db, int code, std::string_view context);

}  // namespace Tessel::Sqlite
