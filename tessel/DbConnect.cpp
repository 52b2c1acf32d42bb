#include "TesselWrapper/component/DbConnect.h"

namespace Tessel {

DbConnect::~DbConnect() = default;

void DbConnect::SetConnectionString(ManagedText connectionString) {
  connectionString_ = std::move(connectionString);
  OnConnectionStringChanged();
}

}  // namespace Tessel
