// Owning a bridge object with RAII.
//
// IConnectWrapper objects are made by CreateInstance and must be released by
// Destroy, never by delete. BridgeHandle does that when it goes out of scope:
//
//   Tessel::Jobs::BridgeHandle db = Tessel::Jobs::OpenBridge("sqlite:cases.db", "");
//   if (!db->Test()) puts(db->GetMessage().c_str());
//
// Thread safety: as IConnectWrapper's (one caller at a time per object).
#pragma once

#include <memory>
#include <string>

#include "TesselWrapper/Export.h"
#include "TesselWrapper/IConnectWrapper.h"

namespace Tessel::Jobs {

struct BridgeDeleter {
  void operator()(IConnectWrapper* bridge) const noexcept { IConnectWrapper::Destroy(bridge); }
};

// Sole owner of one bridge object.
using BridgeHandle = std::unique_ptr<IConnectWrapper, BridgeDeleter>;

// A new bridge object with the component for `connection` (a connection
// string, "" for the embedded default) and `tableSet` ("" for the default)
// loaded. Nothing is opened yet. Throws Tessel::ArgumentError when the form
// of `connection` is unknown; no object is left behind then.
TESSELWRAPPER_API BridgeHandle OpenBridge(const std::string& connection, const std::string& tableSet);

}  // namespace Tessel::Jobs
