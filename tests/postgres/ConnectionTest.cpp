// Reaching the server: Test(), unreachable servers, changing the connection
// string, the keyword form, and a connection lost between uses.
#include <libpq-fe.h>

#include <chrono>
#include <memory>

#include "PgTestServer.h"
#include "TesselWrapper/Errors.h"
#include "TesselWrapper/component/DbConnectFactory.h"
#include "support/ComponentHelpers.h"

namespace Tessel::Testing {
namespace {

using Clock = std::chrono::steady_clock;

// The server's URI as libpq keywords ("host=... port=... dbname=..."), to
// exercise the second form of connection string.
std::string AsKeywords(const std::string& uri) {
  char* error = nullptr;
  PQconninfoOption* options = PQconninfoParse(uri.c_str(), &error);
  std::string keywords;
  for (PQconninfoOption* o = options; o != nullptr && o->keyword != nullptr; ++o)
    if (o->val != nullptr && *o->val != '\0') keywords += std::string(o->keyword) + "=" + o->val + " ";
  PQconninfoFree(options);
  PQfreemem(error);
  return keywords;
}

class PgConnection : public PgTest {};

TEST_F(PgConnection, TestAnswersForBothConnectionStringForms) {
  for (const std::string& connect : {schema().uri(), AsKeywords(schema().uri())}) {
    auto component = NewComponent(connect);
    EXPECT_TRUE(component->Test()) << connect << ": " << Message(*component);
    EXPECT_EQ(component->ConnectionString(), connect);
  }
}

// Nothing listens on port 1: every operation must come back at once, the
// ones that report in Message() with the reason and the retry text for the
// write, the others with a DatabaseError.
TEST_F(PgConnection, UnreachableServerFailsQuicklyWithTheReason) {
  for (const std::string connect : {"postgresql://postgres@127.0.0.1:1/tessel_test",
                                    "host=127.0.0.1 port=1 dbname=tessel_test user=postgres"}) {
    SCOPED_TRACE(connect);
    const auto start = Clock::now();
    auto component = DbConnectFactory::CreateDbConnect(connect, schema().name());  // opens nothing
    bool answered = true;
    EXPECT_NO_THROW(answered = component->Test());
    EXPECT_FALSE(answered);
    EXPECT_NE(Message(*component).find("Connection refused"), std::string::npos) << Message(*component);

    auto table = Data::DataTable::Create("cases");
    Data::DataColumn id;
    id.ColumnName = "id";
    id.Type = Data::DataType::Int32;
    table->AddColumn(id);
    Data::DataRow row = table->NewRow();
    row.Set("id", 1);
    table->Rows().Add(row);
    std::int64_t elapsed = 0;
    EXPECT_FALSE(component->BulkToTable(*table, elapsed));
    EXPECT_NE(Message(*component).find(kRerunTransaction), std::string::npos) << Message(*component);

    std::vector<std::shared_ptr<Data::DbParameter>> parameters;
    ManagedText output = std::string("unchanged");
    EXPECT_EQ(component->ExecuteStoredProcedure("anything", parameters, output), -1);
    EXPECT_EQ(output, "unchanged");

    EXPECT_THROW(component->GetTable("cases"), DatabaseError);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
  }
}

TEST_F(PgConnection, NewConnectionStringTakesEffectAtNextUse) {
  auto component = NewComponent();
  ASSERT_TRUE(component->Test()) << Message(*component);
  component->SetConnectionString(std::string("postgresql://postgres@127.0.0.1:1/tessel_test"));
  EXPECT_FALSE(component->Test());
  component->SetConnectionString(schema().uri());
  EXPECT_TRUE(component->Test()) << Message(*component);
}

// A server restart (here: the component's server process terminated) leaves
// a dead connection behind; the component notices and connects afresh.
TEST_F(PgConnection, LostConnectionIsReopened) {
  const std::string name = "tessel_lost_" + schema().name();
  auto component = NewComponent(WithUriParameter(schema().uri(), "application_name", name));
  ASSERT_TRUE(component->Test()) << Message(*component);
  EXPECT_EQ(raw().Query("SELECT count(pg_terminate_backend(pid)) FROM pg_stat_activity "
                        "WHERE application_name = '" +
                        name + "'"),
            "1");
  EXPECT_TRUE(component->Test()) << Message(*component);

  raw().Query("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE application_name = '" + name +
              "'");
  raw().Exec("CREATE TABLE t (id int)");
  EXPECT_NE(component->GetTable("t"), nullptr);  // reconnects by itself
}

// A write must not wait without end behind another connection's lock: the
// session waits 5 s by default, and a lock_timeout the caller sets wins.
TEST_F(PgConnection, LockWaitsAreBoundedUnlessTheCallerSetsTheirOwn) {
  raw().Exec(
      "CREATE FUNCTION lock_wait() RETURNS TABLE(t text) LANGUAGE sql "
      "AS $$ SELECT pg_catalog.current_setting('lock_timeout') $$");
  const std::string uri = schema().uri();
  const std::string own =
      uri + (uri.find('?') == std::string::npos ? "?" : "&") + "options=-c%20lock_timeout%3D250";
  for (const auto& [connect, expected] :
       {std::pair{uri, std::string("t=5s;")}, std::pair{own, std::string("t=250ms;")}}) {
    SCOPED_TRACE(connect);
    auto component = NewComponent(connect);
    std::vector<std::shared_ptr<Data::DbParameter>> none;
    ManagedText output = std::string();
    EXPECT_EQ(component->ExecuteStoredProcedure("lock_wait", none, output), 0) << Message(*component);
    EXPECT_EQ(output, expected);
  }
}

}  // namespace
}  // namespace Tessel::Testing
