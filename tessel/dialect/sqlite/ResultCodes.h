// SQLite's result codes and what each means for the caller's rows, whichever
// driver reaches SQLite: the sqlite3 library returns the codes, an ODBC
// driver over SQLite passes them as its native code. The numbers are SQLite's
// own, fixed by its file format and API; the sqlite3 driver checks them
// against its header.
#pragma once

#include <string_view>

#include "TesselWrapper/Errors.h"

namespace Tessel::Sqlite {

// The codes the rules below sort. An extended code carries its primary code
// in its low byte.
namespace ResultCode {
inline constexpr int kBusy = 5;
inline constexpr int kLocked = 6;
inline constexpr int kNoMem = 7;
inline constexpr int kReadOnly = 8;
inline constexpr int kIoErr = 10;
inline constexpr int kFull = 13;
inline constexpr int kCantOpen = 14;
inline constexpr int kSchema = 17;
inline constexpr int kTooBig = 18;
inline constexpr int kConstraint = 19;
inline constexpr int kMismatch = 20;
inline constexpr int kRange = 25;
inline constexpr int kReadOnlyRecovery = kReadOnly | (1 << 8);
}  // namespace ResultCode

// What a failure means for the caller's rows; the one place where SQLite's
// codes are sorted, by one question: can the same call succeed later without
// anyone changing anything?
//   Rerun         SQLITE_BUSY, SQLITE_LOCKED (another connection holds the
//                 lock), SQLITE_FULL (the disk, or the connection's page
//                 limit), SQLITE_IOERR, SQLITE_NOMEM, SQLITE_READONLY_RECOVERY
//                 (a log another connection has yet to recover): nothing was
//                 written, and the same work succeeds once the cause is gone
//   Connection    SQLITE_CANTOPEN for want of file descriptors or memory
//                 (`systemErrno`, the operating system's error behind it)
//   SchemaChange  SQLITE_SCHEMA, and an error whose text says a table or
//                 column does not exist
//   Refused       SQLITE_CONSTRAINT, SQLITE_MISMATCH, SQLITE_TOOBIG,
//                 SQLITE_RANGE: the data itself is refused
//   Other         everything else, among it what lasts until someone acts:
//                 SQLITE_CANTOPEN of a missing folder or file, a folder, a
//                 file without permission, or for no known reason (0);
//                 SQLITE_READONLY (mode=ro, a file or folder without write
//                 permission); SQLITE_PERM, SQLITE_AUTH; a damaged file
ErrorCategory CategoryOf(int code, std::string_view errorText, int systemErrno = 0) noexcept;

}  // namespace Tessel::Sqlite
