#include "tessel/odbc/Session.h"

#include <algorithm>

#include "TesselWrapper/Errors.h"
#include "TesselWrapper/component/DbConnectFactory.h"
#include "TesselWrapper/data/Text.h"
#include "data/Quoted.h"
#include "tessel/dialect/postgres/CatalogueQueries.h"

namespace Tessel::Odbc {
namespace {

constexpr SQLULEN kLoginTimeoutSeconds = 10;

std::string InfoText(SQLHDBC conn, SQLUSMALLINT info) {
  SQLWCHAR buffer[256] = {};
  SQLSMALLINT bytes = 0;
  if (!SQL_SUCCEEDED(SQLGetInfoW(conn, info, buffer, sizeof buffer, &bytes))) return {};
  const std::size_t units =
      std::min<std::size_t>(static_cast<std::size_t>(std::max<SQLSMALLINT>(bytes, 0)) / sizeof(SQLWCHAR),
                            sizeof buffer / sizeof buffer[0] - 1);
  return FromWide(buffer, units);
}

SQLUINTEGER InfoNumber(SQLHDBC conn, SQLUSMALLINT info) {
  SQLUINTEGER value = 0;
  if (!SQL_SUCCEEDED(SQLGetInfoW(conn, info, &value, sizeof value, nullptr))) return 0;
  return value;
}

}  // namespace

bool IsOdbcConnectionString(const std::string& connect) noexcept { return connect.rfind(kScheme, 0) == 0; }

void Session::SetConnectionString(std::string connect) {
  Close();
  connect_ = std::move(connect);
}

void Session::Close() noexcept {
  conn_.reset();
  env_.reset();
}

void Session::DropIfBroken(bool lost) noexcept {
  if (conn_ && (lost || IsDead(conn_.get()))) Close();
}

SQLHDBC Session::Connection() {
  if (conn_) return conn_.get();
  if (!IsOdbcConnectionString(connect_))
    throw ArgumentError(Quoted(DbConnectFactory::MaskPasswords(connect_)) +
                        " is not an ODBC connection string (odbc:DSN=... or odbc:Driver={...};...)");
  const std::string context = "connecting to ODBC data source " +
                              Quoted(DbConnectFactory::MaskPasswords(connect_).substr(kScheme.size()));

  SQLHENV env = nullptr;
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env)))
    ThrowDatabaseError(ClientFailure("the ODBC driver manager could not make an environment"), context);
  EnvHandle envHandle(env);
  SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(SQL_OV_ODBC3)),
                0);
  SQLHDBC raw = nullptr;
  SQLRETURN rc = SQLAllocHandle(SQL_HANDLE_DBC, env, &raw);
  if (!SQL_SUCCEEDED(rc)) ThrowDatabaseError(Odbc::FailureOf(SQL_HANDLE_ENV, env, rc, Dbms::Other), context);
  ConnHandle conn(raw);
  SQLSetConnectAttrW(raw, SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(kLoginTimeoutSeconds), 0);
  const Wide text = ToWide(std::string_view(connect_).substr(kScheme.size()));
  rc = SQLDriverConnectW(raw, nullptr, Arg(text), SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
  if (!SQL_SUCCEEDED(rc)) {
    Odbc::Failure failure = Odbc::FailureOf(SQL_HANDLE_DBC, raw, rc, Dbms::Other);
    failure.connecting = true;  // sorted by whether a later attempt may succeed
    ThrowDatabaseError(failure, context);
  }
  env_ = std::move(envHandle);
  conn_ = std::move(conn);
  try {
    ReadTraits();
    SetUpSession();
  } catch (...) {
    Close();
    throw;
  }
  return conn_.get();
}

void Session::ReadTraits() {
  SQLHDBC conn = conn_.get();
  traits_ = DriverTraits();
  traits_.dbmsName = InfoText(conn, SQL_DBMS_NAME);
  traits_.dbmsVersion = InfoText(conn, SQL_DBMS_VER);
  traits_.driverName = InfoText(conn, SQL_DRIVER_NAME);
  traits_.dbms = DbmsOf(traits_.dbmsName);
  traits_.quote = InfoText(conn, SQL_IDENTIFIER_QUOTE_CHAR);
  if (traits_.quote == " ") traits_.quote.clear();  // the driver's word for "no quoting"
  traits_.escape = InfoText(conn, SQL_SEARCH_PATTERN_ESCAPE);
  traits_.schemas = (InfoNumber(conn, SQL_SCHEMA_USAGE) & SQL_SU_DML_STATEMENTS) != 0;
  traits_.procedures = InfoText(conn, SQL_PROCEDURES) == "Y";
}

