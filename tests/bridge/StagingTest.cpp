// The staging road: StartNewRow's table switching and counters, the field
// stores and AddCurRow, against the scripted component.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "TesselWrapper/Errors.h"
#include "TesselWrapper/data/DateTime.h"
#include "bridge/BridgeFixture.h"
#include "support/ScopedEnv.h"

namespace Tessel::Testing {
namespace {

using Data::DataColumn;
using Data::DataType;
using Data::Value;

constexpr const char* kNoRow = "Current Row is null; cannot add data. Did you forget to StartNewRow()?";

class StagingTest : public BridgeTest {
 protected:
  void SetUp() override {
    BridgeTest::SetUp();
    component->AddTable(MakeTable("A", {{.ColumnName = "id", .Type = DataType::Int32},
                                        {.ColumnName = "name", .Type = DataType::String},
                                        {.ColumnName = "when", .Type = DataType::DateTime},
                                        {.ColumnName = "amount", .Type = DataType::Double},
                                        {.ColumnName = "big", .Type = DataType::Int64}}));
    component->AddTable(MakeTable("a", {{.ColumnName = "id", .Type = DataType::Int32}}));
    component->AddTable(MakeTable("B", {{.ColumnName = "id", .Type = DataType::Int32}}));
    component->AddTable(MakeTable("", {{.ColumnName = "id", .Type = DataType::Int32}}));
    auto unique = MakeTable("U", {{.ColumnName = "id", .Type = DataType::Int32}});
    unique->AddUniqueConstraint({0});
    component->AddTable(unique);
    component->MarkEnumTable("E");
  }

  bool Start(const char* name) { return bridge.StartNewRow(name, &stored, &written, &time); }

  // `rows` rows of `name`, each started and added.
  void Stage(const char* name, int rows) {
    for (int i = 0; i < rows; ++i) {
      ASSERT_TRUE(Start(name));
      ASSERT_TRUE(bridge.AddCurRow());
    }
  }

  std::optional<std::string> CurrentTable() const {
    const auto& table = component->DataTableCur();
    if (!table) return std::nullopt;
    return table->TableName();
  }

  Value Cell(const char* column) const { return component->DataRowCur()->Get(column); }

