// Reading a column default as a driver reports it in SQLColumns' COLUMN_DEF,
// to tell a literal the table model can carry as the column's DefaultValue
// from an expression only the database can evaluate.
//
// ODBC asks drivers for "NULL", a quoted string, a number, "TRUNCATED" (a
// default too long to report), or the expression's own text
// (CURRENT_TIMESTAMP, a function call). Drivers pass on their database's
// spelling: PostgreSQL's `'it''s'::text`, `(-1)`, `nextval('s'::regclass)`;
// SQL Server's `((5))`, `('abc')`; SQLite's driver the declared default,
// read by SQLite's own rules (tessel/dialect/sqlite/DefaultLiteral.h),
// except that it drops the quotes around a string.
#pragma once

#include <optional>
#include <string_view>

#include "TesselWrapper/data/DataColumn.h"
#include "tessel/DefaultLiteral.h"
#include "tessel/odbc/Errors.h"

namespace Tessel::Odbc {

// The default as the shared ParsedDefault: None without a COLUMN_DEF; Null
// for NULL (with or without a cast); Literal for a quoted string, a number
// or true/false, each with optional casts ("::type"), read as text or a
// number that ApplyDefault converts to the column's type; Expression for
// everything else, TRUNCATED included.
ParsedDefault ParseDefault(std::optional<std::string_view> columnDefault, Data::DataType type, Dbms dbms);

}  // namespace Tessel::Odbc
