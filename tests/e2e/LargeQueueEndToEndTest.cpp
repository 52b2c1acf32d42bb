// The queued road with a queue long enough that a backend may write rows
// while the later records are still being converted: the outcome of every
// case must be the one of a call that converted everything first.
#include <cstdint>
#include <queue>
#include <string>
#include <vector>

#include "EndToEndTest.h"
#include "TesselWrapper/Errors.h"
#include "TesselWrapper/component/DbConnect.h"
#include "support/Contains.h"
#include "support/RecordQueue.h"

namespace Tessel::EndToEnd {
namespace {

using Testing::Contains;
using Testing::RecordQueue;

constexpr std::int32_t kRecords = 40'000;

class LargeQueueEndToEnd : public EndToEndTest {
 protected:
  void SetUp() override {
    EndToEndTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    db().Exec("CREATE TABLE readings (id {int} PRIMARY KEY, value {real}, label {text})");
  }

  // Records 0 .. count-1 with ids 1 .. count.
  void Fill(RecordQueue& queue, std::int32_t count = kRecords) {
    for (std::int32_t i = 0; i < count; ++i) {
      SqlRow* record = queue.Add();
      record->AddLongField("id", i + 1);
      record->AddDoubleField("value", i * 0.5);
      record->AddTextField("label", ("reading " + std::to_string(i)).c_str());
      pointers_.push_back(record);
    }
  }
  // The queue holds exactly the records it was filled with, in order.
  void ExpectQueueUntouched(RecordQueue& queue) {
    ASSERT_EQ(queue.records.size(), pointers_.size());
    std::size_t i = 0;
    for (std::queue<SqlRow*> copy = queue.records; !copy.empty(); copy.pop(), ++i)
      ASSERT_EQ(copy.front(), pointers_[i]) << i;
  }
  std::string Count() { return db().Query("SELECT count(*) FROM readings"); }

  std::vector<SqlRow*> pointers_;
};

// Records the table refuses (here a key repeated inside the queue, early
// and late) stop the whole call, whether the rows are made before the write
// or while it runs: nothing is written, the queue is as it was, and the
// message names them. Mended, the same queue is written whole, each row once.
TEST_P(LargeQueueEndToEnd, ARefusedRecordWritesNothingAndTheMendedQueueEveryRowOnce) {
  for (const std::int32_t records : {400, kRecords}) {
    SCOPED_TRACE(records);
    pointers_.clear();
    RecordQueue queue;
    Fill(queue, records);
    const std::int32_t late = records - records / 40;  // 390, 39000
    pointers_[5]->numericValues[0].longValue = 5;      // the id of record 4
    pointers_[late]->numericValues[0].longValue = 7;
    long time = 0;
    EXPECT_FALSE(bridge().BulkToTable("readings", &queue.records, &time));
    ExpectQueueUntouched(queue);
    EXPECT_EQ(Count(), "0");
    const std::string message = Message();
    EXPECT_TRUE(Contains(message, "2 of " + std::to_string(records) + " records were refused")) << message;
    EXPECT_TRUE(Contains(message, "record 5:")) << message;
    EXPECT_TRUE(Contains(message, "record " + std::to_string(late) + ":")) << message;
    EXPECT_FALSE(Contains(message, kRerunTransaction)) << message;

    pointers_[5]->numericValues[0].longValue = 6;
    pointers_[late]->numericValues[0].longValue = late + 1;
    ASSERT_TRUE(bridge().BulkToTable("readings", &queue.records, &time)) << Message();
    EXPECT_TRUE(queue.records.empty());
    EXPECT_EQ(Count(), std::to_string(records));
    EXPECT_EQ(db().Query("SELECT count(DISTINCT id) FROM readings"), std::to_string(records));
    EXPECT_EQ(db().Query("SELECT label FROM readings WHERE id = " + std::to_string(records)),
              "reading " + std::to_string(records - 1));
    db().Exec("DELETE FROM readings");
  }
}

// What stops the call wins as it would had every row been made before the
// write: a record that cannot be converted, late in the queue, even when the
// database refuses the rows too.
TEST_P(LargeQueueEndToEnd, WhatStopsTheCallIsDecidedAsIfEveryRowWereMadeFirst) {
  struct Case {
    const char* what;
    std::int32_t takenId;  // a row already in the table with this id; 0: none
    std::int32_t badAt;    // a record whose value no column can hold; -1: none
    bool throws;
  };
  const Case cases[] = {
      {"a late record that cannot be converted", 0, kRecords - 10, true},
      {"a key the database holds already", 30'000, -1, false},
      {"both", 100, kRecords - 10, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    db().Exec("DELETE FROM readings");
    if (c.takenId != 0)
      db().Exec("INSERT INTO readings (id, label) VALUES (" + std::to_string(c.takenId) + ", 'taken')");
    pointers_.clear();
    RecordQueue queue;
    Fill(queue);
    if (c.badAt >= 0) pointers_[c.badAt]->AddTextField("value", "not a number");
    ASSERT_TRUE(bridge().Test());  // a known message to compare with
    const std::string before = Message();
    long time = 17;
    if (c.throws) {
      try {
        bridge().BulkToTable("readings", &queue.records, &time);
        ADD_FAILURE() << "no error for the record that cannot be converted";
      } catch (const Tessel::Error& e) {
        EXPECT_TRUE(Contains(e.what(), "record " + std::to_string(c.badAt) + " of the queue")) << e.what();
        EXPECT_TRUE(Contains(e.what(), "not a number")) << e.what();
      }
      EXPECT_EQ(time, 17);
      EXPECT_EQ(Message(), before);
    } else {
      EXPECT_FALSE(bridge().BulkToTable("readings", &queue.records, &time));
      EXPECT_TRUE(Contains(Message(), "readings")) << Message();
    }
    ExpectQueueUntouched(queue);
    EXPECT_EQ(Count(), c.takenId != 0 ? "1" : "0");
  }
}

TESSEL_E2E_INSTANTIATE(LargeQueueEndToEnd);

}  // namespace
}  // namespace Tessel::EndToEnd
