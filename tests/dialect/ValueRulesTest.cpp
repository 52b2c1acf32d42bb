// The rules of what a database keeps of a value, apart from any driver:
// which cell of a batch is refused and in what words, and how SQLite stores
// a date.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "TesselWrapper/data/DataTable.h"
#include "support/ComponentHelpers.h"
#include "tessel/StorableValues.h"
#include "tessel/dialect/postgres/ValueRules.h"
#include "tessel/dialect/sqlite/TypeMap.h"
#include "tessel/dialect/sqlite/ValueRules.h"

namespace Tessel::Testing {
namespace {

using Data::DataType;
using Data::DateTime;

// The first refused cell is the earliest row's, whichever column holds it;
// null cells and values within the limits pass; positions count from
// `first`.
TEST(StorableValues, TheEarliestRowAtFaultIsNamedWithItsColumnAndValue) {
  auto table = Data::DataTable::Create("t");
  for (const auto& [name, type] : {std::pair("text", DataType::String), std::pair("real", DataType::Double),
                                   std::pair("bytes", DataType::Binary)}) {
    Data::DataColumn column;
    column.ColumnName = name;
    column.Type = type;
    table->AddColumn(column);
  }
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::string long1001(1001, 'x');
  AddRow(*table, {{"text", std::string_view("short")}, {"real", 1.5}});
  AddRow(*table, {{"real", std::numeric_limits<double>::infinity()}});  // null text and bytes
  AddRow(*table, {{"text", std::string_view(long1001)}});
  AddRow(*table, {{"real", nan}});
  const std::span<const Data::RecordId> records = table->Rows().Records();

  const ValueLimits sqlite = Sqlite::Limits(1000);
  std::optional<WriteFailure> failure = RefuseUnstorable(*table, records, 70, sqlite);
  ASSERT_TRUE(failure.has_value());
  EXPECT_EQ(failure->category, ErrorCategory::Refused);
  EXPECT_EQ(failure->row, 72u);
  EXPECT_EQ(failure->reason,
            "the row at position 72 (0-based), column 'text': a value of 1,001 bytes, longer than the 1,000 "
            "bytes SQLite keeps in one value");

  // Past the long text, the NaN.
  failure = RefuseUnstorable(*table, records.subspan(3), 73, sqlite);
  ASSERT_TRUE(failure.has_value());
  EXPECT_EQ(
      failure->reason,
      "the row at position 73 (0-based), column 'real': NaN, a value SQLite cannot store (it would read "
      "back as NULL)");

  // PostgreSQL keeps both.
  failure = RefuseUnstorable(*table, records, 0, Postgres::kLimits);
  EXPECT_FALSE(failure.has_value()) << failure->reason;
  EXPECT_EQ(Postgres::kLimits.maxValueBytes, 1'073'741'823u);
  EXPECT_EQ(Sqlite::Limits().maxValueBytes, 1'000'000'000u);
}

TEST(SqliteDateText, IsoTextMatchesTheModelsOwnTextForm) {
  const DateTime cases[] = {
      DateTime(),                            // 0001-01-01
      DateTime(1899, 12, 30),                // day 0 of OLE Automation dates
      DateTime(2000, 2, 29, 23, 59, 59, 7),  // leap day, milliseconds
      DateTime(2024, 2, 29, 13, 45, 10, 123),
      DateTime(1900, 3, 1, 0, 0, 1),               // not a leap year before it
      DateTime(DateTime::kMaxTicks),               // 9999-12-31 23:59:59.9999999
      DateTime(DateTime(2010, 6, 1).Ticks() + 5),  // a fraction finer than a millisecond
  };
  for (const DateTime& date : cases) {
    char text[Sqlite::kIsoDateTimeCapacity];
    const std::size_t n = Sqlite::FormatIsoDateTime(date, text);
    EXPECT_EQ(std::string(text, n), date.ToString());
  }
  char text[Sqlite::kIsoDateTimeCapacity];
  EXPECT_EQ(std::string(text, Sqlite::FormatIsoDateTime(DateTime(2024, 2, 29, 13, 45, 10, 123), text)),
            "2024-02-29 13:45:10.123");
}

TEST(SqliteDateText, AMidnightInAColumnOfDaysIsTheDayAlone) {
  struct Case {
    const char* declared;
    bool holdsDays;
  };
  const Case cases[] = {
      {"DATE", true},       {"date", true},  {" Date ", true},     {"DATETIME", false},
      {"TIMESTAMP", false}, {"TIME", false}, {"DATE_TIME", false}, {"BOOLDATE", false},  // read as Boolean
      {"TEXT", false},      {"", false},
  };
  for (const Case& c : cases) EXPECT_EQ(Sqlite::DeclaresDay(c.declared), c.holdsDays) << c.declared;

  char text[Sqlite::kIsoDateTimeCapacity];
  auto stored = [&](const DateTime& value, bool days) {
    return std::string(text, Sqlite::FormatStoredDate(value, days, text));
  };
  EXPECT_EQ(stored(DateTime(2024, 12, 31), true), "2024-12-31");
  EXPECT_EQ(stored(DateTime(2024, 12, 31), false), "2024-12-31 00:00:00");
  // Nothing is lost: a time of day, even one tick of it, stays.
  EXPECT_EQ(stored(DateTime(2024, 12, 31, 10, 30), true), "2024-12-31 10:30:00");
  EXPECT_EQ(stored(DateTime(DateTime(2024, 12, 31).Ticks() + 1), true), "2024-12-31 00:00:00.0000001");
}

}  // namespace
}  // namespace Tessel::Testing
