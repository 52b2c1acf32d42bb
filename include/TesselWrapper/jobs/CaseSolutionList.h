// The case and solution list of IConnectWrapper::GetMaxSolnIdCaseId, split
// into its entries.
//
// The bridge returns "Caseid:SolutionId;" for each row, case first, with
// nothing between entries ("3:12;4:15;"). Identifiers are kept as the text the
// database gave (a null is an empty text), so nothing is lost in a conversion.
//
// Pure and thread-safe.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "TesselWrapper/Export.h"

namespace Tessel::Jobs {

struct CaseSolution {
  std::string caseId;
  std::string solutionId;

  friend bool operator==(const CaseSolution&, const CaseSolution&) = default;
};

// The entries in list order; the empty text gives none. Throws
// Tessel::ArgumentError quoting the text when an entry has no ':' or the last
// entry is not closed by ';'.
TESSELWRAPPER_API std::vector<CaseSolution> ParseCaseSolutionList(std::string_view text);

}  // namespace Tessel::Jobs
