// The queued road: SqlRow records into one table in one call.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <queue>
#include <string>
#include <vector>

#include "TesselWrapper/Errors.h"
#include "TesselWrapper/data/DateTime.h"
#include "bridge/BridgeFixture.h"
#include "support/RecordQueue.h"
#include "support/ScopedEnv.h"

namespace Tessel::Testing {
namespace {

using Data::DataType;
using Data::Value;

SqlRow* Record(std::int32_t id) {
  auto* record = new SqlRow;
  record->AddLongField("id", id);
  return record;
}

class BulkTransferTest : public BridgeTest {
 protected:
  void SetUp() override {
    BridgeTest::SetUp();
    auto table = MakeTable("T", {{.ColumnName = "id", .Type = DataType::Int32},
                                 {.ColumnName = "d", .Type = DataType::Double},
                                 {.ColumnName = "s", .Type = DataType::Int32},
                                 {.ColumnName = "when", .Type = DataType::DateTime},
                                 {.ColumnName = "name", .Type = DataType::String},
                                 {.ColumnName = "other", .Type = DataType::String}});
    table->AddUniqueConstraint({0});
    component->AddTable(table);
  }

  bool Transfer(const char* table = "T") { return bridge.BulkToTable(table, &queue.records, &time); }

  // The rows the component was handed in its only BulkToTable call.
  const std::vector<std::vector<Value>>& Written() {
    EXPECT_EQ(component->BulkCalls().size(), 1u);
    return component->BulkCalls().at(0).rows;
  }

