// Tables whose rows go to other servers (postgres_fdw on loopback): a foreign
// table, and a partitioned table with a foreign partition. Their COMMIT is
// not one: each other server commits its part while this one commits, and
// one that fails leaves the parts committed before it. A failed COMMIT there
// is "outcome unknown", never "nothing written" and never a rerun.
#include <string>

#include "PgTestServer.h"
#include "TesselWrapper/Errors.h"
#include "TesselWrapper/component/DbConnect.h"
#include "support/ComponentHelpers.h"
#include "support/Contains.h"

namespace Tessel::Testing {
namespace {

class PgForeignTable : public PgTest {
 protected:
  void SetUp() override {
    PgTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    server_ = "fdw_" + schema().name();
    raw().Exec("CREATE EXTENSION IF NOT EXISTS postgres_fdw");
    // This very server, reached again through loopback.
    const std::string where = raw().Query(
        "SELECT 'host ''' || host(inet_server_addr()) || ''', port ''' || inet_server_port() || "
        "''', dbname ''' || current_database() || ''''");
    raw().Exec("CREATE SERVER " + server_ + " FOREIGN DATA WRAPPER postgres_fdw OPTIONS (" + where + ")");
    raw().Exec("CREATE USER MAPPING FOR CURRENT_USER SERVER " + server_ + " OPTIONS (user 'postgres')");
    // The far side refuses a repeated id only when its transaction commits.
    raw().Exec(
        "CREATE TABLE far_items (id int, CONSTRAINT far_once UNIQUE (id) DEFERRABLE INITIALLY DEFERRED)");
    raw().Exec("CREATE FOREIGN TABLE items (id int) SERVER " + server_ + " OPTIONS (schema_name '" +
               schema().name() + "', table_name 'far_items')");
    raw().Exec("CREATE TABLE spread (id int) PARTITION BY RANGE (id)");
    raw().Exec("CREATE TABLE spread_near PARTITION OF spread FOR VALUES FROM (0) TO (100)");
    raw().Exec("CREATE FOREIGN TABLE spread_far PARTITION OF spread FOR VALUES FROM (100) TO (1000) SERVER " +
               server_ + " OPTIONS (schema_name '" + schema().name() + "', table_name 'far_items')");
  }
  void TearDown() override {
    if (!server_.empty()) raw().Exec("DROP SERVER IF EXISTS " + server_ + " CASCADE");
    PgTest::TearDown();
  }

  std::string server_;
};

TEST_F(PgForeignTable, AFailedCommitOfRowsOnOtherServersIsAnUnknownOutcome) {
  auto component = NewComponent();
  for (const char* name : {"items", "spread"}) {
    SCOPED_TRACE(name);
    raw().Exec("DELETE FROM far_items");
    auto table = component->GetTable(name);
    ASSERT_NE(table, nullptr) << "a foreign or partly foreign table is a table to write";
    for (int id : {1, 150, 150}) AddRow(*table, {{"id", id}});
    std::int64_t ms = 0;
    component->SetFailureCategory(std::nullopt);
    EXPECT_FALSE(component->BulkToTable(*table, ms));
    const std::string message = component->Message().value_or("");
    EXPECT_EQ(component->FailureCategory(), ErrorCategory::OutcomeUnknown) << message;
    EXPECT_TRUE(Contains(message, "other servers")) << message;
    EXPECT_TRUE(Contains(message, "unknown")) << message;
    EXPECT_FALSE(Contains(message, kRerunTransaction)) << message;
    EXPECT_FALSE(Contains(message, "Nothing of the table was written")) << message;
  }
  // Rows that commit everywhere are written as anywhere else.
  auto table = component->GetTable("spread");
  for (int id : {1, 150}) AddRow(*table, {{"id", id}});
  std::int64_t ms = 0;
  ASSERT_TRUE(component->BulkToTable(*table, ms)) << component->Message().value_or("");
  EXPECT_EQ(raw().Query("SELECT id FROM spread ORDER BY id"), "1\n150");
}

}  // namespace
}  // namespace Tessel::Testing
