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
ToolResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                      const std::filesystem::path& cwd, const std::string& stdinFile = {},
                      const std::vector<std::string>& environment = {});

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
