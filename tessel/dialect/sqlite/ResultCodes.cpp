#include "tessel/dialect/sqlite/ResultCodes.h"

#include <cerrno>

namespace Tessel::Sqlite {
namespace {

// SQLITE_CANTOPEN stands for every file that could not be opened; the
// operating system's reason tells whether that may pass. Only a shortage
// passes by itself (file descriptors, memory, an interrupted call); a path
// that names nothing, a folder, a file without permission do not. Without a
// reason (a driver that does not pass one on) the file is taken as one that
// cannot be opened: that is what a wrong path gives, by far the most common
// cause, and stopping is the safe side of the two.
ErrorCategory CantOpenCategory(int systemErrno) noexcept {
  switch (systemErrno) {
    case EMFILE:
    case ENFILE:
    case ENOMEM:
    case EAGAIN:
    case EINTR:
      return ErrorCategory::Connection;
    default:
      return ErrorCategory::Other;
  }
}

}  // namespace

ErrorCategory CategoryOf(int code, std::string_view errorText, int systemErrno) noexcept {
  switch (code & 0xff) {
    case ResultCode::kBusy:
    case ResultCode::kLocked:
    case ResultCode::kFull:
    case ResultCode::kIoErr:
    case ResultCode::kNoMem:
      return ErrorCategory::Rerun;
    case ResultCode::kReadOnly:
      // A write-ahead log that another connection has yet to recover passes;
      // every other read-only file (opened with mode=ro, without write
      // permission, in a read-only folder or file system) stays read-only.
      return code == ResultCode::kReadOnlyRecovery ? ErrorCategory::Rerun : ErrorCategory::Other;
    case ResultCode::kCantOpen:
      return CantOpenCategory(systemErrno);
    case ResultCode::kSchema:
      return ErrorCategory::SchemaChange;
    case ResultCode::kConstraint:
    case ResultCode::kMismatch:
    case ResultCode::kTooBig:
    case ResultCode::kRange:
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

}  // namespace Tessel::Sqlite
