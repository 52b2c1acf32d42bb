// One SQLite connection, opened at first need and kept open, and the
// connection-string forms that reach it.
//
//   ""                          the embedded default, sqlite:tessel.db
//   sqlite:PATH                 the file PATH, created when missing
//   sqlite::memory:             a private in-memory database
//   either + ?busy_timeout=MS   how long to wait for another connection's
//                               lock (default 5000 ms)
//
// The path is the caller's own: the component holds it as managed (UTF-8)
// text, and it is turned back into the process's native character set before
// it reaches the file system, so that a Latin-1 caller's "caf\xE9.db" is that
// file. Messages name the managed form.
//
// Errors: Connection() throws ArgumentError for a string that is no SQLite
// form and DatabaseError (category Connection) when the file cannot be
// opened. Not thread-safe: one thread at a time, like the component that
// owns it.
#pragma once

#include <sqlite3.h>

#include <string>

#include "tessel/sqlite/Handles.h"

namespace Tessel::Sqlite {

// True for the forms above: the empty string and "sqlite:...".
bool IsSqliteConnectionString(const std::string& connect) noexcept;

struct SqliteTarget {
  std::string path;  // a file path (managed text), or ":memory:"
  int busyTimeoutMs = 5000;
};

// Parses one of the forms above. Throws ArgumentError naming the text when it
// is none of them or the time-out is not a non-negative whole number.
SqliteTarget ParseConnectionString(const std::string& connect);

class Session {
 public:
  // Throws as ParseConnectionString when `connect` is malformed, so that a
  // component refuses it at creation, not at first use.
  explicit Session(std::string connect);
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Closes an open connection; the next use opens the new string's file (a
  // malformed string is refused then, by Connection()).
  void SetConnectionString(std::string connect) noexcept;

  // The open connection, opening it first when there is none.
  sqlite3* Connection();
  bool IsOpen() const noexcept { return db_ != nullptr; }
  // The path of the open connection's file (managed text); empty when closed.
  const std::string& Path() const noexcept { return path_; }

 private:
  std::string connect_;
  std::string path_;
  DbHandle db_;
};

}  // namespace Tessel::Sqlite
