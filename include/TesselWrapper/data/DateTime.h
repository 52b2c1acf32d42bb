// A calendar date and time of day with 100-nanosecond resolution, from
// 0001-01-01 00:00:00 to 9999-12-31 23:59:59.9999999, without a time zone.
//
// FromOADate turns an OLE Automation date (days since 1899-12-30, the fraction
// being the time of day) into a DateTime with the rules of the platform class
// this mirrors: the input must lie strictly between -657435.0 and 2958466.0
// (NaN and infinities refused), it is rounded half away from zero to whole
// milliseconds, and for negative days the fraction still counts forwards
// (-1.5 is 1899-12-29 12:00). A refused value throws Tessel::ArgumentError.
//
// ToOADate goes the other way, for callers that hand dates to the bridge
// (AddFieldDateTimeData, SqlRow::AddDateField, DateTime routine arguments):
//
//   using Tessel::Data::DateTime;
//   double when = DateTime(2024, 3, 1, 12, 30).ToOADate();          // 45352.5208...
//   double now = DateTime(std::chrono::system_clock::now()).ToOADate();
//
// so that nobody counts days from 1899-12-30 by hand.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "TesselWrapper/Export.h"

namespace Tessel::Data {

class TESSELWRAPPER_API DateTime {
 public:
  static constexpr std::int64_t kTicksPerMillisecond = 10'000;
  static constexpr std::int64_t kTicksPerSecond = 1000 * kTicksPerMillisecond;
  static constexpr std::int64_t kTicksPerDay = 86'400 * kTicksPerSecond;
  static constexpr std::int64_t kMaxTicks = 3'652'059 * kTicksPerDay - 1;

  constexpr DateTime() = default;
  // Throws ArgumentError when `ticks` is outside 0..kMaxTicks.
  explicit DateTime(std::int64_t ticks);
  // Throws ArgumentError for a date or time that does not exist.
  DateTime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0, int millisecond = 0);
  // The calendar date and time of a system-clock instant, read as UTC.
  // Anything finer than 100 ns is cut towards the past. Throws ArgumentError
  // outside 0001-01-01 to 9999-12-31.
  template <class Duration>
  explicit DateTime(std::chrono::sys_time<Duration> instant)
      : DateTime(FromUnixTicks(std::chrono::floor<Tick>(instant).time_since_epoch().count())) {}

  static DateTime FromOADate(double oaDate);
  // The OLE Automation date of this value, which FromOADate turns back into
  // the same value rounded to whole milliseconds (half up). The time is
  // rounded once, on the whole value, before days and fraction are split.
  // Throws ArgumentError for a value no such date can carry: before
  // 0100-01-01, or rounding up into the year 10000.
  double ToOADate() const;
  // Parses "YYYY-MM-DD", "YYYY-MM-DD HH:MM[:SS[.fffffff]]" (a "T" may stand
  // for the space). Throws InvalidCastError for anything else.
  static DateTime Parse(std::string_view text);

  constexpr std::int64_t Ticks() const noexcept { return ticks_; }
  int Year() const noexcept;
  int Month() const noexcept;
  int Day() const noexcept;
  int Hour() const noexcept;
  int Minute() const noexcept;
  int Second() const noexcept;
  int Millisecond() const noexcept;

  // ISO 8601 with a space: "1899-12-30 00:00:00", with ".fff" when the
  // milliseconds are not zero (and more digits when finer ticks are set).
  std::string ToString() const;

  friend constexpr bool operator==(DateTime a, DateTime b) noexcept { return a.ticks_ == b.ticks_; }
  friend constexpr auto operator<=>(DateTime a, DateTime b) noexcept { return a.ticks_ <=> b.ticks_; }

 private:
  using Tick = std::chrono::duration<std::int64_t, std::ratio<1, kTicksPerSecond>>;
  // 100-ns ticks since 1970-01-01 00:00:00 UTC, range-checked.
  static DateTime FromUnixTicks(std::int64_t ticks);

  std::int64_t ticks_ = 0;
};

}  // namespace Tessel::Data
