// Writing tables as SQLite takes them: values of every storage class,
// columns left to the database, many rows to a statement, and refused rows
// named by their position.
#include <algorithm>
#include <cstdint>
#include <limits>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "SqliteFixture.h"
#include "TesselWrapper/Errors.h"
#include "support/ComponentHelpers.h"
#include "tessel/BackendStream.h"
#include "tessel/sqlite/Writer.h"

namespace Tessel::Testing {
namespace {

using Data::DateTime;
using Data::Value;

// SQLite's length limit is the connection's: lowered here on a connection of
// the test's own, the writer refuses the first value past it, by row and
// column, before anything is written.
TEST_F(SqliteTest, AValueLongerThanTheConnectionTakesIsRefusedByRowAndColumn) {
  Raw().Exec("CREATE TABLE notes (id INTEGER, body TEXT, data BLOB)");
  auto table = Component().GetTable("notes");
  ASSERT_NE(table, nullptr);
  // A limit that leaves room for the catalogue's own texts.
  constexpr int kLimit = 300;
  const std::string atLimit(kLimit, 'x');
  const std::string pastLimit(kLimit + 1, 'x');
  const std::vector<std::uint8_t> bytesPastLimit(kLimit + 1);
  AddRow(*table, {{"id", 1}, {"body", std::string_view(atLimit)}});
  AddRow(*table, {{"id", 2}, {"data", std::span<const std::uint8_t>(bytesPastLimit)}});
  AddRow(*table, {{"id", 3}, {"body", std::string_view(pastLimit)}});
  sqlite3_limit(Raw().get(), SQLITE_LIMIT_LENGTH, kLimit);

  const std::optional<WriteFailure> failure = Sqlite::WriteTable(Raw().get(), "main", *table);
  ASSERT_TRUE(failure.has_value());
  EXPECT_EQ(failure->category, ErrorCategory::Refused);
  EXPECT_EQ(failure->row, 1u);
  EXPECT_EQ(failure->reason,
            "the row at position 1 (0-based), column 'data': a value of 301 bytes, longer than the 300 bytes "
            "SQLite keeps in one value");
  EXPECT_EQ(Raw().Query("SELECT count(*) FROM notes"), "0");

  // The limit is the connection's when the rows are written: under a raised
  // one (room for a whole row's record, which it bounds too) they go in.
  sqlite3_limit(Raw().get(), SQLITE_LIMIT_LENGTH, 2 * kLimit);
  const std::optional<WriteFailure> written = Sqlite::WriteTable(Raw().get(), "main", *table);
  EXPECT_FALSE(written.has_value()) << written->reason;
  EXPECT_EQ(Raw().Query("SELECT count(*), max(length(body)), max(length(data)) FROM notes"), "3|301|301");
}

TEST_F(SqliteTest, EveryTypeRoundTrips) {
  Raw().Exec(R"(CREATE TABLE everything (
      i INTEGER, b BOOLEAN, r REAL, d NUMERIC(10,2), s TEXT, t DATETIME, bin BLOB))");
  auto table = Component().GetTable("everything");
  ASSERT_NE(table, nullptr);
  const std::uint8_t bytes[] = {0x00, 0x7f, 0xff};
  AddRow(*table, {{"i", std::numeric_limits<std::int64_t>::min()},
                  {"b", true},
                  {"r", 0.1},
                  {"d", std::string_view("12.50")},
                  {"s", std::string_view("héllo, 'world'")},
                  {"t", DateTime(2024, 2, 29, 13, 45, 10, 123)},
                  {"bin", std::span<const std::uint8_t>(bytes)}});
  AddRow(*table, {{"i", std::numeric_limits<std::int64_t>::max()},
                  {"b", false},
                  {"r", -1e300},
                  {"d", std::string_view("-3")},
                  {"s", std::string_view("")},
                  {"t", DateTime(1899, 12, 30)},
                  {"bin", std::span<const std::uint8_t>()}});
  AddRow(*table, {});  // every cell DBNull

  std::int64_t executionTime = 1000;
  ASSERT_TRUE(Component().BulkToTable(*table, executionTime)) << Message(Component());
  EXPECT_EQ(Message(Component()), "3 rows written to table 'everything'");
  EXPECT_GE(executionTime, 1000) << "the elapsed time is added, not assigned";

