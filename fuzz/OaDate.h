// What an OLE Automation date stands for, by the rule DateTime.h documents,
// for the harnesses' date oracles: the value is rounded half away from zero
// to whole milliseconds first; whole days then count from 1899-12-30, and
// for negative days the remaining time of day still counts forwards (-1.5 is
// 1899-12-29 12:00, and -1.99999999999, which rounds to -2, is 1899-12-28).
#pragma once

#include <cmath>
#include <cstdint>

namespace Tessel::Fuzz {

constexpr std::int64_t kMillisecondsPerDay = 86400000;

// Milliseconds from 1899-12-30 00:00 on a linear time line.
inline std::int64_t OaDateMilliseconds(double oa) {
  std::int64_t ms = std::llround(oa * static_cast<double>(kMillisecondsPerDay));
  if (ms < 0) ms -= (ms % kMillisecondsPerDay) * 2;
  return ms;
}

// The same instant as a julian day number, as SQLite's julianday() gives it.
inline double OaDateJulianDay(double oa) {
  return 2415018.5 + static_cast<double>(OaDateMilliseconds(oa)) / static_cast<double>(kMillisecondsPerDay);
}

}  // namespace Tessel::Fuzz
