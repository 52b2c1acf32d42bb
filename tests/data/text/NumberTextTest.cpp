// Numbers as invariant text: the shortest round-trip form of doubles and the
// parsers the table model and backends share.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "data/NumberText.h"

namespace Tessel::Data {
namespace {

TEST(FormatDouble, ShortestRoundTripText) {
  const struct {
    double value;
    const char* expected;
  } cases[] = {
      {0.1, "0.1"},
      {0.1 + 0.2, "0.30000000000000004"},
      {1.5, "1.5"},
      {-2.5, "-2.5"},
      {42.0, "42"},
      {123.456, "123.456"},
      {1e-4, "0.0001"},
      {0.00012345, "0.00012345"},
      {1e-5, "1E-05"},
      {1.2345e-5, "1.2345E-05"},
      {1e14, "100000000000000"},
      {123456789012345.6, "123456789012345.6"},
      {1e15, "1E+15"},
      {1234567890123456.7, "1.2345678901234568E+15"},
      {123456789012345680.0, "1.2345678901234568E+17"},
      {1e20, "1E+20"},
      {-1e20, "-1E+20"},
      {1e308, "1E+308"},
      {std::numeric_limits<double>::max(), "1.7976931348623157E+308"},
      {std::numeric_limits<double>::denorm_min(), "5E-324"},
      {0.0, "0"},
      {-0.0, "-0"},
      {std::numeric_limits<double>::quiet_NaN(), "NaN"},
      {std::numeric_limits<double>::infinity(), "Infinity"},
      {-std::numeric_limits<double>::infinity(), "-Infinity"},
  };
  std::string buffer = "prefix:";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expected);
    EXPECT_EQ(FormatDouble(c.value), c.expected);
    AppendDouble(c.value, buffer);
    buffer += ';';
  }
  EXPECT_EQ(buffer.rfind("prefix:0.1;0.30000000000000004;", 0), 0u);
}

TEST(FormatDouble, ReadsBackBitForBit) {
  std::mt19937_64 random(20240601);
  for (int i = 0; i < 20000; ++i) {
    const std::uint64_t bits = random();
    double value;
    std::memcpy(&value, &bits, sizeof value);
    if (!std::isfinite(value)) continue;
    const std::string text = FormatDouble(value);
    double back = 0;
    ASSERT_TRUE(ParseDouble(text, back)) << text;
    ASSERT_EQ(std::memcmp(&back, &value, sizeof value), 0) << text;
  }
}

