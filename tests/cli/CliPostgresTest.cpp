// The tool's demo, call and ids against PostgreSQL, in a schema of their own
// that is dropped afterwards. TESSEL_PG_URI names the server; without it the
// tests skip, except under CI (CI=true), where a missing server is a failure.
#include <libpq-fe.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ToolRunner.h"

namespace Tessel::Testing {
namespace {

using ::testing::HasSubstr;

const std::string kTool = TESSEL_CLI_PATH;

std::string PostgresUri() {
  const char* uri = std::getenv("TESSEL_PG_URI");
  return uri ? uri : "";
}

bool UnderCi() {
  const char* ci = std::getenv("CI");
  return ci != nullptr && std::string(ci) == "true";
}

class ToolPostgresTest : public ::testing::Test {
 protected:
  void SetUp() override {
    uri_ = PostgresUri();
    if (uri_.empty()) {
      if (UnderCi()) FAIL() << "CI=true but TESSEL_PG_URI is not set: the PostgreSQL tests cannot run";
      GTEST_SKIP() << "TESSEL_PG_URI is not set";
    }
    schema_ = "tessel_cli_test_" + std::to_string(::getpid());
    DropSchema();
  }
  void TearDown() override {
    if (!uri_.empty()) DropSchema();
  }

  void DropSchema() {
    std::unique_ptr<PGconn, decltype(&PQfinish)> conn(PQconnectdb(uri_.c_str()), &PQfinish);
    ASSERT_EQ(PQstatus(conn.get()), CONNECTION_OK) << PQerrorMessage(conn.get());
    const std::string sql = "DROP SCHEMA IF EXISTS " + schema_ + " CASCADE";
    std::unique_ptr<PGresult, decltype(&PQclear)> result(PQexec(conn.get(), sql.c_str()), &PQclear);
    ASSERT_EQ(PQresultStatus(result.get()), PGRES_COMMAND_OK) << PQerrorMessage(conn.get());
  }

  ToolResult Run(std::vector<std::string> args) const {
    args.insert(args.end(), {"--db", uri_, "--schema", schema_});
    return RunProgram(kTool, args, dir_.path());
  }

  std::string uri_;
  std::string schema_;
  TempDir dir_;
};

TEST_F(ToolPostgresTest, DemoCallAndIdsWork) {
  ToolResult r = Run({"test"});
  ASSERT_EQ(r.exitCode, 0) << r.err;

  r = Run({"demo"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_THAT(r.out, HasSubstr("(PostgreSQL)"));
  EXPECT_THAT(r.out, HasSubstr("(Caseid:SolutionId): 1:2 2:4 3:6\n"));

  r = Run({"demo"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_THAT(r.out, HasSubstr("(Caseid:SolutionId): 1:2 2:4 3:6 5:8 6:10 7:12\n"));

  r = Run({"ids", "models/demo"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "1:2;2:4;3:6;5:8;6:10;7:12;\n");

  r = Run({"call", "CaseSummary", "modeldir=string:models/demo"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "result: 8\noutput: cases=8;solutions=12;results=36;nextcaseid=9;nextsolutionid=13;\n");

  r = Run({"call", "AddCase", "caseid=int:100", "modeldir=string:other", "name=string:x"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "result: 1\noutput: inserted=1;\n");

  r = Run({"call", "AddCase", "caseid=int:100", "modeldir=string:other", "name=string:x"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_THAT(r.err, HasSubstr("AddCase failed"));
}

}  // namespace
}  // namespace Tessel::Testing
