// The rows of the built-in bulk-write probe (DbConnect::BulkExample), the
// same for every backend: each backend makes its own temporary table and
// times its own write of them.
#pragma once

#include <cstdint>

#include "TesselWrapper/data/DataTable.h"

namespace Tessel {

// Adds `iterations` rows to `table`, each cell a value of its column's type
// made from the row's number: the first column counts 0, 1, 2 ..., numbers
// grow with the row, texts read "row N", dates step a second from
// 2000-01-01. Binary columns stay null.
void AddBulkExampleRows(Data::DataTable& table, std::int32_t iterations);

}  // namespace Tessel
