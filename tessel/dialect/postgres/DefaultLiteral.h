// Reading a column default as the catalogue prints it (pg_get_expr of
// pg_attrdef.adbin), to tell a literal the table model can carry as the
// column's DefaultValue from an expression only the server can evaluate.
//
// Literals look like `42`, `(-1)`, `1.5`, `'-1'::integer`, `'it''s'::text`,
// `'2024-01-02 00:00:00'::timestamp without time zone`, `true`, `NULL::text`.
// Anything with a function call, operator or keyword in it (`nextval(...)`,
// `now()`, `CURRENT_TIMESTAMP`, `'a'::text || 'b'::text`) is an expression.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "TesselWrapper/data/DataColumn.h"
#include "TesselWrapper/data/Value.h"
#include "tessel/DefaultLiteral.h"

namespace Tessel::Postgres {

// The default as the shared ParsedDefault: a literal is read as a value of
// a column of `type` (LiteralValue); one that is no such value, and every
// expression, is an Expression.
ParsedDefault ParseDefault(std::string_view expression, Data::DataType type);

// The literal's text as a value of a column of `type` (booleans from
// true/false/t/f, numbers in the invariant form, dates in ISO form, bytes from
// "\x" hex); nullopt when the text is no such value.
std::optional<Data::Value> LiteralValue(Data::DataType type, std::string_view text);

}  // namespace Tessel::Postgres
