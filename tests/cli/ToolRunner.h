// Running the tessel executable as a user would, for end-to-end tests.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace Tessel::Testing {

struct ToolResult {
  int exitCode = -1;  // the process's exit status; -1 when it did not exit normally
  std::string out;    // standard output
  std::string err;    // standard error
};

// Runs `program` with `args` in the folder `cwd`, standard input from
// `stdinFile` (or /dev/null when empty), and collects both outputs. The
// child inherits the environment, less TESSEL_DB (a developer's own would
// change what the tool opens), plus `environment` ("NAME=value" each).
// With `interruptAfter` set, the child gets SIGINT (as from Ctrl-C) once its
// standard error holds that text.
ToolResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                      const std::filesystem::path& cwd, const std::string& stdinFile = {},
                      const std::vector<std::string>& environment = {},
                      const std::string& interruptAfter = {});

// Loads of files longer than the load writes in one batch, the same on every
// backend, into a table (id integer primary key, label text not null,
// reading real) that holds one row, (999999, 'kept', 0), before the load.
// The file's line n (the header is line 1) holds id n - 1, label "row <id>"
// and reading <id>, but for the lines a case changes.
struct ManyBatchLoad {
  const char* name;
  std::string csv;
  // What the error names; none: the load succeeds.
  std::vector<std::string> mentions;
  std::vector<std::string> sqliteMentions, postgresMentions;  // each backend's own words
};
inline constexpr int kManyBatchLines = 40'000;  // data lines: more than two batches
std::vector<ManyBatchLoad> ManyBatchLoads();
// "count|sum(id)|sum(length(label))|sum(reading)" of the table after a load
// that succeeded, and the query that gives it.
std::string ManyBatchTotals();
inline constexpr const char* kManyBatchTotalsQuery =
    "SELECT count(*), sum(id), sum(length(label)), CAST(sum(reading) AS bigint) FROM ";

// A fresh folder under the system's temporary folder, removed by the destructor.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const noexcept { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace Tessel::Testing