  EXPECT_EQ(
      Raw().Query("SELECT i, typeof(i), b, r = 0.1, typeof(r), d, typeof(d), s, t, hex(bin), typeof(bin) "
                  "FROM everything ORDER BY rowid"),
      "-9223372036854775808|integer|1|1|real|12.5|real|héllo, 'world'|2024-02-29 13:45:10.123|007FFF|blob\n"
      "9223372036854775807|integer|0|0|real|-3|integer||1899-12-30 00:00:00||blob\n"
      "NULL|null|NULL|NULL|null|NULL|null|NULL|NULL||null");
  EXPECT_EQ(Raw().Query("SELECT r FROM everything WHERE rowid = 2"), "-1.0e+300");
  EXPECT_EQ(Raw().Query("SELECT typeof(s), length(s) FROM everything WHERE rowid = 2"), "text|0");
}

TEST_F(SqliteTest, GeneratedAndDefaultedColumnsAreLeftToTheDatabase) {
  Raw().Exec(R"(CREATE TABLE events (
      id INTEGER PRIMARY KEY,
      created DATETIME DEFAULT CURRENT_TIMESTAMP,
      label TEXT DEFAULT 'none',
      n INT NOT NULL DEFAULT 7,
      doubled INT GENERATED ALWAYS AS (n * 2)))");
  auto table = Component().GetTable("events");
  ASSERT_NE(table, nullptr);
  AddRow(*table, {});                                                             // all left to the database
  AddRow(*table, {{"id", std::int64_t{10}}, {"created", DateTime(2001, 1, 1)}});  // both given
  AddRow(*table, {{"label", Data::DBNull}, {"n", std::int64_t{1}}});  // an explicit null is written
  AddRow(*table, {{"created", DateTime(2002, 2, 2)}});                // only the key left out

  std::int64_t executionTime = 0;
  ASSERT_TRUE(Component().BulkToTable(*table, executionTime)) << Message(Component());
  EXPECT_EQ(Raw().Query("SELECT id, created LIKE '____-__-__ __:__:__' AND substr(created, 1, 4) >= '2020', "
                        "label, n, doubled "
                        "FROM events ORDER BY rowid"),
            "1|1|none|7|14\n"
            "10|0|none|7|14\n"
            "11|1|NULL|1|2\n"
            "12|0|none|7|14");
  EXPECT_EQ(Raw().Query("SELECT created FROM events WHERE id IN (10, 12) ORDER BY id"),
            "2001-01-01 00:00:00\n2002-02-02 00:00:00");
}

// Enough rows that most go many to a statement: every row keeps its own
// values (dates included) and its place, also where rows that leave the key
// to the database and rows that give it alternate.
TEST_F(SqliteTest, ManyRowsKeepTheirValuesAndOrder) {
  Raw().Exec("CREATE TABLE log (id INTEGER PRIMARY KEY, n INTEGER, at DATETIME, note TEXT)");
  auto table = Component().GetTable("log");
  ASSERT_NE(table, nullptr);
  constexpr int kRows = 1000;
  std::string expected;
  std::int64_t nextId = 1;
  for (int k = 0; k < kRows; ++k) {
    // Runs of rows with the key left out, runs with it given, and stretches
    // where the two alternate row by row.
    const bool givesId = (k >= 300 && k < 600) || (k >= 800 && k % 2 == 0);
    const std::int64_t id = givesId ? 10'000 + k : nextId;
    nextId = std::max(nextId, id) + 1;
    const DateTime at(DateTime(2020, 1, 1).Ticks() + std::int64_t{k} * DateTime::kTicksPerSecond * 61);
    const std::string note = "note " + std::to_string(k);
    Data::DataRow row = table->NewRow();
    if (givesId) row.Set("id", id);
    row.Set("n", std::int64_t{k});
    row.Set("at", at);
    row.Set("note", std::string_view(note));
    table->Rows().Add(row);
    expected +=
        (k ? "\n" : "") + std::to_string(id) + "|" + std::to_string(k) + "|" + at.ToString() + "|" + note;
  }
  std::int64_t executionTime = 0;
  ASSERT_TRUE(Component().BulkToTable(*table, executionTime)) << Message(Component());
  EXPECT_EQ(Message(Component()), "1000 rows written to table 'log'");
  EXPECT_EQ(Raw().Query("SELECT id, n, at, note FROM log ORDER BY rowid"), expected);
  EXPECT_EQ(Raw().Query("SELECT count(*) FROM log"), "1000");
}

