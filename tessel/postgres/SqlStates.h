// What a PostgreSQL SQLSTATE means for the caller's rows: the one place where
// the server's codes are sorted. It needs no libpq, so that the ODBC backend
// sorts a PostgreSQL server's codes by the same rules, also in a build
// without the native PostgreSQL backend.
//
//   OutcomeUnknown  40003 (statement completion unknown)
//   SchemaChange    an undefined table (42P01) or column (42703), a type
//                   mismatch (42804, and a binary value the column no longer
//                   reads, 22P03), a missing schema (3F000), an object that
//                   is no longer a table (42809)
//   Rerun           deadlock (40P01), serialization failure (40001), lock not
//                   available (55P03), query cancelled by the lock or
//                   statement time-out (57014), the server shutting down or
//                   starting (57P01-57P03), a read-only transaction (25006),
//                   insufficient resources (class 53)
//   Connection      class 08, or `connectionLost` (a connection that broke
//                   without such a code) where none of the above applies
//   Refused         integrity (class 23), data (class 22), a routine's own
//                   RAISE EXCEPTION (P0001)
//   Other           everything else
#pragma once

#include <string_view>

#include "TesselWrapper/Errors.h"

namespace Tessel::Postgres {

ErrorCategory CategoryOfSqlState(std::string_view state, bool connectionLost) noexcept;

}  // namespace Tessel::Postgres
