#include "ToolRunner.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>

namespace Tessel::Testing {
namespace {

std::string Slurp(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The numbered file of ManyBatchLoad, with lines replaced by their number.
std::string NumberedCsv(const std::map<int, std::string>& changed) {
  std::string csv = "id,label,reading\n";
  for (int line = 2; line <= kManyBatchLines + 1; ++line) {
    const auto it = changed.find(line);
    const std::string id = std::to_string(line - 1);
    csv += (it != changed.end() ? it->second : id + ",row " + id + "," + id) + "\n";
  }
  return csv;
}

}  // namespace

std::vector<ManyBatchLoad> ManyBatchLoads() {
  const std::string last = std::to_string(kManyBatchLines + 1);
  return {
      {"every line, once", NumberedCsv({}), {}, {}, {}},
      {"a bad value on the last line",
       NumberedCsv({{kManyBatchLines + 1, std::to_string(kManyBatchLines) + ",row,abc"}}),
       {"line " + last + ", column 'reading', value 'abc'"},
       {},
       {}},
      {"a key repeated two batches apart",
       NumberedCsv({{kManyBatchLines + 1, "5,again,1"}}),
       {"line " + last + ", column '(id)', value '5': repeats the key of line 6"},
       {},
       {}},
      {"a key repeated two batches apart, after a blank line and a line break in a field",
       NumberedCsv({{3, "\n2,row 2,2"}, {10, "9,\"row\n9\",9"}, {kManyBatchLines + 1, "5,again,1"}}),
       {"line " + std::to_string(kManyBatchLines + 3) +
        ", column '(id)', value '5': repeats the key of line 7"},
       {},
       {}},
      {"a key the table holds, in the third batch",
       NumberedCsv({{35'001, "999999,late,1"}}),
       {"not written"},
       {"the row of line 35001 of the file", "UNIQUE"},
       {"Key (id)=(999999) of line 35001 of the file already exists"}},
      {"a missing required value in the second batch",
       NumberedCsv({{20'001, "20000,,1"}}),
       {"line 20001, column 'label'", "NOT NULL"},
       {},
       {}},
  };
}

std::string ManyBatchTotals() {
  std::int64_t ids = 999999, lengths = 4, readings = 0;  // the row held before
  for (std::int64_t id = 1; id <= kManyBatchLines; ++id) {
    ids += id;
    lengths += static_cast<std::int64_t>(("row " + std::to_string(id)).size());
    readings += id;
  }
  return std::to_string(kManyBatchLines + 1) + "|" + std::to_string(ids) + "|" + std::to_string(lengths) +
         "|" + std::to_string(readings);
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "tessel-cli-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

ToolResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                      const std::filesystem::path& cwd, const std::string& stdinFile,
                      const std::vector<std::string>& environment, const std::string& interruptAfter) {
  // Outputs go to files rather than pipes, so that a chatty child can never
  // block on a full pipe while we wait for it.
  TempDir capture;
  const std::filesystem::path outFile = capture.path() / "out";
  const std::filesystem::path errFile = capture.path() / "err";

  std::vector<std::string> argvText{program};
  argvText.insert(argvText.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : argvText) argv.push_back(a.data());
  argv.push_back(nullptr);

  const pid_t child = ::fork();
  if (child < 0) throw std::runtime_error("fork failed");
  if (child == 0) {
    const int in = ::open(stdinFile.empty() ? "/dev/null" : stdinFile.c_str(), O_RDONLY);
    const int out = ::open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in < 0 || out < 0 || err < 0 || ::chdir(cwd.c_str()) != 0) ::_exit(127);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    ::unsetenv("TESSEL_DB");
    for (const std::string& setting : environment) {
      const std::size_t equals = setting.find('=');
      ::setenv(setting.substr(0, equals).c_str(), setting.substr(equals + 1).c_str(), 1);
    }
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  int status = 0;
  bool exited = false;
  if (!interruptAfter.empty()) {
    while (!exited && Slurp(errFile).find(interruptAfter) == std::string::npos) {
      exited = ::waitpid(child, &status, WNOHANG) == child;
      if (!exited) ::usleep(10'000);
    }
    if (!exited) ::kill(child, SIGINT);
  }
  while (!exited && ::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  ToolResult result;
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.out = Slurp(outFile);
  result.err = Slurp(errFile);
  return result;
}

}  // namespace Tessel::Testing
