#include "odbc/OdbcTestSupport.h"

#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <random>

#include "tessel/odbc/Handles.h"
#include "tessel/odbc/Routines.h"

namespace Tessel::Testing {
namespace {

using Odbc::Arg;
using Odbc::FromWide;
using Odbc::ToWide;

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

void SetEnvIfUnset(const char* name, const std::string& value) {
  if (!Env(name).empty()) return;
#if defined(_WIN32)
  _putenv_s(name, value.c_str());
#else
  setenv(name, value.c_str(), 0);
#endif
}

// "%XX" escapes of a URI part decoded.
std::string Decoded(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      int value = 0;
      const auto [end, ec] = std::from_chars(text.data() + i + 1, text.data() + i + 3, value, 16);
      if (ec == std::errc() && end == text.data() + i + 3) {
        out.push_back(static_cast<char>(value));
        i += 2;
        continue;
      }
    }
    out.push_back(text[i]);
  }
  return out;
}

// A value for an ODBC connection string: in braces when it holds a
// character that would end or open one.
std::string OdbcValue(const std::string& value) {
  if (value.find_first_of(";{}= ") == std::string::npos) return value;
  std::string out = "{";
  for (char c : value) {
    out.push_back(c);
    if (c == '}') out.push_back('}');
  }
  return out + "}";
}

std::string NumberText(double value) {
  char buffer[64];
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
  return ec == std::errc() ? std::string(buffer, end) : "?";
}

}  // namespace

void UseProjectOdbcFiles() {
#if defined(TESSEL_ODBC_INI_DIR)
  SetEnvIfUnset("ODBCSYSINI", TESSEL_ODBC_INI_DIR);
  SetEnvIfUnset("ODBCINI", std::string(TESSEL_ODBC_INI_DIR) + "/odbc.ini");
#endif
}

bool OdbcRequired() {
  const std::string required = Env("TESSEL_REQUIRE_ODBC");
  if (!required.empty()) return required == "1";
  return Env("CI") == "true";
}

std::string OdbcPostgresString(const std::string& uri) {
  if (const std::string whole = Env("TESSEL_ODBC_PG"); !whole.empty()) return whole;
  std::string_view rest = uri;
  for (std::string_view scheme : {"postgresql://", "postgres://"}) {
    if (rest.substr(0, scheme.size()) == scheme) {
      rest.remove_prefix(scheme.size());
      break;
    }
  }
  if (rest.size() == uri.size()) return {};
  rest = rest.substr(0, rest.find('?'));
  const std::size_t slash = rest.find('/');
  const std::string database = slash == std::string_view::npos ? "" : Decoded(rest.substr(slash + 1));
  std::string_view authority = rest.substr(0, slash);
  std::string user, password;
  if (const std::size_t at = authority.rfind('@'); at != std::string_view::npos) {
    const std::string_view credentials = authority.substr(0, at);
    const std::size_t colon = credentials.find(':');
    user = Decoded(credentials.substr(0, colon));
    if (colon != std::string_view::npos) password = Decoded(credentials.substr(colon + 1));
    authority.remove_prefix(at + 1);
  }
  std::string host(authority), port = "5432";
  if (const std::size_t colon = authority.rfind(':');
      colon != std::string_view::npos && authority.back() != ']') {
    host = std::string(authority.substr(0, colon));
    port = std::string(authority.substr(colon + 1));
  }
  if (host.empty()) host = "localhost";
  std::string text = "Driver={PostgreSQL Unicode};Server=" + OdbcValue(host) + ";Port=" + port;
  if (!database.empty()) text += ";Database=" + OdbcValue(database);
  if (!user.empty()) text += ";Uid=" + OdbcValue(user);
  if (!password.empty()) text += ";Pwd=" + OdbcValue(password);
  return text;
}

std::string OdbcSqliteString(const std::string& path, int timeoutMs) {
  return "Driver={SQLite3};Database=" + OdbcValue(path) + ";Timeout=" + std::to_string(timeoutMs);
}

std::string DriverPath(const std::string& path) {
#if defined(_WIN32)
  using UnixName = char*(__cdecl*)(const wchar_t*);
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  const auto toUnix = kernel ? reinterpret_cast<UnixName>(
                                   reinterpret_cast<void*>(GetProcAddress(kernel, "wine_get_unix_file_name")))
                             : nullptr;
  if (toUnix == nullptr) return path;  // Windows itself: its drivers take its paths
  const std::wstring wide = std::filesystem::path(path).wstring();
  char* unixPath = toUnix(wide.c_str());
  if (unixPath == nullptr) return path;
  std::string out = unixPath;
  HeapFree(GetProcessHeap(), 0, unixPath);
  return out;
#else
  return path;
#endif
}

