#include "TesselWrapper/jobs/CaseSolutionList.h"

#include "TesselWrapper/Errors.h"
#include "data/Quoted.h"

namespace Tessel::Jobs {

std::vector<CaseSolution> ParseCaseSolutionList(std::string_view text) {
  std::vector<CaseSolution> entries;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t end = text.find(';', pos);
    if (end == std::string_view::npos)
      throw ArgumentError("case and solution list '" + std::string(text) +
                          "' does not end its last entry with ';'");
    const std::string_view entry = text.substr(pos, end - pos);
    const std::size_t colon = entry.find(':');
    if (colon == std::string_view::npos)
      throw ArgumentError("entry " + Quoted(entry) + " of case and solution list '" + std::string(text) +
                          "' has no ':' between case and solution");
    entries.push_back({std::string(entry.substr(0, colon)), std::string(entry.substr(colon + 1))});
    pos = end + 1;
  }
  return entries;
}

}  // namespace Tessel::Jobs
