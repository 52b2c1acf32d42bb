// A table whose shape moves in the database while the bridge holds the shape
// it read first: a column added, or dropped and added back. Both roads read
// the shape again when the caller names a column it lacks, and the staging
// road also after a write that found the shape changed, on every backend,
// without a new LoadObject.
#include <string>

#include "EndToEndTest.h"
#include "TesselWrapper/Errors.h"
#include "support/Contains.h"
#include "support/RecordQueue.h"

namespace Tessel::EndToEnd {
namespace {

using Testing::Contains;
using Testing::RecordQueue;

class StaleShapeEndToEnd : public EndToEndTest {
 protected:
  void SetUp() override {
    EndToEndTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    db().Exec("CREATE TABLE moving (id {int} PRIMARY KEY, a {text})");
    db().Exec("CREATE TABLE other (id {int})");
  }

  bool Start(const char* table) { return bridge().StartNewRow(table, &stored, &written, &time); }
  // One row staged on the staging road: id, and `column` = `value`.
  void Stage(int id, const char* column, const char* value) {
    ASSERT_TRUE(Start("moving")) << Message();
    ASSERT_TRUE(bridge().AddFieldData("id", id)) << Message();
    ASSERT_TRUE(bridge().AddFieldData(column, value)) << Message();
    ASSERT_TRUE(bridge().AddCurRow()) << Message();
  }
  bool Queue(int id, const char* column, const char* value) {
    RecordQueue queue;
    SqlRow* record = queue.Add();
    record->AddLongField("id", id);
    record->AddTextField(column, value);
    return bridge().BulkToTable("moving", &queue.records, &time);
  }
  std::string Rows() { return db().Query("SELECT id, a, x FROM moving ORDER BY id"); }

  int stored = 0;
  int written = 0;
  long time = 0;
};

TEST_P(StaleShapeEndToEnd, AColumnAddedAfterTheShapeWasReadIsWrittenOnBothRoads) {
  // Both roads read the shape first.
  Stage(1, "a", "one");
  ASSERT_TRUE(Start("other")) << Message();
  ASSERT_TRUE(Queue(2, "a", "two")) << Message();

  db().Exec("ALTER TABLE moving ADD COLUMN x {text}");
  Stage(3, "a", "three");  // staged on the old shape, before the new column is named
  ASSERT_TRUE(Start("moving")) << Message();
  ASSERT_TRUE(bridge().AddFieldData("id", 4));
  ASSERT_TRUE(bridge().AddFieldData("x", "four")) << Message();
  ASSERT_TRUE(bridge().AddCurRow()) << Message();
  ASSERT_TRUE(Start("other")) << Message();
  EXPECT_EQ(written, 2);
  ASSERT_TRUE(Queue(5, "x", "five")) << Message();

  // Dropped and added back: the shape read after the drop lacks it again.
  db().Exec("ALTER TABLE moving DROP COLUMN x");
  // A backend that sees the drop at once refuses the column; one that finds
  // out by writing asks for a rerun, and the rerun refuses the column.
  try {
    EXPECT_FALSE(Queue(6, "x", "six"));
    EXPECT_TRUE(Contains(Message(), "schema change")) << Message();
    EXPECT_THROW(Queue(6, "x", "six"), ArgumentError);
  } catch (const ArgumentError& e) {
    EXPECT_TRUE(Contains(e.what(), "'x'")) << e.what();
  }
  db().Exec("ALTER TABLE moving ADD COLUMN x {text}");
  ASSERT_TRUE(Queue(6, "x", "six")) << Message();
  EXPECT_EQ(Rows(), "1|one|NULL\n2|two|NULL\n3|three|NULL\n4|NULL|NULL\n5|NULL|NULL\n6|NULL|six");
}

// A column no shape has is still refused, naming it, with nothing written.
TEST_P(StaleShapeEndToEnd, AColumnTheTableNeverHadIsStillRefused) {
  Stage(1, "a", "one");
  ASSERT_TRUE(Start("moving"));
  EXPECT_THROW(bridge().AddFieldData("nosuch", "?"), ArgumentError);
  EXPECT_THROW(Queue(2, "nosuch", "?"), ArgumentError);
  ASSERT_TRUE(Start("other")) << Message();
  EXPECT_EQ(db().Query("SELECT count(*) FROM moving"), "1");
}

// A write that finds a column gone asks for a rerun; the staged rows, which
// hold nothing for that column, move onto the shape the database has now,
// and the rerun writes them once.
TEST_P(StaleShapeEndToEnd, AfterAColumnIsDroppedTheStagingRerunWritesTheRowsOnce) {
  db().Exec("ALTER TABLE moving ADD COLUMN x {text}");
  Stage(1, "a", "one");
  Stage(2, "a", "two");
  db().Exec("ALTER TABLE moving DROP COLUMN x");
  EXPECT_FALSE(Start("other"));
  EXPECT_TRUE(Contains(Message(), "schema change")) << Message();
  ASSERT_TRUE(Start("other")) << Message();
  EXPECT_EQ(written, 2);
  EXPECT_EQ(db().Query("SELECT id, a FROM moving ORDER BY id"), "1|one\n2|two");
}

TESSEL_E2E_INSTANTIATE(StaleShapeEndToEnd);

}  // namespace
}  // namespace Tessel::EndToEnd
