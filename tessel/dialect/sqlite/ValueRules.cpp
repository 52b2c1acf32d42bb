#include "tessel/dialect/sqlite/ValueRules.h"

#include "tessel/CivilDate.h"

namespace Tessel::Sqlite {
namespace {

// "00" to "99", two characters per value: a date is written two digits at a
// time, with 32-bit arithmetic, since the writer formats one per date cell.
constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

char* PutTwo(char* p, unsigned value) noexcept {
  p[0] = kDigitPairs[2 * value];
  p[1] = kDigitPairs[2 * value + 1];
  return p + 2;
}

}  // namespace

ValueLimits Limits(std::uint64_t maxLength) noexcept { return ValueLimits{"SQLite", "NULL", maxLength}; }

std::size_t FormatIsoDateTime(Data::DateTime value, char (&out)[kIsoDateTimeCapacity]) noexcept {
  // A DateTime holds 0 to DateTime::kMaxTicks: years 1 to 9999.
  const std::int64_t ticks = value.Ticks();
  const std::int64_t days = ticks / Data::DateTime::kTicksPerDay;
  const std::int64_t dayTicks = ticks % Data::DateTime::kTicksPerDay;
  const auto seconds = static_cast<unsigned>(dayTicks / Data::DateTime::kTicksPerSecond);
  auto fraction = static_cast<unsigned>(dayTicks % Data::DateTime::kTicksPerSecond);  // 7 digits
  const CivilDate date = CivilFromDays(days);
  const auto year = static_cast<unsigned>(date.year);

  char* p = out;
  p = PutTwo(p, year / 100);
  p = PutTwo(p, year % 100);
  *p++ = '-';
  p = PutTwo(p, date.month);
  *p++ = '-';
  p = PutTwo(p, date.day);
  *p++ = ' ';
  p = PutTwo(p, seconds / 3600);
  *p++ = ':';
  p = PutTwo(p, seconds / 60 % 60);
  *p++ = ':';
  p = PutTwo(p, seconds % 60);
  if (fraction != 0) {
    // Seven digits, then the trailing zeros dropped, keeping at least three.
    *p++ = '.';
    char* digits = p;
    *p++ = static_cast<char>('0' + fraction / 1'000'000);
    fraction %= 1'000'000;
    p = PutTwo(p, fraction / 10'000);
    p = PutTwo(p, fraction / 100 % 100);
    p = PutTwo(p, fraction % 100);
    while (p > digits + 3 && p[-1] == '0') --p;
  }
  return static_cast<std::size_t>(p - out);
}

std::size_t FormatStoredDate(Data::DateTime value, bool dayColumn,
                             char (&out)[kIsoDateTimeCapacity]) noexcept {
  const std::size_t n = FormatIsoDateTime(value, out);
  constexpr std::size_t kDayLength = 10;  // "YYYY-MM-DD"
  return dayColumn && value.Ticks() % Data::DateTime::kTicksPerDay == 0 ? kDayLength : n;
}

}  // namespace Tessel::Sqlite
