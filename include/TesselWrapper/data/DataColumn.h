// The shape of one column of a DataTable.
//
// A column has a name, a storage type, and the rules that the table checks
// when a row is added: AllowDBNull (checked on Rows.Add, in column order) and
// membership in unique constraints (DataTable::AddUniqueConstraint). Values
// written into a row are converted to the column's type at once; a value the
// type cannot take is refused at the moment it is written.
//
// Generated marks a column whose value the database supplies when a row
// leaves it DBNull (an identity or serial column, SQLite's rowid alias, a
// column with a non-literal default such as CURRENT_TIMESTAMP): such a column
// takes DBNull even when AllowDBNull is false, and writers leave it out of the
// insert for that row so that the database fills it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "TesselWrapper/Export.h"
#include "TesselWrapper/data/Value.h"

namespace Tessel::Data {

enum class DataType : std::uint8_t {
  Boolean,  // stored as 0 / 1
  Int16,    // 64-bit storage, range-checked to 16 bits
  Int32,    // 64-bit storage, range-checked to 32 bits
  Int64,
  Double,
  Decimal,  // exact: stored as canonical decimal text ("-12.50" -> "-12.50")
  String,
  DateTime,
  Binary,
};

// "Boolean", "Int16", ... for messages.
TESSELWRAPPER_API std::string_view DataTypeName(DataType type) noexcept;

struct TESSELWRAPPER_API DataColumn {
  std::string ColumnName;
  DataType Type = DataType::String;
  bool AllowDBNull = true;
  Value DefaultValue;  // what NewRow puts in the column; DBNull unless set
  bool Generated = false;
  // Unique rules compare this column's text without regard to the case of
  // ASCII letters, as the database's collation for it does (SQLite's NOCASE,
  // PostgreSQL's citext or a case-insensitive collation); otherwise text is
  // compared byte by byte. Only ASCII letters fold: a pair such as "É"/"é"
  // stays distinct here, so the model never drops a row the database would
  // take, and a database that folds more refuses such a pair itself.
  bool IgnoreCase = false;
  std::string DatabaseType;  // the type as the database declares it, e.g. "VARCHAR(20)"
};

}  // namespace Tessel::Data
