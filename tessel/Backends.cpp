#include "tessel/Backends.h"

#include <array>

namespace Tessel {

std::span<const BuiltinBackend> BuiltinBackends() {
  static constexpr std::array kBackends = {
    BuiltinBackend{"sqlite", "\"\", sqlite:PATH, sqlite::memory:", &Sqlite::IsSqliteConnectionString,
                   &Sqlite::CreateSqliteConnect},
#if defined(TESSEL_WITH_ODBC)
    BuiltinBackend{"odbc", "odbc:DSN=..., odbc:Driver={...};...", &Odbc::IsOdbcConnectionString,
                   &Odbc::CreateOdbcConnect},
#endif
#if defined(TESSEL_WITH_POSTGRES)
    BuiltinBackend{"postgres", "postgresql://..., postgres://..., libpq key=value pairs",
                   &Postgres::IsPostgresConnectionString, &Postgres::CreatePostgresConnect},
#endif
  };
  return kBackends;
}

}  // namespace Tessel
