// Quoting, in the two ways the library needs: naming a value or a name in a
// message, in single quotes, as every error and status of the library does
// ("column 'id' of table 'cases'"); and an identifier in SQL text. Private to
// the library; the lowest layer holds it so that every layer quotes alike.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace Tessel {

// `text` in single quotes, with its retry texts defused (below): a name or a
// value shown in a message never reads as the library asking for a rerun.
std::string Quoted(std::string_view text);

// Callers rerun a failed write when its message holds "Rerun the
// transaction" or "schema change" (component/DbConnect.h). A message holds
// those words as a sentence of the library's only when the failure's
// category asks for a rerun; where a table's name, a value or the
// database's own text carries them, they are defused: the spaces inside
// each occurrence, in whatever ASCII case, become underscores ("Rerun the
// transaction log" is shown as "Rerun_the_transaction log").
std::string DefuseRetryTexts(std::string text);

// The same for text that may be long (a whole CSV field, a date that is no
// date): at most `maxBytes` of it, cut at a character boundary, then "...".
std::string QuotedExcerpt(std::string_view text, std::size_t maxBytes = 64);

// Quotes an identifier for SQL: wraps it in double quotes and doubles every
// double quote inside, so that any text is only ever a name.
std::string QuoteIdentifier(std::string_view identifier);

}  // namespace Tessel
