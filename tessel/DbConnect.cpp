#include "TesselWrapper/component/DbConnect.h"

#include "TesselWrapper/Errors.h"

namespace Tessel {

DbConnect::~DbConnect() = default;

void DbConnect::SetConnectionString(ManagedText connectionString) {
  connectionString_ = std::move(connectionString);
  OnConnectionStringChanged();
}

std::shared_ptr<Data::DbParameter> DbConnect::NewDbParameter(const std::string& name, Data::DbType type,
                                                             std::int32_t size,
                                                             Data::ParameterDirection direction,
                                                             Data::Value value) {
  return std::make_shared<Data::DbParameter>(name, type, size, direction, std::move(value));
}

void DbConnect::ExecuteScript(const std::string&) {
  throw ArgumentError("this component does not run SQL scripts");
}

}  // namespace Tessel
