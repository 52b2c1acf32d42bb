// The staging road against a real database: rows staged field by field reach
// their tables when the caller moves on, and a database that asks for a retry
// keeps the staged rows for the next switch.
#include <string>

#include "EndToEndTest.h"
#include "support/Contains.h"

namespace Tessel::EndToEnd {
namespace {

constexpr int kUnwritten = -99;  // what a counter holds when StartNewRow leaves it alone
// A long beyond 32 bits where long has 64 (not on Windows or 32-bit Linux).
constexpr long kBig = sizeof(long) > 4 ? static_cast<long>(5'000'000'000LL) : 2'000'000'000L;
constexpr const char* kRerun = "Rerun the transaction";
constexpr const char* kSchemaChange = "schema change";

using Testing::Contains;

class StagingEndToEnd : public EndToEndTest {
 protected:
  void SetUp() override {
    EndToEndTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    db().Exec(
        "CREATE TABLE cases (id {int} PRIMARY KEY, name {text}, weight {real}, big {bigint}, "
        "created {datetime})");
    db().Exec("CREATE TABLE notes (case_id {int} NOT NULL, note {text})");
    db().Exec(
        "CREATE TABLE tessel_enum_tables (name {text} PRIMARY KEY); "
        "INSERT INTO tessel_enum_tables VALUES ('colours')");
  }

  bool Start(const char* table) { return bridge().StartNewRow(table, &stored, &written, &time); }

  // Starts a row of `table`, fills `case_id` (and `note`) and adds it.
  void StageNote(const char* table, int caseId, const char* note = nullptr) {
    ASSERT_TRUE(Start(table)) << Message();
    ASSERT_TRUE(bridge().AddFieldData("case_id", caseId));
    if (note != nullptr) {
      ASSERT_TRUE(bridge().AddFieldData("note", note));
    }
    ASSERT_TRUE(bridge().AddCurRow()) << Message();
  }

  int stored = kUnwritten;
  int written = kUnwritten;
  long time = 1000;
};

TEST_P(StagingEndToEnd, RowsReachTheirTablesWhenTheCallerMovesOnWithCountersAndTypes) {
  // An enumeration table of the catalogue: nothing is staged for it.
  ASSERT_TRUE(Start("colours"));
  EXPECT_EQ(stored, -1);
  EXPECT_FALSE(bridge().AddFieldData("name", "red"));
  EXPECT_TRUE(Contains(Message(), "Current Row is null")) << Message();

  ASSERT_TRUE(Start("cases"));
  EXPECT_EQ(stored, 0);
  EXPECT_TRUE(bridge().AddFieldData("id", 1));                     // int
  EXPECT_TRUE(bridge().AddFieldData("name", "it's; first"));       // text
  EXPECT_TRUE(bridge().AddFieldData("weight", 2.5));               // double
  EXPECT_TRUE(bridge().AddFieldData("big", kBig));                 // long beyond 32 bits where it can be
  EXPECT_TRUE(bridge().AddFieldDateTimeData("created", 45000.5));  // 2023-03-15 12:00
  ASSERT_TRUE(bridge().AddCurRow()) << Message();

  ASSERT_TRUE(Start("cases"));  // the same table: nothing is written yet
  EXPECT_EQ(stored, 1);
  EXPECT_EQ(written, kUnwritten);
  EXPECT_EQ(time, 1000);
  EXPECT_TRUE(bridge().AddFieldData("id", 2L));
  EXPECT_TRUE(bridge().AddFieldData("name", static_cast<const char*>(nullptr)));  // the empty text
  EXPECT_TRUE(bridge().AddFieldData("weight", -0.125));
  EXPECT_TRUE(bridge().AddFieldDateTimeData("created", 0.0));  // null
  ASSERT_TRUE(bridge().AddCurRow()) << Message();
  EXPECT_EQ(db().Query("SELECT count(*) FROM cases"), "0");

  // Another table: "cases" is written.
  ASSERT_TRUE(Start("notes")) << Message();
  EXPECT_EQ(written, 2);
  EXPECT_EQ(stored, 0);
  EXPECT_GE(time, 1000) << "the flush adds its milliseconds to the caller's figure";
  EXPECT_EQ(db().Query("SELECT id, name, weight, big, created, " + db().KindOf("id") + ", " +
                       db().KindOf("name") + ", " + db().KindOf("weight") + ", " + db().KindOf("big") + ", " +
                       db().KindOf("created") + " FROM cases ORDER BY id"),
            "1|it's; first|2.5|" + std::to_string(kBig) +
                "|2023-03-15 12:00:00|integer|text|real|integer|text\n"
                "2||-0.125|NULL|NULL|integer|text|real|null|null");

  ASSERT_TRUE(bridge().AddFieldData("case_id", 1));
  ASSERT_TRUE(bridge().AddCurRow()) << Message();
  StageNote("notes", 2, "second");
  EXPECT_EQ(stored, 1);
  EXPECT_EQ(db().Query("SELECT count(*) FROM notes"), "0");

  // The empty name writes the last table; it names no table of its own.
  stored = kUnwritten;
  const long before = time;
  ASSERT_TRUE(Start("")) << Message();
  EXPECT_EQ(written, 2);
  EXPECT_EQ(stored, kUnwritten);
  EXPECT_GE(time, before);
  EXPECT_EQ(db().Query("SELECT case_id, note FROM notes ORDER BY case_id"), "1|NULL\n2|second");
  EXPECT_EQ(db().Query("SELECT count(*) FROM cases"), "2") << "a table is written once";
}

// Another connection holds the table's write lock while it is flushed: the
// switch fails asking for a rerun, the staged rows stay (more may be added),
// and the next switch writes every row exactly once.
TEST_P(StagingEndToEnd, ALockedTableAsksForARerunAndKeepsItsRows) {
  bridge().LoadObject(db().ConnectionString(/*shortLockWait=*/true), db().TableSet());
  StageNote("notes", 1);
  StageNote("notes", 2);

  auto lock = db().HoldWriteLock("notes");
  time = 0;
  EXPECT_FALSE(Start("cases"));
  EXPECT_TRUE(Contains(Message(), kRerun)) << Message();
  EXPECT_EQ(written, 0);
  EXPECT_GE(time, db().ShortLockWaitMs() / 2) << "the wait for the lock counts in the execution time";
  EXPECT_EQ(db().Query("SELECT count(*) FROM notes"), "0");

  StageNote("notes", 3);  // still the current table
  EXPECT_EQ(stored, 2);

  lock->Release();
  ASSERT_TRUE(Start("cases")) << Message();
  EXPECT_EQ(written, 3);
  EXPECT_EQ(stored, 0);
  EXPECT_EQ(db().Query("SELECT case_id, count(*) FROM notes GROUP BY case_id ORDER BY case_id"),
            "1|1\n2|1\n3|1");
}

TEST_P(StagingEndToEnd, AColumnDroppedBeforeTheFlushIsASchemaChange) {
  StageNote("notes", 1, "kept");
  db().Exec("ALTER TABLE notes DROP COLUMN note");

  EXPECT_FALSE(Start("cases"));
  EXPECT_TRUE(Contains(Message(), kSchemaChange)) << Message();
  EXPECT_FALSE(Contains(Message(), kRerun)) << Message();
  EXPECT_EQ(written, 0);
  EXPECT_EQ(db().Query("SELECT count(*) FROM notes"), "0");

  // Once the table is as it was, the rerun writes the kept row.
  db().Exec("ALTER TABLE notes ADD COLUMN note {text}");
  ASSERT_TRUE(Start("cases")) << Message();
  EXPECT_EQ(db().Query("SELECT case_id, note FROM notes"), "1|kept");
}

TEST_P(StagingEndToEnd, DuplicateKeysAreRefusedByTheTableOrByTheDatabase) {
  // Within one staged table the key shape read from the database refuses the row.
  ASSERT_TRUE(Start("cases"));
  ASSERT_TRUE(bridge().AddFieldData("id", 1));
  ASSERT_TRUE(bridge().AddFieldData("name", "one"));
  ASSERT_TRUE(bridge().AddCurRow());
  ASSERT_TRUE(Start("cases"));
  ASSERT_TRUE(bridge().AddFieldData("id", 1));
  ASSERT_TRUE(bridge().AddFieldData("name", "two"));
  EXPECT_FALSE(bridge().AddCurRow());
  EXPECT_TRUE(Contains(Message(), "column 'id' of table 'cases'")) << Message();
  EXPECT_TRUE(Contains(Message(), "'1'")) << Message();
  ASSERT_TRUE(bridge().AddFieldData("id", 2));  // the refused row stays open to be mended
  ASSERT_TRUE(bridge().AddCurRow()) << Message();
  ASSERT_TRUE(Start("")) << Message();
  EXPECT_EQ(written, 2);
  EXPECT_EQ(db().Query("SELECT id, name FROM cases ORDER BY id"), "1|one\n2|two");

  // A key already in the database: the database refuses the whole table.
  for (int id : {3, 1, 4}) {
    ASSERT_TRUE(Start("cases"));
    ASSERT_TRUE(bridge().AddFieldData("id", id));
    ASSERT_TRUE(bridge().AddCurRow()) << Message();
  }
  // A refusal that no rerun can cure fails the switch; the rows are dropped
  // and the caller, told why, is on the next table.
  EXPECT_FALSE(Start("notes"));
  EXPECT_EQ(written, 0);
  EXPECT_EQ(stored, 0);
  EXPECT_TRUE(Contains(Message(), db().UniqueViolationText())) << Message();
  EXPECT_TRUE(Contains(Message(), "3 staged rows of table 'cases'")) << Message();
  EXPECT_FALSE(Contains(Message(), kRerun)) << Message();
  EXPECT_EQ(db().Query("SELECT id FROM cases ORDER BY id"), "1\n2")
      << "nothing of the refused table was written";
}

TESSEL_E2E_INSTANTIATE(StagingEndToEnd);

}  // namespace
}  // namespace Tessel::EndToEnd
