// DateTime: OLE Automation dates, the calendar arithmetic, text in and out.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <limits>
#include <string>

#include "TesselWrapper/Errors.h"
#include "TesselWrapper/data/DateTime.h"

namespace Tessel::Data {
namespace {

TEST(FromOADate, ConvertsLegalValues) {
  const struct {
    double oaDate;
    const char* expected;
  } cases[] = {
      {0.0, "1899-12-30 00:00:00"},
      {1.5, "1899-12-31 12:00:00"},
      {-1.5, "1899-12-29 12:00:00"},  // whole days backwards, the time forwards
      {0.25, "1899-12-30 06:00:00"},
      {-0.25, "1899-12-30 06:00:00"},
      {5.8e-9, "1899-12-30 00:00:00.001"},  // 0.501 ms rounds up
      {36526.5, "2000-01-01 12:00:00"},
      {45000.0, "2023-03-15 00:00:00"},
      {-657434.0, "0100-01-01 00:00:00"},
      {-657434.5, "0100-01-01 12:00:00"},
      {2958465.0, "9999-12-31 00:00:00"},
      {2958465.99999999, "9999-12-31 23:59:59.999"},
      // The whole value is rounded before the days are split off: this is
      // exactly -2 days.
      {-1.9999999999, "1899-12-28 00:00:00"},
      {-1.99999, "1899-12-29 23:59:59.136"},
      // Rounded as one product, not day and fraction apart.
      // (the fraction alone would give 02:26:06.540).
      {35320.10146458912, "1996-09-12 02:26:06.541"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.oaDate);
    EXPECT_EQ(DateTime::FromOADate(c.oaDate).ToString(), c.expected);
  }
}

TEST(FromOADate, RefusesValuesOutsideTheRange) {
  const struct {
    double oaDate;
    const char* named;
  } cases[] = {
      {-657435.0, "-657435"},
      {2958466.0, "2958466"},
      {2958465.9999999944, "2958465.9999999944"},  // rounds into the year 10000
      {1e300, "1E+300"},
      {std::numeric_limits<double>::quiet_NaN(), "NaN"},
      {std::numeric_limits<double>::infinity(), "Infinity"},
      {-std::numeric_limits<double>::infinity(), "-Infinity"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.named);
    try {
      DateTime::FromOADate(c.oaDate);
      ADD_FAILURE() << "accepted";
    } catch (const ArgumentError& e) {
      EXPECT_EQ(std::string(e.what()), std::string(c.named) + " is not a legal OLE Automation date");
    }
  }
}

// ToOADate gives the day number FromOADate reads back as the same date and
// time rounded to whole milliseconds, across the whole range, on both sides
// of day 0 where whole days count backwards but the time forwards.
TEST(ToOADate, IsUndoneByFromOADate) {
  const struct {
    DateTime when;
    double oaDate;  // exactly, where the value is one
  } known[] = {
      {DateTime(1899, 12, 30), 0.0},        {DateTime(1899, 12, 31, 12), 1.5},
      {DateTime(1899, 12, 29, 12), -1.5},   {DateTime(1899, 12, 29, 18), -1.75},
      {DateTime(1899, 12, 28), -2.0},       {DateTime(2000, 1, 1, 12), 36526.5},
      {DateTime(2023, 3, 15), 45000.0},     {DateTime(100, 1, 1), -657434.0},
      {DateTime(100, 1, 1, 12), -657434.5}, {DateTime(9999, 12, 31), 2958465.0},
  };
  for (const auto& c : known) {
    SCOPED_TRACE(c.when.ToString());
    EXPECT_EQ(c.when.ToOADate(), c.oaDate);
  }
  // A walk over the range in steps that land on every time of day.
  const std::int64_t first = DateTime(100, 1, 1).Ticks();
  const std::int64_t step = 7 * DateTime::kTicksPerDay + 3 * 3600 * DateTime::kTicksPerSecond + 12'345'678;
  for (std::int64_t ticks = first; ticks <= DateTime::kMaxTicks - DateTime::kTicksPerSecond; ticks += step) {
    const DateTime when(ticks);
    const std::int64_t rounded = (ticks + DateTime::kTicksPerMillisecond / 2) /
                                 DateTime::kTicksPerMillisecond * DateTime::kTicksPerMillisecond;
    const DateTime back = DateTime::FromOADate(when.ToOADate());
    if (back.Ticks() != rounded) FAIL() << when.ToString() << " came back as " << back.ToString();
  }
}

// Before day 0, a time within half a millisecond of midnight belongs to the
// next day; rounding the time of day apart from the days once gave a day
// number two days early.
TEST(ToOADate, RoundsTheWholeValueOnce) {
  const struct {
    const char* text;
    const char* back;
  } cases[] = {
      {"1850-06-30 23:59:59.9996", "1850-07-01 00:00:00"},
      {"1850-06-30 23:59:59.9994", "1850-06-30 23:59:59.999"},
      {"1899-12-29 23:59:59.9995", "1899-12-30 00:00:00"},
      {"1899-12-30 23:59:59.9995", "1899-12-31 00:00:00"},
      {"0100-01-01 23:59:59.9999999", "0100-01-02 00:00:00"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(DateTime::FromOADate(DateTime::Parse(c.text).ToOADate()).ToString(), c.back);
  }
}

TEST(ToOADate, RefusesWhatNoDayNumberCarries) {
  for (const char* text : {"0001-01-01", "0099-12-31 23:59:59.999", "0099-12-31 23:59:59.9994",
                           "9999-12-31 23:59:59.9995", "9999-12-31 23:59:59.9999999"}) {
    SCOPED_TRACE(text);
    EXPECT_THROW(DateTime::Parse(text).ToOADate(), ArgumentError);
  }
  EXPECT_NO_THROW(DateTime::Parse("0099-12-31 23:59:59.9995").ToOADate());  // rounds up into the year 100
  EXPECT_NO_THROW(DateTime::Parse("9999-12-31 23:59:59.9994").ToOADate());
}

TEST(DateTime, FromASystemClockInstant) {
  using namespace std::chrono;
  EXPECT_EQ(DateTime(sys_days{year{1970} / 1 / 1}), DateTime(1970, 1, 1));
  EXPECT_EQ(
      DateTime(sys_days{year{2024} / 2 / 29} + hours{13} + minutes{14} + seconds{15} + milliseconds{16}),
      DateTime(2024, 2, 29, 13, 14, 15, 16));
  // Finer than a tick is cut towards the past, before the epoch as after it.
  EXPECT_EQ(DateTime(sys_days{year{2024} / 1 / 1} + nanoseconds{199}).Ticks(),
            DateTime(2024, 1, 1).Ticks() + 1);
  EXPECT_EQ(DateTime(sys_days{year{1969} / 12 / 31} + nanoseconds{199}).Ticks(),
            DateTime(1969, 12, 31).Ticks() + 1);
  EXPECT_EQ(DateTime(sys_seconds{seconds{-1}} + nanoseconds{1}).ToString(), "1969-12-31 23:59:59");
  EXPECT_EQ(DateTime(sys_days{year{1} / 1 / 1}).Ticks(), 0);
  using Tick = duration<std::int64_t, std::ratio<1, 10'000'000>>;  // nanoseconds overflow 292 years out
  EXPECT_EQ(DateTime(sys_days{year{10000} / 1 / 1} - Tick{1}).Ticks(), DateTime::kMaxTicks);
  EXPECT_THROW(DateTime(sys_days{year{10000} / 1 / 1}), ArgumentError);
  EXPECT_THROW(DateTime(sys_days{year{0} / 12 / 31}), ArgumentError);
  // The clock itself: now lies in the range, and its day number is now.
  const DateTime now(system_clock::now());
  EXPECT_GE(now.Year(), 2024);
  EXPECT_LE(std::abs(DateTime::FromOADate(now.ToOADate()).Ticks() - now.Ticks()),
            DateTime::kTicksPerMillisecond / 2);
}

TEST(DateTime, ConstructorAndFieldsAgree) {
  const DateTime d(2023, 3, 15, 13, 14, 15, 16);
  EXPECT_EQ(d.Year(), 2023);
  EXPECT_EQ(d.Month(), 3);
  EXPECT_EQ(d.Day(), 15);
  EXPECT_EQ(d.Hour(), 13);
  EXPECT_EQ(d.Minute(), 14);
  EXPECT_EQ(d.Second(), 15);
  EXPECT_EQ(d.Millisecond(), 16);
  EXPECT_EQ(d, DateTime::FromOADate(45000.0 + (13 * 3600 + 14 * 60 + 15.016) / 86400.0));
  EXPECT_EQ(DateTime(1, 1, 1).Ticks(), 0);
  EXPECT_EQ(DateTime(9999, 12, 31, 23, 59, 59, 999).Ticks(), DateTime::kMaxTicks - 9999);
}

TEST(DateTime, EveryDayOfTheRangeMatchesTheCalendar) {
  // Walks all 3,652,059 days with a plain day counter and checks the
  // era-based arithmetic against it in both directions.
  int year = 1, month = 1, day = 1;
  const auto daysIn = [](int y, int m) {
    const bool leap = y % 4 == 0 && (y % 100 != 0 || y % 400 == 0);
    const int days[] = {31, leap ? 29 : 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return days[m - 1];
  };
  for (std::int64_t n = 0; n < 3'652'059; ++n) {
    const DateTime d(n * DateTime::kTicksPerDay);
    if (d.Year() != year || d.Month() != month || d.Day() != day ||
        DateTime(year, month, day).Ticks() != d.Ticks()) {
      FAIL() << "day " << n << " is " << d.ToString() << ", expected " << year << "-" << month << "-" << day;
    }
    if (++day > daysIn(year, month)) {
      day = 1;
      if (++month > 12) {
        month = 1;
        ++year;
      }
    }
  }
  EXPECT_EQ(year, 10000);
}

TEST(DateTime, RefusesDatesThatDoNotExist) {
  const int cases[][7] = {
      {2023, 2, 29, 0, 0, 0, 0},   {1900, 2, 29, 0, 0, 0, 0}, {0, 1, 1, 0, 0, 0, 0},
      {10000, 1, 1, 0, 0, 0, 0},   {2023, 13, 1, 0, 0, 0, 0}, {2023, 4, 31, 0, 0, 0, 0},
      {2023, 1, 1, 24, 0, 0, 0},   {2023, 1, 1, 0, 60, 0, 0}, {2023, 1, 1, 0, 0, 60, 0},
      {2023, 1, 1, 0, 0, 0, 1000}, {2023, 1, 1, 0, 0, 0, -1},
  };
  for (const auto& c : cases) {
    EXPECT_THROW(DateTime(c[0], c[1], c[2], c[3], c[4], c[5], c[6]), ArgumentError)
        << c[0] << "-" << c[1] << "-" << c[2] << " " << c[3] << ":" << c[4] << ":" << c[5] << "." << c[6];
  }
  EXPECT_NO_THROW(DateTime(2000, 2, 29));
  EXPECT_THROW(DateTime(std::int64_t{-1}), ArgumentError);
  EXPECT_THROW(DateTime(DateTime::kMaxTicks + 1), ArgumentError);
}

TEST(DateTimeText, ParseAndToString) {
  const struct {
    const char* text;
    const char* expected;
  } cases[] = {
      {"2023-01-02", "2023-01-02 00:00:00"},
      {"2023-01-02 03:04", "2023-01-02 03:04:00"},
      {"2023-01-02T03:04:05", "2023-01-02 03:04:05"},
      {"2023-01-02 03:04:05.5", "2023-01-02 03:04:05.500"},
      {"2023-01-02 03:04:05.123", "2023-01-02 03:04:05.123"},
      {"2023-01-02 03:04:05.000", "2023-01-02 03:04:05"},
      {"2023-01-02 03:04:05.0001", "2023-01-02 03:04:05.0001"},
      {"2023-01-02 03:04:05.1234567", "2023-01-02 03:04:05.1234567"},
      {"2024-02-29 23:59:59", "2024-02-29 23:59:59"},
      {"0001-01-01", "0001-01-01 00:00:00"},
      {"9999-12-31 23:59:59.9999999", "9999-12-31 23:59:59.9999999"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const DateTime parsed = DateTime::Parse(c.text);
    EXPECT_EQ(parsed.ToString(), c.expected);
    EXPECT_EQ(DateTime::Parse(parsed.ToString()), parsed);
  }
  EXPECT_EQ(DateTime(DateTime::kMaxTicks).ToString(), "9999-12-31 23:59:59.9999999");
}

TEST(DateTimeText, ParseRefusesOtherForms) {
  for (const char* text :
       {"", "2023-1-02", "2023/01/02", " 2023-01-02", "2023-01-02 ", "2023-01-02x", "2023-01-02 3:04",
        "2023-01-02 03", "2023-01-02 03:04:05.", "2023-01-02 03:04:05.12345678", "2023-01-02 03:04:05Z",
        "2023-02-29", "1900-02-29", "0000-01-01", "2023-13-01", "2023-01-02 24:00", "2023-01-02 03:60",
        "+2023-01-02", "20230102"}) {
    SCOPED_TRACE(text);
    try {
      DateTime::Parse(text);
      ADD_FAILURE() << "accepted";
    } catch (const InvalidCastError& e) {
      EXPECT_NE(std::string(e.what()).find(std::string("'") + text + "'"), std::string::npos) << e.what();
    }
  }
}

}  // namespace
}  // namespace Tessel::Data
