// Both roads against a real database when something goes wrong: one table of
// faults, each run through IConnectWrapper alone. Whatever the fault, the
// caller's rows are where the interface says (kept, or dropped with the
// reason), the counters and the queue say what happened, and once the caller
// has mended the cause and run the call again every row is in the database
// exactly once.
#include <initializer_list>
#include <memory>
#include <queue>
#include <string>
#include <vector>

#include "EndToEndTest.h"
#include "TesselWrapper/Errors.h"
#include "support/Contains.h"
#include "support/RecordQueue.h"

namespace Tessel::EndToEnd {
namespace {

constexpr const char* kRerun = "Rerun the transaction";
constexpr const char* kSchemaChange = "schema change";
constexpr const char* kEachOnce = "1|1\n2|1\n3|1";

using Testing::Contains;
using Testing::RecordQueue;

enum class Fault {
  TableLocked,           // another connection holds the table's write lock
  KeyAlreadyStored,      // the database refuses the rows for good
  DiskFull,              // the database cannot grow
  RecordCannotBeStored,  // a record names a column the table lacks
  RetryTextInTableName,  // a success whose message names "schema change log"
};

const char* Name(Fault fault) {
  switch (fault) {
    case Fault::TableLocked:
      return "table locked";
    case Fault::KeyAlreadyStored:
      return "key already stored";
    case Fault::DiskFull:
      return "disk full";
    case Fault::RecordCannotBeStored:
      return "record cannot be stored";
    case Fault::RetryTextInTableName:
      return "retry text in the table name";
  }
  return "?";
}

// Long enough that three rows need pages of their own (a full disk shows).
std::string Note(int id) { return std::string(1500, static_cast<char>('a' + id)); }

class FailurePathsEndToEnd : public EndToEndTest {
 protected:
  void SetUp() override {
    EndToEndTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    db().Exec("CREATE TABLE items (id {int} PRIMARY KEY, note {text})");
    db().Exec("CREATE TABLE \"schema change log\" (id {int}, note {text})");
    db().Exec("CREATE TABLE after (id {int})");
    db().Exec("CREATE TABLE tessel_enum_tables (name {text} PRIMARY KEY)");
  }

  // A fresh start for one case: empty tables and a bridge that waits only
  // briefly for locks.
  void Reset() {
    db().Exec("DELETE FROM items; DELETE FROM \"schema change log\"; DELETE FROM after");
    bridge().LoadObject(db().ConnectionString(/*shortLockWait=*/true), db().TableSet());
    stored = written = -99;
    time = 0;
  }

  static const char* TableFor(Fault fault) {
    return fault == Fault::RetryTextInTableName ? "schema change log" : "items";
  }
  // Each id with the number of its rows.
  std::string Counts(const std::string& table) {
    return db().Query("SELECT id, count(*) FROM \"" + table + "\" GROUP BY id ORDER BY id");
  }

  bool Start(const char* table) { return bridge().StartNewRow(table, &stored, &written, &time); }
  void Stage(const char* table, std::initializer_list<int> ids) {
    for (int id : ids) {
      ASSERT_TRUE(Start(table)) << Message();
      ASSERT_TRUE(bridge().AddFieldData("id", id));
      ASSERT_TRUE(bridge().AddFieldData("note", Note(id).c_str()));
      ASSERT_TRUE(bridge().AddCurRow()) << Message();
    }
  }
  static void Fill(SqlRow& record, int id) {
    record.AddLongField("id", id);
    record.AddTextField("note", Note(id).c_str());
  }

  // Sets the fault up; false when this backend cannot produce it.
  bool Arm(Fault fault, std::unique_ptr<LockHolder>& lock) {
    switch (fault) {
      case Fault::TableLocked:
        lock = db().HoldWriteLock(TableFor(fault));
        return true;
      case Fault::KeyAlreadyStored:
        db().Exec("INSERT INTO items (id, note) VALUES (2, 'stored')");
        return true;
      case Fault::DiskFull:
        return db().SetDiskFull(bridge(), true);
      case Fault::RecordCannotBeStored:
      case Fault::RetryTextInTableName:
        return true;
    }
    return false;
  }
  // What the caller does about the fault before running the call again.
  void Mend(Fault fault, std::unique_ptr<LockHolder>& lock) {
    if (lock) lock->Release();
    if (fault == Fault::DiskFull) db().SetDiskFull(bridge(), false);
  }
  // The message of a failed write, by fault.
  void ExpectFailureMessage(Fault fault) {
    const std::string message = Message();
    if (fault == Fault::KeyAlreadyStored) {
      EXPECT_TRUE(Contains(message, db().UniqueViolationText())) << message;
      EXPECT_FALSE(Contains(message, kRerun)) << message;
      EXPECT_FALSE(Contains(message, kSchemaChange)) << message;
    } else {
      EXPECT_TRUE(Contains(message, kRerun)) << message;
    }
  }

