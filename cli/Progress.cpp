#include "Progress.h"

#if defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <sys/ioctl.h>
#include <unistd.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "Format.h"

namespace Tessel::Cli {
namespace {

struct Parts {
  std::string rows;  // "123,456 rows"
  std::string rate;  // "45,678 rows/s"
  std::string percent;
  std::string left;  // "0:07 left"
  double done = -1;  // 0..1, or -1 when the size is unknown
};

Parts PartsOf(const Jobs::CsvLoadProgress& p) {
  Parts parts;
  parts.rows = Grouped(p.rows) + " rows";
  const double rate = p.seconds > 0 ? static_cast<double>(p.rows) / p.seconds : 0;
  parts.rate = Grouped(static_cast<std::uint64_t>(rate)) + " rows/s";
  if (p.bytesTotal > 0 && p.bytesRead > 0) {
    parts.done = static_cast<double>(p.bytesRead) / static_cast<double>(p.bytesTotal);
    if (parts.done > 1) parts.done = 1;
    parts.percent = Fixed(parts.done * 100, 0) + "%";
    parts.left = Clock(p.seconds * (1 - parts.done) / parts.done) + " left";
  }
  return parts;
}

std::string Bar(double done, int width) {
  const int filled = static_cast<int>(done * width);
  return "[" + std::string(static_cast<std::size_t>(filled), '#') +
         std::string(static_cast<std::size_t>(width - filled), '.') + "]";
}

}  // namespace

std::string ProgressLine(const Jobs::CsvLoadProgress& p, int columns) {
  const std::size_t room = columns > 1 ? static_cast<std::size_t>(columns - 1) : 0;
  std::vector<std::string> candidates;
  if (p.phase == Jobs::CsvLoadProgress::Phase::Writing) {
    candidates.push_back("writing " + Grouped(p.rows) + " rows ...");
  } else {
    const Parts parts = PartsOf(p);
    if (parts.done >= 0) {
      const std::string tail = "  " + parts.percent + "  " + parts.left;
      const std::string head = parts.rows + "  " + parts.rate + "  ";
      constexpr int kBarWidth = 24, kNarrowestBar = 8;
      const int barRoom = static_cast<int>(room) - static_cast<int>(head.size() + tail.size()) - 2;
      const int barWidth = barRoom < kBarWidth ? barRoom : kBarWidth;
      if (barWidth >= kNarrowestBar) candidates.push_back(head + Bar(parts.done, barWidth) + tail);
      candidates.push_back(parts.rows + "  " + parts.rate + tail);
      candidates.push_back(parts.rows + tail);
      candidates.push_back(parts.rows + "  " + parts.percent);
    } else {
      candidates.push_back(parts.rows + "  " + parts.rate);
    }
    candidates.push_back(parts.rows);
  }
  for (const std::string& line : candidates)
    if (line.size() <= room) return line;
  return candidates.back().substr(0, room);
}

std::string ProgressLogLine(const Jobs::CsvLoadProgress& p) {
  if (p.phase == Jobs::CsvLoadProgress::Phase::Writing)
    return "tessel load: " + Grouped(p.rows) + " rows read, writing them";
  const Parts parts = PartsOf(p);
  std::string line = "tessel load: " + parts.rows + " read, " + parts.rate;
  if (parts.done >= 0) line += ", " + parts.percent + " of the file, " + parts.left;
  return line;
}

int TerminalColumns() {
#if defined(_WIN32)
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info) && info.dwSize.X > 0)
    return info.dwSize.X;
#else
  struct winsize size {};
  if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
#endif
  return 80;
}

void ProgressReport::Draw(const Jobs::CsvLoadProgress& progress) {
  if (terminal_) {
    // \r to the line's start, the line, then erase whatever a longer line
    // drawn before left to its right.
    std::fprintf(stderr, "\r%s\033[K", ProgressLine(progress, TerminalColumns()).c_str());
    drawn_ = true;
  } else {
    std::fprintf(stderr, "%s\n", ProgressLogLine(progress).c_str());
  }
  std::fflush(stderr);
}

ProgressReport::~ProgressReport() {
  if (terminal_ && drawn_) {
    std::fprintf(stderr, "\r\033[K");
    std::fflush(stderr);
  }
}

}  // namespace Tessel::Cli
