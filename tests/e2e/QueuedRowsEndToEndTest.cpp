// The queued road against a real database: SqlRow records become the rows of
// one table, written in one call.
#include <cstdint>
#include <queue>
#include <string>
#include <vector>

#include "EndToEndTest.h"
#include "TesselWrapper/Errors.h"
#include "support/Contains.h"
#include "support/RecordQueue.h"

namespace Tessel::EndToEnd {
namespace {

using Testing::Contains;
using Testing::RecordQueue;

// One field with a type name of the caller's spelling.
void AddNumber(SqlRow& record, const char* name, const char* type, NUMERICDATA number) {
  record.AddField(name, type, "", number);
}
NUMERICDATA Long(std::int32_t v) {
  NUMERICDATA n{};
  n.longValue = v;
  return n;
}
NUMERICDATA Short(std::int16_t v) {
  NUMERICDATA n{};
  n.shortValue = v;
  return n;
}
NUMERICDATA Real(double v) {
  NUMERICDATA n{};
  n.doubleValue = v;
  return n;
}

class QueuedRowsEndToEnd : public EndToEndTest {
 protected:
  void SetUp() override {
    EndToEndTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    db().Exec(
        "CREATE TABLE samples (id {int} PRIMARY KEY, amount {real}, small {int}, "
        "taken {datetime}, label {text}, memo {text}, fixed {int} DEFAULT 7)");
  }

  bool Write(RecordQueue& queue, long& time) {
    return bridge().BulkToTable("samples", &queue.records, &time);
  }
};

TEST_P(QueuedRowsEndToEnd, RecordsBecomeRowsWithTheirTypedValues) {
  RecordQueue queue;
  SqlRow* first = queue.Add();  // type names in any ASCII case
  AddNumber(*first, "id", "LONGINTEGER", Long(1));
  AddNumber(*first, "amount", "double", Real(2.5));
  AddNumber(*first, "small", "shortinteger", Short(-1));  // widened with its sign
  AddNumber(*first, "taken", "dAtE", Real(0));            // 1899-12-30, not null
  first->AddField("label", "TEXT", "", {});               // the empty text, not null
  first->AddField("memo", "memo", "it's; a memo", {});
  AddNumber(*first, "fixed", "Integer", Long(99));  // no such type name: the column keeps its default
  first->tableName = "elsewhere";                   // the call's table wins

  queue.Add();  // no fields: no row

  SqlRow* third = queue.Add();
  third->AddLongField("id", 2);
  third->AddDateTimeField("taken", 1.5);  // 1899-12-31 12:00
  third->AddShortField("small", -32768);

  long time = 5;
  ASSERT_TRUE(Write(queue, time)) << Message();
  EXPECT_TRUE(queue.records.empty());
  EXPECT_GE(time, 5);
  EXPECT_EQ(db().Query("SELECT id, amount, small, taken, label, memo, fixed, " + db().KindOf("label") + ", " +
                       db().KindOf("small") + " FROM samples ORDER BY id"),
            "1|2.5|-1|1899-12-30 00:00:00||it's; a memo|7|text|integer\n"
            "2|NULL|-32768|1899-12-31 12:00:00|NULL|NULL|7|null|integer");
}

// A record that cannot be converted stops the call: the queue keeps every
// record, none deleted, and nothing is written.
TEST_P(QueuedRowsEndToEnd, ARecordThatCannotBeConvertedStopsTheCallAndWritesNothing) {
  struct Case {
    const char* what;
    void (*fill)(SqlRow&);
    const char* named;  // in the error text
  };
  const Case cases[] = {
      {"a column the table lacks", [](SqlRow& r) { r.AddLongField("missing", 1); }, "missing"},
      {"text no integer column can hold", [](SqlRow& r) { r.AddTextField("small", "twelve"); }, "twelve"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RecordQueue queue;
    queue.Add()->AddLongField("id", 1);
    SqlRow* bad = queue.Add();
    bad->AddLongField("id", 2);
    c.fill(*bad);
    SqlRow* after = queue.Add();
    after->AddLongField("id", 3);
    after->AddTextField("label", "after");

    long time = 17;
    try {
      Write(queue, time);
      ADD_FAILURE() << "no error for the record that cannot be converted";
    } catch (const Tessel::Error& e) {
      EXPECT_TRUE(Contains(e.what(), c.named)) << e.what();
    }
    ASSERT_EQ(queue.records.size(), 3u);
    EXPECT_EQ(queue.records.front()->fieldCount, 1);
    EXPECT_EQ(bad->fieldCount, 2);
    EXPECT_EQ(queue.records.back(), after);
    EXPECT_EQ(after->fieldCount, 2);
    EXPECT_EQ(after->fieldValues[1], "after");
    EXPECT_EQ(time, 17);
    EXPECT_EQ(db().Query("SELECT count(*) FROM samples"), "0");
  }
}

TESSEL_E2E_INSTANTIATE(QueuedRowsEndToEnd);

}  // namespace
}  // namespace Tessel::EndToEnd
