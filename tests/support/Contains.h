// The check most message assertions make: does the text hold this part.
#pragma once

#include <string_view>

namespace Tessel::Testing {

inline bool Contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

}  // namespace Tessel::Testing
