#include "BackendContext.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>

#ifdef TESSEL_E2E_ODBC
#include "odbc/OdbcTestSupport.h"
#endif

namespace Tessel::EndToEnd {

std::string WithTypes(std::string sql, const std::vector<std::pair<std::string, std::string>>& types) {
  for (const auto& [placeholder, type] : types) {
    for (std::size_t at = sql.find(placeholder); at != std::string::npos;
         at = sql.find(placeholder, at + type.size())) {
      sql.replace(at, placeholder.size(), type);
    }
  }
  return sql;
}

std::string NameOf(Backend backend) {
  switch (backend) {
    case Backend::Sqlite:
      return "Sqlite";
    case Backend::Postgres:
      return "Postgres";
    case Backend::OdbcSqlite:
      return "OdbcSqlite";
    case Backend::OdbcPostgres:
      return "OdbcPostgres";
  }
  return "?";
}

void PrintTo(Backend backend, std::ostream* out) { *out << NameOf(backend); }

std::vector<Backend> BuiltBackends() {
  std::vector<Backend> backends{Backend::Sqlite};
#ifdef TESSEL_E2E_POSTGRES
  backends.push_back(Backend::Postgres);
#endif
#ifdef TESSEL_E2E_ODBC
  backends.push_back(Backend::OdbcSqlite);
  backends.push_back(Backend::OdbcPostgres);
#endif
  return backends;
}

namespace {

// TESSEL_PG_URI, or nullopt when it is unset or empty.
std::optional<std::string> ServerUri() {
  const char* uri = std::getenv("TESSEL_PG_URI");
  if (uri == nullptr || *uri == '\0') return std::nullopt;
  return std::string(uri);
}

bool UnderCi() {
  const char* ci = std::getenv("CI");
  return ci != nullptr && std::string(ci) == "true";
}

}  // namespace

void MakeContext(Backend backend, std::unique_ptr<BackendContext>& context) {
  if (backend == Backend::Sqlite) {
    context = MakeSqliteContext();
    return;
  }
  std::optional<std::string> uri;
  if (backend == Backend::Postgres || backend == Backend::OdbcPostgres) {
    uri = ServerUri();
    if (!uri) {
      if (UnderCi()) FAIL() << "TESSEL_PG_URI is not set under CI";
      GTEST_SKIP() << "TESSEL_PG_URI is not set (start a server with .ci/postgres-server.sh start)";
    }
  }
  if (backend == Backend::Postgres) {
#ifdef TESSEL_E2E_POSTGRES
    context = MakePostgresContext(*uri);
#else
    FAIL() << "this build has no PostgreSQL backend";
#endif
    return;
  }
#ifdef TESSEL_E2E_ODBC
  // A driver that cannot be loaded here skips the test, or fails it where
  // the run requires ODBC (Testing::OdbcRequired).
  const std::string odbc = backend == Backend::OdbcSqlite ? Testing::OdbcSqliteString(":memory:", 0)
                                                          : Testing::OdbcPostgresString(*uri);
  if (const auto why = Testing::OdbcUnavailable(odbc)) {
    if (Testing::OdbcRequired()) FAIL() << "the ODBC driver cannot be used: " << *why;
    GTEST_SKIP() << "the ODBC driver cannot be used: " << *why;
  }
  context = backend == Backend::OdbcSqlite ? MakeOdbcSqliteContext() : MakeOdbcPostgresContext(odbc);
#else
  FAIL() << "this build has no ODBC backend";
#endif
}

}  // namespace Tessel::EndToEnd
