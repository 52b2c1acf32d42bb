#include "tessel/sqlite/Session.h"

#include <sys/stat.h>

#include <cerrno>
#include <charconv>

#include "TesselWrapper/Errors.h"
#include "TesselWrapper/data/Text.h"
#include "tessel/Backends.h"
#include "tessel/NameLookup.h"
#include "tessel/sqlite/Errors.h"

namespace Tessel::Sqlite {
namespace {

constexpr std::string_view kScheme = "sqlite:";

bool IsOptionName(std::string_view name) noexcept {
  if (name.empty()) return false;
  for (char c : name)
    if (!((c >= 'a' && c <= 'z') || c == '_')) return false;
  return true;
}

// Whether `query` is meant as options: it starts with NAME=. The rest must
// then be options too, or the string is refused.
bool IsOptionList(std::string_view query) noexcept {
  const std::string_view pair = query.substr(0, query.find('&'));
  const std::size_t equals = pair.find('=');
  return equals != std::string_view::npos && IsOptionName(pair.substr(0, equals));
}

void ApplyOption(std::string_view name, const std::string& value, const std::string& connect,
                 SqliteTarget& target) {
  if (name == "busy_timeout") {
    int ms = -1;
    auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), ms);
    if (ec != std::errc() || end != value.data() + value.size() || ms < 0 || value.empty())
      throw ArgumentError("busy_timeout " + Quoted(value) + " in connection string " + Quoted(connect) +
                          " is not a whole number of milliseconds");
    target.busyTimeoutMs = ms;
  } else if (name == "mode") {
    if (value == "rwc") {
      target.mode = OpenMode::ReadWriteCreate;
    } else if (value == "rw") {
      target.mode = OpenMode::ReadWrite;
    } else if (value == "ro") {
      target.mode = OpenMode::ReadOnly;
    } else {
      throw ArgumentError("mode " + Quoted(value) + " in connection string " + Quoted(connect) +
                          " is none of rwc (read, write, create), rw (read and write) and ro (read only)");
    }
  } else {
    throw ArgumentError("unknown option " + Quoted(name) + " in connection string " + Quoted(connect) +
                        " (SQLite takes busy_timeout=MS and mode=rwc|rw|ro)");
  }
}

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
  const auto question = rest.rfind('?');
  if (question != std::string::npos && IsOptionList(std::string_view(rest).substr(question + 1))) {
    std::string_view query = std::string_view(rest).substr(question + 1);
    for (;;) {
      const std::size_t amp = query.find('&');
      const std::string_view pair = query.substr(0, amp);
      const std::size_t equals = pair.find('=');
      if (equals == std::string_view::npos)
        throw ArgumentError("option " + Quoted(pair) + " in connection string " + Quoted(connect) +
                            " is not NAME=VALUE");
      ApplyOption(pair.substr(0, equals), std::string(pair.substr(equals + 1)), connect, target);
      if (amp == std::string_view::npos) break;
      query.remove_prefix(amp + 1);
    }
    rest.erase(question);
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
  // A component is used by one thread at a time, so the connection needs no
  // mutex of its own: without it, each bind and step of a write skips a lock.
  int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
  if (target.mode == OpenMode::ReadWrite) flags = SQLITE_OPEN_READWRITE;
  if (target.mode == OpenMode::ReadOnly) flags = SQLITE_OPEN_READONLY;
  const int rc = sqlite3_open_v2(nativePath.c_str(), &raw, flags | SQLITE_OPEN_NOMUTEX, nullptr);
  DbHandle db(raw);  // closes a handle that failed to open, too
  if (rc != SQLITE_OK) {
    struct stat info {};
    if (target.mode != OpenMode::ReadWriteCreate && target.path != ":memory:" &&
        ::stat(nativePath.c_str(), &info) != 0 && errno == ENOENT) {
      ThrowDatabaseError(
          db.get(), rc,
          "no SQLite database file " + Quoted(target.path) +
              " (the connection string's mode=" + (target.mode == OpenMode::ReadOnly ? "ro" : "rw") +
              " opens an existing file only; mode=rwc creates it)");
    }
    ThrowDatabaseError(db.get(), rc, "could not open SQLite database " + Quoted(target.path));
  }
  sqlite3_extended_result_codes(db.get(), 1);
  sqlite3_busy_timeout(db.get(), target.busyTimeoutMs);
  db_ = std::move(db);
  path_ = target.path;
  return db_.get();
}

}  // namespace Tessel::Sqlite
