// Routine arguments and results as text, for command lines and scripts.
//
// An argument is written NAME=TYPE:VALUE, for example
//
//   caseid=int:7   modeldir=string:models/a   started=datetime:2024-03-01 12:00
//
// NAME is handed to the routine as written (a leading '@', ':' or '$' may be
// part of it; the component strips it where its database wants that). TYPE is
// one of the words below, in any letter case; VALUE is everything after the
// first ':' that follows the '=', so it may itself hold '=' and ':'.
//
//   string    SimpleDbType::String    stringValue = VALUE (may be empty)
//   int       SimpleDbType::Int32     numericValue.intValue, a decimal integer
//                                     in the 32-bit range, optional sign
//   double    SimpleDbType::Double    numericValue.doubleValue ("1.5", "-2e3")
//   decimal   SimpleDbType::Decimal   numericValue.doubleValue (the bridge
//   currency  SimpleDbType::Currency   carries these two as doubles)
//   datetime  SimpleDbType::DateTime  numericValue.doubleValue, an OLE
//                                     Automation date: VALUE is either an ISO
//                                     date "YYYY-MM-DD[ HH:MM[:SS[.fff]]]"
//                                     ('T' may stand for the space), rounded
//                                     to whole milliseconds, or the day
//                                     number itself ("45352.5"); either must
//                                     lie from 0100-01-01 to 9999-12-31
//                                     23:59:59.999, the dates the bridge
//                                     carries
//   binary    SimpleDbType::Binary    numericValue.intValue, a 32-bit integer
//                                     (what the row record carries for it)
//
// Numeric arguments carry an empty stringValue. Every argument is an input
// (SimpleParameterDirection::Input).
//
// A routine's output text is "name=value;" per column of its result row (see
// IConnectWrapper::ExecuteStoredProcedure); ParseRoutineOutput splits it.
//
// All functions are pure and thread-safe.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "TesselWrapper/Export.h"
#include "TesselWrapper/SimpleDbParameter.h"

namespace Tessel::Jobs {

// One argument from NAME=TYPE:VALUE. Throws Tessel::ArgumentError naming the
// argument and what is wrong with it: no '=', an empty name, no ':', an
// unknown type word, or a value that the type cannot take.
TESSELWRAPPER_API SimpleDbParameter ParseRoutineArgument(std::string_view text);

// Every argument, in order; throws as ParseRoutineArgument at the first bad one.
TESSELWRAPPER_API std::vector<SimpleDbParameter> ParseRoutineArguments(std::span<const std::string> texts);

// "string, int, double, decimal, currency, datetime, binary", for help texts.
TESSELWRAPPER_API std::string_view RoutineArgumentTypeWords() noexcept;

// An OLE Automation day number for a date and time written in ISO form, as
// the "datetime" argument type reads it (Data::DateTime::ToOADate). Throws
// Tessel::InvalidCastError, quoting the text, when the text is not such a
// date or names one that no day number carries (before 0100-01-01, or
// rounding up into the year 10000).
TESSELWRAPPER_API double OaDateFromIsoText(std::string_view text);

struct RoutineOutputColumn {
  std::string name;
  std::string value;
};

// The columns of a routine's output text, in order. A piece without '=' is
// taken as a name with an empty value; the empty text gives no columns.
TESSELWRAPPER_API std::vector<RoutineOutputColumn> ParseRoutineOutput(std::string_view output);

// The value of the column `name` (matched without regard to ASCII case, as
// PostgreSQL folds unquoted names to lower case), or nullptr when absent.
TESSELWRAPPER_API const std::string* FindOutputColumn(const std::vector<RoutineOutputColumn>& columns,
                                                      std::string_view name) noexcept;

}  // namespace Tessel::Jobs
