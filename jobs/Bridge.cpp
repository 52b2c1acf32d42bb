#include "TesselWrapper/jobs/Bridge.h"

namespace Tessel::Jobs {

BridgeHandle OpenBridge(const std::string& connection, const std::string& tableSet) {
  BridgeHandle bridge(IConnectWrapper::CreateInstance());
  bridge->LoadObject(connection, tableSet);
  return bridge;
}

}  // namespace Tessel::Jobs