// A refused row is named by its own position, also inside a statement of
// many rows, as a row-by-row write would name it, and nothing is written.
TEST_F(SqliteTest, ARefusedRowAmongManyIsNamedByItsPosition) {
  Raw().Exec("CREATE TABLE parts (code TEXT UNIQUE, qty INTEGER CHECK (qty >= 0))");
  for (const std::size_t bad : {std::size_t{0}, std::size_t{70}, std::size_t{199}, std::size_t{1023}}) {
    SCOPED_TRACE(bad);
    auto table = Component().GetTable("parts");
    ASSERT_NE(table, nullptr);
    for (std::size_t k = 0; k < 1024; ++k) {
      const std::string code = "c" + std::to_string(k);
      AddRow(*table, {{"code", std::string_view(code)}, {"qty", std::int64_t{k == bad ? -1 : 1}}});
    }
    std::int64_t executionTime = 0;
    EXPECT_FALSE(Component().BulkToTable(*table, executionTime));
    const std::string message = Message(Component());
    EXPECT_NE(message.find("row at position " + std::to_string(bad) + " (0-based)"), std::string::npos)
        << message;
    EXPECT_NE(message.find("SQLITE_CONSTRAINT_CHECK"), std::string::npos) << message;
    EXPECT_EQ(Raw().Query("SELECT count(*) FROM parts"), "0");
  }
  // A key the database holds already, refused at the last row.
  Raw().Exec("INSERT INTO parts VALUES ('taken', 1)");
  {
    auto table = Component().GetTable("parts");
    ASSERT_NE(table, nullptr);
    for (const char* code : {"a", "b", "taken"})
      AddRow(*table, {{"code", std::string_view(code)}, {"qty", std::int64_t{1}}});
    std::int64_t executionTime = 0;
    EXPECT_FALSE(Component().BulkToTable(*table, executionTime));
    const std::string message = Message(Component());
    EXPECT_NE(message.find("row at position 2 (0-based)"), std::string::npos) << message;
    EXPECT_NE(message.find("SQLITE_CONSTRAINT_UNIQUE"), std::string::npos) << message;
    EXPECT_EQ(Raw().Query("SELECT code FROM parts"), "taken");
  }
  Raw().Exec("DELETE FROM parts");
  // Two rows of one statement that clash with each other, through a rule
  // only the database knows.
  Raw().Exec("CREATE UNIQUE INDEX parts_folded ON parts (lower(code))");
  auto table = Component().GetTable("parts");
  ASSERT_NE(table, nullptr);
  for (std::size_t k = 0; k < 200; ++k) {
    const std::string code = k == 90 ? "C10" : "c" + std::to_string(k);
    AddRow(*table, {{"code", std::string_view(code)}, {"qty", std::int64_t{1}}});
  }
  std::int64_t executionTime = 0;
  EXPECT_FALSE(Component().BulkToTable(*table, executionTime));
  EXPECT_NE(Message(Component()).find("row at position 90 (0-based)"), std::string::npos)
      << Message(Component());
  EXPECT_NE(Message(Component()).find("SQLITE_CONSTRAINT_UNIQUE"), std::string::npos) << Message(Component());
  EXPECT_EQ(Raw().Query("SELECT count(*) FROM parts"), "0");
}

// The probe's table is a temporary one of the connection: the file's own
// schema is left as it was, whatever the number of rows.
TEST_F(SqliteTest, BulkExampleLeavesTheMainDatabaseAsItWas) {
  for (const std::int32_t iterations : {0, 1, 2500}) {
    SCOPED_TRACE(iterations);
    ASSERT_NO_THROW(Component().BulkExample(iterations));
  }
  EXPECT_EQ(Raw().Query("SELECT count(*) FROM sqlite_master"), "0")
      << "the example touched the main database";
}

// A writer that runs out of memory in the step `failing` (0 Begin, 1 Write,
// 2 Commit).
struct OutOfMemoryWriter {
  int failing;
  std::optional<WriteFailure> Step(int step) const {
    if (step == failing) throw std::bad_alloc();
    return std::nullopt;
  }
  std::optional<WriteFailure> Begin() { return Step(0); }
  std::optional<WriteFailure> Write(const Data::DataTable&, std::uint64_t) { return Step(1); }
  std::optional<WriteFailure> Commit() { return Step(2); }
};

// Out of memory is no row's fault: the message says so, in words, and names
// no row. Before the commit nothing was written and a rerun may succeed;
// during the commit nobody can say.
TEST_F(SqliteTest, OutOfMemoryInAWriteIsSaidInWordsAndNamesNoRow) {
  struct Case {
    int failing;
    bool retry;
    const char* says;
  } cases[] = {
      {0, true, "out of memory"}, {1, true, "out of memory"}, {2, false, "out of memory while committing"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.failing);
    auto table = Data::DataTable::Create("cases");
    Data::DataColumn id;
    id.ColumnName = "id";
    id.Type = Data::DataType::Int32;
    table->AddColumn(id);
    AddRow(*table, {{"id", 1}});
    ShapeCache shapes;
    const auto stream = MakeWriterStream<OutOfMemoryWriter>(
        Component(), shapes, *table,
        [&](std::optional<OutOfMemoryWriter>& writer, const Data::DataTable&) { writer.emplace(c.failing); },
        [](auto&& step) { return step(); }, [](bool) {});
    EXPECT_FALSE(stream->Append(*table) && stream->Commit());
    const std::string message = Message(Component());
    EXPECT_NE(message.find(c.says), std::string::npos) << message;
    EXPECT_EQ(message.find(kRerunTransaction) != std::string::npos, c.retry) << message;
    EXPECT_EQ(message.find("bad_alloc"), std::string::npos) << message;
    EXPECT_EQ(stream->FailedRow(), std::nullopt);
  }
}

}  // namespace
}  // namespace Tessel::Testing
