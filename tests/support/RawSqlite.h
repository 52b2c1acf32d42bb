// A plain sqlite3 connection of the test's own, as another program would have,
// so that set-up and checks do not lean on the library under test. Every
// failure is a test failure. Callers link SQLite themselves.
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>
#include <vector>

namespace Tessel::Testing {

class RawSqlite {
 public:
  // Waits up to five seconds for a lock another connection holds.
  explicit RawSqlite(const std::string& path) {
    if (sqlite3_open(path.c_str(), &db_) != SQLITE_OK) ADD_FAILURE() << "cannot open " << path;
    sqlite3_busy_timeout(db_, 5000);
  }
  ~RawSqlite() { sqlite3_close_v2(db_); }
  RawSqlite(const RawSqlite&) = delete;
  RawSqlite& operator=(const RawSqlite&) = delete;

  sqlite3* get() const { return db_; }

  void Exec(const std::string& sql) {
    char* error = nullptr;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
      ADD_FAILURE() << sql << "\n" << (error ? error : sqlite3_errmsg(db_));
    }
    sqlite3_free(error);
  }

  // Every row of a query, each value as SQLite's text, whole even past a NUL
  // ("NULL" for a null).
  std::vector<std::vector<std::string>> Rows(const std::string& sql) {
    std::vector<std::vector<std::string>> rows;
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
      ADD_FAILURE() << sql << "\n" << sqlite3_errmsg(db_);
      return rows;
    }
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
      std::vector<std::string>& row = rows.emplace_back();
      for (int c = 0; c < sqlite3_column_count(stmt); ++c) {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, c));
        row.push_back(text ? std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(stmt, c)))
                           : "NULL");
      }
    }
    if (rc != SQLITE_DONE) ADD_FAILURE() << sql << "\n" << sqlite3_errmsg(db_);
    sqlite3_finalize(stmt);
    return rows;
  }

  // The same rows as one text: values joined with '|', rows with '\n'.
  std::string Query(const std::string& sql) {
    std::string out;
    bool firstRow = true;
    for (const auto& row : Rows(sql)) {
      if (!firstRow) out += '\n';
      firstRow = false;
      for (std::size_t c = 0; c < row.size(); ++c) {
        if (c > 0) out += '|';
        out += row[c];
      }
    }
    return out;
  }

  // The first value of the first row; "<no row>" when there is none.
  std::string One(const std::string& sql) {
    const auto rows = Rows(sql);
    return rows.empty() || rows[0].empty() ? "<no row>" : rows[0][0];
  }

 private:
  sqlite3* db_ = nullptr;
};

}  // namespace Tessel::Testing
