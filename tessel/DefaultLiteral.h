// Column defaults, the same way for every backend: what a default clause
// means for the table model (ParsedDefault), the pieces of SQL literal syntax
// the backends' readers share, and how a parsed default shapes a column.
//
// Each database's rules read its own spelling of a default
// (tessel/dialect/<database>/DefaultLiteral.h) into a ParsedDefault;
// ApplyDefault then decides, in one place, which defaults the model carries
// as the column's DefaultValue and which it leaves to the database (the
// column is then Generated: a row that holds DBNull in it lets the database
// fill it).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "TesselWrapper/data/DataColumn.h"
#include "TesselWrapper/data/Value.h"

namespace Tessel {

struct ParsedDefault {
  enum class Kind {
    None,        // no default clause
    Null,        // DEFAULT NULL
    Literal,     // a constant the model can hold: `literal`
    Expression,  // anything only the database can evaluate (a function, a
                 // sequence, an operator, a constant the model cannot hold)
  };
  Kind kind = Kind::None;
  Data::Value literal;  // Kind::Literal only
};

// `text` without white space around it and without parentheses that enclose
// all of it, however deeply ("((5))" -> "5"; "(1)+(2)" stays). Quotes (' " `)
// are respected, so parentheses inside a quoted part do not count.
std::string_view WithoutEnclosingParentheses(std::string_view text);

// The SQL string literal at the start of `text` ('it''s' -> it's) and how many
// characters of `text` it took; nullopt when `text` does not start with a
// complete one.
struct LeadingString {
  std::string value;
  std::size_t length = 0;
};
std::optional<LeadingString> ReadLeadingString(std::string_view text);

// A decimal number: an optional sign, digits with at most one ".", and an
// optional exponent ("-5", "1.", ".5", "-1.5e3"; not "1e", "." or "0x10").
bool IsDecimalLiteral(std::string_view text) noexcept;

// A tail of PostgreSQL-style casts such as "::character varying(20)[]" or
// "::timestamp(3) without time zone": only type-name characters (ASCII, so
// that the locale does not decide), no operators, quotes or calls with
// arguments other than numbers.
bool IsCastTail(std::string_view text) noexcept;

// Gives `column` (whose Type is set) what its default means: a Literal that
// the column's type can hold, converted by the table model's rules, becomes
// its DefaultValue; an Expression, or a Literal the column cannot hold, makes
// it Generated; None and Null change nothing.
void ApplyDefault(Data::DataColumn& column, const ParsedDefault& parsed);

}  // namespace Tessel
