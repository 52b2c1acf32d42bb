#include "bridge/ErrorContext.h"

#include "TesselWrapper/Errors.h"

namespace Tessel {

void RethrowWithContext(const std::string& context) {
  try {
    throw;
  } catch (Error& e) {
    // The same object goes on, so a subclass this file has never heard of
    // keeps its class and everything it carries.
    e.AddContext(context);
    throw;
  }
}

}  // namespace Tessel
