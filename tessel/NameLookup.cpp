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

std::string QuoteIdentifier(std::string_view identifier) {
  std::string quoted;
  quoted.reserve(identifier.size() + 2);
  quoted.push_back('"');
  for (char c : identifier) {
    if (c == '"') quoted.push_back('"');
    quoted.push_back(c);
  }
  quoted.push_back('"');
  return quoted;
}

}  // namespace Tessel