  int stored = 0;
  int written = 0;
  long time = 0;
};

// Every way StartNewRow can go, and which of the caller's counters it writes.
TEST_F(StagingTest, StartNewRowWritesTheCountersEachCaseCallsFor) {
  constexpr int kStored = 111;  // what a counter holds when it is not written
  constexpr int kWritten = 222;
  constexpr long kTime = 1000;
  constexpr long kFlushedTime = 1005;  // each scripted flush adds 5
  struct Case {
    const char* label;
    std::vector<std::pair<const char*, int>> before;  // tables staged first, with their rows
    const char* name;
    const char* flushMessage;  // what the flush leaves; nullptr for an ordinary status
    bool flushResult;
    int stored;
    int written;
    long time;
    bool result;
    std::optional<std::string> currentAfter;
  };
  const Case cases[] = {
      {"first selection, enumeration table", {}, "E", nullptr, true, -1, kWritten, kTime, true, std::nullopt},
      {"first selection, a table", {}, "A", nullptr, true, 0, kWritten, kTime, true, "A"},
      {"same name", {{"A", 2}}, "A", nullptr, true, 2, kWritten, kTime, true, "A"},
      {"other name, rerun asked",
       {{"A", 2}},
       "B",
       "deadlock detected. Rerun the transaction.",
       false,
       kStored,
       0,
       kFlushedTime,
       false,
       "A"},
      {"other name, schema change",
       {{"A", 2}},
       "B",
       "table A: schema change since GetTable",
       false,
       kStored,
       0,
       kFlushedTime,
       false,
       "A"},
      // Retry texts count only after a failed write.
      {"a success that names a retry text",
       {{"A", 2}},
       "B",
       "2 rows written to table 'schema change log'. Rerun the transaction if you like",
       true,
       0,
       2,
       kFlushedTime,
       true,
       "B"},
      {"other name, enumeration table next",
       {{"A", 2}},
       "E",
       nullptr,
       true,
       kStored,
       2,
       kFlushedTime,
       true,
       std::nullopt},
      {"other name, a table next", {{"A", 2}}, "B", nullptr, true, 0, 2, kFlushedTime, true, "B"},
      // Refused for good: the rows are dropped, the next table is selected,
      // and the caller hears of it.
      {"failed flush without a retry text",
       {{"A", 2}},
       "B",
       "UNIQUE constraint failed",
       false,
       0,
       0,
       kFlushedTime,
       false,
       "B"},
      {"names differing in case", {{"A", 1}}, "a", nullptr, true, 0, 1, kFlushedTime, true, "a"},
      // The empty name selects no table, even where the component has one
      // of that name.
      {"empty name after a named table",
       {{"A", 2}},
       "",
       nullptr,
       true,
       kStored,
       2,
       kFlushedTime,
       true,
       std::nullopt},
      {"absent name after a named table",
       {{"A", 2}},
       nullptr,
       nullptr,
       true,
       kStored,
       2,
       kFlushedTime,
       true,
       std::nullopt},
      {"empty name first", {}, "", nullptr, true, 0, kWritten, kTime, true, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    SetUp();  // a fresh component for each case
    for (const auto& [name, rows] : c.before) Stage(name, rows);
    const std::size_t flushesBefore = component->BulkCalls().size();
    component->QueueBulkOutcome(
        {.result = c.flushResult,
         .message = c.flushMessage ? std::optional<std::string>(c.flushMessage) : std::nullopt,
         .addExecutionTime = 5});
    stored = kStored;
    written = kWritten;
    time = kTime;

    EXPECT_EQ(Start(c.name), c.result);
    EXPECT_EQ(stored, c.stored);
    EXPECT_EQ(written, c.written);
    EXPECT_EQ(time, c.time);
    EXPECT_EQ(CurrentTable(), c.currentAfter);
    const bool flushed = c.time == kFlushedTime;
    ASSERT_EQ(component->BulkCalls().size(), flushesBefore + (flushed ? 1 : 0));
    if (flushed) {
      const auto& flush = component->BulkCalls().back();
      EXPECT_EQ(flush.tableName, c.before.back().first);
      EXPECT_EQ(flush.rows.size(), static_cast<std::size_t>(c.before.back().second));
      EXPECT_EQ(flush.executionTimeIn, kTime);
    }
  }
}

TEST_F(StagingTest, ARefusedTableIsDiscardedWithAMessageNamingItsRowsAndReason) {
  Stage("A", 3);
  component->QueueBulkOutcome({.result = false, .message = "UNIQUE constraint failed: A.id"});
  EXPECT_FALSE(Start("B"));
  EXPECT_EQ(written, 0);
  const std::string message = bridge.GetMessage();
  for (const char* part : {"3 staged rows", "'A'", "discarded", "UNIQUE constraint failed: A.id"})
    EXPECT_NE(message.find(part), std::string::npos) << part << " not in: " << message;

  // The caller goes on with B; A is never written again.
  Stage("B", 1);
  EXPECT_TRUE(Start(""));
  ASSERT_EQ(component->BulkCalls().size(), 2u);
  EXPECT_EQ(component->BulkCalls()[1].tableName, "B");
}

// A name the database lacks can never be written: it throws, naming the
// table and the table set, whether a table was current or not; a table that
// was written before is let go first, so calling again cannot write it twice.
TEST_F(StagingTest, ANameTheDatabaseLacksThrowsAfterTheWrittenTableIsLetGo) {
  for (const bool tableCurrent : {false, true}) {
    SCOPED_TRACE(tableCurrent ? "after a table" : "first selection");
    SetUp();
    if (tableCurrent) Stage("A", 2);
    stored = 111;
    try {
      Start("Missing");
      ADD_FAILURE() << "no error";
    } catch (const ArgumentError& e) {
      const std::string what = e.what();
      EXPECT_NE(what.find("'Missing'"), std::string::npos) << what;
      EXPECT_NE(what.find("'tableset'"), std::string::npos) << what;
    }
    EXPECT_EQ(CurrentTable(), std::nullopt);
    EXPECT_EQ(stored, 111);
    EXPECT_FALSE(bridge.AddFieldData("id", 1));
    ASSERT_TRUE(Start("B"));
    ASSERT_TRUE(Start(""));
    EXPECT_EQ(component->BulkCalls().size(), tableCurrent ? 2u : 1u);
  }
}

// An error while the next table is chosen (here: the catalogue is busy)
// comes after the written table was let go: the caller's retry selects the
// table and writes nothing twice.
TEST_F(StagingTest, AnErrorChoosingTheNextTableNeverWritesTheLastOneAgain) {
  Stage("A", 2);
  component->FailNext(ScriptedConnect::Operation::IsEnumTable,
                      DatabaseError("database is locked. Rerun the transaction.", ErrorCategory::Rerun));
  EXPECT_THROW(Start("B"), DatabaseError);
  EXPECT_EQ(written, 2);
  EXPECT_EQ(CurrentTable(), std::nullopt);
  ASSERT_TRUE(Start("B"));
  EXPECT_EQ(CurrentTable(), "B");
  ASSERT_TRUE(bridge.AddCurRow());
  ASSERT_TRUE(Start(""));
  ASSERT_EQ(component->BulkCalls().size(), 2u);
  EXPECT_EQ(component->BulkCalls()[0].tableName, "A");
  EXPECT_EQ(component->BulkCalls()[1].tableName, "B");
}

TEST_F(StagingTest, SelectingATableAsksIsEnumTableThenGetTableOnceAndTheEmptyNameAsksNothing) {
  Stage("A", 3);
  ASSERT_TRUE(Start(""));
  EXPECT_EQ(component->IsEnumTableRequests(), (std::vector<std::string>{"A"}));
  EXPECT_EQ(component->GetTableRequests(), (std::vector<std::string>{"A"}));
}

// A call that dropped rows says so, whatever happens after the refusal: the
// empty name needs no database, and an error while another table is chosen
// (the catalogue busy, here) joins the refusal instead of replacing it. No
// retry text may reach the message: a caller that reran would get true and
// never hear of the lost rows.
TEST_F(StagingTest, ARefusalIsReportedEvenWhenChoosingTheNextTableFails) {
  for (const char* next : {"", "B"}) {
    SCOPED_TRACE(std::string("next '") + next + "'");
    SetUp();
    Stage("A", 2);
    component->QueueBulkOutcome({.result = false, .message = "UNIQUE constraint failed: A.id"});
    component->SetDefaultBulkOutcome({.result = false, .message = "UNIQUE constraint failed: A.id"});
    // The lock arrives between the refusal and the selection.
    component->FailNext(ScriptedConnect::Operation::IsEnumTable,
                        DatabaseError("could not list the tables of 'main': database is locked. Rerun "
                                      "the transaction.",
                                      ErrorCategory::Rerun));
    const int asked = component->CallCount(ScriptedConnect::Operation::IsEnumTable);
    bool result = true;
    ASSERT_NO_THROW(result = Start(next));
    EXPECT_EQ(component->CallCount(ScriptedConnect::Operation::IsEnumTable), asked + (*next == '\0' ? 0 : 1));
    if (*next == '\0') EXPECT_THROW(component->IsEnumTable("x"), DatabaseError);  // the lock, unused
    EXPECT_FALSE(result);
    EXPECT_EQ(written, 0);
    const std::string message = bridge.GetMessage();
    for (const char* part : {"2 staged rows", "discarded", "UNIQUE constraint failed: A.id"})
      EXPECT_NE(message.find(part), std::string::npos) << part << " not in: " << message;
    EXPECT_EQ(message.find(kRerunTransaction), std::string::npos) << message;
    EXPECT_EQ(CurrentTable(), std::nullopt);
    // The caller goes on: B is selected now, and A is never written again.
    Stage("B", 1);
    EXPECT_EQ(component->BulkCalls().size(), 1u);
  }
}

// The decision is the category's, never the words': a refusal whose text
// names a retry (a table called so, a value echoed by the database) drops
// the rows, and a rerun without the words keeps them.
TEST_F(StagingTest, TheFailuresCategoryDecidesNotItsWords) {
  struct Case {
    const char* message;
    ErrorCategory category;
    bool kept;
  };
  for (const Case& c :
       {Case{"Key (name)=(Rerun the transaction) already exists", ErrorCategory::Refused, false},
        Case{"table 'schema change log' refused", ErrorCategory::Other, false},
        Case{"deadlock", ErrorCategory::Rerun, true}, Case{"lost", ErrorCategory::Connection, true},
        Case{"moved", ErrorCategory::SchemaChange, true}}) {
    SCOPED_TRACE(c.message);
    SetUp();
    Stage("A", 2);
    component->QueueBulkOutcome({.result = false, .message = c.message, .category = c.category});
    EXPECT_FALSE(Start("B"));
    EXPECT_EQ(CurrentTable(), c.kept ? std::optional<std::string>("A") : std::optional<std::string>("B"));
    if (!c.kept) {
      const std::string message = bridge.GetMessage();
      EXPECT_EQ(message.find(kRerunTransaction), std::string::npos) << message;
      EXPECT_EQ(message.find(kSchemaChange), std::string::npos) << message;
    }
  }
}

TEST_F(StagingTest, ARetryKeepsTheTableAndItsRowsForTheNextSwitch) {
  Stage("A", 2);
  component->QueueBulkOutcome({.result = false, .message = "busy: Rerun the transaction"});
  EXPECT_FALSE(Start("B"));
  EXPECT_EQ(bridge.GetMessage(), "busy: Rerun the transaction");
  EXPECT_EQ(CurrentTable(), "A");

  // The caller goes on staging into the kept table, then switches again.
  Stage("A", 1);
  EXPECT_TRUE(Start("B"));
  ASSERT_EQ(component->BulkCalls().size(), 2u);
  EXPECT_EQ(component->BulkCalls()[0].rows.size(), 2u);
  EXPECT_EQ(component->BulkCalls()[1].tableName, "A");
  EXPECT_EQ(component->BulkCalls()[1].rows.size(), 3u);
  EXPECT_EQ(CurrentTable(), "B");
}

TEST_F(StagingTest, ARetryLeavesTheOpenRowOpen) {
  ASSERT_TRUE(Start("A"));
  ASSERT_TRUE(bridge.AddFieldData("id", 7));
  component->QueueBulkOutcome({.result = false, .message = "schema change"});
  EXPECT_FALSE(Start("B"));
  ASSERT_TRUE(component->DataRowCur().has_value());
  EXPECT_EQ(Cell("id"), Value(std::int32_t{7}));
}

TEST_F(StagingTest, ARowStartedAgainWithoutAddCurRowIsDropped) {
  ASSERT_TRUE(Start("A"));
  ASSERT_TRUE(bridge.AddFieldData("id", 1));
  ASSERT_TRUE(Start("A"));
  EXPECT_EQ(stored, 0);
  ASSERT_TRUE(bridge.AddFieldData("id", 2));
  ASSERT_TRUE(bridge.AddCurRow());
  ASSERT_TRUE(Start("B"));
  ASSERT_EQ(component->BulkCalls().size(), 1u);
  ASSERT_EQ(component->BulkCalls()[0].rows.size(), 1u);
  EXPECT_EQ(component->BulkCalls()[0].rows[0][0], Value(std::int32_t{2}));
}

TEST_F(StagingTest, AnEnumerationTableStagesNothing) {
  EXPECT_TRUE(Start("E"));
  EXPECT_EQ(stored, -1);
  bridge.SetMessage("before");
  EXPECT_FALSE(bridge.AddFieldData("id", 1));
  EXPECT_EQ(bridge.GetMessage(), kNoRow);
  EXPECT_TRUE(bridge.AddCurRow());
  EXPECT_TRUE(Start("B"));
  EXPECT_TRUE(component->BulkCalls().empty()) << "no table was current, so nothing is flushed";
}

// A row opened and never added goes with its table when the table is written:
// a field store then fails for want of a row, as after any selection of an
// enumeration table, instead of filling a row that could reach no table.
TEST_F(StagingTest, ASwitchToAnEnumerationTableDropsTheOpenRowWithItsTable) {
  Stage("A", 1);
  ASSERT_TRUE(Start("A"));  // opened, never added
  stored = 55;
  EXPECT_TRUE(Start("E"));
  EXPECT_EQ(stored, 55) << "a change of table does not write rowsStoredCount";

  EXPECT_FALSE(bridge.AddFieldData("id", 9));
  EXPECT_EQ(bridge.GetMessage(), kNoRow);
  EXPECT_TRUE(bridge.AddCurRow());
  EXPECT_TRUE(Start("B"));
  ASSERT_EQ(component->BulkCalls().size(), 1u);
  EXPECT_EQ(component->BulkCalls()[0].rows.size(), 1u);
  EXPECT_EQ(component->BulkCalls()[0].table->Rows().Count(), 1u);
}

TEST_F(StagingTest, EveryStoreFailsWithoutAnOpenRow) {
  const std::vector<std::pair<const char*, std::function<bool()>>> stores = {
      {"text", [&] { return bridge.AddFieldData("name", "x"); }},
      {"int", [&] { return bridge.AddFieldData("id", 1); }},
      {"long", [&] { return bridge.AddFieldData("id", 1L); }},
      {"double", [&] { return bridge.AddFieldData("amount", 1.0); }},
      {"date", [&] { return bridge.AddFieldDateTimeData("when", 1.0); }},
      {"NaN date", [&] { return bridge.AddFieldDateTimeData("when", std::nan("")); }},
  };
  for (const auto& [label, store] : stores) {
    bridge.SetMessage("before");
    EXPECT_FALSE(store()) << label;
    EXPECT_EQ(bridge.GetMessage(), kNoRow) << label;
  }
}

TEST_F(StagingTest, AddCurRowTwiceFailsTheSecondTime) {
  ASSERT_TRUE(Start("A"));
  EXPECT_TRUE(bridge.AddCurRow());
  bridge.SetMessage("");
  EXPECT_FALSE(bridge.AddCurRow());
  EXPECT_NE(bridge.GetMessage().find("'A'"), std::string::npos) << bridge.GetMessage();
  ASSERT_TRUE(Start("B"));
  EXPECT_EQ(component->BulkCalls()[0].rows.size(), 1u);
}

TEST_F(StagingTest, ARefusedRowStaysOpenToBeMended) {
  ASSERT_TRUE(Start("U"));
  ASSERT_TRUE(bridge.AddFieldData("id", 1));
  ASSERT_TRUE(bridge.AddCurRow());
  ASSERT_TRUE(Start("U"));
  ASSERT_TRUE(bridge.AddFieldData("id", 1));
  EXPECT_FALSE(bridge.AddCurRow());
  EXPECT_FALSE(bridge.GetMessage().empty());
  ASSERT_TRUE(component->DataRowCur().has_value());

  ASSERT_TRUE(bridge.AddFieldData("id", 2));
  EXPECT_TRUE(bridge.AddCurRow());
  EXPECT_EQ(component->DataTableCur()->Rows().Count(), 2u);
}

TEST_F(StagingTest, FieldStoresPutTheirValueIntoTheOpenRow) {
  const Data::DateTime noonAfterDayOne(1899, 12, 31, 12);
  const struct {
    const char* label;
    std::function<bool(ConnectWrapper&)> store;
    const char* column;
    Value expected;
  } cases[] = {
      {"int", [](ConnectWrapper& b) { return b.AddFieldData("id", -42); }, "id", Value(std::int32_t{-42})},
      {"long within 32 bits", [](ConnectWrapper& b) { return b.AddFieldData("id", -42L); }, "id",
       Value(std::int32_t{-42})},
      {"long beyond 32 bits (where long has 64), stored whole",
       [](ConnectWrapper& b) { return b.AddFieldData("big", kLongHighBits + 5); }, "big",
       Value(std::int64_t{kLongHighBits + 5})},
      {"double", [](ConnectWrapper& b) { return b.AddFieldData("amount", 0.1); }, "amount", Value(0.1)},
      {"text", [](ConnectWrapper& b) { return b.AddFieldData("name", "caf\xC3\xA9"); }, "name",
       Value("caf\xC3\xA9")},
      {"absent text", [](ConnectWrapper& b) { return b.AddFieldData("name", nullptr); }, "name", Value("")},
      {"date", [](ConnectWrapper& b) { return b.AddFieldDateTimeData("when", 1.5); }, "when",
       Value(noonAfterDayOne)},
      {"date 0.0", [](ConnectWrapper& b) { return b.AddFieldDateTimeData("when", 0.0); }, "when",
       Value(Data::DBNull)},
      {"date -0.0", [](ConnectWrapper& b) { return b.AddFieldDateTimeData("when", -0.0); }, "when",
       Value(Data::DBNull)},
      {"column found ignoring case", [](ConnectWrapper& b) { return b.AddFieldData("NAME", "x"); }, "name",
       Value("x")},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(Start("A"));
    // A value in the column first, so that storing DBNull is seen to happen.
    ASSERT_TRUE(bridge.AddFieldDateTimeData("when", 2.0));
    EXPECT_TRUE(c.store(bridge)) << c.label;
    EXPECT_EQ(Cell(c.column), c.expected)
        << c.label << ": got " << Cell(c.column).ToString() << ", expected " << c.expected.ToString();
  }
}

TEST_F(StagingTest, AFieldTheRowRefusesThrowsNamingTableColumnAndValue) {
  ASSERT_TRUE(Start("A"));
  const auto expectThrowNaming = [](const std::function<void()>& store, const char* column,
                                    const char* value) {
    try {
      store();
      ADD_FAILURE() << "no error for column " << column;
    } catch (const ArgumentError& e) {
      const std::string what = e.what();
      EXPECT_NE(what.find("'A'"), std::string::npos) << what;
      EXPECT_NE(what.find(column), std::string::npos) << what;
      EXPECT_NE(what.find(value), std::string::npos) << what;
    }
  };
  expectThrowNaming([&] { bridge.AddFieldData("nosuch", 5); }, "nosuch", "5");
  // A long beyond the column's 32 bits, where long has more (not on Windows
  // or 32-bit Linux, where every long fits).
  const long beyond = sizeof(long) > 4 ? static_cast<long>(std::int64_t{1} << 40) : 0;
  if (beyond != 0) expectThrowNaming([&] { bridge.AddFieldData("id", beyond); }, "id", "1099511627776");
  expectThrowNaming([&] { bridge.AddFieldData("id", "twelve"); }, "id", "twelve");
  expectThrowNaming([&] { bridge.AddFieldDateTimeData("when", std::nan("")); }, "when", "NaN");
  expectThrowNaming([&] { bridge.AddFieldDateTimeData("when", 2958466.0); }, "when", "2958466");
  if (beyond != 0) {
    EXPECT_THROW(bridge.AddFieldData("id", beyond), OverflowError) << "the error keeps its class";
  }
  EXPECT_TRUE(component->DataRowCur()->Get("id").IsDBNull()) << "a refused value is not stored";
}

TEST_F(StagingTest, ExecutionTimeCrossesAsItsLow32Bits) {
  for (const ExecutionTimeCase& c : kExecutionTimeCases) {
    Stage("A", 1);
    component->QueueBulkOutcome({.setExecutionTime = c.componentLeaves});
    time = c.in;
    ASSERT_TRUE(Start("B"));
    EXPECT_EQ(component->BulkCalls().back().executionTimeIn, c.componentSees) << c.in;
    EXPECT_EQ(time, c.out) << c.componentLeaves;
    component->SetDataTableCur(nullptr);  // back to no table for the next case
  }
}

TEST_F(StagingTest, TheEmptyNameTwiceGoesToTheTraceOnlyWhenAskedFor) {
  for (const char* setting : {"", "0", "1"}) {
    const ScopedEnv traceSetting("TESSEL_TRACE", setting);
    SetUp();
    // Only a component of a caller's own can make a table of the empty name
    // current; the bridge never selects one.
    component->SetDataTableCur(component->GetTable(""));
    component->SetDataRowCur(component->DataTableCur()->NewRow());
    ASSERT_TRUE(bridge.AddCurRow());
    testing::internal::CaptureStderr();
    EXPECT_TRUE(Start(""));
    const std::string trace = testing::internal::GetCapturedStderr();
    EXPECT_EQ(component->BulkCalls().size(), 1u);
    if (std::string(setting) == "1") {
      EXPECT_NE(trace.find("empty table name"), std::string::npos) << trace;
    } else {
      EXPECT_EQ(trace, "") << "TESSEL_TRACE='" << setting << "'";
    }
  }
}

}  // namespace
}  // namespace Tessel::Testing
