// What PostgreSQL keeps of the table model's values, whichever driver
// reaches it (libpq, or an ODBC driver over it): these rules use no libpq.
//
// Length: one field holds at most 1 GB (1,073,741,823 bytes); a longer text
// or bytea is refused before the write, where the server would fail on it
// with a message about the bytes it was reading rather than the value's
// length. A NaN is kept: double precision and numeric hold one.
#pragma once

#include <cstdint>

#include "tessel/StorableValues.h"

namespace Tessel::Postgres {

// The longest value one field holds, in bytes.
inline constexpr std::uint64_t kMaxFieldBytes = 1'073'741'823;

inline constexpr ValueLimits kLimits{"PostgreSQL", "", kMaxFieldBytes};

}  // namespace Tessel::Postgres
