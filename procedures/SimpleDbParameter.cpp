// The native records of a routine argument. Plain values: every copy owns its
// own text, and the numeric union is always copied whole, whichever member
// was written last.
#include "TesselWrapper/SimpleDbParameter.h"

#include <utility>

ParamValue::ParamValue() : valueType(String), stringValue(), numericValue{} {
  numericValue.doubleValue = 0.0;  // all eight bytes zero, not just the integer's four
}

ParamValue::ParamValue(const ParamValue& other)
    : valueType(other.valueType), stringValue(other.stringValue), numericValue(other.numericValue) {}

ParamValue& ParamValue::operator=(const ParamValue& other) {
  valueType = other.valueType;
  stringValue = other.stringValue;
  numericValue = other.numericValue;
  return *this;
}

ParamValue::~ParamValue() = default;

SimpleDbParameter::SimpleDbParameter(std::string parameterNameIn, ParamValue paramValueIn,
                                     SimpleParameterDirection parameterDirectionIn)
    : parameterName(std::move(parameterNameIn)),
      parameterDirection(parameterDirectionIn),
      paramValue(paramValueIn) {}

SimpleDbParameter::SimpleDbParameter(const SimpleDbParameter& other) = default;

SimpleDbParameter::~SimpleDbParameter() = default;
