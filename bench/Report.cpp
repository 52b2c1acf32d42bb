#include "bench/Report.h"

#include <algorithm>
#include <cstdio>

namespace Tessel::Bench {

std::string Format(const char* format, double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, format, value);
  return buffer;
}

namespace {

// 1234567.8 -> "1,234,568"
std::string Grouped(double value) {
  std::string digits = Format("%.0f", value);
  std::string out;
  const std::size_t lead = digits.size() % 3 == 0 ? 3 : digits.size() % 3;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i != 0 && (i - lead) % 3 == 0 && i >= lead) out.push_back(',');
    out.push_back(digits[i]);
  }
  return out;
}

std::string Pad(std::string text, std::size_t width, bool right = false) {
  if (text.size() >= width) return text;
  const std::string fill(width - text.size(), ' ');
  return right ? fill + text : text + fill;
}

}  // namespace

std::optional<Timing> RoadLine::Best() const {
  if (runs.empty()) return std::nullopt;
  return *std::min_element(runs.begin(), runs.end(),
                           [](const Timing& a, const Timing& b) { return a.wallSeconds < b.wallSeconds; });
}

RoadLine& Section::AddRoad(std::string label, std::optional<double> minRatio) {
  roads_.push_back(RoadLine{std::move(label), minRatio, "contrast", {}, {}});
  return roads_.back();
}

MemoryLine& Section::AddMemory(std::string label, std::optional<double> maxBytesPerRow) {
  memory_.push_back(MemoryLine{std::move(label), maxBytesPerRow, std::nullopt, {}, {}});
  return memory_.back();
}

std::optional<double> Section::Ratio(const RoadLine& road) const {
  if (roads_.empty()) return std::nullopt;
  const auto base = roads_.front().Best();
  const auto mine = road.Best();
  if (!base || !mine || roads_.front().Failed() || road.Failed() || mine->wallSeconds <= 0)
    return std::nullopt;
  return base->wallSeconds / mine->wallSeconds;
}

std::optional<double> Section::CpuRatio(const RoadLine& road) const {
  if (roads_.empty()) return std::nullopt;
  const auto base = roads_.front().Best();
  const auto mine = road.Best();
  if (!base || !mine || roads_.front().Failed() || road.Failed() || mine->cpuSeconds <= 0)
    return std::nullopt;
  return base->cpuSeconds / mine->cpuSeconds;
}

void Section::Print(std::ostream& out) const {
  out << "\n== " << title_ << " ==\n";
  for (const auto& note : notes_) out << "   " << note << "\n";
  std::size_t labelWidth = 10;
  for (const auto& road : roads_) labelWidth = std::max(labelWidth, road.label.size());
  for (const auto& memory : memory_) labelWidth = std::max(labelWidth, memory.label.size());

  out << "\n   " << Pad("road", labelWidth) << "  " << Pad("rows/s", 12, true) << "  "
      << Pad("ratio to (a)", 12, true) << "  " << Pad("target", 8) << "  " << Pad("verdict", 7) << "  "
      << "best wall s / process cpu s (runs); cpu ratio\n";
  for (const auto& road : roads_) {
    const auto best = road.Best();
    const auto ratio = Ratio(road);
    std::string verdict = "-";
    std::string target = road.minRatio ? Format(">= %.2f", *road.minRatio) : "baseline";
    if (&road != &roads_.front() && !road.minRatio) target = road.kind;
    if (road.Failed()) {
      verdict = "FAILED";
    } else if (road.runs.empty()) {
      verdict = "not run";
    } else if (road.minRatio && ratio) {
      verdict = *ratio >= *road.minRatio ? "met" : "NOT MET";
    } else if (road.minRatio) {
      verdict = "no (a)";
    }
    out << "   " << Pad(road.label, labelWidth) << "  "
        << Pad(best && !road.Failed() ? Grouped(static_cast<double>(rows_) / best->wallSeconds) : "-", 12,
               true)
        << "  " << Pad(ratio ? Format("%.2f", *ratio) : "-", 12, true) << "  " << Pad(target, 8) << "  "
        << Pad(verdict, 7) << "  ";
    if (best) {
      out << Format("%.3f", best->wallSeconds) << " / " << Format("%.3f", best->cpuSeconds) << " ("
          << road.runs.size() << ")";
      if (const auto cpu = CpuRatio(road)) out << "; " << Format("%.2f", *cpu);
    }
    out << "\n";
    if (best && !best->phases.empty() && !road.Failed()) {
      out << "      of which";
      const char* sep = " ";
      for (const auto& [name, seconds] : best->phases) {
        out << sep << name << " " << Format("%.3f s", seconds) << " ("
            << Format("%.0f%%", 100.0 * seconds / best->wallSeconds) << ")";
        sep = ", ";
      }
      out << "\n";
    }
    if (road.Failed()) out << "      failure: " << road.failure << "\n";
  }
  for (const auto& memory : memory_) {
    std::string verdict = memory.failure.empty() ? "-" : "FAILED";
    if (memory.failure.empty() && memory.bytesPerRow && memory.maxBytesPerRow) {
      verdict = *memory.bytesPerRow <= *memory.maxBytesPerRow ? "met" : "NOT MET";
    }
    out << "   " << Pad(memory.label, labelWidth) << "  "
        << Pad(memory.bytesPerRow ? Format("%.1f B/row", *memory.bytesPerRow) : "-", 12, true) << "  "
        << Pad("", 12) << "  "
        << Pad(memory.maxBytesPerRow ? Format("<= %.0f B", *memory.maxBytesPerRow) : "report", 8) << "  "
        << Pad(verdict, 7) << "\n";
    if (!memory.detail.empty()) out << "      " << memory.detail << "\n";
    if (!memory.failure.empty()) out << "      failure: " << memory.failure << "\n";
  }
}

Section::Tally Section::Count() const {
  Tally tally;
  for (const auto& road : roads_) {
    if (road.Failed()) {
      ++tally.failed;
    } else if (road.minRatio && !road.runs.empty()) {
      const auto ratio = Ratio(road);  // none without a baseline run: no verdict
      if (ratio) ++(*ratio >= *road.minRatio ? tally.met : tally.missed);
    }
  }
  for (const auto& memory : memory_) {
    if (!memory.failure.empty()) {
      ++tally.failed;
    } else if (memory.bytesPerRow && memory.maxBytesPerRow) {
      if (*memory.bytesPerRow <= *memory.maxBytesPerRow)
        ++tally.met;
      else
        ++tally.missed;
    }
  }
  return tally;
}

}  // namespace Tessel::Bench
