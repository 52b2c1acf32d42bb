// One parameter of a routine call, as the component makes it with
// DbConnect::NewDbParameter and takes it back in ExecuteStoredProcedure.
// A plain value: name, type, size, direction and value exactly as given;
// nothing is checked or translated here. Direction may hold any number,
// including ones ParameterDirection does not name.
#pragma once

#include <cstdint>
#include <string>

#include "TesselWrapper/Export.h"
#include "TesselWrapper/data/DbType.h"
#include "TesselWrapper/data/Value.h"

namespace Tessel::Data {

class TESSELWRAPPER_API DbParameter {
 public:
  DbParameter() = default;
  DbParameter(std::string name, DbType type, std::int32_t size, ParameterDirection direction, Value value)
      : ParameterName(std::move(name)),
        Type(type),
        Size(size),
        Direction(direction),
        ParamValue(std::move(value)) {}
  virtual ~DbParameter() = default;

  std::string ParameterName;
  DbType Type = DbType::AnsiString;
  std::int32_t Size = 0;
  ParameterDirection Direction = ParameterDirection::Input;
  Value ParamValue;
};

}  // namespace Tessel::Data
