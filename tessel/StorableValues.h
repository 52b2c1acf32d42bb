// What a database can keep of the table model's values beyond its column
// types, and the check every writer makes of a batch's cells before any of
// them is sent.
//
// Some values a database takes without complaint yet keeps as something
// else (SQLite stores a NaN as NULL), and some it fails on with a message
// that names neither row nor column, or none that is true (a text longer
// than a field may hold). A writer refuses such a cell before the write,
// naming the row by its position, the column and the value, so that nothing
// of the table is written and the caller learns which row to mend. Each
// database gives its own limits (tessel/dialect/<database>/ValueRules.h); a
// driver that reaches a database applies that database's limits.
#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string_view>

#include "TesselWrapper/data/DataTable.h"
#include "tessel/FailureText.h"

namespace Tessel {

struct ValueLimits {
  std::string_view database;  // the database's name, for the message ("SQLite")
  // What a stored NaN reads back as ("NULL"); empty when it reads back as a
  // NaN. A NaN the database would change is refused.
  std::string_view nanReadsBackAs;
  // The longest text or bytes value the database keeps, in bytes (a text's
  // UTF-8 bytes, as the model holds it).
  std::uint64_t maxValueBytes = std::numeric_limits<std::uint64_t>::max();
};

// The first cell, in the order of `records` and of the columns, that the
// database of `limits` cannot keep, as a Refused failure naming the row
// (`first + k` for the k-th record, 0-based), the column and the value; its
// `row` is that position. Nullopt when every cell can be kept. Reads the
// cells through the table's column stores: a writer that takes a table
// still being filled calls it while the records' cells stay put.
std::optional<WriteFailure> RefuseUnstorable(const Data::DataTable& table,
                                             std::span<const Data::RecordId> records, std::uint64_t first,
                                             const ValueLimits& limits);

}  // namespace Tessel
