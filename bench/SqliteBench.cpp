#include "bench/SqliteBench.h"

#include <sqlite3.h>

#include <cstdio>
#include <memory>
#include <stdexcept>

#include "bench/Verify.h"
#include "tessel/sqlite/Handles.h"

namespace Tessel::Bench::SqliteBench {

// Keep in step with what tessel/sqlite does when it opens a connection
// (SqliteConnect::Db): today it sets no PRAGMA, so both sides run with
// SQLite's own defaults (rollback journal, synchronous FULL). The comparison
// is only fair while both sides journal and sync the same way.
const char* const kConnectionSettings = "";
const char* const kJournalMode = "delete";

namespace {

using Sqlite::DbHandle;
using Sqlite::StmtHandle;

[[noreturn]] void Throw(sqlite3* db, const std::string& what) {
  throw std::runtime_error("sqlite: " + what + ": " + (db ? sqlite3_errmsg(db) : "out of memory"));
}

DbHandle Open(const std::string& path, int flags) {
  sqlite3* raw = nullptr;
  const int rc = sqlite3_open_v2(path.c_str(), &raw, flags, nullptr);
  DbHandle db(raw);
  if (rc != SQLITE_OK) Throw(db.get(), "opening " + path);
  return db;
}

void Exec(sqlite3* db, const char* sql) {
  if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) Throw(db, sql);
}

StmtHandle Prepare(sqlite3* db, const char* sql) {
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db, sql, -1, &raw, nullptr) != SQLITE_OK) Throw(db, sql);
  return StmtHandle(raw);
}

std::string ColumnText(sqlite3_stmt* stmt, int column) {
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, column));
  return text ? std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(stmt, column)))
              : std::string();
}

void ApplySettings(sqlite3* db) {
  if (*kConnectionSettings) Exec(db, kConnectionSettings);
}

}  // namespace

