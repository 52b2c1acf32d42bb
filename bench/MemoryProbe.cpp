#include "bench/MemoryProbe.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <exception>
#include <locale>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "bench/BridgeRoads.h"
#include "bench/Dataset.h"
#include "bench/Measure.h"
#include "bench/SqliteBench.h"

namespace Tessel::Bench {
namespace {

constexpr const char* kLinePrefix = "memory-figures";

std::uint64_t PeakResident(const char* when) {
  const auto memory = ReadResidentMemory();
  if (!memory) throw std::runtime_error(std::string("cannot read /proc/self/status ") + when);
  return memory->peak;
}

}  // namespace

int RunMemoryChild(std::size_t rows, std::uint64_t seed, const std::string& path, MemoryRoad road) {
  try {
    const Dataset data(rows, seed);
    SqliteBench::CreateFreshTable(path);
    MemoryFigures figures;
    {
      BridgePtr bridge = LoadBridge(SqliteBench::ConnectionString(path));
      figures.peakWasReset = ResetPeakResident();
      const auto before = ReadResidentMemory();
      if (!before) throw std::runtime_error("cannot read /proc/self/status");
      // Without the reset the high-water mark may stand above the current
      // size after making the dataset; growth is then counted from that mark
      // (which can understate it), and the report says so.
      figures.rssBefore = figures.peakWasReset ? before->rss : before->peak;
      if (road == MemoryRoad::Staging) {
        StageRows(*bridge, data);
        figures.peakStaged = PeakResident("after staging");
        FlushStaged(*bridge, data);
        figures.peakFlushed = PeakResident("after the flush");
      } else {
        OwnedQueue queue;
        BuildRecords(queue, data);
        figures.peakStaged = PeakResident("after building the records");
        WriteQueued(*bridge, queue);
        figures.peakFlushed = PeakResident("after BulkToTable");
      }
    }
    SqliteBench::Verify("(d) memory probe", path, data);
    std::printf("%s %llu %llu %llu %d\n", kLinePrefix, static_cast<unsigned long long>(figures.rssBefore),
                static_cast<unsigned long long>(figures.peakStaged),
                static_cast<unsigned long long>(figures.peakFlushed), figures.peakWasReset ? 1 : 0);
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "memory probe: %s\n", e.what());
    return 1;
  }
}

MemoryFigures RunMemoryProbe(const std::string& self, std::size_t rows, std::uint64_t seed,
                             const std::string& path, MemoryRoad road) {
  int pipeFds[2];
  if (pipe(pipeFds) != 0) throw std::runtime_error("memory probe: pipe failed");
  const std::string rowsText = std::to_string(rows), seedText = std::to_string(seed);
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid < 0) {
    close(pipeFds[0]);
    close(pipeFds[1]);
    throw std::runtime_error("memory probe: fork failed");
  }
  if (pid == 0) {
    dup2(pipeFds[1], STDOUT_FILENO);
    close(pipeFds[0]);
    close(pipeFds[1]);
    std::vector<const char*> argv = {self.c_str(),    "--memory-child",
                                     "--rows",        rowsText.c_str(),
                                     "--seed",        seedText.c_str(),
                                     "--db",          path.c_str(),
                                     "--memory-road", road == MemoryRoad::Queued ? "queued" : "staging",
                                     nullptr};
    execv(self.c_str(), const_cast<char* const*>(argv.data()));
    _exit(127);
  }
  close(pipeFds[1]);
  std::string output;
  char buffer[256];
  ssize_t got;
  while ((got = read(pipeFds[0], buffer, sizeof buffer)) > 0)
    output.append(buffer, static_cast<std::size_t>(got));
  close(pipeFds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    throw std::runtime_error("memory probe: the child process failed (status " + std::to_string(status) +
                             "); its reason is printed above");
  }
  std::istringstream in(output.substr(
      output.find(kLinePrefix) == std::string::npos ? output.size() : output.find(kLinePrefix)));
  in.imbue(std::locale::classic());  // the child printed plain digits
  std::string prefix;
  MemoryFigures figures;
  int reset = 0;
  if (!(in >> prefix >> figures.rssBefore >> figures.peakStaged >> figures.peakFlushed >> reset)) {
    throw std::runtime_error("memory probe: the child printed no figures: " + output);
  }
  figures.peakWasReset = reset != 0;
  return figures;
}

}  // namespace Tessel::Bench
