// Reading an SQLite column default (the text pragma_table_xinfo gives for
// dflt_value) into the shared ParsedDefault (tessel/DefaultLiteral.h).
//
// Literals: a number (decimal, or 0x hex read as 64-bit two's complement, as
// SQLite does), 'text' with '' unescaped, X'hex' bytes, NULL, TRUE/FALSE,
// each optionally in parentheses. Anything else (CURRENT_TIMESTAMP, a call,
// an operator) is an Expression.
#pragma once

#include <optional>
#include <string_view>

#include "TesselWrapper/data/DataColumn.h"
#include "tessel/DefaultLiteral.h"

namespace Tessel::Sqlite {

// `literalType` guides how a number is read: as text for String and Decimal
// columns (so "12.50" keeps its digits), as an integer or double otherwise.
ParsedDefault ParseDefault(std::optional<std::string_view> defaultSql, Data::DataType literalType);

}  // namespace Tessel::Sqlite
