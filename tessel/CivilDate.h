// Day counts to calendar dates, for the backends that write dates as text one
// cell at a time (without the allocation of DateTime::ToString).
#pragma once

#include <cstdint>

namespace Tessel {

struct CivilDate {
  int year;
  unsigned month;
  unsigned day;
};

// The proleptic Gregorian date `days` days after 0001-01-01 (days >= 0),
// by Howard Hinnant's days-to-civil algorithm.
constexpr CivilDate CivilFromDays(std::int64_t days) noexcept {
  const std::int64_t z = days + 306;  // counted from 0000-03-01, so a leap day ends its year
  const std::int64_t era = (z >= 0 ? z : z - 146'096) / 146'097;
  const auto doe = static_cast<unsigned>(z - era * 146'097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36'524 - doe / 146'096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned day = doy - (153 * mp + 2) / 5 + 1;
  const unsigned month = mp < 10 ? mp + 3 : mp - 9;
  return {static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0)), month, day};
}

static_assert(CivilFromDays(0).year == 1 && CivilFromDays(0).month == 1 && CivilFromDays(0).day == 1);
static_assert(CivilFromDays(719'162).year == 1970 && CivilFromDays(719'162).month == 1);
static_assert(CivilFromDays(730'178).year == 2000 && CivilFromDays(730'178).month == 2 &&
              CivilFromDays(730'178).day == 29);
static_assert(CivilFromDays(3'652'058).year == 9999 && CivilFromDays(3'652'058).month == 12 &&
              CivilFromDays(3'652'058).day == 31);

}  // namespace Tessel
