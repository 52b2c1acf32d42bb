// What each database keeps of a value, on every driver that reaches it: a
// NaN SQLite would store as NULL is refused by row and column, and a day
// written into a SQLite DATE column stays a day, on both roads and in the
// load alike.
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <limits>
#include <string>

#include "EndToEndTest.h"
#include "TesselWrapper/Errors.h"
#include "TesselWrapper/data/DateTime.h"
#include "TesselWrapper/jobs/CsvLoad.h"
#include "support/Contains.h"
#include "support/RecordQueue.h"

namespace Tessel::EndToEnd {
namespace {

using Testing::Contains;

bool OnSqlite(Backend backend) { return backend == Backend::Sqlite || backend == Backend::OdbcSqlite; }

double OaDate(int year, int month, int day, int hour = 0, int minute = 0) {
  return Data::DateTime(year, month, day, hour, minute).ToOADate();
}

class ValueRulesEndToEnd : public EndToEndTest {
 protected:
  void SetUp() override {
    EndToEndTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    db().Exec("CREATE TABLE readings (id {int} PRIMARY KEY, value {real}, label {text})");
    db().Exec("CREATE TABLE days (id {int} PRIMARY KEY, day {date}, taken {datetime})");
    path_ = ::testing::TempDir() + "tessel_value_rules_" + std::to_string(::getpid()) + ".csv";
  }
  void TearDown() override {
    if (!path_.empty()) std::remove(path_.c_str());
    EndToEndTest::TearDown();
  }

  bool Start(const char* table) { return bridge().StartNewRow(table, &stored_, &written_, &time_); }

  // Loads `csv` into `table` through the load's own stream.
  Jobs::CsvLoadSummary Load(const char* table, const std::string& csv) {
    std::ofstream(path_, std::ios::binary | std::ios::trunc) << csv;
    Jobs::CsvLoadOptions options;
    options.tableSet = db().TableSet();
    return Jobs::LoadCsvFile(bridge(), table, path_, options);
  }

