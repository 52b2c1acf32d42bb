// What the tool's end-to-end tests on SQLite share: the tool's path, a
// temporary folder per test with an SQLite file in it, and plain sqlite3 to
// look at what reached the database without leaning on the library.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "ToolRunner.h"
#include "support/RawSqlite.h"

namespace Tessel::Testing {

inline const std::string kTool = TESSEL_CLI_PATH;

inline int Lines(const std::string& text) {
  return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

using Sqlite = RawSqlite;
using Rows = std::vector<std::vector<std::string>>;

class ToolTest : public ::testing::Test {
 protected:
  std::filesystem::path DbFile() const { return dir_.path() / "t.db"; }
  std::string Db() const { return "sqlite:" + DbFile().string(); }
  // The database file, made (empty) when a test's first statement runs.
  void Exec(const std::string& sql) const { Sqlite(DbFile().string()).Exec(sql); }
  Rows Query(const std::string& sql) const { return Sqlite(DbFile().string()).Rows(sql); }
  std::string One(const std::string& sql) const {
    const Rows rows = Query(sql);
    return rows.size() == 1 && rows[0].size() == 1 ? rows[0][0] : "<not one value>";
  }
  ToolResult Run(const std::vector<std::string>& args, const std::string& stdinFile = {},
                 const std::vector<std::string>& environment = {}) const {
    return RunProgram(kTool, args, dir_.path(), stdinFile, environment);
  }
  std::string WriteFile(const std::string& name, const std::string& content) const {
    const std::filesystem::path file = dir_.path() / name;
    std::ofstream(file, std::ios::binary) << content;
    return file.string();
  }
  // `tessel load` of `csv` into `table`, with `extra` options.
  ToolResult Load(const std::string& table, const std::string& csv,
                  std::vector<std::string> extra = {}) const {
    std::vector<std::string> args{"load", "--db", Db(), "--table", table};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back(WriteFile("in.csv", csv));
    return Run(args);
  }

  TempDir dir_;
};

}  // namespace Tessel::Testing
