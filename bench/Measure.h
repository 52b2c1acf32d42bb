// Clocks and process figures for the benchmark: wall and CPU time of a span,
// resident memory from /proc/self/status, and the machine's load average.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace Tessel::Bench {

// Wall time (steady clock) and this process's CPU time (user + system) since
// construction or the last Restart.
class Stopwatch {
 public:
  Stopwatch() { Restart(); }
  void Restart();
  double WallSeconds() const;
  double CpuSeconds() const;

 private:
  std::chrono::steady_clock::time_point wall_;
  double cpu_ = 0;
};

// What a timed road measured.
struct Timing {
  double wallSeconds = 0;
  double cpuSeconds = 0;  // this process only: a server's work is not in it
  // Wall seconds of the road's steps, in order, where the road has steps
  // worth telling apart (staging and flush; building records and writing).
  std::vector<std::pair<std::string, double>> phases;
};

// VmRSS and VmHWM of this process in bytes; nullopt when /proc is unreadable.
struct ResidentMemory {
  std::uint64_t rss = 0;
  std::uint64_t peak = 0;
};
std::optional<ResidentMemory> ReadResidentMemory();

// Resets this process's high-water mark (VmHWM) to its current resident size;
// false when the kernel does not offer it.
bool ResetPeakResident();

// The three load averages, as /proc/loadavg gives them ("0.52 0.40 0.31").
std::string LoadAverage();

}  // namespace Tessel::Bench
