#include "TesselWrapper/data/DateTime.h"

#include <cmath>
#include <string_view>

#include "TesselWrapper/Errors.h"
#include "data/NumberText.h"
#include "data/Quoted.h"

namespace Tessel::Data {
namespace {

constexpr std::int64_t kMillisecondsPerDay = 86'400'000;
// Days from 0001-01-01 to 1899-12-30, day 0 of OLE Automation dates.
constexpr std::int64_t kDaysToOADateEpoch = 693'593;
// Days from 0001-01-01 to 10000-01-01: the first day past the range.
constexpr std::int64_t kDaysTo10000 = 3'652'059;
// Days from 0001-01-01 to 0100-01-01: OLE Automation dates start there.
constexpr std::int64_t kDaysTo0100 = 36'159;
// Days from 0001-01-01 to 1970-01-01, the system clock's epoch.
constexpr std::int64_t kDaysToUnixEpoch = 719'162;

constexpr bool IsLeapYear(int year) noexcept { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

constexpr int DaysInMonth(int year, int month) noexcept {
  constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Proleptic Gregorian calendar arithmetic on days since 0001-01-01, done on
// 400-year eras that start on 1 March so that the leap day ends each year.
constexpr std::int64_t DaysFromCivil(int year, int month, int day) noexcept {
  const std::int64_t y = year - (month <= 2 ? 1 : 0);  // >= 0 for year >= 1
  const std::int64_t era = y / 400;
  const std::int64_t yearOfEra = y - era * 400;
  const std::int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146'097 + dayOfEra - 306;  // 0000-03-01 is 306 days before 0001-01-01
}

struct CivilDate {
  int year, month, day;
};

constexpr CivilDate CivilFromDays(std::int64_t days) noexcept {
  const std::int64_t z = days + 306;
  const std::int64_t era = z / 146'097;
  const std::int64_t dayOfEra = z - era * 146'097;
  const std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36'524 - dayOfEra / 146'096) / 365;
  const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const std::int64_t mp = (5 * dayOfYear + 2) / 153;
  const int day = static_cast<int>(dayOfYear - (153 * mp + 2) / 5 + 1);
  const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  const int year = static_cast<int>(yearOfEra + era * 400 + (month <= 2 ? 1 : 0));
  return {year, month, day};
}

static_assert(DaysFromCivil(1, 1, 1) == 0);
static_assert(DaysFromCivil(1899, 12, 30) == kDaysToOADateEpoch);
static_assert(DaysFromCivil(10000, 1, 1) == kDaysTo10000);
static_assert(DaysFromCivil(100, 1, 1) == kDaysTo0100);
static_assert(DaysFromCivil(1970, 1, 1) == kDaysToUnixEpoch);

bool IsValidDate(int year, int month, int day) noexcept {
  return year >= 1 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 &&
         day <= DaysInMonth(year, month);
}

bool IsValidTime(int hour, int minute, int second) noexcept {
  return hour >= 0 && hour < 24 && minute >= 0 && minute < 60 && second >= 0 && second < 60;
}

// Writes `value` as exactly `width` digits (value is non-negative).
void AppendDigits(std::string& out, std::int64_t value, int width) {
  char digits[20];
  for (int i = width - 1; i >= 0; --i) {
    digits[i] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
  out.append(digits, static_cast<std::size_t>(width));
}

// A cursor over the text being parsed.
class Scanner {
 public:
  explicit Scanner(std::string_view text) : text_(text) {}

  bool AtEnd() const noexcept { return pos_ == text_.size(); }
  bool Take(char c) noexcept {
    if (AtEnd() || text_[pos_] != c) return false;
    ++pos_;
    return true;
  }
  // Exactly `count` digits.
  bool Number(int count, int& value) noexcept {
    value = 0;
    for (int i = 0; i < count; ++i, ++pos_) {
      if (AtEnd() || text_[pos_] < '0' || text_[pos_] > '9') return false;
      value = value * 10 + (text_[pos_] - '0');
    }
    return true;
  }
  // One to seven digits of a fraction of a second, as ticks.
  bool Fraction(std::int64_t& ticks) noexcept {
    ticks = 0;
    int count = 0;
    for (; !AtEnd() && text_[pos_] >= '0' && text_[pos_] <= '9'; ++pos_, ++count) {
      if (count == 7) return false;
      ticks = ticks * 10 + (text_[pos_] - '0');
    }
    if (count == 0) return false;
    for (; count < 7; ++count) ticks *= 10;
    return true;
  }

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
};

}  // namespace

DateTime::DateTime(std::int64_t ticks) : ticks_(ticks) {
  if (ticks < 0 || ticks > kMaxTicks) {
    throw ArgumentError("ticks value " + std::to_string(ticks) +
                        " lies outside the range of a date and time (0 to " + std::to_string(kMaxTicks) +
                        ")");
  }
}

DateTime::DateTime(int year, int month, int day, int hour, int minute, int second, int millisecond) {
  if (!IsValidDate(year, month, day) || !IsValidTime(hour, minute, second) || millisecond < 0 ||
      millisecond > 999) {
    throw ArgumentError("year " + std::to_string(year) + ", month " + std::to_string(month) + ", day " +
                        std::to_string(day) + ", " + std::to_string(hour) + ":" + std::to_string(minute) +
                        ":" + std::to_string(second) + "." + std::to_string(millisecond) +
                        " is not an existing date and time");
  }
  const std::int64_t seconds = DaysFromCivil(year, month, day) * 86'400 + hour * 3600 + minute * 60 + second;
  ticks_ = seconds * kTicksPerSecond + millisecond * kTicksPerMillisecond;
}

DateTime DateTime::FromOADate(double oaDate) {
  // The comparison is written so that NaN fails it too.
  if (!(oaDate > -657'435.0 && oaDate < 2'958'466.0)) {
    throw ArgumentError(FormatDouble(oaDate) + " is not a legal OLE Automation date");
  }
  // The whole value is rounded to milliseconds first (half away from zero),
  // as the platform does, so every caller sees the same millisecond for the
  // same double. Whole days then count backwards from day 0 for negative
  // values while the remainder is still a time of day counted forwards from
  // midnight: -1.5 is 1899-12-29 12:00, and -1.9999999999, which rounds to
  // exactly -2 days, is 1899-12-28.
  std::int64_t milliseconds = std::llround(oaDate * static_cast<double>(kMillisecondsPerDay));
  if (milliseconds < 0) milliseconds -= (milliseconds % kMillisecondsPerDay) * 2;
  milliseconds += kDaysToOADateEpoch * kMillisecondsPerDay;
  // Values just below the upper bound round up into the year 10000.
  if (milliseconds < 0 || milliseconds >= kDaysTo10000 * kMillisecondsPerDay) {
    throw ArgumentError(FormatDouble(oaDate) + " is not a legal OLE Automation date");
  }
  return DateTime(milliseconds * kTicksPerMillisecond);
}

DateTime DateTime::FromUnixTicks(std::int64_t ticks) {
  constexpr std::int64_t kEpoch = kDaysToUnixEpoch * kTicksPerDay;
  if (ticks < -kEpoch || ticks > kMaxTicks - kEpoch) {
    throw ArgumentError("the instant " + std::to_string(ticks / kTicksPerSecond) +
                        " s from 1970-01-01 lies outside the range of a date and time (years 1 to 9999)");
  }
  return DateTime(ticks + kEpoch);
}

double DateTime::ToOADate() const {
  // Ticks are never negative, so rounding half up here is rounding the whole
  // value once. Rounding the time of day on its own instead would let
  // 23:59:59.9996 of a day before 1899-12-30 become a whole day of -1.0 on
  // top of the day already counted, two days early.
  const std::int64_t milliseconds = (ticks_ + kTicksPerMillisecond / 2) / kTicksPerMillisecond;
  if (milliseconds < kDaysTo0100 * kMillisecondsPerDay ||
      milliseconds >= kDaysTo10000 * kMillisecondsPerDay) {
    throw ArgumentError(ToString() + " has no OLE Automation date (those run from 0100-01-01 to " +
                        "9999-12-31 23:59:59.999)");
  }
  const std::int64_t fromEpoch = milliseconds - kDaysToOADateEpoch * kMillisecondsPerDay;
  // Whole days count backwards from day 0 for earlier dates while the
  // fraction stays the time of day counted forwards: 1899-12-29 12:00 is
  // -1.5, not -0.5.
  std::int64_t days = fromEpoch / kMillisecondsPerDay;
  std::int64_t timeOfDay = fromEpoch % kMillisecondsPerDay;
  if (timeOfDay < 0) {
    days -= 1;
    timeOfDay += kMillisecondsPerDay;
  }
  const double fraction = static_cast<double>(timeOfDay) / static_cast<double>(kMillisecondsPerDay);
  return days >= 0 ? static_cast<double>(days) + fraction : static_cast<double>(days) - fraction;
}

DateTime DateTime::Parse(std::string_view text) {
  Scanner in(text);
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  std::int64_t fraction = 0;
  bool ok = in.Number(4, year) && in.Take('-') && in.Number(2, month) && in.Take('-') && in.Number(2, day);
  if (ok && !in.AtEnd()) {
    ok = (in.Take(' ') || in.Take('T')) && in.Number(2, hour) && in.Take(':') && in.Number(2, minute);
    if (ok && in.Take(':')) {
      ok = in.Number(2, second) && (!in.Take('.') || in.Fraction(fraction));
    }
  }
  ok = ok && in.AtEnd() && IsValidDate(year, month, day) && IsValidTime(hour, minute, second);
  if (!ok) {
    throw InvalidCastError(QuotedExcerpt(text) +
                           " is not a date and time of the form YYYY-MM-DD[ HH:MM[:SS[.fffffff]]]");
  }
  const std::int64_t seconds = DaysFromCivil(year, month, day) * 86'400 + hour * 3600 + minute * 60 + second;
  return DateTime(seconds * kTicksPerSecond + fraction);
}

int DateTime::Year() const noexcept { return CivilFromDays(ticks_ / kTicksPerDay).year; }
int DateTime::Month() const noexcept { return CivilFromDays(ticks_ / kTicksPerDay).month; }
int DateTime::Day() const noexcept { return CivilFromDays(ticks_ / kTicksPerDay).day; }
int DateTime::Hour() const noexcept { return static_cast<int>(ticks_ / (3600 * kTicksPerSecond) % 24); }
int DateTime::Minute() const noexcept { return static_cast<int>(ticks_ / (60 * kTicksPerSecond) % 60); }
int DateTime::Second() const noexcept { return static_cast<int>(ticks_ / kTicksPerSecond % 60); }
int DateTime::Millisecond() const noexcept { return static_cast<int>(ticks_ / kTicksPerMillisecond % 1000); }

std::string DateTime::ToString() const {
  const CivilDate date = CivilFromDays(ticks_ / kTicksPerDay);
  std::string out;
  out.reserve(27);
  AppendDigits(out, date.year, 4);
  out += '-';
  AppendDigits(out, date.month, 2);
  out += '-';
  AppendDigits(out, date.day, 2);
  out += ' ';
  AppendDigits(out, Hour(), 2);
  out += ':';
  AppendDigits(out, Minute(), 2);
  out += ':';
  AppendDigits(out, Second(), 2);
  const std::int64_t subsecond = ticks_ % kTicksPerSecond;
  if (subsecond != 0) {
    // Milliseconds always; finer digits only as far as they are set.
    out += '.';
    AppendDigits(out, subsecond, 7);
    while (out.size() > 23 && out.back() == '0') out.pop_back();
  }
  return out;
}

}  // namespace Tessel::Data
