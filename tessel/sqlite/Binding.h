// Turning the table model's values into SQLite statement parameters, and
// SQLite's result values back into the model's values. Dates go to SQLite
// as ISO 8601 text (tessel/dialect/sqlite/ValueRules.h).
#pragma once

#include <sqlite3.h>

#include <cstddef>

#include "TesselWrapper/data/DateTime.h"
#include "TesselWrapper/data/DbType.h"
#include "TesselWrapper/data/Value.h"
#include "tessel/dialect/sqlite/ValueRules.h"

namespace Tessel::Sqlite {

// Binds one routine argument: DBNull as NULL, booleans as 0/1, integers as
// 64-bit integers, doubles as doubles, text as text, dates as ISO text, bytes
// as a blob. A double whose DbType is Date, DateTime or DateTime2 is an OLE
// Automation date and is bound as the ISO text of DateTime::FromOADate (which
// throws ArgumentError for a number that is no such date). Text and bytes are
// bound without a copy: `value` must outlive the statement's next step.
// Returns SQLite's result code.
int BindArgument(sqlite3_stmt* stmt, int index, const Data::Value& value, Data::DbType type);

// The current row's column `column` as a Value: NULL as DBNull, integers as
// int64, floating point as double, text as text, blobs as bytes.
Data::Value ColumnValue(sqlite3_stmt* stmt, int column);

}  // namespace Tessel::Sqlite
