// How every operation of the bridge reaches its component.
#include "TesselWrapper/ConnectWrapper.h"
#include "TesselWrapper/Errors.h"
#include "TesselWrapper/component/DbConnect.h"

Tessel::DbConnect& ConnectWrapper::Component() const {
  // An unloaded bridge is a caller's sequencing fault, reported as such
  // rather than reached through a null handle.
  if (!component_) {
    throw Tessel::MissingComponentError(
        "this bridge object has no component loaded: call LoadObject before using it "
        "(or LoadObject gave no component)");
  }
  return *component_;
}
