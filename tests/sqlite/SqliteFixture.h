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

#include "support/RawSqlite.h"
#include "tessel/sqlite/SqliteConnect.h"

namespace Tessel::Testing {

class SqliteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "tessel-sqlite-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    path_ = (dir_ / "test.db").string();
    raw_ = std::make_unique<RawSqlite>(path_);
  }
  void TearDown() override {
    component_.reset();
    raw_.reset();
    std::filesystem::remove_all(dir_);
  }

  const std::string& Path() const { return path_; }
  std::string ConnectionString(const std::string& options = {}) const { return "sqlite:" + path_ + options; }
  RawSqlite& Raw() { return *raw_; }

  // The component for the test's file, made on first use.
  Sqlite::SqliteConnect& Component() {
    if (!component_) component_ = std::make_shared<Sqlite::SqliteConnect>(ConnectionString(), "");
    return *component_;
  }

  std::filesystem::path dir_;
  std::string path_;
  std::unique_ptr<RawSqlite> raw_;
  std::shared_ptr<Sqlite::SqliteConnect> component_;
};

}  // namespace Tessel::Testing
