#include "tessel/NameLookup.h"

#include "TesselWrapper/data/Text.h"

namespace Tessel {

std::optional<std::string> PickByName(std::string_view name, const std::vector<std::string>& candidates) {
  const std::string* folded = nullptr;
  int foldedMatches = 0;
  for (const std::string& candidate : candidates) {
    if (candidate == name) return candidate;
    if (Text::EqualsIgnoreCase(candidate, name)) {
      folded = &candidate;
      ++foldedMatches;
    }
  }
  if (foldedMatches == 1) return *folded;
  return std::nullopt;
}

}  // namespace Tessel
