// Writing a value into a row converts it to the column's type or refuses it,
// keeping the old value.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "TesselWrapper/Errors.h"
#include "TesselWrapper/data/DataTable.h"
#include "data/Convert.h"

namespace Tessel::Data {
namespace {

enum class Outcome { Stored, InvalidCast, Overflow };

struct ConversionCase {
  DataType type;
  ValueView input;
  Outcome outcome;
  Value expected;  // what Get gives after the write (when stored)
};

const std::uint8_t kBytes[] = {0x0a, 0xff};
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

ValueView I32(std::int32_t v) { return v; }
ValueView I64(std::int64_t v) { return v; }
ValueView Txt(const char* v) { return std::string_view(v); }

// A value of each column's natural kind, written before each case: a refused
// write must leave it in place.
Value OldValue(DataType type) {
  switch (type) {
    case DataType::Boolean:
      return true;
    case DataType::Int16:
    case DataType::Int32:
      return std::int32_t{77};
    case DataType::Int64:
      return std::int64_t{77};
    case DataType::Double:
      return 7.25;
    case DataType::Decimal:
      return "7.25";
    case DataType::String:
      return "old";
    case DataType::DateTime:
      return DateTime(2000, 1, 1);
    case DataType::Binary:
      return Bytes{1, 2};
  }
  return {};
}

std::vector<ConversionCase> Cases() {
  const DateTime date(2024, 1, 2, 3, 4, 5);
  const std::span<const std::uint8_t> bytes(kBytes);
  using enum DataType;  // from here on DateTime is the column type
  using enum Outcome;
  return {
      // Integers from text: sign and surrounding white space, digits only.
      {Int32, Txt("12"), Stored, std::int32_t{12}},
      {Int32, Txt(" \t-12 "), Stored, std::int32_t{-12}},
      {Int32, Txt("+7"), Stored, std::int32_t{7}},
      {Int32, Txt("12.0"), InvalidCast, {}},
      {Int32, Txt("1,000"), InvalidCast, {}},
      {Int32, Txt(""), InvalidCast, {}},
      {Int32, Txt("abc"), InvalidCast, {}},
      {Int32, Txt("2147483648"), Overflow, {}},
      {Int32, Txt("99999999999999999999"), Overflow, {}},
      // Integers from doubles: half to even; NaN, infinities, out of range overflow.
      {Int32, 2.5, Stored, std::int32_t{2}},
      {Int32, 3.5, Stored, std::int32_t{4}},
      {Int32, -2.5, Stored, std::int32_t{-2}},
      {Int32, 1.7, Stored, std::int32_t{2}},
      {Int32, kNaN, Overflow, {}},
      {Int32, -kInf, Overflow, {}},
      {Int32, 2147483647.5, Overflow, {}},
      {Int32, -2147483648.4, Stored, std::int32_t{-2147483647 - 1}},
      {Int32, true, Stored, std::int32_t{1}},
      {Int32, date, InvalidCast, {}},
      {Int32, I64(std::int64_t{1} << 40), Overflow, {}},
      {Int16, I32(-32768), Stored, std::int32_t{-32768}},
      {Int16, I32(40000), Overflow, {}},
      {Int16, Txt("32768"), Overflow, {}},
      {Int64, Txt("-9223372036854775808"), Stored, std::numeric_limits<std::int64_t>::min()},
      {Int64, Txt("9223372036854775808"), Overflow, {}},
      {Int64, 9.3e18, Overflow, {}},
      {Int64, I32(5), Stored, std::int64_t{5}},
      {Int64, bytes, InvalidCast, {}},
      // Booleans.
      {Boolean, Txt(" fALSE "), Stored, false},
      {Boolean, Txt("True"), Stored, true},
      {Boolean, I32(2), Stored, true},
      {Boolean, I64(0), Stored, false},
      {Boolean, 0.5, Stored, true},  // doubles as integers: anything but zero
      {Boolean, -0.0, Stored, false},
      {Boolean, kNaN, Stored, true},
      {Boolean, Txt("1"), InvalidCast, {}},
      {Boolean, date, InvalidCast, {}},
      // Doubles: invariant text whatever the locale, exponent and the special words.
      {Double, Txt("1.5"), Stored, 1.5},
      {Double, Txt(" -2.5e3 "), Stored, -2500.0},
      {Double, Txt("-Infinity"), Stored, -kInf},
      {Double, Txt("NaN"), Stored, kNaN},
      {Double, Txt("1,5"), InvalidCast, {}},
      {Double, Txt("0x10"), InvalidCast, {}},
      {Double, Txt("1e400"), Overflow, {}},
      {Double, I64(-3), Stored, -3.0},
      {Double, true, Stored, 1.0},
      {Double, date, InvalidCast, {}},
      // Decimals: canonical text.
      {Decimal, Txt(" -012.50 "), Stored, "-12.50"},
      {Decimal, Txt("+.5"), Stored, "0.5"},
      {Decimal, Txt("1.5e1"), Stored, "15"},
      {Decimal, Txt("25E-3"), Stored, "0.025"},
      {Decimal, Txt("-0.00"), Stored, "0.00"},
      {Decimal, Txt("1,000"), InvalidCast, {}},
      {Decimal, Txt("1e"), InvalidCast, {}},
      {Decimal, Txt("."), InvalidCast, {}},
      {Decimal, Txt("1e9999999"), Overflow, {}},
      {Decimal, 0.1, Stored, "0.1"},
      {Decimal, 1e20, Stored, "100000000000000000000"},
      {Decimal, -kInf, Overflow, {}},
      {Decimal, kNaN, Overflow, {}},
      {Decimal, I64(-42), Stored, "-42"},
      {Decimal, date, InvalidCast, {}},
      // Strings: the value's text form.
      {String, Txt("as is"), Stored, "as is"},
      {String, I32(-5), Stored, "-5"},
      {String, I64(std::numeric_limits<std::int64_t>::min()), Stored, "-9223372036854775808"},
      {String, false, Stored, "False"},
      {String, 0.1, Stored, "0.1"},
      {String, date, Stored, "2024-01-02 03:04:05"},
      {String, bytes, Stored, "0aff"},
      // Dates: DateTime or ISO text; never a number.
      {DateTime, date, Stored, date},
      {DateTime, Txt(" 2024-01-02 03:04:05 "), Stored, date},
      {DateTime, Txt("02/01/2024"), InvalidCast, {}},
      {DateTime, 45000.0, InvalidCast, {}},
      {DateTime, I32(1), InvalidCast, {}},
      // Bytes only from bytes.
      {Binary, bytes, Stored, Bytes{0x0a, 0xff}},
      {Binary, Txt("0aff"), InvalidCast, {}},
      // DBNull goes into every column; its rules are checked when the row is added.
      {Boolean, DBNull, Stored, {}},
      {Int32, DBNull, Stored, {}},
      {Double, DBNull, Stored, {}},
      {Decimal, DBNull, Stored, {}},
      {String, DBNull, Stored, {}},
      {DateTime, DBNull, Stored, {}},
      {Binary, DBNull, Stored, {}},
  };
}

bool SameValue(const Value& a, const Value& b) {
  const auto* x = std::get_if<double>(&a.Get());
  const auto* y = std::get_if<double>(&b.Get());
  if (x && y && std::isnan(*x) && std::isnan(*y)) return true;
  return a == b;
}

TEST(ConversionTest, StoresConvertedValueOrRefusesAndKeepsOldOne) {
  for (const ConversionCase& c : Cases()) {
    SCOPED_TRACE(std::string(DataTypeName(c.type)) + " <- '" + Value(c.input).ToString() + "' (" +
                 std::string(detail::ValueKindName(c.input)) + ")");
    auto table = DataTable::Create("T");
    table->AddColumn({.ColumnName = "c", .Type = c.type, .AllowDBNull = false});
    DataRow row = table->NewRow();
    const Value old = OldValue(c.type);
    row.Set("c", old);
    Outcome got = Outcome::Stored;
    try {
      row.Set("c", c.input);
    } catch (const OverflowError&) {
      got = Outcome::Overflow;
    } catch (const InvalidCastError&) {
      got = Outcome::InvalidCast;
    }
    EXPECT_EQ(got, c.outcome);
    const Value& expected = c.outcome == Outcome::Stored ? c.expected : old;
    EXPECT_TRUE(SameValue(row.Get("c"), expected)) << "got '" << row.Get("c").ToString() << "'";
  }
}

TEST(ConversionTest, RefusalNamesTableColumnValueAndType) {
  auto table = DataTable::Create("orders");
  table->AddColumn({.ColumnName = "qty", .Type = DataType::Int16});
  DataRow row = table->NewRow();
  const std::vector<std::pair<ValueView, std::vector<std::string>>> cases = {
      {Txt("a dozen"), {"'orders'", "'qty'", "'a dozen'", "Int16"}},
      {I32(70000), {"'orders'", "'qty'", "'70000'", "Int16"}},
      {std::string_view("12\0x", 4), {"'12\\0x'", "'qty'", "'orders'", "Int16"}},  // what() stops at a NUL
  };
  for (const auto& [input, parts] : cases) {
    try {
      row.Set("qty", input);
      ADD_FAILURE() << "no error";
    } catch (const ArgumentError& e) {
      for (const std::string& part : parts)
        EXPECT_NE(std::string(e.what()).find(part), std::string::npos) << e.what();
    }
  }
}

// A null char pointer is no value at all, unlike DBNull: a text or bytes
// column stores it as DBNull, a column of any other type refuses it.
TEST(ConversionTest, NullPointerIsDBNullForTextAndBytesAndRefusedElsewhere) {
  using enum DataType;
  const char* absent = nullptr;
  for (DataType type : {Boolean, Int16, Int32, Int64, Double, Decimal, String, DateTime, Binary}) {
    SCOPED_TRACE(std::string(DataTypeName(type)));
    const bool takesNull = type == String || type == Binary;
    auto table = DataTable::Create("T");
    table->AddColumn({.ColumnName = "c", .Type = type});
    DataRow row = table->NewRow();
    const std::vector<std::function<void()>> writes = {
        [&] { row.Set("c", absent); }, [&] { row.Set("c", nullptr); }, [&] { row.Set(0, absent); }};
    for (const auto& write : writes) {
      row.Set("c", OldValue(type));
      if (takesNull) {
        EXPECT_NO_THROW(write());
        EXPECT_TRUE(row.Get("c").IsDBNull());
      } else {
        try {
          write();
          ADD_FAILURE() << "no error";
        } catch (const ArgumentError& e) {
          EXPECT_NE(std::string(e.what()).find("column 'c' of table 'T'"), std::string::npos) << e.what();
        }
        EXPECT_EQ(row.Get("c"), OldValue(type));
      }
    }
  }
  // Only pointers count as absent text: a literal 0 is the integer 0.
  auto table = DataTable::Create("T");
  table->AddColumn({.ColumnName = "n", .Type = Int32});
  DataRow row = table->NewRow();
  row.Set("n", 0);
  EXPECT_EQ(row.Get("n"), Value(std::int32_t{0}));
  char digits[] = " 42 ";
  row.Set("n", digits);
  EXPECT_EQ(row.Get("n"), Value(std::int32_t{42}));
}

TEST(ConversionTest, DefaultValuesAreConvertedWhenTheColumnIsAdded) {
  auto table = DataTable::Create("T");
  table->AddColumn({.ColumnName = "n", .Type = DataType::Int32, .DefaultValue = "5"});
  table->AddColumn({.ColumnName = "s", .Type = DataType::String, .DefaultValue = "n/a"});
  table->AddColumn({.ColumnName = "d", .Type = DataType::Double});
  EXPECT_THROW(table->AddColumn({.ColumnName = "bad", .Type = DataType::Int32, .DefaultValue = "five"}),
               InvalidCastError);
  DataRow row = table->NewRow();
  EXPECT_EQ(row.Get("n"), Value(std::int32_t{5}));
  EXPECT_EQ(row.Get("s"), Value("n/a"));
  EXPECT_TRUE(row.Get("d").IsDBNull());
  EXPECT_EQ(table->ColumnCount(), 3u);  // the refused column was not added
}

}  // namespace
}  // namespace Tessel::Data
