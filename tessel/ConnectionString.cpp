#include "tessel/ConnectionString.h"

#include <cctype>
#include <charconv>

#include "TesselWrapper/Errors.h"
#include "tessel/Backends.h"

namespace Tessel {
namespace {

bool StartsWith(const std::string& s, const char* prefix) {
  return s.rfind(prefix, 0) == 0;
}

// libpq keyword strings start with a keyword (letters and '_') and '='.
bool LooksLikeKeywordValue(const std::string& s) {
  std::size_t i = 0;
  while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
  const std::size_t start = i;
  while (i < s.size() && (std::isalpha(static_cast<unsigned char>(s[i])) || s[i] == '_')) ++i;
  if (i == start) return false;
  while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
  return i < s.size() && s[i] == '=';
}

}  // namespace

ConnectionKind ClassifyConnectionString(const std::string& connect) {
  if (connect.empty() || StartsWith(connect, "sqlite:")) return ConnectionKind::Sqlite;
  if (StartsWith(connect, "postgresql://") || StartsWith(connect, "postgres://"))
    return ConnectionKind::Postgres;
  if (LooksLikeKeywordValue(connect)) return ConnectionKind::Postgres;
  return ConnectionKind::Unknown;
}

SqliteTarget ParseSqliteConnectionString(const std::string& connect) {
  const std::string text = connect.empty() ? std::string(kDefaultConnection) : connect;
  if (!StartsWith(text, "sqlite:"))
    throw ArgumentError("'" + connect + "' is not an SQLite connection string (sqlite:PATH)");
  std::string rest = text.substr(7);
  SqliteTarget target;
  const auto query = rest.rfind("?busy_timeout=");
  if (query != std::string::npos) {
    const std::string ms = rest.substr(query + 14);
    int value = -1;
    auto [end, ec] = std::from_chars(ms.data(), ms.data() + ms.size(), value);
    if (ec != std::errc() || end != ms.data() + ms.size() || value < 0 || ms.empty())
      throw ArgumentError("busy_timeout '" + ms + "' in connection string '" + connect +
                          "' is not a whole number of milliseconds");
    target.busyTimeoutMs = value;
    rest.erase(query);
  }
  if (rest.empty())
    throw ArgumentError("connection string '" + connect + "' names no SQLite file");
  target.path = rest;  // ":memory:" passes through as SQLite's own name
  return target;
}

}  // namespace Tessel
