// BulkToTable as PostgreSQL takes it: values of every type in both COPY
// formats, columns left to the server, shapes kept until a write finds them
// stale, a lost connection, and rows past COPY's chunk size.
#include <chrono>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <thread>

#include "PgTestServer.h"
#include "TesselWrapper/Errors.h"
#include "support/ComponentHelpers.h"
#include "support/Contains.h"

namespace Tessel::Testing {
namespace {

using Data::DateTime;

class PgWriter : public PgTest {};

// The same rows through the binary format and, with a timestamptz column
// added (a type without a binary encoder), through the text format.
class PgWriterRoundTrip : public PgTest, public ::testing::WithParamInterface<bool> {};

TEST_P(PgWriterRoundTrip, EveryTypeComesBackAsWritten) {
  const bool textFormat = GetParam();
  raw().Exec(std::string("CREATE TABLE everything (id int4 PRIMARY KEY, b bool, s int2, i int4, l int8, "
                         "f4 float4, f8 float8, n numeric, n2 numeric(10,2), vc varchar(40), t text, "
                         "bp char(5), by bytea, d date, ts timestamp") +
             (textFormat ? ", tz timestamptz)" : ")"));
  auto component = NewComponent();
  auto table = component->GetTable("everything");
  ASSERT_NE(table, nullptr);

  const std::uint8_t someBytes[] = {0x00, 0xff, 0x5c, 0x0a};
  const double inf = std::numeric_limits<double>::infinity();
  AddRow(*table, {{"id", 1}});  // every other column null
  AddRow(*table, {{"id", 2},
                  {"b", true},
                  {"s", -32768},
                  {"i", std::numeric_limits<std::int32_t>::max()},
                  {"l", std::numeric_limits<std::int64_t>::min()},
                  {"f4", 1.5},
                  {"f8", 0.1},
                  {"n", "-12345678901234567890.000123400"},
                  {"n2", "1.005"},
                  {"vc", "tab\there\\N"},
                  {"t", "line\nbreak\r \\ back"},
                  {"bp", "ab"},
                  {"by", std::span<const std::uint8_t>(someBytes)},
                  {"d", DateTime(2024, 2, 29, 13, 0, 0)},
                  {"ts", DateTime(1, 1, 1)}});
  AddRow(*table, {{"id", 3},
                  {"b", false},
                  {"s", 32767},
                  {"i", -1},
                  {"l", std::numeric_limits<std::int64_t>::max()},
                  {"f4", -0.25},
                  {"f8", std::nan("")},
                  {"n", "0.0001"},
                  {"n2", "-0.5"},
                  {"vc", ""},
                  {"t", "ünïcödé ✓ \"quoted\""},
                  {"bp", "abcde"},
                  {"by", std::span<const std::uint8_t>()},
                  {"d", DateTime(9999, 12, 31)},
                  {"ts", DateTime(DateTime::kMaxTicks)}});
  AddRow(*table, {{"id", 4},
                  {"f8", inf},
                  {"n", "100000000"},
                  {"n2", "12345678.99"},
                  {"ts", DateTime(DateTime(2010, 6, 1).Ticks() + 5)}});  // half a microsecond: to even
  AddRow(*table, {{"id", 5},
                  {"f8", -inf},
                  {"n", "0"},
                  {"n2", "0.00"},
                  {"t", "\\."},
                  {"ts", DateTime(DateTime(2010, 6, 1).Ticks() + 15)}});
  AddRow(*table, {{"id", 6},
                  {"f8", 1e-300},
                  {"n", "-0.000000000000000000000000012"},
                  {"ts", DateTime(1899, 12, 30, 23, 59, 59, 999)}});
  if (textFormat) AddRow(*table, {{"id", 7}, {"tz", DateTime(2024, 1, 2, 3, 4, 5)}});

  std::int64_t executionTime = -5;
  ASSERT_TRUE(component->BulkToTable(*table, executionTime)) << Message(*component);
  EXPECT_GE(executionTime, -5);
  EXPECT_EQ(Message(*component),
            std::to_string(table->Rows().Count()) + " rows written to table 'everything'");

  EXPECT_EQ(
      raw().Query("SELECT * FROM everything WHERE id < 7 ORDER BY id"),
      std::string("1|NULL|NULL|NULL|NULL|NULL|NULL|NULL|NULL|NULL|NULL|NULL|NULL|NULL|NULL") +
          (textFormat ? "|NULL" : "") +
          "\n2|t|-32768|2147483647|-9223372036854775808|1.5|0.1|-12345678901234567890.000123400|1.01|"
          "tab\there\\N|line\nbreak\r \\ back|ab   |\\x00ff5c0a|2024-02-29|0001-01-01 00:00:00" +
          (textFormat ? "|NULL" : "") +
          "\n3|f|32767|-1|9223372036854775807|-0.25|NaN|0.0001|-0.50||ünïcödé ✓ \"quoted\"|abcde|\\x|"
          "9999-12-31|9999-12-31 23:59:59.999999" +
          (textFormat ? "|NULL" : "") +
          "\n4|NULL|NULL|NULL|NULL|NULL|Infinity|100000000|12345678.99|NULL|NULL|NULL|NULL|NULL|"
          "2010-06-01 00:00:00" +
          (textFormat ? "|NULL" : "") +
          "\n5|NULL|NULL|NULL|NULL|NULL|-Infinity|0|0.00|NULL|\\.|NULL|NULL|NULL|2010-06-01 00:00:00.000002" +
          (textFormat ? "|NULL" : "") +
          "\n6|NULL|NULL|NULL|NULL|NULL|1e-300|-0.000000000000000000000000012|NULL|NULL|NULL|NULL|NULL|"
          "NULL|1899-12-30 23:59:59.999" +
          (textFormat ? "|NULL" : ""));
  if (textFormat) {
    EXPECT_EQ(raw().Query("SELECT tz::timestamp FROM everything WHERE id = 7"), "2024-01-02 03:04:05");
  }
}

INSTANTIATE_TEST_SUITE_P(Formats, PgWriterRoundTrip, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Text" : "Binary"; });

// Identity, serial and now() columns: a row that leaves them DBNull gets the
// server's value, a row that fills them keeps its own. Rows that differ in
// what they leave out go in separate COPY statements of one transaction.
TEST_F(PgWriter, GeneratedColumnsAreLeftToTheServerWhenNull) {
  raw().Exec(
      "CREATE TABLE gen (id int GENERATED ALWAYS AS IDENTITY PRIMARY KEY, seq serial, "
      "created timestamp NOT NULL DEFAULT now(), label text NOT NULL, "
      "doubled int GENERATED ALWAYS AS (length(label) * 2) STORED)");
  auto component = NewComponent();
  auto table = component->GetTable("gen");
  ASSERT_NE(table, nullptr);
  ASSERT_EQ(table->ColumnCount(), 4u);  // "doubled" cannot be written
  AddRow(*table, {{"label", "a"}});
  AddRow(*table, {{"label", "bb"}, {"id", 100}, {"seq", 7}});
  AddRow(*table, {{"label", "c"}, {"created", DateTime(2000, 1, 1)}});
  AddRow(*table, {{"label", "d"}});
  std::int64_t elapsed = 0;
  ASSERT_TRUE(component->BulkToTable(*table, elapsed)) << Message(*component);
  EXPECT_EQ(raw().Query("SELECT label, id, seq, created = '2000-01-01', created > now() - interval '1 hour', "
                        "doubled FROM gen ORDER BY label"),
            "a|1|1|f|t|2\nbb|100|7|f|t|4\nc|3|3|t|f|2\nd|2|2|f|t|2");
}

// PostgreSQL cannot tell from a cookie that a table changed, so a shape once
// read is kept until a write finds it stale: that write fails as a schema
// change and drops it, and the next GetTable sees the table as it is.
TEST_F(PgWriter, AFailedWriteDropsTheStaleShape) {
  raw().Exec("CREATE TABLE cases (id int PRIMARY KEY, note text)");
  auto component = NewComponent();
  ASSERT_EQ(component->GetTable("cases")->ColumnCount(), 2u);
  raw().Exec("ALTER TABLE cases DROP COLUMN note");
  auto stale = component->GetTable("cases");
  ASSERT_EQ(stale->ColumnCount(), 2u);
  AddRow(*stale, {{"id", 1}, {"note", "x"}});
  std::int64_t elapsed = 0;
  EXPECT_FALSE(component->BulkToTable(*stale, elapsed));
  EXPECT_TRUE(Contains(Message(*component), kSchemaChange)) << Message(*component);
  auto fresh = component->GetTable("cases");
  EXPECT_EQ(fresh->ColumnCount(), 1u);
  AddRow(*fresh, {{"id", 1}});
  EXPECT_TRUE(component->BulkToTable(*fresh, elapsed)) << Message(*component);
}

TEST_F(PgWriter, LostConnectionAsksForARerunAndTheRerunReconnects) {
  raw().Exec("CREATE TABLE cases (id int PRIMARY KEY)");
  const std::string name = "tessel_lost_" + schema().name();
  auto component = NewComponent(WithUriParameter(schema().uri(), "application_name", name));
  auto table = component->GetTable("cases");
  AddRow(*table, {{"id", 1}});
  raw().Query("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE application_name = '" + name +
              "'");

  std::int64_t elapsed = 0;
  EXPECT_FALSE(component->BulkToTable(*table, elapsed));
  EXPECT_TRUE(Contains(Message(*component), kRerunTransaction)) << Message(*component);
  EXPECT_TRUE(component->BulkToTable(*table, elapsed)) << Message(*component);
  EXPECT_EQ(raw().Query("SELECT count(*) FROM cases"), "1");
}

// The server names the COPY line it was reading when the session was ended;
// that row is not at fault, so no row is named and a rerun is asked for.
TEST_F(PgWriter, ASessionEndedDuringCopyNamesNoRow) {
  raw().Exec("CREATE TABLE cases (id int PRIMARY KEY)");
  const std::string name = "tessel_ended_" + schema().name();
  auto component = NewComponent(WithUriParameter(schema().uri(), "application_name", name));
  auto shape = component->GetTable("cases");
  ASSERT_NE(shape, nullptr);
  auto batch = shape->CloneShape();
  for (int id = 0; id < 2'000'000; ++id) AddRow(*batch, {{"id", id}});
  const std::unique_ptr<BulkStream> stream = component->OpenBulkStream(*shape);
  // Ended while the server reads the rows, as an administrator would.
  std::thread ender([&] {
    RawPg other(schema().uri());
    while (other.Query("SELECT count(*) FROM pg_stat_activity WHERE application_name = '" + name +
                       "' AND query LIKE 'COPY%'") == "0")
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    other.Query("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE application_name = '" + name +
                "'");
  });
  const bool written = stream->Append(*batch) && stream->Commit();
  ender.join();
  EXPECT_FALSE(written);
  const std::string message = Message(*component);
  EXPECT_TRUE(Contains(message, "57P01")) << message;
  EXPECT_TRUE(Contains(message, kRerunTransaction)) << message;
  EXPECT_FALSE(Contains(message, "position")) << message;
  EXPECT_EQ(stream->FailedRow(), std::nullopt);
  EXPECT_EQ(raw().Query("SELECT count(*) FROM cases"), "0");
}

// Enough data to fill several 1 MiB chunks, and one cell larger than a chunk.
TEST_F(PgWriter, LargeTablesCrossChunkBoundaries) {
  raw().Exec("CREATE TABLE big (id int8 PRIMARY KEY, label text)");
  auto component = NewComponent();
  auto table = component->GetTable("big");
  const std::string label(40, 'x');
  const std::string huge(3 << 20, 'y');
  constexpr std::int64_t kRows = 100'000;
  for (std::int64_t i = 0; i < kRows; ++i) AddRow(*table, {{"id", i}, {"label", label}});
  AddRow(*table, {{"id", kRows}, {"label", huge}});
  std::int64_t elapsed = 0;
  ASSERT_TRUE(component->BulkToTable(*table, elapsed)) << Message(*component);
  EXPECT_EQ(raw().Query("SELECT count(*), sum(id), sum(length(label)) FROM big"),
            std::to_string(kRows + 1) + "|" + std::to_string(kRows * (kRows + 1) / 2) + "|" +
                std::to_string(kRows * 40 + (3 << 20)));
}

}  // namespace
}  // namespace Tessel::Testing