TEST(ParseInt64, AcceptsSignedDecimalDigitsOnly) {
  const struct {
    const char* text;
    ParseOutcome outcome;
    std::int64_t value;
  } cases[] = {
      {"12", ParseOutcome::Ok, 12},
      {" -7 ", ParseOutcome::Ok, -7},
      {"+3", ParseOutcome::Ok, 3},
      {"\t42\r\n", ParseOutcome::Ok, 42},
      {"-0", ParseOutcome::Ok, 0},
      {"007", ParseOutcome::Ok, 7},
      {"9223372036854775807", ParseOutcome::Ok, std::numeric_limits<std::int64_t>::max()},
      {"-9223372036854775808", ParseOutcome::Ok, std::numeric_limits<std::int64_t>::min()},
      {"9223372036854775808", ParseOutcome::OutOfRange, 0},
      {"-9223372036854775809", ParseOutcome::OutOfRange, 0},
      {"99999999999999999999", ParseOutcome::OutOfRange, 0},
      {"", ParseOutcome::Malformed, 0},
      {"  ", ParseOutcome::Malformed, 0},
      {"12.0", ParseOutcome::Malformed, 0},
      {"1,000", ParseOutcome::Malformed, 0},
      {"1 2", ParseOutcome::Malformed, 0},
      {"abc", ParseOutcome::Malformed, 0},
      {"0x10", ParseOutcome::Malformed, 0},
      {"1e3", ParseOutcome::Malformed, 0},
      {"+", ParseOutcome::Malformed, 0},
      {"-", ParseOutcome::Malformed, 0},
      {"+-1", ParseOutcome::Malformed, 0},
      {"-+1", ParseOutcome::Malformed, 0},
      {"--1", ParseOutcome::Malformed, 0},
      {"- 1", ParseOutcome::Malformed, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    std::int64_t value = 555;
    EXPECT_EQ(TryParseInt64(c.text, value), c.outcome);
    EXPECT_EQ(value, c.outcome == ParseOutcome::Ok ? c.value : 555);
    EXPECT_EQ(ParseInt64(c.text, value), c.outcome == ParseOutcome::Ok);
  }
}

TEST(ParseDouble, AcceptsInvariantDecimalText) {
  const struct {
    const char* text;
    ParseOutcome outcome;
    double value;
  } cases[] = {
      {"1.5", ParseOutcome::Ok, 1.5},
      {" -2.25 ", ParseOutcome::Ok, -2.25},
      {"+3", ParseOutcome::Ok, 3.0},
      {".5", ParseOutcome::Ok, 0.5},
      {"5.", ParseOutcome::Ok, 5.0},
      {"1e3", ParseOutcome::Ok, 1000.0},
      {"1E+20", ParseOutcome::Ok, 1e20},
      {"-1E-05", ParseOutcome::Ok, -1e-5},
      {"0.30000000000000004", ParseOutcome::Ok, 0.1 + 0.2},
      {"Infinity", ParseOutcome::Ok, std::numeric_limits<double>::infinity()},
      {"-Infinity", ParseOutcome::Ok, -std::numeric_limits<double>::infinity()},
      {"+INFINITY", ParseOutcome::Ok, std::numeric_limits<double>::infinity()},
      {"inf", ParseOutcome::Malformed, 0},
      {"nan(1)", ParseOutcome::Malformed, 0},
      {"1e-400", ParseOutcome::Ok, 0.0},
      {"0.000000000000000000000000000000000000001e-300", ParseOutcome::Ok, 0.0},
      {"1e400", ParseOutcome::OutOfRange, 0},
      {"-1e400", ParseOutcome::OutOfRange, 0},
      {"1000000e303", ParseOutcome::OutOfRange, 0},
      {"", ParseOutcome::Malformed, 0},
      {"1,5", ParseOutcome::Malformed, 0},
      {"1.2.3", ParseOutcome::Malformed, 0},
      {"e5", ParseOutcome::Malformed, 0},
      {"1e", ParseOutcome::Malformed, 0},
      {"--1", ParseOutcome::Malformed, 0},
      {"+-1", ParseOutcome::Malformed, 0},
      {"0x1p3", ParseOutcome::Malformed, 0},
      {"1 000", ParseOutcome::Malformed, 0},
      {"1.5f", ParseOutcome::Malformed, 0},
      {"abc", ParseOutcome::Malformed, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    double value = 555;
    EXPECT_EQ(TryParseDouble(c.text, value), c.outcome);
    EXPECT_EQ(value, c.outcome == ParseOutcome::Ok ? c.value : 555);
  }
  double value = 0;
  ASSERT_TRUE(ParseDouble(" nan ", value));
  EXPECT_TRUE(std::isnan(value));
  ASSERT_TRUE(ParseDouble("-1e-400", value));
  EXPECT_TRUE(value == 0 && std::signbit(value));
}

}  // namespace
}  // namespace Tessel::Data

namespace Tessel::Data {
namespace {

// Text a machine wrote is read exactly; narrower integer types refuse what
// they cannot hold instead of wrapping.
TEST(NumberSyntax, ExactRefusesSpaceAndNarrowTypesRefuseOverflow) {
  std::int64_t wide = 0;
  double real = 0;
  EXPECT_TRUE(ParseInt64(" 12 ", wide));
  EXPECT_FALSE(ParseInt64(" 12", wide, kExact));
  EXPECT_FALSE(ParseDouble("1.5 ", real, kExact));
  EXPECT_TRUE(ParseDouble("-Infinity", real, kExact));
  EXPECT_EQ(real, -std::numeric_limits<double>::infinity());

  std::int16_t small = 7;
  EXPECT_EQ(TryParseInteger<std::int16_t>("32767", small), ParseOutcome::Ok);
  EXPECT_EQ(small, 32767);
  EXPECT_EQ(TryParseInteger<std::int16_t>("32768", small), ParseOutcome::OutOfRange);
  EXPECT_EQ(TryParseInteger<std::int16_t>("-32769", small), ParseOutcome::OutOfRange);
  EXPECT_EQ(small, 32767) << "a refused text leaves the target alone";
  std::int32_t medium = 0;
  EXPECT_EQ(TryParseInteger<std::int32_t>("-2147483648", medium), ParseOutcome::Ok);
  EXPECT_EQ(medium, INT32_MIN);
  EXPECT_EQ(TryParseInteger<std::int32_t>("2147483648", medium), ParseOutcome::OutOfRange);
  EXPECT_EQ(TryParseInteger<std::int32_t>("1e3", medium), ParseOutcome::Malformed);
}

}  // namespace
}  // namespace Tessel::Data
