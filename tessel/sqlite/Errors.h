// How SQLite result codes become this library's errors and messages. Every
// SQLite failure the backend reports passes through here, so that the wording,
// the naming of the code and the choice of the retry texts live in one place.
//
// Messages carry SQLite's own text (sqlite3_errmsg) followed by the extended
// result code's name, e.g. "UNIQUE constraint failed: cases.id
// (SQLITE_CONSTRAINT_PRIMARYKEY)". A busy or locked database adds the retry
// text "Rerun the transaction"; a statement that found the schema changed
// under it, or that names a table or column that is gone, adds "schema
// change" (the two texts the bridge looks for after a flush).
#pragma once

#include <string>
#include <string_view>

struct sqlite3;

namespace Tessel::Sqlite {

// "SQLITE_BUSY", "SQLITE_CONSTRAINT_UNIQUE", ...; for a code without a name
// here, the primary code's name with the number, e.g. "SQLITE_IOERR (code 5386)".
std::string ResultCodeName(int extendedCode);

// True for SQLITE_BUSY and SQLITE_LOCKED (any extended form): another
// connection holds the lock, and running the same work again later may succeed.
bool IsRetryable(int code) noexcept;

// True for SQLITE_SCHEMA, and for errors whose text says a table or column
// does not exist: the database no longer has the shape the caller worked from.
bool IsSchemaChange(int code, std::string_view errorText) noexcept;

// SQLite's text for the connection's last error with the code's name:
// "database is locked (SQLITE_BUSY)". `code` is the result the failing call
// returned; the connection's extended code is preferred when it agrees.
std::string DescribeError(sqlite3* db, int code);

// DescribeError plus the retry text when IsRetryable, as its own sentence.
std::string DescribeWithRetry(sqlite3* db, int code);

// DescribeWithRetry plus the schema-change text when IsSchemaChange: for
// writes into a table whose shape was read earlier.
std::string DescribeFailure(sqlite3* db, int code);

// Throws Tessel::DatabaseError whose text is "<context>: <DescribeError>" and
// whose native code is the extended result code.
[[noreturn]] void ThrowDatabaseError(sqlite3* db, int code, std::string_view context);

}  // namespace Tessel::Sqlite
