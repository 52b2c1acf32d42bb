// A fresh directory with one SQLite file per test, a plain sqlite3 connection
// to set the file up and look at what the component left in it, and the
// component under test.
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tessel/sqlite/SqliteConnect.h"

namespace Tessel::Testing {

// A plain connection of its own, as another program would have.
class RawDb {
 public:
  explicit RawDb(const std::string& path) {
    if (sqlite3_open(path.c_str(), &db_) != SQLITE_OK) ADD_FAILURE() << "cannot open " << path;
  }
  ~RawDb() { sqlite3_close_v2(db_); }
  RawDb(const RawDb&) = delete;
  RawDb& operator=(const RawDb&) = delete;

  sqlite3* get() const { return db_; }

  void Exec(const std::string& sql) {
    char* error = nullptr;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
      ADD_FAILURE() << sql << ": " << (error ? error : "?");
      sqlite3_free(error);
    }
  }

  // Every row of a query, each value as SQLite's text ("NULL" for a null),
  // joined with '|', rows joined with '\n'.
  std::string Query(const std::string& sql) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
      ADD_FAILURE() << sql << ": " << sqlite3_errmsg(db_);
      return {};
    }
    std::string out;
    while (sqlite3_step(stmt) == SQLITE_ROW) {
      if (!out.empty()) out += '\n';
      for (int c = 0; c < sqlite3_column_count(stmt); ++c) {
        if (c > 0) out += '|';
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, c));
        out += text ? text : "NULL";
      }
    }
    sqlite3_finalize(stmt);
    return out;
  }

 private:
  sqlite3* db_ = nullptr;
};

class SqliteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "tessel-sqlite-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    path_ = (dir_ / "test.db").string();
    raw_ = std::make_unique<RawDb>(path_);
  }
  void TearDown() override {
    component_.reset();
    raw_.reset();
    std::filesystem::remove_all(dir_);
  }

  const std::string& Path() const { return path_; }
  std::string ConnectionString(const std::string& options = {}) const { return "sqlite:" + path_ + options; }
  RawDb& Raw() { return *raw_; }

  // The component for the test's file, made on first use.
  Sqlite::SqliteConnect& Component() {
    if (!component_) component_ = std::make_shared<Sqlite::SqliteConnect>(ConnectionString(), "");
    return *component_;
  }

  std::filesystem::path dir_;
  std::string path_;
  std::unique_ptr<RawDb> raw_;
  std::shared_ptr<Sqlite::SqliteConnect> component_;
};

}  // namespace Tessel::Testing
