// ODBC's SQL data types as the table model sees them, and how one cell of a
// result becomes a Value.
//
// A column's type comes from the DATA_TYPE the driver reports; for SQLite,
// whose drivers report whatever the declared type suggests, from the
// declared type by SQLite's own rule (tessel/dialect/sqlite/TypeMap.h), so
// that a table has the same shape through either driver; on PostgreSQL
// a bool is Boolean whatever the driver reports.
#pragma once

#include <string_view>

#include "TesselWrapper/data/DataColumn.h"
#include "TesselWrapper/data/Value.h"
#include "tessel/odbc/Errors.h"
#include "tessel/odbc/Handles.h"

namespace Tessel::Odbc {

// SQL_BIT Boolean; SQL_TINYINT, SQL_SMALLINT Int16; SQL_INTEGER Int32;
// SQL_BIGINT Int64; SQL_REAL, SQL_FLOAT, SQL_DOUBLE Double; SQL_DECIMAL,
// SQL_NUMERIC Decimal; dates and timestamps DateTime; the binary types
// Binary; everything else (the character types, GUID, time, intervals)
// String.
Data::DataType DataTypeOf(SQLSMALLINT sqlType, std::string_view typeName, Dbms dbms) noexcept;

// As DataTypeOf for the columns of a result read back: every integer type is
// Int64.
Data::DataType ResultDataTypeOf(SQLSMALLINT sqlType) noexcept;

// Reads column `column` (1-based) of the current row as a value of `type`
// (a ResultDataTypeOf): integers as int64, floating point as double, dates as
// DateTime (a time-zone suffix dropped; text that is no date stays text),
// decimals as their text with '.' as the decimal point, whatever the C
// library's locale made the driver write, bytes as bytes, the rest as text.
// A null is DBNull. Gives the driver's
// code; on failure `out` is unchanged.
SQLRETURN ReadCell(SQLHSTMT stmt, SQLUSMALLINT column, Data::DataType type, Data::Value& out);

}  // namespace Tessel::Odbc