void Session::SetUpSession() {
  schema_ = tableSet_;
  if (traits_.dbms == Dbms::PostgreSQL) {
    if (schema_.empty()) {
      StmtHandle stmt = Statement();
      const Wide sql = ToWide("SELECT pg_catalog.current_schema()");
      Check(stmt, SQLExecDirectW(stmt.get(), Arg(sql), SQL_NTS), "reading the current schema");
      SQLWCHAR name[256] = {};
      SQLLEN length = 0;
      if (SQL_SUCCEEDED(SQLFetch(stmt.get())) &&
          SQL_SUCCEEDED(SQLGetData(stmt.get(), 1, SQL_C_WCHAR, name, sizeof name, &length)) && length > 0)
        schema_ =
            FromWide(name, std::min<std::size_t>(static_cast<std::size_t>(length) / sizeof(SQLWCHAR), 255));
    }
    // As the native backend: as a parameter, so that no name can be read as
    // anything else.
    const std::string searchPath = Postgres::SearchPathFor(schema_);
    StmtHandle stmt = Statement();
    Wide value = ToWide(searchPath);
    SQLLEN length = static_cast<SQLLEN>(value.size() * sizeof(SQLWCHAR));
    SQLBindParameter(stmt.get(), 1, SQL_PARAM_INPUT, SQL_C_WCHAR, SQL_WVARCHAR,
                     static_cast<SQLULEN>(std::max<std::size_t>(value.size(), 1)), 0, Arg(value), length,
                     &length);
    const Wide sql = ToWide(
        "SELECT pg_catalog.set_config('search_path', ?, false), "
        "pg_catalog.set_config('lock_timeout', CASE pg_catalog.current_setting('lock_timeout') "
        "WHEN '0' THEN '5s' ELSE pg_catalog.current_setting('lock_timeout') END, false)");
    Check(stmt, SQLExecDirectW(stmt.get(), Arg(sql), SQL_NTS), "setting up the PostgreSQL session");
  } else if (!traits_.schemas && !schema_.empty()) {
    throw ArgumentError("table set " + Quoted(schema_) + " cannot be used: the ODBC driver " +
                        Quoted(traits_.driverName) + " (" + traits_.dbmsName +
                        ") has no schemas; leave the table set empty");
  }
  schemaWide_ = ToWide(schema_);
  schemaPattern_ = Pattern(schema_);
}

std::string Session::QuoteName(std::string_view name) const {
  if (traits_.quote.empty()) return std::string(name);
  const std::string& q = traits_.quote;
  std::string out = q;
  for (std::size_t at = 0; at < name.size();) {
    if (name.compare(at, q.size(), q) == 0) {
      out += q + q;
      at += q.size();
    } else {
      out.push_back(name[at++]);
    }
  }
  return out + q;
}

std::string Session::WhereText() const {
  return schema_.empty() ? std::string("the ODBC data source") : "schema " + Quoted(schema_);
}

std::string Session::Qualified(std::string_view table) const {
  if (schema_.empty() || !traits_.schemas) return QuoteName(table);
  return QuoteName(schema_) + "." + QuoteName(table);
}

Wide Session::Pattern(std::string_view name) const {
  if (traits_.escape.empty()) return ToWide(name);
  std::string out;
  for (char c : name) {
    if (c == '_' || c == '%' || traits_.escape.find(c) != std::string::npos) out += traits_.escape;
    out.push_back(c);
  }
  return ToWide(out);
}

StmtHandle Session::Statement() {
  SQLHDBC conn = Connection();
  SQLHSTMT stmt = nullptr;
  const SQLRETURN rc = SQLAllocHandle(SQL_HANDLE_STMT, conn, &stmt);
  Check(SQL_HANDLE_DBC, conn, rc, "making a statement");
  return StmtHandle(stmt);
}

Odbc::Failure Session::Failure(SQLSMALLINT handleType, SQLHANDLE handle, SQLRETURN rc) const {
  return Odbc::FailureOf(handleType, handle, rc, traits_.dbms, conn_.get());
}

void Session::Check(SQLSMALLINT handleType, SQLHANDLE handle, SQLRETURN rc, std::string_view context) const {
  if (SQL_SUCCEEDED(rc) || rc == SQL_NO_DATA) return;
  ThrowDatabaseError(Failure(handleType, handle, rc), context);
}

void Session::Exec(const std::string& sql, std::string_view context) {
  StmtHandle stmt = Statement();
  const Wide text = ToWide(sql);
  Check(stmt, SQLExecDirectW(stmt.get(), Arg(text), SQL_NTS), context);
}

}  // namespace Tessel::Odbc