  RecordQueue queue;
  long time = 0;
};

TEST_F(BulkTransferTest, AnEmptyQueueStillWritesTheTable) {
  component->QueueBulkOutcome({.result = false, .message = "refused", .addExecutionTime = 9});
  time = 1;
  EXPECT_FALSE(Transfer());
  EXPECT_EQ(time, 10);
  EXPECT_EQ(component->GetTableRequests(), std::vector<std::string>{"T"});
  EXPECT_TRUE(Written().empty());
  EXPECT_EQ(component->BulkCalls()[0].tableName, "T");
}

TEST_F(BulkTransferTest, RecordsWithoutFieldsYieldNoRow) {
  queue.Push(new SqlRow);
  queue.Push(Record(1));
  SqlRow* negative = queue.Push(Record(2));
  negative->fieldCount = -1;
  queue.Push(Record(3));
  EXPECT_TRUE(Transfer());
  EXPECT_TRUE(queue.records.empty());
  ASSERT_EQ(Written().size(), 2u);
  EXPECT_EQ(Written()[0][0], Value(std::int32_t{1}));
  EXPECT_EQ(Written()[1][0], Value(std::int32_t{3}));
}

TEST_F(BulkTransferTest, TypeNamesMatchInAnyCaseAndPickTheValue) {
  const struct {
    CStringA type;
    const char* column;
    NUMERICDATA number;
    const char* text;
    Value expected;
  } cases[] = {
      {"Double", "d", {.doubleValue = 2.5}, "", Value(2.5)},
      {"double", "d", {.doubleValue = -0.5}, "", Value(-0.5)},
      {"DOUBLE", "d", {.doubleValue = 1e-5}, "", Value(1e-5)},
      {"longinteger", "s", {.longValue = -70000}, "", Value(std::int32_t{-70000})},
      {"ShortInteger", "s", {.shortValue = -1}, "", Value(std::int32_t{-1})},
      {"SHORTINTEGER", "s", {.shortValue = 32767}, "", Value(std::int32_t{32767})},
      {"Date", "when", {.doubleValue = 0}, "", Value(Data::DateTime(1899, 12, 30))},
      {"date", "when", {.doubleValue = 1.5}, "", Value(Data::DateTime(1899, 12, 31, 12))},
      {"DateTime", "when", {.doubleValue = -1.5}, "", Value(Data::DateTime(1899, 12, 29, 12))},
      {"Text", "name", {.doubleValue = 7}, "seven", Value("seven")},
      {"memo", "name", {.doubleValue = 7}, "", Value("")},
      {"Integer", "s", {.longValue = 5}, "5", Value(Data::DBNull)},  // no such type: left at default
      {"", "s", {.longValue = 5}, "5", Value(Data::DBNull)},
      // A type name ends at its first NUL, as when it comes from a padded buffer.
      {CStringA("LongInteger\0\0\0\0\0", 16), "s", {.longValue = 6}, "", Value(std::int32_t{6})},
      {CStringA("Memo\0Double", 11), "name", {.doubleValue = 7}, "padded", Value("padded")},
  };
  std::int32_t id = 0;
  for (const auto& c : cases) {
    SqlRow* record = queue.Push(Record(++id));
    record->AddField(c.column, c.type, c.text, c.number);
  }
  ASSERT_TRUE(Transfer());
  ASSERT_EQ(Written().size(), std::size(cases));
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const auto& c = cases[i];
    const auto& table = *component->BulkCalls()[0].table;
    const Value got = Written()[i][table.ColumnIndex(c.column)];
    EXPECT_EQ(got, c.expected) << "type '" << c.type.GetString() << "': got " << got.ToString();
  }
}

TEST_F(BulkTransferTest, LaterFieldsOfOneColumnWin) {
  SqlRow* record = queue.Push(Record(1));
  record->AddTextField("name", "first");
  record->AddTextField("NAME", "second");
  ASSERT_TRUE(Transfer());
  EXPECT_EQ(Written()[0][4], Value("second"));
}

// Records of one queue need not list their fields alike: each field goes by
// its own name and type, whatever the record before it had at that place.
TEST_F(BulkTransferTest, FieldsAreMatchedPerRecordWhateverTheirOrder) {
  SqlRow* first = queue.Push(Record(1));
  first->AddDoubleField("d", 1.5);
  first->AddTextField("name", "a");
  SqlRow* swapped = queue.Push(Record(2));
  swapped->AddTextField("name", "b");
  swapped->AddDoubleField("d", 2.5);
  SqlRow* otherColumn = queue.Push(Record(3));
  otherColumn->AddTextField("other", "c");  // same type as before here, another column
  otherColumn->AddTextField("name", "c2");
  SqlRow* otherSpelling = queue.Push(Record(4));
  otherSpelling->AddDoubleField("D", 4.5);  // found without regard to case
  otherSpelling->AddField("name", "Text", "d", NUMERICDATA{});
  ASSERT_TRUE(Transfer());
  ASSERT_EQ(Written().size(), 4u);
  const Value null;
  const std::vector<std::vector<Value>> expected = {
      {std::int32_t{1}, 1.5, null, null, Value("a"), null},
      {std::int32_t{2}, 2.5, null, null, Value("b"), null},
      {std::int32_t{3}, null, null, null, Value("c2"), Value("c")},
      {std::int32_t{4}, 4.5, null, null, Value("d"), null},
  };
  EXPECT_EQ(Written(), expected);
}

// A record the table refuses (a key repeated inside the queue, a required
// value missing) stops the whole call: writing the rest would lose records
// behind a success. Nothing is written, the queue is as it was, and the
// message counts the refusals and names the first few, without a retry text.
// A record without fields makes no row and is no refusal.
TEST_F(BulkTransferTest, ARefusedRecordWritesNothingAndKeepsTheQueue) {
  SqlRow* empty = queue.Push(new SqlRow);
  queue.Push(Record(1));
  for (int i = 0; i < 4; ++i) queue.Push(Record(1));  // the key four times again
  queue.Push(Record(2));
  const auto contents = [this] {
    std::vector<SqlRow*> records;
    for (auto copy = queue.records; !copy.empty(); copy.pop()) records.push_back(copy.front());
    return records;
  };
  const std::vector<SqlRow*> before = contents();
  time = 5;
  EXPECT_FALSE(Transfer());
  EXPECT_TRUE(component->BulkCalls().empty()) << "nothing may reach the database";
  EXPECT_EQ(contents(), before);
  EXPECT_EQ(empty->fieldCount, 0);
  EXPECT_EQ(component->FailureCategory(), ErrorCategory::Refused);
  const std::string message = bridge.GetMessage();
  for (const char* part : {"'T'", "4 of 7 records were refused", "nothing was written",
                           "record 2:", "record 3:", "record 4:", "..."})
    EXPECT_NE(message.find(part), std::string::npos) << part << " not in: " << message;
  EXPECT_EQ(message.find("record 1:"), std::string::npos) << message;
  EXPECT_EQ(message.find("record 5:"), std::string::npos) << "only the first few are named: " << message;
  EXPECT_EQ(message.find(kRerunTransaction), std::string::npos) << message;

  // Mended (the repeats taken out), the same queue is written whole.
  for (std::size_t i = 0; i < before.size(); ++i) {
    SqlRow* record = queue.records.front();
    queue.records.pop();
    if (i >= 2 && i <= 5) {
      delete record;
    } else {
      queue.records.push(record);
    }
  }
  EXPECT_TRUE(Transfer());
  EXPECT_TRUE(queue.records.empty());
  ASSERT_EQ(Written().size(), 2u);
}

TEST_F(BulkTransferTest, EveryRecordGoesIntoTheNamedTable) {
  SqlRow* record = queue.Push(Record(1));
  record->SetTableName("elsewhere");
  ASSERT_TRUE(Transfer());
  EXPECT_EQ(component->BulkCalls()[0].tableName, "T");
  EXPECT_EQ(Written().size(), 1u);
}

// Whatever stops the call, the caller's queue is exactly as it was: the same
// records in the same order, none deleted, so that it can be mended or run
// again and every row is written once.
TEST_F(BulkTransferTest, AnyFailureLeavesTheWholeQueueAsItWas) {
  enum class Fault { FieldCannotBeStored, WriteAsksForRerun, WriteRefused, ComponentThrows };
  for (const Fault fault :
       {Fault::FieldCannotBeStored, Fault::WriteAsksForRerun, Fault::WriteRefused, Fault::ComponentThrows}) {
    SCOPED_TRACE(static_cast<int>(fault));
    SetUp();
    queue.Clear();
    SqlRow* first = queue.Push(Record(1));
    SqlRow* second = queue.Push(Record(2));
    SqlRow* third = queue.Push(Record(3));
    time = 77;
    switch (fault) {
      case Fault::FieldCannotBeStored:
        second->AddTextField("nosuch", "lost?");
        break;
      case Fault::WriteAsksForRerun:
        component->QueueBulkOutcome(
            {.result = false, .message = "database is locked. Rerun the transaction."});
        break;
      case Fault::WriteRefused:
        component->QueueBulkOutcome({.result = false, .message = "UNIQUE constraint failed"});
        break;
      case Fault::ComponentThrows:
        component->FailNext(ScriptedConnect::Operation::BulkToTable, DatabaseError("connection reset"));
        break;
    }

    if (fault == Fault::FieldCannotBeStored) {
      try {
        Transfer();
        ADD_FAILURE() << "no error";
      } catch (const ArgumentError& e) {
        const std::string what = e.what();
        for (const char* part : {"record 1", "'T'", "nosuch", "lost?", "queue is as it was"}) {
          EXPECT_NE(what.find(part), std::string::npos) << part << " not in: " << what;
        }
      }
      EXPECT_TRUE(component->BulkCalls().empty());
      EXPECT_EQ(time, 77);
    } else if (fault == Fault::ComponentThrows) {
      EXPECT_THROW(Transfer(), DatabaseError);
    } else {
      EXPECT_FALSE(Transfer());
    }
    ASSERT_EQ(queue.records.size(), 3u);
    EXPECT_EQ(queue.records.front(), first);
    EXPECT_EQ(queue.records.back(), third);
    EXPECT_EQ(first->fieldCount, 1);  // not deleted: still readable, still whole
    EXPECT_EQ(second->fieldNames[0], "id");
  }
}

TEST_F(BulkTransferTest, AFailedFieldKeepsItsErrorClass) {
  SqlRow* record = queue.Push(Record(1));
  record->AddDoubleField("s", 1e20);
  EXPECT_THROW(Transfer(), OverflowError);
  record->Reset();
  record->AddDateField("when", 2958466.0);
  EXPECT_THROW(Transfer(), ArgumentError);
  EXPECT_EQ(queue.records.front(), record);
}

TEST_F(BulkTransferTest, AnUnknownTableThrowsBeforeTheQueueIsTouched) {
  SqlRow* first = queue.Push(Record(1));
  queue.Push(Record(2));
  time = 3;
  try {
    Transfer("Nope");
    FAIL() << "no error";
  } catch (const ArgumentError& e) {
    EXPECT_NE(std::string(e.what()).find("'Nope'"), std::string::npos) << e.what();
  }
  EXPECT_EQ(queue.records.size(), 2u);
  EXPECT_EQ(queue.records.front(), first);
  EXPECT_EQ(first->fieldCount, 1);
  EXPECT_EQ(time, 3);
  EXPECT_TRUE(component->BulkCalls().empty());
}

TEST_F(BulkTransferTest, ARecordShorterThanItsCountIsRefusedWhole) {
  SqlRow* record = queue.Push(Record(1));
  record->fieldCount = 3;
  EXPECT_THROW(Transfer(), ArgumentError);
  EXPECT_EQ(queue.records.front(), record);
}

TEST_F(BulkTransferTest, ExecutionTimeCrossesAsItsLow32Bits) {
  for (const ExecutionTimeCase& c : kExecutionTimeCases) {
    component->QueueBulkOutcome({.setExecutionTime = c.componentLeaves});
    time = c.in;
    ASSERT_TRUE(Transfer());
    EXPECT_EQ(component->BulkCalls().back().executionTimeIn, c.componentSees) << c.in;
    EXPECT_EQ(time, c.out) << c.componentLeaves;
  }
}

TEST_F(BulkTransferTest, RefusedRowsAndTheCountCheckGoToTheTraceWhenAskedFor) {
  for (const char* setting : {"0", "1"}) {
    const ScopedEnv traceSetting("TESSEL_TRACE", setting);
    queue.Clear();
    queue.Push(Record(1));
    SqlRow* duplicate = queue.Push(Record(1));
    duplicate->AddTextField("name", "dup");
    testing::internal::CaptureStderr();
    EXPECT_FALSE(Transfer());
    const std::string trace = testing::internal::GetCapturedStderr();
    if (std::string(setting) == "1") {
      EXPECT_NE(trace.find("TABLE: T, Row: 1, Col: 2; name "), std::string::npos) << trace;
      EXPECT_NE(trace.find("1 =? 2"), std::string::npos) << trace;
    } else {
      EXPECT_EQ(trace, "");
    }
  }
}

}  // namespace
}  // namespace Tessel::Testing
