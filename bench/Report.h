// The benchmark's printed verdicts: one section per backend, one line per
// road, each road as rows per second and as a ratio to the section's first
// road (the baseline, measured in the same run), with its target and whether
// it is met. Times are printed beside the ratios as evidence, never as the
// verdict.
#pragma once

#include <cstddef>
#include <deque>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "bench/Measure.h"

namespace Tessel::Bench {

// One number by a printf format ("%.1f"), for the report's figures. The
// benchmark never sets a locale, so "." is the decimal point.
std::string Format(const char* format, double value);

struct RoadLine {
  std::string label;
  std::optional<double> minRatio;  // target: at least this share of the baseline's rows/s
  std::string kind = "contrast";   // what a road without a target is there for
  std::vector<Timing> runs;        // one per round; the fastest one counts
  std::string failure;             // set when a run failed or its table was wrong

  bool Failed() const noexcept { return !failure.empty(); }
  // The fastest run; nullopt when none completed.
  std::optional<Timing> Best() const;
};

struct MemoryLine {
  std::string label;
  std::optional<double> maxBytesPerRow;  // target; none: reported only
  std::optional<double> bytesPerRow;
  std::string detail;  // how it was measured
  std::string failure;
};

class Section {
 public:
  Section(std::string title, std::size_t rows) : title_(std::move(title)), rows_(rows) {}

  void AddNote(std::string note) { notes_.push_back(std::move(note)); }
  // The first road added is the baseline.
  RoadLine& AddRoad(std::string label, std::optional<double> minRatio = std::nullopt);
  MemoryLine& AddMemory(std::string label, std::optional<double> maxBytesPerRow);

  void Print(std::ostream& out) const;

  struct Tally {
    int met = 0, missed = 0, failed = 0;
  };
  Tally Count() const;

 private:
  std::optional<double> Ratio(const RoadLine& road) const;
  // The same ratio over this process's CPU seconds (information only: less
  // sensitive to other load on the machine, blind to a server's work).
  std::optional<double> CpuRatio(const RoadLine& road) const;

  std::string title_;
  std::size_t rows_;
  std::vector<std::string> notes_;
  std::deque<RoadLine> roads_;  // a deque: references from AddRoad stay valid
  std::deque<MemoryLine> memory_;
};

}  // namespace Tessel::Bench
