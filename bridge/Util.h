// Util: stateless text and type helpers of the bridge (internal; not part of
// the exported face).
//
// The text conversions themselves (native narrow text <-> managed UTF-8) live
// in TesselWrapper/data/Text.h; Util adds the few operations the bridge builds
// on them. All functions are pure and may run on any thread at once.
#pragma once

#include <string>

#include "TesselWrapper/SimpleDbParameter.h"
#include "TesselWrapper/data/DbType.h"
#include "TesselWrapper/data/Text.h"

namespace Tessel {

class Util {
 public:
  Util() = default;
  ~Util() = default;

  // Managed text as native text: up to its first U+0000; absent text gives
  // the empty string.
  static std::string SystemToStdString(const ManagedText& inString);

  // Removes from `Source` every piece that begins with `Key`, the pieces
  // being what lies between occurrences of the first character of `SplitOn`
  // (empty pieces included). Each kept piece is followed by the whole of
  // `SplitOn` in the result. An empty `SplitOn` gives the empty text; an
  // empty `Key` drops every piece. The prefix test is case-sensitive.
  // Throws ArgumentNullError, naming the argument, when one is absent.
  static ManagedText RemoveKeyValue(const ManagedText& Source, const ManagedText& Key,
                                    const ManagedText& SplitOn);

  // The parameter type for a routine argument's type: String, Int32, Double,
  // Decimal, Currency, DateTime and Binary for 0 to 6; AnsiString for every
  // other number, negative ones included.
  static Data::DbType TranslateToNetDbType(SimpleDbType typenameIn) noexcept;
};

}  // namespace Tessel
