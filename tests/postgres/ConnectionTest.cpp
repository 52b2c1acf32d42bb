// Reaching the server: Test(), unreachable servers, changing the connection
// string, the keyword form, and a connection lost between uses.
#include <libpq-fe.h>

#include <chrono>
#include <memory>

#include "PgTestServer.h"
#include "TesselWrapper/Errors.h"
#include "TesselWrapper/component/DbConnectFactory.h"
#include "support/ComponentHelpers.h"
#include "support/FailureSorting.h"

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

// Every failure sorted by one question: can the same call succeed later
// without anyone changing anything? Only then does a message ask for a rerun.
TEST_F(PgConnection, FailuresAskForARerunOnlyWhenTheCauseMayPass) {
  raw().Exec("CREATE TABLE cases (id int)");
  const std::string uri = schema().uri();
  const std::string noLogin = "tessel_nologin_" + schema().name();
  const std::string noGrant = "tessel_nogrant_" + schema().name();
  raw().Exec("CREATE ROLE " + noLogin + " NOLOGIN; CREATE ROLE " + noGrant +
             " LOGIN; GRANT USAGE ON SCHEMA " + schema().name() + " TO " + noGrant);
  const auto open = [this](std::string connect) { return [this, connect] { return NewComponent(connect); }; };
  const ProvokedFailure cases[] = {
      {"a database that does not exist", open(WithUriParameter(uri, "dbname", "tessel_no_such_database")),
       ErrorCategory::Other, false, true},
      {"a role that does not exist", open(WithUriParameter(uri, "user", "tessel_no_such_role")),
       ErrorCategory::Other, false, true},
      {"a role that may not log in", open(WithUriParameter(uri, "user", noLogin)), ErrorCategory::Other,
       false, true},
      {"an option libpq refuses", open(WithUriParameter(uri, "sslmode", "bogus")), ErrorCategory::Other,
       false, true},
      {"no permission on the table", open(WithUriParameter(uri, "user", noGrant)), ErrorCategory::Other,
       false, false},
      {"a server that refuses the connection", open("postgresql://postgres@127.0.0.1:1/tessel_test"),
       ErrorCategory::Connection, true, true},
      {"another connection holds the lock",
       [&] {
         raw().Exec("BEGIN; LOCK TABLE cases IN ACCESS EXCLUSIVE MODE");
         return NewComponent(WithUriParameter(uri, "options", "-c lock_timeout=200"));
       },
       ErrorCategory::Rerun, true, false},
  };
  for (const ProvokedFailure& c : cases) ExpectSorted(c);
  raw().Exec("ROLLBACK");
  EXPECT_EQ(raw().Query("SELECT count(*) FROM cases"), "0");
  raw().Exec("DROP OWNED BY " + noGrant + "; DROP ROLE " + noGrant + "; DROP ROLE " + noLogin);
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