std::string MakeTemporaryDirectory(const char* prefix) {
  std::random_device random;
  const std::filesystem::path base = std::filesystem::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::filesystem::path dir = base / (std::string(prefix) + "-" + std::to_string(random()));
    std::error_code error;
    if (std::filesystem::create_directory(dir, error)) return dir.string();
  }
  ADD_FAILURE() << "cannot make a temporary directory in " << base.string();
  return base.string();
}

// The driver's diagnostics on `handle`, as one line.
std::string DiagnosticText(SQLSMALLINT handleType, SQLHANDLE handle) {
  std::string text;
  for (SQLSMALLINT record = 1;; ++record) {
    SQLWCHAR state[6] = {};
    SQLINTEGER native = 0;
    SQLWCHAR message[1024];
    SQLSMALLINT length = 0;
    if (!SQL_SUCCEEDED(SQLGetDiagRecW(handleType, handle, record, state, &native, message, 1024, &length)))
      break;
    if (!text.empty()) text += " / ";
    text += "[" + FromWide(state, 5) + "] " +
            FromWide(message, static_cast<std::size_t>(std::min<SQLSMALLINT>(length, 1023)));
  }
  for (char& c : text)
    if (c == '\n' || c == '\r') c = ' ';
  return text.empty() ? "no diagnostics" : text;
}

std::optional<std::string> OdbcUnavailable(const std::string& odbcString) {
  UseProjectOdbcFiles();
  SQLHENV env = nullptr;
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env))) return "no ODBC environment";
  SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(SQL_OV_ODBC3)),
                0);
  SQLHDBC conn = nullptr;
  SQLAllocHandle(SQL_HANDLE_DBC, env, &conn);
  const Odbc::Wide text = ToWide(odbcString);
  std::optional<std::string> why;
  if (SQL_SUCCEEDED(
          SQLDriverConnectW(conn, nullptr, Arg(text), SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT))) {
    SQLDisconnect(conn);
  } else {
    why = DiagnosticText(SQL_HANDLE_DBC, conn);
  }
  SQLFreeHandle(SQL_HANDLE_DBC, conn);
  SQLFreeHandle(SQL_HANDLE_ENV, env);
  return why;
}

RawOdbc::RawOdbc(const std::string& odbcString) {
  UseProjectOdbcFiles();
  SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_);
  SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(SQL_OV_ODBC3)),
                0);
  SQLAllocHandle(SQL_HANDLE_DBC, env_, &conn_);
  const Odbc::Wide text = ToWide(odbcString);
  if (!SQL_SUCCEEDED(
          SQLDriverConnectW(conn_, nullptr, Arg(text), SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT))) {
    ADD_FAILURE() << "cannot connect to " << odbcString << ": " << DiagnosticText(SQL_HANDLE_DBC, conn_);
    SQLFreeHandle(SQL_HANDLE_DBC, conn_);
    conn_ = nullptr;
  }
}

RawOdbc::~RawOdbc() {
  if (conn_ != nullptr) {
    SQLEndTran(SQL_HANDLE_DBC, conn_, SQL_ROLLBACK);
    SQLDisconnect(conn_);
    SQLFreeHandle(SQL_HANDLE_DBC, conn_);
  }
  if (env_ != nullptr) SQLFreeHandle(SQL_HANDLE_ENV, env_);
}

std::string RawOdbc::TryExec(const std::string& sql) {
  if (conn_ == nullptr) return "not connected";
  SQLHSTMT stmt = nullptr;
  SQLAllocHandle(SQL_HANDLE_STMT, conn_, &stmt);
  const Odbc::Wide text = ToWide(sql);
  const SQLRETURN rc = SQLExecDirectW(stmt, Arg(text), SQL_NTS);
  std::string error;
  if (!SQL_SUCCEEDED(rc) && rc != SQL_NO_DATA) error = DiagnosticText(SQL_HANDLE_STMT, stmt);
  // Drain every result, so that a multi-statement text runs whole.
  while (error.empty() && SQL_SUCCEEDED(SQLMoreResults(stmt))) {
  }
  SQLFreeHandle(SQL_HANDLE_STMT, stmt);
  return error;
}

void RawOdbc::Exec(const std::string& sql) {
  // One statement at a time: not every driver takes several in one call.
  // PostgreSQL's rules for the cut are a superset (its dollar quotes too).
  for (std::string_view statement : Odbc::SplitStatements(sql, Odbc::Dbms::PostgreSQL)) {
    const std::string error = TryExec(std::string(statement));
    if (!error.empty()) ADD_FAILURE() << statement << "\n" << error;
  }
}

