// What SQLite keeps of the table model's values, whichever driver reaches
// it (the sqlite3 library, or an ODBC driver over it): these rules use no
// SQLite API.
//
// NaN: SQLite has no NaN; one bound as a double is stored as NULL and reads
// back as a missing value, so a write refuses it.
//
// Length: a text or blob longer than the connection's length limit
// (SQLITE_LIMIT_LENGTH, 1,000,000,000 bytes unless lowered) is refused
// before the write; SQLite's own refusal comes from the bind and names no
// row.
//
// Dates go to SQLite as ISO 8601 text, "YYYY-MM-DD HH:MM:SS", with the
// fraction of the second after a '.' when it is not zero: three digits for
// whole milliseconds, up to seven when finer ticks are set (SQLite's date
// functions read any number of fraction digits). Text sorts and compares in
// date order and the date functions understand it. In a column declared as
// a date without a time (DeclaresDay in tessel/dialect/sqlite/TypeMap.h) a value at
// midnight is stored as the day alone, "YYYY-MM-DD", as SQLite's own tools
// and its date() function write a day, so that `WHERE day = '2024-12-31'`
// finds it; a value with a time of day keeps its time there too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "TesselWrapper/data/DateTime.h"
#include "tessel/StorableValues.h"

namespace Tessel::Sqlite {

// SQLite's default length limit of a text or blob, in bytes.
inline constexpr std::uint64_t kDefaultMaxLength = 1'000'000'000;

// SQLite's limits on a connection whose length limit is `maxLength`.
ValueLimits Limits(std::uint64_t maxLength = kDefaultMaxLength) noexcept;

// Enough room for the longest ISO text FormatIsoDateTime writes.
inline constexpr std::size_t kIsoDateTimeCapacity = 28;

// Writes the date's ISO text into `out` (not NUL-terminated); returns its
// length. Allocates nothing: made for the per-cell path of the writers.
std::size_t FormatIsoDateTime(Data::DateTime value, char (&out)[kIsoDateTimeCapacity]) noexcept;

// The text a value is stored as in a column that holds days (`dayColumn`)
// or any other date column: FormatIsoDateTime, cut to "YYYY-MM-DD" for a
// midnight in a day column.
std::size_t FormatStoredDate(Data::DateTime value, bool dayColumn,
                             char (&out)[kIsoDateTimeCapacity]) noexcept;

}  // namespace Tessel::Sqlite
