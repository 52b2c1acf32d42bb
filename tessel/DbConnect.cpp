#include "TesselWrapper/component/DbConnect.h"

#include "TesselWrapper/Errors.h"

namespace Tessel {

DbConnect::~DbConnect() = default;

void DbConnect::SetConnectionString(ManagedText connectionString) {
  connectionString_ = std::move(connectionString);
  OnConnectionStringChanged();
}

void DbConnect::ExecuteScript(const std::string&) {
  throw ArgumentError("this component does not run SQL scripts");
}

}  // namespace Tessel
