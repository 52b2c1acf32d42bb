// Numbers and declared names read and written the same way whatever locale
// the host process chose: a comma as the decimal point (de_DE), single-byte
// character classes (ISO-8859-1), and the Turkish dotless i, under which
// toupper('i') is not 'I'.
#include <gtest/gtest.h>

#include <cctype>
#include <clocale>
#include <cstdlib>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

#include "data/NumberText.h"
#include "sqlite/SqliteFixture.h"
#include "support/TestLocale.h"
#ifdef TESSEL_WITH_POSTGRES
#include "tessel/dialect/postgres/DefaultLiteral.h"
#include "tessel/postgres/Session.h"
#endif

namespace Tessel::Testing {
namespace {

using Data::DataType;
using Data::Value;

struct HostLocale {
  const char* input;
  const char* charmap;
};

const HostLocale kHostLocales[] = {
    {"de_DE", "UTF-8"},
    {"de_DE", "ISO-8859-1"},
    {"tr_TR", "UTF-8"},
    {"tr_TR", "ISO-8859-9"},
};

void PrintTo(const HostLocale& locale, std::ostream* out) { *out << locale.input << '.' << locale.charmap; }

std::string LocaleName(const testing::TestParamInfo<HostLocale>& info) {
  return LocaleTestName(info.param.input, info.param.charmap);
}

// A fresh SQLite file and its component, with the thread switched to the
// parameter's locale for the whole test.
class UnderLocale : public SqliteTest, public testing::WithParamInterface<HostLocale> {
 protected:
  void SetUp() override {
    TESSEL_REQUIRE_LOCALE(locale_);
    SqliteTest::SetUp();
  }

  LocaleScope locale_{GetParam().input, GetParam().charmap};
};

TEST_P(UnderLocale, TheLocaleIsInForce) {
  // The settings the other tests need; without them they could pass for the
  // wrong reason.
  EXPECT_STREQ(std::localeconv()->decimal_point, ",");
  EXPECT_EQ(std::strtod("1.5", nullptr), 1.0) << "the C library stops at the '.'";
  if (std::string(GetParam().input) == "tr_TR") {
    EXPECT_NE(std::toupper('i'), 'I');
  }
}

TEST_P(UnderLocale, TableShapeKeepsDefaultsAndTypes) {
  const struct {
    const char* declared;
    const char* defaultSql;
    DataType type;
    Value defaultValue;
  } columns[] = {
      {"REAL", "1.5", DataType::Double, Value(1.5)},
      {"DOUBLE", "(-0.25)", DataType::Double, Value(-0.25)},
      {"FLOAT", "2.5e-3", DataType::Double, Value(0.0025)},
      {"REAL", "+1e999", DataType::Double, Value(std::numeric_limits<double>::infinity())},
      {"NUMERIC(10,2)", "12.50", DataType::Decimal, Value("12.50")},
      {"TEXT", "2.5", DataType::String, Value("2.5")},
      // Type names SQLite keeps in lower case go through the upper-casing
      // that a Turkish locale breaks ("bigint" -> "BiGiNT").
      {"bigint", "0x10", DataType::Int64, Value(std::int64_t{16})},
      {"smallint", "-3", DataType::Int64, Value(std::int64_t{-3})},
      {"timestamp", "'2001-02-03 04:05:06'", DataType::DateTime, Value(Data::DateTime(2001, 2, 3, 4, 5, 6))},
      {"boolean", "TRUE", DataType::Boolean, Value(true)},
  };
  std::string sql = "CREATE TABLE measures (";
  for (std::size_t i = 0; i < std::size(columns); ++i) {
    sql += (i ? ", c" : "c") + std::to_string(i) + " " + columns[i].declared + " DEFAULT " +
           columns[i].defaultSql;
  }
  Raw().Exec(sql + ")");

  const auto table = Component().GetTable("measures");
  ASSERT_NE(table, nullptr);
  ASSERT_EQ(table->ColumnCount(), std::size(columns));
  for (std::size_t i = 0; i < std::size(columns); ++i) {
    SCOPED_TRACE(std::string(columns[i].declared) + " DEFAULT " + columns[i].defaultSql);
    const Data::DataColumn& column = table->Column(i);
    EXPECT_EQ(static_cast<int>(column.Type), static_cast<int>(columns[i].type));
    EXPECT_FALSE(column.Generated);
    EXPECT_EQ(column.DefaultValue, columns[i].defaultValue) << "read as " << column.DefaultValue.ToString();
  }
}

TEST_P(UnderLocale, RoutineOutputWritesThePoint) {
  Raw().Exec(
      "CREATE TABLE tessel_procedures (name TEXT PRIMARY KEY, body TEXT NOT NULL);"
      "INSERT INTO tessel_procedures VALUES ('Figures', 'SELECT 2.5 AS Weight, :given AS Given, 1e20 AS Big, "
      "-0.000012 AS Small');");
  std::vector<std::shared_ptr<Data::DbParameter>> parameters = {Component().NewDbParameter(
      "given", Data::DbType::Double, 0, Data::ParameterDirection::Input, Value(0.1))};
  ManagedText output;
  Component().ExecuteStoredProcedure("Figures", parameters, output);
  EXPECT_EQ(output, "Weight=2.5;Given=0.1;Big=1E+20;Small=-1.2E-05;") << Component().Message().value_or("");
}

TEST_P(UnderLocale, NumberTextKeepsThePoint) {
  EXPECT_EQ(Data::FormatDouble(1.5), "1.5");
  EXPECT_EQ(Data::FormatDouble(-1234.5e-10), "-1.2345E-07");
  double value = 0;
  EXPECT_EQ(Data::TryParseDouble("1.5", value), Data::ParseOutcome::Ok);
  EXPECT_EQ(value, 1.5);
  EXPECT_EQ(Data::TryParseDouble("1,5", value), Data::ParseOutcome::Malformed);
  std::int64_t integer = 0;
  EXPECT_EQ(Data::TryParseInt64("1.000", integer), Data::ParseOutcome::Malformed) << "no group separators";
}

// Bytes of non-ASCII text are letters to a single-byte locale's isalpha
// ("\xC3\xAA", UTF-8 for e-circumflex, reads as two Latin-1 letters); the
// answers below must not follow it.
TEST_P(UnderLocale, NonAsciiTextIsNoKeywordOrTypeName) {
#ifdef TESSEL_WITH_POSTGRES
  EXPECT_FALSE(Postgres::IsPostgresConnectionString("t\xC3\xAA=1"));
  EXPECT_TRUE(Postgres::IsPostgresConnectionString(" dbname = x"));
  EXPECT_EQ(Postgres::ParseDefault("'5'::t\xC3\xAA", DataType::Int32).kind, ParsedDefault::Kind::Expression);
  EXPECT_EQ(Postgres::ParseDefault("'5'::integer", DataType::Int32).kind, ParsedDefault::Kind::Literal);
  EXPECT_EQ(Postgres::LiteralValue(DataType::Double, " 1.5 "), Value(1.5));
#endif
}

INSTANTIATE_TEST_SUITE_P(Locales, UnderLocale, testing::ValuesIn(kHostLocales), LocaleName);

}  // namespace
}  // namespace Tessel::Testing
