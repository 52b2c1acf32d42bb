// What every harness shares: the way an oracle fails, a plain sqlite3
// connection of the harness's own (so that what landed in the database is
// read without the library under test), and database files on /dev/shm.
//
// An oracle violation prints what was expected and what was seen and
// aborts, so that libFuzzer saves the input as a crash and the reliability
// script fails with its reproducer.
#pragma once

#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "TesselWrapper/ConnectWrapper.h"

namespace Tessel::Fuzz {

[[noreturn]] inline void Violation(const std::string& what) {
  std::fprintf(stderr, "\n==== oracle violated ====\n%s\n", what.c_str());
  std::fflush(stderr);
  std::abort();
}

inline void Check(bool holds, const std::string& what) {
  if (!holds) Violation(what);
}

// With TESSEL_FUZZ_TRACE set, a harness tells each call it makes, so that a
// saved input can be read as the call sequence it stands for.
inline bool Tracing() {
  static const bool on = std::getenv("TESSEL_FUZZ_TRACE") != nullptr;
  return on;
}
inline void Trace(const std::string& line) {
  if (Tracing()) std::fprintf(stderr, "  %s\n", line.c_str());
}

// With TESSEL_FUZZ_STATS set, a harness counts the outcomes it saw and
// prints them at exit, to show which paths a campaign reached.
inline void Tally(const std::string& outcome) {
  static std::map<std::string, long long>* counts = [] {
    auto* map = new std::map<std::string, long long>;
    if (std::getenv("TESSEL_FUZZ_STATS") != nullptr) {
      static std::map<std::string, long long>* printed = map;
      std::atexit([] {
        for (const auto& [name, n] : *printed) std::fprintf(stderr, "outcome %-50s %lld\n", name.c_str(), n);
      });
    }
    return map;
  }();
  ++(*counts)[outcome];
}

// A database file in memory-backed storage (fsync is free there), unique to
// this process, removed first so that each run starts empty. Falls back to
// the temporary folder on machines without /dev/shm.
inline std::string ScratchDatabase(const char* harness) {
  const char* dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  std::string path = std::string(dir) + "/tessel-fuzz-" + harness + "-" + std::to_string(getpid()) + ".db";
  for (const char* suffix : {"", "-journal", "-wal", "-shm"}) std::remove((path + suffix).c_str());
  return path;
}

class Sqlite {
 public:
  explicit Sqlite(const std::string& path) {
    if (sqlite3_open(path.c_str(), &db_) != SQLITE_OK) Violation("cannot open " + path);
  }
  ~Sqlite() { sqlite3_close_v2(db_); }
  Sqlite(const Sqlite&) = delete;
  Sqlite& operator=(const Sqlite&) = delete;

  sqlite3* get() const { return db_; }

  // Runs SQL that must succeed (the harness's own set-up).
  void Exec(const std::string& sql) {
    char* error = nullptr;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
      const std::string text = error ? error : sqlite3_errmsg(db_);
      sqlite3_free(error);
      Violation("harness SQL failed: " + sql + "\n" + text);
    }
  }
  // Runs SQL that may fail (taking a lock another connection holds); true
  // when it succeeded.
  bool TryExec(const std::string& sql) {
    return sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
  }

  long long Count(const std::string& table) { return Integer("SELECT count(*) FROM \"" + table + "\""); }

  long long Integer(const std::string& sql) {
    sqlite3_stmt* stmt = Prepare(sql);
    if (sqlite3_step(stmt) != SQLITE_ROW) Violation("no row from " + sql + ": " + sqlite3_errmsg(db_));
    const long long value = sqlite3_column_int64(stmt, 0);
    sqlite3_finalize(stmt);
    return value;
  }

  sqlite3_stmt* Prepare(const std::string& sql) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK)
      Violation("cannot prepare " + sql + ": " + sqlite3_errmsg(db_));
    return stmt;
  }

 private:
  sqlite3* db_ = nullptr;
};

// What a row harness keeps across inputs: a database file of its own with
// the harness's tables, a plain connection to set them up and to look at
// what landed, and the bridge under test on the same file (`options` is
// added to its connection string).
struct RowWorld {
  RowWorld(const char* harness, const std::string& schema, const std::string& options = "")
      : path(ScratchDatabase(harness)), checker(path) {
    checker.Exec(schema);
    bridge.LoadObject("sqlite:" + path + options, "");
  }

  // Runs `clear` (DELETE statements) when an input left rows behind, so that
  // an input that wrote nothing costs no clean-up.
  void Reset(const std::string& clear) {
    if (dirty) checker.Exec(clear);
    dirty = false;
  }

  std::string path;
  Sqlite checker;
  ConnectWrapper bridge;
  bool dirty = true;  // set by the harness whenever rows may be left
};

// The number a message starts with ("12 rows written to table 't'"), or -1.
inline long long LeadingNumber(const std::string& text) {
  if (text.empty() || text[0] < '0' || text[0] > '9') return -1;
  return std::atoll(text.c_str());
}

// Text for a message, with control bytes and bytes above ASCII written as
// \xHH, so that a NUL or a line break in an input shows.
inline std::string Shown(const std::string& text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : text) {
    if (c >= 0x20 && c < 0x7f && c != '\\') {
      out += static_cast<char>(c);
    } else {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

inline bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

}  // namespace Tessel::Fuzz
