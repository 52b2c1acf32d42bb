// Finding a table or routine by name the way callers expect: the name exactly
// first; failing that, the one candidate that matches without regard to case.
// (Quoting names, in SQL and in messages, is data/Quoted.h.)
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "data/Quoted.h"  // Quoted and QuoteIdentifier, which go with names

namespace Tessel {

// The candidate that `name` picks, or nullopt when none matches exactly and
// not exactly one matches without regard to case (several case-insensitive
// matches are treated as no match: the caller must spell the name exactly).
std::optional<std::string> PickByName(std::string_view name, const std::vector<std::string>& candidates);

}  // namespace Tessel
