#include "tessel/sqlite/Session.h"

#include <charconv>

#include "TesselWrapper/Errors.h"
#include "TesselWrapper/data/Text.h"
#include "tessel/Backends.h"
#include "tessel/NameLookup.h"
#include "tessel/sqlite/Errors.h"

namespace Tessel::Sqlite {
namespace {

constexpr std::string_view kScheme = "sqlite:";
constexpr std::string_view kBusyTimeout = "?busy_timeout=";

}  // namespace

bool IsSqliteConnectionString(const std::string& connect) noexcept {
  return connect.empty() || connect.rfind(kScheme, 0) == 0;
}

SqliteTarget ParseConnectionString(const std::string& connect) {
  const std::string text = connect.empty() ? std::string(kDefaultConnection) : connect;
  if (!IsSqliteConnectionString(text))
    throw ArgumentError(Quoted(connect) + " is not an SQLite connection string (sqlite:PATH)");
  std::string rest = text.substr(kScheme.size());
  SqliteTarget target;
  const auto query = rest.rfind(kBusyTimeout);
  if (query != std::string::npos) {
    const std::string ms = rest.substr(query + kBusyTimeout.size());
    int value = -1;
    auto [end, ec] = std::from_chars(ms.data(), ms.data() + ms.size(), value);
    if (ec != std::errc() || end != ms.data() + ms.size() || value < 0 || ms.empty())
      throw ArgumentError("busy_timeout " + Quoted(ms) + " in connection string " + Quoted(connect) +
                          " is not a whole number of milliseconds");
    target.busyTimeoutMs = value;
    rest.erase(query);
  }
  if (rest.empty()) throw ArgumentError("connection string " + Quoted(connect) + " names no SQLite file");
  target.path = rest;  // ":memory:" passes through as SQLite's own name
  return target;
}

Session::Session(std::string connect) : connect_(std::move(connect)) { ParseConnectionString(connect_); }

void Session::SetConnectionString(std::string connect) noexcept {
  db_.reset();
  path_.clear();
  connect_ = std::move(connect);
}

sqlite3* Session::Connection() {
  if (db_) return db_.get();
  const SqliteTarget target = ParseConnectionString(connect_);
  const std::string nativePath = Text::ManagedToNative(target.path);
  sqlite3* raw = nullptr;
  const int rc = sqlite3_open_v2(nativePath.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  DbHandle db(raw);  // closes a handle that failed to open, too
  if (rc != SQLITE_OK) ThrowDatabaseError(db.get(), rc, "could not open SQLite database " + Quoted(target.path));
  sqlite3_extended_result_codes(db.get(), 1);
  sqlite3_busy_timeout(db.get(), target.busyTimeoutMs);
  db_ = std::move(db);
  path_ = target.path;
  return db_.get();
}

}  // namespace Tessel::Sqlite
