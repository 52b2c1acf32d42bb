// What a PostgreSQL SQLSTATE means for the caller's rows: the one place where
// the server's codes are sorted. It needs no libpq, so that the ODBC driver
// sorts a PostgreSQL server's codes by the same rules, also in a build
// without the libpq driver.
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
//   Other           what lasts until someone changes the server or the
//                   connection string: authorization (class 28), a missing
//                   database (3D000), no permission (42501), a database that
//                   takes no connections (55000), also when the connection
//                   was never made
//   Connection      class 08, or `connectionLost` (a connection that broke
//                   or could not be made, without such a code) where none of
//                   the above applies
//   Refused         integrity (class 23), data (class 22), a routine's own
//                   RAISE EXCEPTION (P0001)
//   Other           everything else
#pragma once

#include <string_view>

#include "TesselWrapper/Errors.h"

namespace Tessel::Postgres {

ErrorCategory CategoryOfSqlState(std::string_view state, bool connectionLost) noexcept;

// Whether libpq's text of a connection that could not be made names a cause
// that stays until someone acts: a wrong password or user, a database or
// role that does not exist, no permission, a host name nobody knows, an
// option libpq refuses ("invalid sslmode value"), SSL the server lacks. The
// rest (refused, timed out, a server starting or shutting down, too many
// connections) may pass.
//
// Read from the text because libpq has no SQLSTATE for a failed connection:
// it puts the server's refusal into its message only, and only with the
// verbose error form, which a blocking connect cannot ask for. The ODBC
// driver relays the same text. The words are the English ones of libpq and
// the server; under other message languages a refusal is taken as one that
// may pass, as it was before these rules.
bool IsLastingConnectFailure(std::string_view text) noexcept;

}  // namespace Tessel::Postgres
