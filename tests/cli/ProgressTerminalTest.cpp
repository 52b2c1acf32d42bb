// The load's progress line as a person sees it: the tool runs in a real
// terminal (a tmux pane 50 and 120 columns wide) while the test captures the
// screen over and over. A line as wide as the terminal wraps, and redrawing
// it then leaves its first part behind on the screen; so every screen must
// show at most one progress line, never wider than the pane, and the screen
// after the load none at all. Skips when tmux is not installed.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "ToolFixture.h"

namespace Tessel::Testing {
namespace {

using ::testing::HasSubstr;

std::string Output(const std::string& command) {
  std::string text;
  if (FILE* pipe = ::popen(command.c_str(), "r")) {
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, n);
    ::pclose(pipe);
  }
  return text;
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// A piece of a progress line, whole or wrapped: the summary printed after
// the load has none of these.
bool IsProgress(const std::string& line) {
  for (const char* mark : {" left", "writing ", "[#", "#]", ".]", "rows/s  ", "% "})
    if (line.find(mark) != std::string::npos) return true;
  return false;
}

class ProgressInTerminal : public ToolTest, public ::testing::WithParamInterface<int> {
 protected:
  void SetUp() override {
    if (std::system("command -v tmux >/dev/null 2>&1") != 0) GTEST_SKIP() << "tmux is not installed";
    socket_ = "tessel-progress-" + std::to_string(::getpid());
  }
  void TearDown() override {
    if (!socket_.empty()) Output(Tmux("kill-server") + " 2>/dev/null");
  }
  std::string Tmux(const std::string& arguments) const {
    return "tmux -L " + socket_ + " -f /dev/null " + arguments;
  }

  std::string socket_;
};

TEST_P(ProgressInTerminal, LeavesNoStaleLine) {
  const int columns = GetParam();
  Exec(
      "CREATE TABLE m(id INTEGER PRIMARY KEY, label TEXT NOT NULL, reading REAL, taken DATETIME, n INTEGER)");
  // Big enough that reading takes over a second on a fast machine, so that
  // the line is drawn many times.
  std::string csv = "id,label,reading,taken,n\n";
  for (int i = 1; i <= 600'000; ++i)
    csv += std::to_string(i) + ",row number " + std::to_string(i) + "," + std::to_string(i) +
           ".5,2024-01-01 10:00:00," + std::to_string(i * 3) + "\n";
  const std::string file = WriteFile("big.csv", csv);
  const std::string script =
      WriteFile("run.sh", "cd '" + dir_.path().string() + "'\n'" + kTool + "' load --db '" + Db() +
                              "' --table m big.csv\necho \"DONE $?\"\nsleep 60\n");

  Output(Tmux("new-session -d -x " + std::to_string(columns) + " -y 20 -s load 'sh " + script + "'"));
  std::vector<std::string> screens;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  std::string screen;
  while (std::chrono::steady_clock::now() < deadline) {
    screen = Output(Tmux("capture-pane -p -t load"));
    screens.push_back(screen);
    if (screen.find("DONE ") != std::string::npos) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ASSERT_THAT(screen, HasSubstr("DONE 0")) << screen;

  int screensWithProgress = 0;
  for (const std::string& shot : screens) {
    int progressLines = 0;
    for (const std::string& line : SplitLines(shot)) {
      if (!IsProgress(line)) continue;
      ++progressLines;
      EXPECT_LT(line.size(), static_cast<std::size_t>(columns))
          << "a progress line reaches the last column:\n"
          << shot;
    }
    EXPECT_LE(progressLines, 1) << "a stale progress line stays on the screen:\n" << shot;
    if (progressLines > 0) ++screensWithProgress;
  }
  EXPECT_GE(screensWithProgress, 3) << "the progress line was hardly ever seen, so this proves little";

  // After the load: the summary, the marker, and nothing of the progress.
  const std::vector<std::string> last = SplitLines(screen);
  std::string text;
  for (const std::string& line : last) {
    EXPECT_FALSE(IsProgress(line)) << "left on the screen: '" << line << "'\n" << screen;
    if (!line.empty()) text += line;
  }
  EXPECT_THAT(text, HasSubstr("loaded table m: 600,000 rows read, 600,000 written, 0 skipped"));
}

INSTANTIATE_TEST_SUITE_P(Widths, ProgressInTerminal, ::testing::Values(50, 120),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return std::to_string(info.param) + "Columns";
                         });

}  // namespace
}  // namespace Tessel::Testing