  int stored_ = 0;
  int written_ = -1;
  long time_ = 0;
  std::string path_;
};

// A refusal of the NaN names the row's position and the column in the same
// words whichever driver reaches SQLite, asks for no rerun, and leaves the
// table empty; PostgreSQL keeps a NaN.
TEST_P(ValueRulesEndToEnd, ANaNIsRefusedWhereTheDatabaseWouldStoreItAsNull) {
  const bool refused = OnSqlite(GetParam());
  const double nan = std::numeric_limits<double>::quiet_NaN();
  auto expectRefusal = [](const std::string& message) {
    EXPECT_TRUE(Contains(message,
                         "the row at position 1 (0-based), column 'value': NaN, a value SQLite cannot "
                         "store (it would read back as NULL)"))
        << message;
    EXPECT_FALSE(Contains(message, "Rerun")) << message;
  };

  // The staging road.
  for (int id = 1; id <= 2; ++id) {
    ASSERT_TRUE(Start("readings")) << Message();
    ASSERT_TRUE(bridge().AddFieldData("id", id));
    ASSERT_TRUE(bridge().AddFieldData("value", id == 2 ? nan : 0.5));
    ASSERT_TRUE(bridge().AddCurRow()) << Message();
  }
  EXPECT_EQ(Start(""), !refused) << Message();
  EXPECT_EQ(written_, refused ? 0 : 2);
  if (refused) expectRefusal(Message());
  EXPECT_EQ(db().Query("SELECT count(*) FROM readings"), refused ? "0" : "2");
  db().Exec("DELETE FROM readings");

  // The queued road: the records stay for the caller to mend.
  Testing::RecordQueue queue;
  queue.Add()->AddLongField("id", 1);
  SqlRow* second = queue.Add();
  second->AddLongField("id", 2);
  second->AddDoubleField("value", nan);
  long time = 0;
  EXPECT_EQ(bridge().BulkToTable("readings", &queue.records, &time), !refused) << Message();
  EXPECT_EQ(queue.records.size(), refused ? 2u : 0u);
  if (refused) expectRefusal(Message());
  EXPECT_EQ(db().Query("SELECT count(*) FROM readings"), refused ? "0" : "2");
  db().Exec("DELETE FROM readings");

  // The load names the file's line.
  const std::string csv = "id,value\n1,0.5\n2,NaN\n";
  if (!refused) {
    EXPECT_EQ(Load("readings", csv).rows, 2u);
    EXPECT_EQ(db().Query("SELECT count(*) FROM readings"), "2");
    return;
  }
  try {
    Load("readings", csv);
    ADD_FAILURE() << "a NaN was loaded into SQLite";
  } catch (const DatabaseError& e) {
    EXPECT_EQ(e.Category(), ErrorCategory::Refused) << e.what();
    EXPECT_TRUE(Contains(e.what(), "line 3")) << e.what();
    EXPECT_TRUE(Contains(e.what(), "column 'value': NaN")) << e.what();
  }
  EXPECT_EQ(db().Query("SELECT count(*) FROM readings"), "0");
}

// A whole day in a SQLite DATE column is stored as the day alone, so that a
// comparison with a day finds it; a time of day is kept; a DATETIME column
// keeps its midnight. PostgreSQL's date column keeps the day of any value,
// as it always has.
TEST_P(ValueRulesEndToEnd, ADayWrittenIntoADateColumnStaysADay) {
  // The staging road: ids 1 and 2.
  ASSERT_TRUE(Start("days")) << Message();
  ASSERT_TRUE(bridge().AddFieldData("id", 1));
  ASSERT_TRUE(bridge().AddFieldDateTimeData("day", OaDate(2024, 12, 31)));
  ASSERT_TRUE(bridge().AddFieldDateTimeData("taken", OaDate(2024, 12, 31)));
  ASSERT_TRUE(bridge().AddCurRow()) << Message();
  ASSERT_TRUE(Start("days")) << Message();
  ASSERT_TRUE(bridge().AddFieldData("id", 2));
  ASSERT_TRUE(bridge().AddFieldData("day", "2024-12-31 10:30"));
  ASSERT_TRUE(bridge().AddCurRow()) << Message();
  ASSERT_TRUE(Start("")) << Message();
  EXPECT_EQ(written_, 2);

  // The queued road: id 3.
  Testing::RecordQueue queue;
  SqlRow* record = queue.Add();
  record->AddLongField("id", 3);
  record->AddDateField("day", OaDate(2025, 1, 2));
  long time = 0;
  ASSERT_TRUE(bridge().BulkToTable("days", &queue.records, &time)) << Message();

  // The load: ids 4 and 5.
  EXPECT_EQ(Load("days", "id,day\n4,2025-01-03\n5,2025-01-03 08:15\n").rows, 2u);

  if (OnSqlite(GetParam())) {
    EXPECT_EQ(db().Query("SELECT id, day, taken FROM days ORDER BY id"),
              "1|2024-12-31|2024-12-31 00:00:00\n"
              "2|2024-12-31 10:30:00|NULL\n"
              "3|2025-01-02|NULL\n"
              "4|2025-01-03|NULL\n"
              "5|2025-01-03 08:15:00|NULL");
  } else {
    EXPECT_EQ(db().Query("SELECT id, day, taken FROM days ORDER BY id"),
              "1|2024-12-31|2024-12-31 00:00:00\n"
              "2|2024-12-31|NULL\n"
              "3|2025-01-02|NULL\n"
              "4|2025-01-03|NULL\n"
              "5|2025-01-03|NULL");
  }
  EXPECT_EQ(db().Query("SELECT id FROM days WHERE day = '2024-12-31' ORDER BY id"),
            OnSqlite(GetParam()) ? "1" : "1\n2");

  // The table reads back: its shape takes the day column as a date, and a
  // day already there is the same key as the day written again.
  ASSERT_TRUE(Start("days")) << Message();
  ASSERT_TRUE(bridge().AddFieldData("id", 6));
  ASSERT_TRUE(bridge().AddFieldDateTimeData("day", OaDate(2025, 1, 4)));
  ASSERT_TRUE(bridge().AddCurRow()) << Message();
  ASSERT_TRUE(Start("")) << Message();
  EXPECT_EQ(db().Query("SELECT day FROM days WHERE id = 6"), "2025-01-04");
}

TESSEL_E2E_INSTANTIATE(ValueRulesEndToEnd);

}  // namespace
}  // namespace Tessel::EndToEnd
