// Running a routine: the caller's native argument records become the
// component's parameters, and the in/out text makes the round trip.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "TesselWrapper/ConnectWrapper.h"
#include "TesselWrapper/Errors.h"
#include "TesselWrapper/component/DbConnect.h"
#include "TesselWrapper/data/DbParameter.h"
#include "TesselWrapper/data/Text.h"
#include "TesselWrapper/data/Value.h"
#include "bridge/Util.h"

namespace {

// The value a record hands on, picked by its type number. A number outside
// the known types carries no usable value and hands on the empty text, never
// a null.
Tessel::Data::Value ValueOf(const ParamValue& value) {
  switch (static_cast<std::int32_t>(value.valueType)) {
    case String:
      return Tessel::Text::NativeToManaged(value.stringValue);
    case Int32:
    case Binary:
      return value.numericValue.intValue;
    case Double:
    case Decimal:
    case Currency:
    case DateTime:
      return value.numericValue.doubleValue;
    default:
      return std::string();
  }
}

}  // namespace

int ConnectWrapper::ExecuteStoredProcedure(std::string procName, std::vector<SimpleDbParameter> paramList,
                                           std::string* output) {
  Tessel::DbConnect& component = Component();
  if (output == nullptr) {
    throw Tessel::ArgumentNullError("ExecuteStoredProcedure: argument 'output' must point to a string");
  }
  const std::string routine = Tessel::Text::NativeToManaged(procName);
  Tessel::ManagedText inOut = Tessel::Text::NativeToManaged(*output);

  std::vector<std::shared_ptr<Tessel::Data::DbParameter>> parameters;
  parameters.reserve(paramList.size());
  for (const SimpleDbParameter& argument : paramList) {
    // The size is the byte length of the native text for every type, as
    // callers that size their buffers by it expect; the value alone follows
    // the type.
    parameters.push_back(
        component.NewDbParameter(Tessel::Text::NativeToManaged(argument.parameterName),
                                 Tessel::Util::TranslateToNetDbType(argument.paramValue.valueType),
                                 static_cast<std::int32_t>(argument.paramValue.stringValue.size()),
                                 static_cast<Tessel::Data::ParameterDirection>(argument.parameterDirection),
                                 ValueOf(argument.paramValue)));
  }

  const std::int32_t result = component.ExecuteStoredProcedure(routine, parameters, inOut);
  // Written only now: a routine that throws leaves the caller's text as it was.
  *output = Tessel::Util::SystemToStdString(inOut);
  return result;
}