std::string Describe(const std::string& path) {
  DbHandle db = Open(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
  ApplySettings(db.get());
  std::string out = std::string("SQLite ") + sqlite3_libversion() + "; settings on both sides:";
  const char* sep = " ";
  for (const char* pragma : {"journal_mode", "synchronous", "page_size", "cache_size", "locking_mode"}) {
    StmtHandle stmt = Prepare(db.get(), (std::string("PRAGMA ") + pragma).c_str());
    if (sqlite3_step(stmt.get()) != SQLITE_ROW) Throw(db.get(), pragma);
    out += sep + std::string(pragma) + "=" + ColumnText(stmt.get(), 0);
    sep = ", ";
  }
  out += *kConnectionSettings ? std::string(" (") + kConnectionSettings + ")"
                              : " (SQLite's defaults: the library's backend sets no PRAGMA)";
  return out;
}

std::string ConnectionString(const std::string& path) { return "sqlite:" + path; }

void RemoveDatabase(const std::string& path) {
  for (const char* suffix : {"", "-wal", "-shm", "-journal"}) std::remove((path + suffix).c_str());
}

void CreateFreshTable(const std::string& path) {
  RemoveDatabase(path);
  DbHandle db = Open(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
  ApplySettings(db.get());
  Exec(db.get(),
       "CREATE TABLE bench_rows (i1 INTEGER NOT NULL, i2 INTEGER NOT NULL, i3 INTEGER NOT NULL, "
       "d1 REAL NOT NULL, d2 REAL NOT NULL, dt DATETIME NOT NULL, t1 TEXT NOT NULL, t2 TEXT NOT NULL)");
}

Timing RunBaseline(const std::string& path, const Dataset& data) {
  Stopwatch clock;
  DbHandle db = Open(path, SQLITE_OPEN_READWRITE);
  ApplySettings(db.get());
  StmtHandle insert = Prepare(db.get(),
                              "INSERT INTO \"bench_rows\" (\"i1\", \"i2\", \"i3\", \"d1\", \"d2\", \"dt\", "
                              "\"t1\", \"t2\") VALUES (?, ?, ?, ?, ?, ?, ?, ?)");
  sqlite3_stmt* stmt = insert.get();
  Exec(db.get(), "BEGIN IMMEDIATE");
  char date[32];
  const auto n = data.Rows();
  for (std::size_t r = 0; r < n; ++r) {
    sqlite3_bind_int64(stmt, 1, data.I1(r));
    sqlite3_bind_int64(stmt, 2, data.I2(r));
    sqlite3_bind_int64(stmt, 3, data.I3(r));
    sqlite3_bind_double(stmt, 4, data.D1(r));
    sqlite3_bind_double(stmt, 5, data.D2(r));
    // The date goes in as the library stores it: ISO text made from the
    // instant, formatted here per row as any plain program would.
    sqlite3_bind_text(stmt, 6, date, static_cast<int>(FormatIsoMillis(data.UnixMillis(r), date)),
                      SQLITE_STATIC);
    const std::string_view t1 = data.T1View(r), t2 = data.T2View(r);
    sqlite3_bind_text(stmt, 7, t1.data(), static_cast<int>(t1.size()), SQLITE_STATIC);
    sqlite3_bind_text(stmt, 8, t2.data(), static_cast<int>(t2.size()), SQLITE_STATIC);
    if (sqlite3_step(stmt) != SQLITE_DONE) Throw(db.get(), "insert at row " + std::to_string(r));
    sqlite3_reset(stmt);
  }
  Exec(db.get(), "COMMIT");
  Timing timing{clock.WallSeconds(), clock.CpuSeconds(), {}};
  insert.reset();
  db.reset();
  return timing;
}

Timing RunMultiRowInsert(const std::string& path, const Dataset& data) {
  constexpr std::size_t kRowsPerInsert = 64;
  Stopwatch clock;
  DbHandle db = Open(path, SQLITE_OPEN_READWRITE);
  ApplySettings(db.get());
  const std::string columns =
      "INSERT INTO \"bench_rows\" (\"i1\", \"i2\", \"i3\", \"d1\", \"d2\", \"dt\", \"t1\", \"t2\") VALUES ";
  std::string sql = columns;
  for (std::size_t k = 0; k < kRowsPerInsert; ++k)
    sql += k == 0 ? "(?, ?, ?, ?, ?, ?, ?, ?)" : ", (?, ?, ?, ?, ?, ?, ?, ?)";
  StmtHandle batch = Prepare(db.get(), sql.c_str());
  StmtHandle single = Prepare(db.get(), (columns + "(?, ?, ?, ?, ?, ?, ?, ?)").c_str());
  Exec(db.get(), "BEGIN IMMEDIATE");
  char dates[kRowsPerInsert][32];
  // Binds row r from parameter 8 * k + 1 on.
  auto bind = [&](sqlite3_stmt* stmt, std::size_t k, std::size_t r) {
    const int p = static_cast<int>(8 * k);
    sqlite3_bind_int64(stmt, p + 1, data.I1(r));
    sqlite3_bind_int64(stmt, p + 2, data.I2(r));
    sqlite3_bind_int64(stmt, p + 3, data.I3(r));
    sqlite3_bind_double(stmt, p + 4, data.D1(r));
    sqlite3_bind_double(stmt, p + 5, data.D2(r));
    sqlite3_bind_text(stmt, p + 6, dates[k], static_cast<int>(FormatIsoMillis(data.UnixMillis(r), dates[k])),
                      SQLITE_STATIC);
    const std::string_view t1 = data.T1View(r), t2 = data.T2View(r);
    sqlite3_bind_text(stmt, p + 7, t1.data(), static_cast<int>(t1.size()), SQLITE_STATIC);
    sqlite3_bind_text(stmt, p + 8, t2.data(), static_cast<int>(t2.size()), SQLITE_STATIC);
  };
  const auto n = data.Rows();
  std::size_t r = 0;
  for (; r + kRowsPerInsert <= n; r += kRowsPerInsert) {
    for (std::size_t k = 0; k < kRowsPerInsert; ++k) bind(batch.get(), k, r + k);
    if (sqlite3_step(batch.get()) != SQLITE_DONE) Throw(db.get(), "insert at rows from " + std::to_string(r));
    sqlite3_reset(batch.get());
  }
  for (; r < n; ++r) {
    bind(single.get(), 0, r);
    if (sqlite3_step(single.get()) != SQLITE_DONE) Throw(db.get(), "insert at row " + std::to_string(r));
    sqlite3_reset(single.get());
  }
  Exec(db.get(), "COMMIT");
  Timing timing{clock.WallSeconds(), clock.CpuSeconds(), {}};
  batch.reset();
  single.reset();
  db.reset();
  return timing;
}

void Verify(const std::string& road, const std::string& path, const Dataset& data) {
  // Read-write: a read-only connection to a WAL file left by a connection
  // that did not close cleanly could not recover the WAL index.
  DbHandle db = Open(path, SQLITE_OPEN_READWRITE);
  {
    StmtHandle sum = Prepare(db.get(),
                             "SELECT count(*), sum(i1), sum(i2), sum(i3), sum(length(t1)), sum(length(t2)) "
                             "FROM bench_rows");
    if (sqlite3_step(sum.get()) != SQLITE_ROW) Throw(db.get(), "reading the summary");
    TableSummary stored;
    stored.count = sqlite3_column_int64(sum.get(), 0);
    stored.sumI1 = sqlite3_column_int64(sum.get(), 1);
    stored.sumI2 = sqlite3_column_int64(sum.get(), 2);
    stored.sumI3 = sqlite3_column_int64(sum.get(), 3);
    stored.sumLengthT1 = sqlite3_column_int64(sum.get(), 4);
    stored.sumLengthT2 = sqlite3_column_int64(sum.get(), 5);
    CheckSummary(road, data, stored);
  }
  StmtHandle spot = Prepare(db.get(),
                            "SELECT i2, i3, d1, d2, dt, t1, t2, "
                            "typeof(i1) || typeof(i2) || typeof(i3) || ' ' || typeof(d1) || typeof(d2) "
                            "|| ' ' || typeof(dt) || typeof(t1) || typeof(t2) "
                            "FROM bench_rows WHERE i1 = ?");
  for (std::size_t r : SpotRows(data)) {
    sqlite3_reset(spot.get());
    sqlite3_bind_int64(spot.get(), 1, data.I1(r));
    if (sqlite3_step(spot.get()) != SQLITE_ROW) {
      throw std::runtime_error(road + ": no row with i1=" + std::to_string(r) + " in the database");
    }
    const std::string classes = ColumnText(spot.get(), 7);
    if (classes != "integerintegerinteger realreal texttexttext") {
      throw std::runtime_error(road + ": row i1=" + std::to_string(r) +
                               " is stored with other storage classes than the baseline's: " + classes);
    }
    StoredRow stored;
    stored.i2 = sqlite3_column_int64(spot.get(), 0);
    stored.i3 = sqlite3_column_int64(spot.get(), 1);
    stored.d1 = sqlite3_column_double(spot.get(), 2);
    stored.d2 = sqlite3_column_double(spot.get(), 3);
    const std::string dt = ColumnText(spot.get(), 4);
    if (!ParseIsoMillis(dt, stored.dtMillis)) {
      throw std::runtime_error(road + ": row i1=" + std::to_string(r) + " holds the date \"" + dt +
                               "\", not ISO text");
    }
    stored.t1 = ColumnText(spot.get(), 5);
    stored.t2 = ColumnText(spot.get(), 6);
    CheckRow(road, data, r, stored);
    if (sqlite3_step(spot.get()) != SQLITE_DONE) {
      throw std::runtime_error(road + ": more than one row with i1=" + std::to_string(r));
    }
  }
}

std::string JournalMode(const std::string& path) {
  DbHandle db = Open(path, SQLITE_OPEN_READONLY);
  StmtHandle stmt = Prepare(db.get(), "PRAGMA journal_mode");
  if (sqlite3_step(stmt.get()) != SQLITE_ROW) Throw(db.get(), "PRAGMA journal_mode");
  return ColumnText(stmt.get(), 0);
}

}  // namespace Tessel::Bench::SqliteBench
