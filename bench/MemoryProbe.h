// Bytes of memory per row of a road, measured in a process of its own.
//
// The parent runs this executable again with --memory-child; the child makes
// the dataset, resets its resident high-water mark, stages every row through
// the bridge (or builds every SqlRow record of the queued road), reads the
// high-water mark, flushes (or hands the queue to BulkToTable), checks the
// table, and prints its figures on one line. A separate process keeps what earlier roads
// left in the allocator from hiding (or inflating) the growth.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace Tessel::Bench {

enum class MemoryRoad { Staging, Queued };

struct MemoryFigures {
  std::uint64_t rssBefore = 0;    // resident bytes before the first row
  std::uint64_t peakStaged = 0;   // high-water mark after the last AddCurRow (the last record built)
  std::uint64_t peakFlushed = 0;  // high-water mark after the flush (BulkToTable) returned
  bool peakWasReset = false;      // false: the kernel could not reset VmHWM
};

// The child's side: runs the probe on an SQLite file at `path` and prints the
// figures to stdout. Returns the process exit code; errors go to stderr.
int RunMemoryChild(std::size_t rows, std::uint64_t seed, const std::string& path, MemoryRoad road);

// The parent's side: runs `self` (this executable) as the child and parses
// its line. Throws std::runtime_error with the child's exit status when it
// fails.
MemoryFigures RunMemoryProbe(const std::string& self, std::size_t rows, std::uint64_t seed,
                             const std::string& path, MemoryRoad road);

}  // namespace Tessel::Bench
