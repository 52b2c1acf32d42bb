// One SQLite connection, opened at first need and kept open, and the
// connection-string forms that reach it.
//
//   ""                          the embedded default, sqlite:tessel.db
//   sqlite:PATH                 the file PATH, created when missing
//   sqlite::memory:             a private in-memory database
//   either + ?OPTION=VALUE[&OPTION=VALUE]
//     busy_timeout=MS           how long to wait for another connection's
//                               lock (default 5000 ms)
//     mode=rwc                  read and write, create a missing file (the
//                               default)
//     mode=rw                   read and write an existing file only
//     mode=ro                   read an existing file only
//
// The options are the text after the last '?' when it starts with NAME=
// (a name of lower-case letters and '_'), NAME=VALUE pairs joined by '&';
// any other text after a '?' belongs to the path. An unknown or malformed
// option or value is refused, so that a misspelt option never becomes part
// of a new file's name.
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

enum class OpenMode { ReadWriteCreate, ReadWrite, ReadOnly };

struct SqliteTarget {
  std::string path;  // a file path (managed text), or ":memory:"
  int busyTimeoutMs = 5000;
  OpenMode mode = OpenMode::ReadWriteCreate;
};

// Parses one of the forms above. Throws ArgumentError naming the text when it
// is none of them, an option is unknown, the time-out is not a non-negative
// whole number or the mode not one of rwc, rw, ro.
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
