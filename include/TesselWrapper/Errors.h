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
//   DatabaseError           the database refused something; carries the
//                           backend's own code and, where there is one, the
//                           SQLSTATE
//
// All classes are thread-compatible values; they can be copied and thrown
// across the shared library's boundary.
#pragma once

#include <stdexcept>
#include <string>

#include "TesselWrapper/Export.h"

namespace Tessel {

class TESSELWRAPPER_API Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
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

class TESSELWRAPPER_API DatabaseError : public Error {
 public:
  // `nativeCode` is the backend's own error code (SQLite's extended result
  // code; 0 for PostgreSQL), `sqlState` the five-character SQLSTATE or empty.
  DatabaseError(const std::string& message, int nativeCode = 0, std::string sqlState = {})
      : Error(message), nativeCode_(nativeCode), sqlState_(std::move(sqlState)) {}
  int NativeCode() const noexcept { return nativeCode_; }
  const std::string& SqlState() const noexcept { return sqlState_; }

 private:
  int nativeCode_;
  std::string sqlState_;
};

}  // namespace Tessel
