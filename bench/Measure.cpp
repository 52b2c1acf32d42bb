#include "bench/Measure.h"

#include <sys/resource.h>

#include <fstream>
#include <locale>
#include <sstream>

namespace Tessel::Bench {
namespace {

double ProcessCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval& tv) { return static_cast<double>(tv.tv_sec) + tv.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

}  // namespace

void Stopwatch::Restart() {
  cpu_ = ProcessCpuSeconds();
  wall_ = std::chrono::steady_clock::now();
}

double Stopwatch::WallSeconds() const {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_).count();
}

double Stopwatch::CpuSeconds() const { return ProcessCpuSeconds() - cpu_; }

std::optional<ResidentMemory> ReadResidentMemory() {
  std::ifstream status("/proc/self/status");
  if (!status) return std::nullopt;
  ResidentMemory memory;
  bool haveRss = false, havePeak = false;
  std::string line;
  while (std::getline(status, line)) {
    // Lines read "VmRSS:	  123456 kB".
    auto kibAfter = [&](const char* key, std::uint64_t& bytes) {
      if (line.rfind(key, 0) != 0) return false;
      std::istringstream in(line.substr(std::char_traits<char>::length(key)));
      in.imbue(std::locale::classic());  // no digit grouping, whatever the global locale
      std::uint64_t kib = 0;
      if (!(in >> kib)) return false;
      bytes = kib * 1024;
      return true;
    };
    haveRss = kibAfter("VmRSS:", memory.rss) || haveRss;
    havePeak = kibAfter("VmHWM:", memory.peak) || havePeak;
  }
  if (!haveRss || !havePeak) return std::nullopt;
  return memory;
}

bool ResetPeakResident() {
  std::ofstream clearRefs("/proc/self/clear_refs");
  if (!clearRefs) return false;
  clearRefs << "5";  // "5" resets the peak resident size (Linux 4.0 and later)
  clearRefs.close();
  return !clearRefs.fail();
}

std::string LoadAverage() {
  std::ifstream in("/proc/loadavg");
  std::string one, five, fifteen;
  if (!(in >> one >> five >> fifteen)) return "unknown";
  return one + " " + five + " " + fifteen;
}

}  // namespace Tessel::Bench
