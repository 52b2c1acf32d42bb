// The bridge object held as a native caller must hold it: made by
// CreateInstance and given back with Destroy, never delete, when the handle
// goes (the object may live in another heap than the caller's).
#pragma once

#include <memory>

#include "TesselWrapper/IConnectWrapper.h"

namespace Tessel::Testing {

struct BridgeDeleter {
  void operator()(IConnectWrapper* bridge) const { IConnectWrapper::Destroy(bridge); }
};

using BridgeHandle = std::unique_ptr<IConnectWrapper, BridgeDeleter>;

inline BridgeHandle NewBridge() { return BridgeHandle(IConnectWrapper::CreateInstance()); }

}  // namespace Tessel::Testing
