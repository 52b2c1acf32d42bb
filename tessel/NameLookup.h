// Finding a table or routine by name the way callers expect: the name exactly
// first; failing that, the one candidate that matches without regard to case.
// Also the quoting of names, as SQL identifiers and in messages.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "data/Quoted.h"  // Quoted, for naming names in messages

namespace Tessel {

// The candidate that `name` picks, or nullopt when none matches exactly and
// not exactly one matches without regard to case (several case-insensitive
// matches are treated as no match: the caller must spell the name exactly).
std::optional<std::string> PickByName(std::string_view name, const std::vector<std::string>& candidates);

// Quotes an identifier for SQL: wraps it in double quotes and doubles every
// double quote inside, so that any text is only ever a name.
std::string QuoteIdentifier(std::string_view identifier);

}  // namespace Tessel
