// SQLite declared types as the table model sees them.
//
// SQLite keeps any declared type; the first rule that matches the declared
// type (ASCII letters compared without regard to case) wins:
//   ""                                   String (no type: anything goes)
//   contains "BOOL"                      Boolean
//   contains "DATE" or "TIME"            DateTime (DATE, DATETIME, TIMESTAMP, TIME)
//   contains "INT"                       Int64 (SQLite integers are 64-bit)
//   contains "DEC", "NUMERIC" or "MONEY" Decimal
//   contains "CHAR", "CLOB" or "TEXT"    String
//   contains "REAL", "FLOA" or "DOUB"    Double
//   contains "BLOB" or "BINARY"          Binary
//   anything else                        String
#pragma once

#include <string_view>

#include "TesselWrapper/data/DataColumn.h"

namespace Tessel::Sqlite {

Data::DataType MapDeclaredType(std::string_view declaredType);

// Whether a column of `declaredType` holds days: a type read as DateTime
// that names a date and no time (DATE; not DATETIME, TIMESTAMP or TIME).
bool DeclaresDay(std::string_view declaredType);

}  // namespace Tessel::Sqlite
