// Quoting, in the two ways the library needs: naming a value or a name in a
// message, in single quotes, as every error and status of the library does
// ("column 'id' of table 'cases'"); and an identifier in SQL text. Private to
// the library; the lowest layer holds it so that every layer quotes alike.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace Tessel {

// `text` in single quotes.
std::string Quoted(std::string_view text);

// The same for text that may be long (a whole CSV field, a date that is no
// date): at most `maxBytes` of it, cut at a character boundary, then "...".
std::string QuotedExcerpt(std::string_view text, std::size_t maxBytes = 64);

// Quotes an identifier for SQL: wraps it in double quotes and doubles every
// double quote inside, so that any text is only ever a name.
std::string QuoteIdentifier(std::string_view identifier);

}  // namespace Tessel