  int stored = -99;
  int written = -99;
  long time = 0;
};

TEST_P(FailurePathsEndToEnd, StagingRoad) {
  for (Fault fault :
       {Fault::TableLocked, Fault::KeyAlreadyStored, Fault::DiskFull, Fault::RetryTextInTableName}) {
    SCOPED_TRACE(Name(fault));
    Reset();
    const char* table = TableFor(fault);
    std::unique_ptr<LockHolder> lock;
    if (!Arm(fault, lock)) continue;
    Stage(table, {1, 2, 3});
    if (HasFatalFailure()) return;

    const bool fails = fault != Fault::RetryTextInTableName;
    EXPECT_EQ(Start("after"), !fails) << Message();
    EXPECT_EQ(written, fails ? 0 : 3) << "rows written by this call";
    if (fails) ExpectFailureMessage(fault);
    EXPECT_EQ(Counts(table), fault == Fault::KeyAlreadyStored ? "2|1" : fails ? "" : kEachOnce);

    Mend(fault, lock);
    if (fault == Fault::KeyAlreadyStored) {
      // Refused for good: the rows were dropped and "after" is current.
      EXPECT_TRUE(Contains(Message(), "3 staged rows of table 'items'")) << Message();
      EXPECT_EQ(stored, 0);
    } else if (fails) {
      // The rows were kept: the caller's rerun writes them, once.
      ASSERT_TRUE(Start("after")) << Message();
      EXPECT_EQ(written, 3);
    } else {
      ASSERT_TRUE(Start("after")) << Message();  // the same table again: no write
    }
    written = -99;
    ASSERT_TRUE(Start("")) << Message();  // writes "after", which holds no row
    EXPECT_EQ(written, 0);
    EXPECT_EQ(Counts(table), fault == Fault::KeyAlreadyStored ? "2|1" : kEachOnce);
    EXPECT_EQ(db().Query("SELECT count(*) FROM after"), "0");
  }
}

TEST_P(FailurePathsEndToEnd, QueuedRoad) {
  for (Fault fault : {Fault::TableLocked, Fault::KeyAlreadyStored, Fault::DiskFull,
                      Fault::RecordCannotBeStored, Fault::RetryTextInTableName}) {
    SCOPED_TRACE(Name(fault));
    Reset();
    const char* table = TableFor(fault);
    std::unique_ptr<LockHolder> lock;
    if (!Arm(fault, lock)) continue;
    RecordQueue queue;
    for (int id : {1, 2, 3}) Fill(*queue.Add(), id);
    SqlRow* const front = queue.records.front();
    if (fault == Fault::RecordCannotBeStored) queue.records.front()->AddLongField("nosuch", 1);

    const bool fails = fault != Fault::RetryTextInTableName;
    if (fault == Fault::RecordCannotBeStored) {
      EXPECT_THROW(
          try { bridge().BulkToTable(table, &queue.records, &time); } catch (const ArgumentError& e) {
            EXPECT_TRUE(Contains(e.what(), "nosuch")) << e.what();
            throw;
          },
          ArgumentError);
    } else {
      EXPECT_EQ(bridge().BulkToTable(table, &queue.records, &time), !fails) << Message();
      if (fails) ExpectFailureMessage(fault);
    }
    if (fails) {
      // Nothing written, and the caller still holds every record.
      ASSERT_EQ(queue.records.size(), 3u);
      EXPECT_EQ(queue.records.front(), front);
      EXPECT_EQ(Counts(table), fault == Fault::KeyAlreadyStored ? "2|1" : "");
    } else {
      EXPECT_TRUE(queue.records.empty());
      EXPECT_EQ(Counts(table), kEachOnce);
      continue;
    }

    Mend(fault, lock);
    if (fault == Fault::RecordCannotBeStored) {
      front->Reset();
      Fill(*front, 1);
    }
    if (fault == Fault::KeyAlreadyStored) {
      // The caller takes out the record whose key is already stored.
      RecordQueue kept;
      while (!queue.records.empty()) {
        SqlRow* record = queue.records.front();
        queue.records.pop();
        if (record->numericValues[0].longValue == 2) {
          delete record;
        } else {
          kept.records.push(record);
        }
      }
      std::swap(queue.records, kept.records);
    }
    ASSERT_TRUE(bridge().BulkToTable(table, &queue.records, &time)) << Message();
    EXPECT_TRUE(queue.records.empty());
    EXPECT_EQ(Counts(table), kEachOnce);
  }
}

// A refusal whose words hold a retry text (the table's name, or the value the
// database echoes for a key it already holds) is still a refusal: the
// message holds no retry text a caller would act on, the staging road drops
// the rows and says so, and the queued road keeps the queue.
TEST_P(FailurePathsEndToEnd, ARetryTextInANameOrAValueNeverMakesARefusalARerun) {
  db().Exec("CREATE TABLE \"Rerun the transaction log\" (word {text} PRIMARY KEY)");
  db().Exec("CREATE TABLE \"schema change words\" (word {text} PRIMARY KEY)");
  for (const char* table : {"Rerun the transaction log", "schema change words"}) {
    for (const bool staged : {true, false}) {
      SCOPED_TRACE(std::string(table) + (staged ? ", staged" : ", queued"));
      Reset();
      db().Exec(std::string("DELETE FROM \"") + table + "\"");
      db().Exec(std::string("INSERT INTO \"") + table +
                "\" (word) VALUES ('Rerun the transaction schema change')");
      bool result = true;
      RecordQueue queue;
      if (staged) {
        ASSERT_TRUE(Start(table)) << Message();
        ASSERT_TRUE(bridge().AddFieldData("word", "Rerun the transaction schema change"));
        ASSERT_TRUE(bridge().AddCurRow()) << Message();
        result = Start("after");
      } else {
        queue.Add()->AddTextField("word", "Rerun the transaction schema change");
        result = bridge().BulkToTable(table, &queue.records, &time);
      }
      EXPECT_FALSE(result);
      const std::string message = Message();
      EXPECT_FALSE(Contains(message, kRerun)) << message;
      EXPECT_FALSE(Contains(message, kSchemaChange)) << message;
      const std::string shown = table[0] == 'R' ? "Rerun_the_transaction log" : "schema_change words";
      EXPECT_TRUE(Contains(message, shown)) << "the name is still shown: " << message;
      if (staged) {
        EXPECT_TRUE(Contains(message, "discarded")) << message;
        EXPECT_TRUE(Start("")) << Message();
      } else {
        EXPECT_EQ(queue.records.size(), 1u);
      }
      EXPECT_EQ(db().Query(std::string("SELECT count(*) FROM \"") + table + "\""), "1");
    }
  }
}

// A lock on the catalogue while a table is chosen: the error says "Rerun the
// transaction", and the caller's rerun writes nothing twice. Where the lock
// spares other tables, it also comes between a successful write and the
// choice of the next table.
TEST_P(FailurePathsEndToEnd, ALockWhileATableIsChosenAsksForARerunAndWritesNothingTwice) {
  Reset();
  auto expectRerunError = [&](const char* name) {
    try {
      Start(name);
      ADD_FAILURE() << "no error while the catalogue is locked";
    } catch (const DatabaseError& e) {
      EXPECT_EQ(e.Category(), ErrorCategory::Rerun) << e.what();
      EXPECT_TRUE(Contains(e.what(), kRerun)) << e.what();
    }
  };

  auto lock = db().HoldCatalogueLock();
  expectRerunError("items");
  lock->Release();
  Stage("items", {1, 2, 3});
  if (HasFatalFailure()) return;

  if (db().CatalogueLockSparesWrites()) {
    lock = db().HoldCatalogueLock();
    expectRerunError("after");
    EXPECT_EQ(written, 3) << "the table was written before the next was chosen";
    EXPECT_EQ(Counts("items"), kEachOnce);
    lock->Release();
  }
  ASSERT_TRUE(Start("after")) << Message();
  ASSERT_TRUE(Start("")) << Message();
  EXPECT_EQ(Counts("items"), kEachOnce);
}

// A routine that waits for another connection's lock fails (-1) with nothing
// of its work left behind, and says that a rerun may succeed, on every
// backend; once the lock is gone the rerun does its work once.
TEST_P(FailurePathsEndToEnd, ARoutineBlockedByALockAsksForARerun) {
  Reset();
  db().DefineRoutine(
      {"AddItem", {{"p_id", "{int}"}}, "INSERT INTO items (id, note) VALUES (:p_id, 'by routine')", {}});
  ParamValue id;
  id.valueType = SimpleDbType::Int32;
  id.numericValue.intValue = 7;
  const std::vector<SimpleDbParameter> arguments{
      SimpleDbParameter("p_id", id, SimpleParameterDirection::Input)};
  std::string output = "before";

  auto lock = db().HoldWriteLock("items");
  EXPECT_EQ(bridge().ExecuteStoredProcedure("AddItem", arguments, &output), -1);
  EXPECT_TRUE(Contains(Message(), kRerun)) << Message();
  EXPECT_EQ(output, "before");
  lock->Release();
  EXPECT_EQ(Counts("items"), "");

  EXPECT_NE(bridge().ExecuteStoredProcedure("AddItem", arguments, &output), -1) << Message();
  EXPECT_EQ(Counts("items"), "7|1");
}

TESSEL_E2E_INSTANTIATE(FailurePathsEndToEnd);

}  // namespace
}  // namespace Tessel::EndToEnd
