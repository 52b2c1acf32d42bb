#include "tessel/postgres/Session.h"

#include <algorithm>

#include "TesselWrapper/Errors.h"
#include "TesselWrapper/component/DbConnectFactory.h"
#include "data/NumberText.h"
#include "tessel/NameLookup.h"
#include "tessel/dialect/postgres/CatalogueQueries.h"

namespace Tessel::Postgres {
namespace {

// libpq keyword strings start with a keyword (ASCII letters and '_') and
// '='. ASCII only: under a single-byte locale isalpha would also take bytes
// of non-ASCII text, and the same string would change its kind.
bool LooksLikeKeywordValue(std::string_view s) {
  const std::size_t equals = s.find('=');
  if (equals == std::string_view::npos) return false;
  const std::string_view keyword = Data::TrimSpace(s.substr(0, equals));
  return !keyword.empty() && std::all_of(keyword.begin(), keyword.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
  });
}

}  // namespace

bool IsPostgresConnectionString(const std::string& connect) noexcept {
  return connect.rfind("postgresql://", 0) == 0 || connect.rfind("postgres://", 0) == 0 ||
         LooksLikeKeywordValue(connect);
}

void Session::SetConnectionString(std::string connect) {
  Close();
  connect_ = std::move(connect);
}

PGconn* Session::Connection() {
  if (conn_) return conn_.get();
  // libpq would take any other text as a database name on the default server
  // (and "" as that server's default database): a connection string of
  // another backend set on this component must not reach some other database.
  if (!IsPostgresConnectionString(connect_))
    throw ArgumentError(Quoted(DbConnectFactory::MaskPasswords(connect_)) +
                        " is not a PostgreSQL connection string (postgresql://..., "
                        "postgres://... or key=value pairs)");
  // libpq reads the arrays in order, so a setting placed before the expanded
  // connection string is only a default (the string's own connect_timeout
  // wins), while one placed after it always holds.
  const char* const keywords[] = {"connect_timeout", "fallback_application_name", "dbname", "client_encoding",
                                  nullptr};
  const char* const values[] = {"10", "tessel", connect_.c_str(), "UTF8", nullptr};
  ConnHandle conn(PQconnectdbParams(keywords, values, /*expand_dbname=*/1));
  if (!conn) ThrowDatabaseError(ClientFailure("out of memory"), "connecting to the PostgreSQL server");
  if (PQstatus(conn.get()) != CONNECTION_OK)
    ThrowDatabaseError(FailureOf(conn.get(), nullptr), "connecting to the PostgreSQL server");
  // Server notices ("... does not exist, skipping", shutdown warnings) are
  // not the host program's output: libpq would print them to its stderr.
  PQsetNoticeProcessor(
      conn.get(), [](void*, const char*) {}, nullptr);
  // The search path goes as a parameter, so that no name can be read as
  // anything else.
  const std::string searchPath = SearchPathFor(schema_);
  const char* const setup[] = {searchPath.c_str()};
  ResultHandle set(PQexecParams(conn.get(),
                                "SELECT pg_catalog.set_config('search_path', $1, false), "
                                "pg_catalog.set_config('DateStyle', 'ISO, YMD', false), "
                                "pg_catalog.set_config('lock_timeout', CASE pg_catalog.current_setting("
                                "'lock_timeout') WHEN '0' THEN '5s' ELSE pg_catalog.current_setting("
                                "'lock_timeout') END, false)",
                                1, nullptr, setup, nullptr, nullptr, 0));
  if (!set || PQresultStatus(set.get()) != PGRES_TUPLES_OK)
    ThrowDatabaseError(FailureOf(conn.get(), set.get()), "setting up the PostgreSQL session");
  conn_ = std::move(conn);
  return conn_.get();
}

void Session::DropIfBroken() noexcept {
  if (conn_ && PQstatus(conn_.get()) != CONNECTION_OK) conn_.reset();
}

ResultHandle Session::Checked(ResultHandle result, std::string_view context) {
  const ExecStatusType status = result ? PQresultStatus(result.get()) : PGRES_FATAL_ERROR;
  if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) return result;
  ThrowDatabaseError(FailureOf(conn_.get(), result.get()), context);
}

ResultHandle Session::Exec(const char* sql, std::string_view context) {
  PGconn* conn = Connection();
  return Checked(ResultHandle(PQexec(conn, sql)), context);
}

ResultHandle Session::ExecParams(const std::string& sql, const std::vector<const char*>& params,
                                 std::string_view context) {
  PGconn* conn = Connection();
  return Checked(ResultHandle(PQexecParams(conn, sql.c_str(), static_cast<int>(params.size()), nullptr,
                                           params.data(), nullptr, nullptr, 0)),
                 context);
}

}  // namespace Tessel::Postgres
