#include "ExitStatus.h"

#include <cstring>

#include "TesselWrapper/Errors.h"
#include "TesselWrapper/component/DbConnect.h"

namespace Tessel::Cli {

int ExitStatusOf(const std::exception& failure) noexcept {
  if (const auto* database = dynamic_cast<const DatabaseError*>(&failure)) {
    const ErrorCategory category = database->Category();
    if (AsksForRerun(category) || category == ErrorCategory::SchemaChange) return kExitRerun;
  }
  // A command that returned false wraps the bridge's message, whose category
  // only its sentences tell.
  const char* text = failure.what();
  if (std::strstr(text, kRerunTransaction) != nullptr || std::strstr(text, kSchemaChange) != nullptr)
    return kExitRerun;
  return kExitFailed;
}

}  // namespace Tessel::Cli
