// The exception hierarchy of TesselWrapper.
//
// Every error that leaves an operation of the library is a Tessel::Error (a
// std::exception), whose what() names the table, column or value at fault.
// The subclasses tell the kinds apart so that a caller can react to them:
//
//   MissingComponentError   an operation reached for the component of a bridge
//                           that has none loaded (never a null dereference)
//   ArgumentError           a bad argument: unknown column, ambiguous column,
//                           a row that belongs elsewhere, an illegal date,
//                           an unknown connection-string form
//   ArgumentNullError       an absent argument where one is required
//   InvalidCastError        a value that a column's type cannot take
//   OverflowError           a number outside the range of its column
//   ConstraintError         a row that violates a primary key or unique rule
//   NoNullAllowedError      a row without a value in a column that needs one
//   DatabaseError           the database refused something; carries a
//                           category (what a caller can do about it), the
//                           backend's own code and, where there is one, the
//                           SQLSTATE
//
// An error keeps its class on its way out: where the library adds context
// ("BulkToTable into table 'cases': record 4 ..."), it puts it before the
// text of the same object and rethrows that object.
//
// All classes are thread-compatible values; they can be copied and thrown
// across the shared library's boundary.
#pragma once

#include <stdexcept>
#include <string>
#include <utility>

#include "TesselWrapper/Export.h"

namespace Tessel {

class TESSELWRAPPER_API Error : public std::runtime_error {
 public:
  explicit Error(const std::string& message) : std::runtime_error(message), text_(message) {}
  explicit Error(const char* message) : Error(std::string(message)) {}

  const char* what() const noexcept override { return text_.c_str(); }

  // Puts "<context>: " before the text. Used while the error travels out of
  // an operation; the object, and so its class, stays the same.
  void AddContext(const std::string& context) { text_ = context + ": " + text_; }

 private:
  std::string text_;
};

class TESSELWRAPPER_API MissingComponentError : public Error {
 public:
  using Error::Error;
};

class TESSELWRAPPER_API ArgumentError : public Error {
 public:
  using Error::Error;
};

class TESSELWRAPPER_API ArgumentNullError : public ArgumentError {
 public:
  using ArgumentError::ArgumentError;
};

class TESSELWRAPPER_API InvalidCastError : public ArgumentError {
 public:
  using ArgumentError::ArgumentError;
};

class TESSELWRAPPER_API OverflowError : public ArgumentError {
 public:
  using ArgumentError::ArgumentError;
};

class TESSELWRAPPER_API ConstraintError : public Error {
 public:
  using Error::Error;
};

class TESSELWRAPPER_API NoNullAllowedError : public Error {
 public:
  using Error::Error;
};

// What a failure of the database means for the caller's rows. Each backend
// sets it where it maps its own codes; everything else reads it from there.
// The question behind it: can the same call succeed later without anyone
// changing anything? Rerun and Connection say yes; the others say no.
enum class ErrorCategory {
  Other,           // none of the below, among it whatever lasts until someone
                   // acts: a missing database, folder, file, driver or role,
                   // a wrong password, an unknown host, an invalid option,
                   // no permission, a database opened read-only
  Rerun,           // busy or locked database, deadlock, serialization failure,
                   // lock time-out, full disk, out of memory: nothing was
                   // written, and the same work may succeed when run again
  SchemaChange,    // the table no longer has the shape the caller worked from
  Refused,         // the database refused the data for good (a key, a check,
                   // a trigger): running the same rows again cannot succeed
  OutcomeUnknown,  // the connection was lost while a commit was in flight and
                   // the server could not say whether it committed
  Connection,      // the database could not be reached (or was lost before
                   // any commit) for a reason that may pass: a server not up
                   // yet, a connection cut; nothing was written; rerun once
                   // it answers
};

// True for the categories after which nothing was written and the same work
// may succeed later: Rerun and Connection. Their messages contain
// "Rerun the transaction".
constexpr bool AsksForRerun(ErrorCategory category) noexcept {
  return category == ErrorCategory::Rerun || category == ErrorCategory::Connection;
}

// True for the category of a failure that the rows' own values caused:
// Refused. Only such a failure names a row; a lost connection, a busy
// database, a full disk or a lack of memory is no row's fault, whichever row
// was being written when it came.
constexpr bool BlamesTheRows(ErrorCategory category) noexcept { return category == ErrorCategory::Refused; }

class TESSELWRAPPER_API DatabaseError : public Error {
 public:
  // `nativeCode` is the backend's own error code (SQLite's extended result
  // code; 0 for PostgreSQL), `sqlState` the five-character SQLSTATE or empty.
  DatabaseError(const std::string& message, ErrorCategory category, int nativeCode = 0,
                std::string sqlState = {})
      : Error(message), category_(category), nativeCode_(nativeCode), sqlState_(std::move(sqlState)) {}
  explicit DatabaseError(const std::string& message, int nativeCode = 0, std::string sqlState = {})
      : DatabaseError(message, ErrorCategory::Other, nativeCode, std::move(sqlState)) {}

  ErrorCategory Category() const noexcept { return category_; }
  int NativeCode() const noexcept { return nativeCode_; }
  const std::string& SqlState() const noexcept { return sqlState_; }

 private:
  ErrorCategory category_;
  int nativeCode_;
  std::string sqlState_;
};

}  // namespace Tessel
