#include "bridge/Trace.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace Tessel::Trace {

bool Enabled() noexcept {
  const char* setting = std::getenv("TESSEL_TRACE");
  return setting != nullptr && *setting != '\0' && std::strcmp(setting, "0") != 0;
}

void Line(std::string_view text) noexcept {
  if (!Enabled()) return;
  try {
    std::string line;
    line.reserve(text.size() + 9);
    line.append("tessel: ").append(text).push_back('\n');
    // One write per line, so that lines from several threads do not mix.
    std::fwrite(line.data(), 1, line.size(), stderr);
  } catch (...) {
    // Out of memory while building a diagnostic: the diagnostic is dropped.
  }
}

}  // namespace Tessel::Trace
