#include "tessel/ConnectionString.h"

#include <algorithm>
#include <charconv>

#include "TesselWrapper/Errors.h"
#include "data/NumberText.h"
#include "tessel/Backends.h"

namespace Tessel {
namespace {

bool StartsWith(const std::string& s, const char* prefix) {
  return s.rfind(prefix, 0) == 0;
}

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