std::string RawOdbc::Query(const std::string& sql) {
  if (conn_ == nullptr) return "not connected";
  SQLHSTMT stmt = nullptr;
  SQLAllocHandle(SQL_HANDLE_STMT, conn_, &stmt);
  const Odbc::Wide text = ToWide(sql);
  std::string out;
  if (!SQL_SUCCEEDED(SQLExecDirectW(stmt, Arg(text), SQL_NTS))) {
    ADD_FAILURE() << sql << "\n" << DiagnosticText(SQL_HANDLE_STMT, stmt);
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    return out;
  }
  SQLSMALLINT columns = 0;
  SQLNumResultCols(stmt, &columns);
  std::vector<SQLSMALLINT> types(static_cast<std::size_t>(columns));
  for (SQLSMALLINT c = 1; c <= columns; ++c) {
    SQLWCHAR name[128];
    SQLSMALLINT nameLength = 0, digits = 0, nullable = 0;
    SQLULEN size = 0;
    SQLDescribeColW(stmt, static_cast<SQLUSMALLINT>(c), name, 128, &nameLength, &types[c - 1], &size, &digits,
                    &nullable);
  }
  bool firstRow = true;
  while (SQL_SUCCEEDED(SQLFetch(stmt))) {
    if (!firstRow) out += '\n';
    firstRow = false;
    for (SQLSMALLINT c = 1; c <= columns; ++c) {
      if (c > 1) out += '|';
      SQLLEN indicator = 0;
      const SQLSMALLINT type = types[c - 1];
      if (type == SQL_INTEGER || type == SQL_SMALLINT || type == SQL_TINYINT || type == SQL_BIGINT) {
        SQLBIGINT value = 0;
        SQLGetData(stmt, static_cast<SQLUSMALLINT>(c), SQL_C_SBIGINT, &value, sizeof value, &indicator);
        out += indicator == SQL_NULL_DATA ? "NULL" : std::to_string(static_cast<long long>(value));
      } else if (type == SQL_DOUBLE || type == SQL_FLOAT || type == SQL_REAL || type == SQL_NUMERIC ||
                 type == SQL_DECIMAL) {
        // Numbers as numbers: a driver's text of a decimal may follow the
        // C library's locale ("12,5").
        double value = 0;
        SQLGetData(stmt, static_cast<SQLUSMALLINT>(c), SQL_C_DOUBLE, &value, sizeof value, &indicator);
        out += indicator == SQL_NULL_DATA ? "NULL" : NumberText(value);
      } else {
        std::basic_string<SQLWCHAR> value;
        SQLWCHAR piece[512];
        SQLRETURN rc;
        while (SQL_SUCCEEDED(rc = SQLGetData(stmt, static_cast<SQLUSMALLINT>(c), SQL_C_WCHAR, piece,
                                             sizeof piece, &indicator))) {
          if (indicator == SQL_NULL_DATA) break;
          const std::size_t units =
              (indicator == SQL_NO_TOTAL || indicator >= static_cast<SQLLEN>(sizeof piece))
                  ? 511
                  : static_cast<std::size_t>(indicator) / sizeof(SQLWCHAR);
          value.append(piece, units);
          if (rc == SQL_SUCCESS) break;
        }
        out += indicator == SQL_NULL_DATA ? "NULL" : FromWide(value);
      }
    }
  }
  SQLFreeHandle(SQL_HANDLE_STMT, stmt);
  return out;
}

void RawOdbc::SetAutoCommit(bool on) {
  SQLSetConnectAttrW(
      conn_, SQL_ATTR_AUTOCOMMIT,
      reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(on ? SQL_AUTOCOMMIT_ON : SQL_AUTOCOMMIT_OFF)), 0);
}

void RawOdbc::Rollback() { SQLEndTran(SQL_HANDLE_DBC, conn_, SQL_ROLLBACK); }

}  // namespace Tessel::Testing

// LeakSanitizer's default suppressions for the programs that load ODBC
// drivers: psqlODBC 13.02 loses a few hundred bytes inside SQLExecute when a
// statement fails on a lock time-out, which no caller can free. Only leaks
// whose allocation lies in that driver are suppressed.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TESSEL_TEST_SANITIZED 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(TESSEL_TEST_SANITIZED)
extern "C" __attribute__((visibility("default"))) const char* __lsan_default_suppressions() {
  return "leak:psqlodbcw.so\n";
}
#endif
