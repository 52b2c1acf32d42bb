// The native description of one argument of a routine call: a name, a
// direction and a typed value. A list of them goes to
// IConnectWrapper::ExecuteStoredProcedure. Plain values; the fields and their
// order are part of the binary interface.
#pragma once

#include <cstdint>
#include <string>

#include "TesselWrapper/Export.h"

// The argument's type. Each translates to a parameter type of the component
// (String, Int32, Double, Decimal, Currency, DateTime, Binary); any other
// number becomes AnsiString with an empty text value.
enum SimpleDbType : std::int32_t {
  String = 0,    // value in stringValue
  Int32 = 1,     // value in numericValue.intValue
  Double = 2,    // value in numericValue.doubleValue
  Decimal = 3,   // value in numericValue.doubleValue (a double)
  Currency = 4,  // value in numericValue.doubleValue (a double)
  DateTime = 5,  // value in numericValue.doubleValue (the double itself)
  Binary = 6,    // value in numericValue.intValue (a 32-bit integer)
};

// The argument's direction; the number is handed on untranslated.
enum SimpleParameterDirection : std::int32_t {
  Input = 1,
  Output = 2,
  InputOutput = 3,
  ReturnValue = 6,
};

class TESSELWRAPPER_API ParamValue {
 public:
  // stringValue is empty; valueType is String and numericValue zero (the
  // caller sets them before use).
  ParamValue();
  ParamValue(const ParamValue& other);
  ParamValue& operator=(const ParamValue& other);
  ~ParamValue();

  SimpleDbType valueType;
  std::string stringValue;  // its byte length is the parameter's size, whatever the type
  union {
    std::int32_t intValue;
    double doubleValue;
  } numericValue;
};

class TESSELWRAPPER_API SimpleDbParameter {
 public:
  SimpleDbParameter(std::string parameterNameIn, ParamValue paramValueIn,
                    SimpleParameterDirection parameterDirectionIn);
  SimpleDbParameter(const SimpleDbParameter& other);
  SimpleDbParameter& operator=(const SimpleDbParameter& other) = default;
  ~SimpleDbParameter();

  std::string parameterName;  // handed on unchanged
  SimpleParameterDirection parameterDirection;
  ParamValue paramValue;
};
