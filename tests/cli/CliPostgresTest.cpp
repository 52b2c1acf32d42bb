// The tool against PostgreSQL, in a schema of its own that is dropped
// afterwards. TESSEL_PG_URI names the server; without it the tests skip,
// except under CI (CI=true), where a missing server is a failure.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "ToolRunner.h"

namespace Tessel::Testing {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

const std::string kTool = TESSEL_CLI_PATH;

std::string PostgresUri() {
  const char* uri = std::getenv("TESSEL_PG_URI");
  return uri ? uri : "";
}

bool UnderCi() {
  const char* ci = std::getenv("CI");
  return ci != nullptr && std::string(ci) == "true";
}

using Connection = std::unique_ptr<PGconn, decltype(&PQfinish)>;
using Result = std::unique_ptr<PGresult, decltype(&PQclear)>;

class ToolPostgresTest : public ::testing::Test {
 protected:
  void SetUp() override {
    uri_ = PostgresUri();
    if (uri_.empty()) {
      if (UnderCi()) FAIL() << "CI=true but TESSEL_PG_URI is not set: the PostgreSQL tests cannot run";
      GTEST_SKIP() << "TESSEL_PG_URI is not set";
    }
    schema_ = "tessel_cli_test_" + std::to_string(::getpid());
    conn_.reset(PQconnectdb(uri_.c_str()));
    ASSERT_EQ(PQstatus(conn_.get()), CONNECTION_OK) << PQerrorMessage(conn_.get());
    Exec("SET client_min_messages = warning");
    Exec("DROP SCHEMA IF EXISTS " + schema_ + " CASCADE");
  }
  void TearDown() override {
    if (conn_) Exec("DROP SCHEMA IF EXISTS " + schema_ + " CASCADE");
  }

  void Exec(const std::string& sql) {
    Result result(PQexec(conn_.get(), sql.c_str()), &PQclear);
    const ExecStatusType status = PQresultStatus(result.get());
    ASSERT_TRUE(status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) << sql << "\n"
                                                                         << PQerrorMessage(conn_.get());
  }
  // The rows of a query as text, values joined with '|', rows with '\n'.
  std::string Query(const std::string& sql) {
    Result result(PQexec(conn_.get(), sql.c_str()), &PQclear);
    EXPECT_EQ(PQresultStatus(result.get()), PGRES_TUPLES_OK) << sql << "\n" << PQerrorMessage(conn_.get());
    std::string text;
    for (int r = 0; r < PQntuples(result.get()); ++r) {
      for (int c = 0; c < PQnfields(result.get()); ++c)
        text += (c ? "|" : "") +
                std::string(PQgetisnull(result.get(), r, c) ? "NULL" : PQgetvalue(result.get(), r, c));
      text += "\n";
    }
    return text;
  }
  // COPY (query) TO STDOUT WITH CSV HEADER, as psql's \copy would write it.
  std::string CopyOut(const std::string& what) {
    Result start(PQexec(conn_.get(), ("COPY " + what + " TO STDOUT WITH (FORMAT csv, HEADER)").c_str()),
                 &PQclear);
    EXPECT_EQ(PQresultStatus(start.get()), PGRES_COPY_OUT) << PQerrorMessage(conn_.get());
    std::string csv;
    char* buffer = nullptr;
    int n = 0;
    while ((n = PQgetCopyData(conn_.get(), &buffer, 0)) > 0) {
      csv.append(buffer, static_cast<std::size_t>(n));
      PQfreemem(buffer);
    }
    Result end(PQgetResult(conn_.get()), &PQclear);
    EXPECT_EQ(PQresultStatus(end.get()), PGRES_COMMAND_OK) << PQerrorMessage(conn_.get());
    return csv;
  }

  ToolResult Run(std::vector<std::string> args, const std::string& db = {}) const {
    args.insert(args.end(), {"--db", db.empty() ? uri_ : db, "--schema", schema_});
    return RunProgram(kTool, args, dir_.path());
  }
  ToolResult Load(const std::string& table, const std::string& csv) const {
    const std::string file = (dir_.path() / "in.csv").string();
    std::ofstream(file, std::ios::binary) << csv;
    return Run({"load", "--table", table, file});
  }

  std::string uri_;
  std::string schema_;
  Connection conn_{nullptr, &PQfinish};
  TempDir dir_;
};

TEST_F(ToolPostgresTest, DemoCallAndIdsWork) {
  // The schema (the table set) is part of what `test` checks.
  ToolResult r = Run({"test"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_THAT(r.err, HasSubstr("no schema '" + schema_ + "'"));

  r = Run({"demo"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_THAT(r.out, HasSubstr("(PostgreSQL)"));
  EXPECT_THAT(r.out, HasSubstr("(Caseid:SolutionId): 1:2 2:4 3:6\n"));

  r = Run({"test"});
  ASSERT_EQ(r.exitCode, 0) << r.err;

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

// A table exported by the server's own COPY ... CSV HEADER, in a session of
// a zone far from UTC, loads into a fresh table of the same definition with
// equal contents: every type the tool reads, nulls and empty texts, quotes,
// line breaks, times with zones and historic offsets.
TEST_F(ToolPostgresTest, APostgresCsvExportRoundTrips) {
  const std::string columns =
      "(id integer PRIMARY KEY, small smallint, big bigint, amount numeric(14,4), ratio double precision, "
      "flag boolean, label text, note varchar(40), day date, at timestamp(6), atz timestamptz, "
      "u uuid, j jsonb, tm time, iv interval)";
  Exec("CREATE SCHEMA " + schema_);
  Exec("CREATE TABLE " + schema_ + ".src " + columns);
  Exec("CREATE TABLE " + schema_ + ".dst " + columns);
  Exec("SET TimeZone = 'Asia/Kolkata'");
  Exec("INSERT INTO " + schema_ +
       ".src VALUES"
       " (1, 7, 9000000000, 12.5, 1.5, true, 'plain', 'x', '2024-02-29', '2024-03-01 12:30:00.123456',"
       "  '2024-03-01 12:30:00.5+02', 'a0eebc99-9c0b-4ef8-bb6d-6bb9bd380a11', '{\"a\": [1, \"b,c\"]}', "
       "'12:00:01',"
       "  '1 day 02:00'),"
       " (2, -32768, -1, 0.1, -2e-3, false, 'with, comma and \"quotes\"', '', '0100-01-01',"
       "  '9999-12-31 23:59:59.999999', '1970-01-01 00:00:00Z', NULL, NULL, NULL, NULL),"
       " (3, NULL, NULL, -99999.9999, 'NaN', NULL, E'two\\nlines\\r\\nand a tab\\t', NULL, NULL, NULL, NULL,"
       "  NULL, NULL, NULL, NULL),"
       " (4, NULL, NULL, NULL, '-Infinity', NULL, '', 'é€ ✓', NULL, '1850-06-30 23:59:59',"
       "  '1850-06-30 23:59:59+00', NULL, '[]', NULL, NULL),"
       " (5, NULL, NULL, NULL, 1e300, NULL, 'NULL', '\\N', NULL, NULL, NULL, NULL, NULL, NULL, NULL)");
  const std::string csv = CopyOut(schema_ + ".src");
  ASSERT_THAT(csv, HasSubstr("+05:30"));  // the export carries zones the load must convert

  const ToolResult r = Load("dst", csv);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_THAT(r.out, HasSubstr("5 rows read, 5 written, 0 skipped"));
  EXPECT_EQ(Query("SELECT count(*) FROM " + schema_ + ".dst"), "5\n");
  // Equal row for row, whatever the session's zone: a timestamptz compares
  // as an instant.
  EXPECT_EQ(
      Query("(SELECT * FROM " + schema_ + ".src EXCEPT SELECT * FROM " + schema_ +
            ".dst) UNION ALL (SELECT * FROM " + schema_ + ".dst EXCEPT SELECT * FROM " + schema_ + ".src)"),
      "");
  EXPECT_EQ(Query("SELECT label IS NULL, note FROM " + schema_ + ".dst WHERE id = 4"), "f|é€ ✓\n");
}

// The rows the tool's old key check let through and the table dropped, on
// PostgreSQL: each stops the load with both lines, or the line and byte, and
// nothing is written; a refusal by the server names the line of the file.
TEST_F(ToolPostgresTest, LoadLosesNoRowSilently) {
  Exec("CREATE SCHEMA " + schema_);
  Exec("CREATE TABLE " + schema_ + ".dec (k numeric PRIMARY KEY, v int)");
  Exec("CREATE TABLE " + schema_ + ".stamp (k timestamp PRIMARY KEY, v int)");
  Exec("CREATE TABLE " + schema_ + ".plain (k text PRIMARY KEY, v int)");
  Exec("CREATE TABLE " + schema_ + ".parent (id int PRIMARY KEY)");
  Exec("CREATE TABLE " + schema_ + ".child (id int PRIMARY KEY, parent int REFERENCES " + schema_ +
       ".parent(id))");
  Exec("INSERT INTO " + schema_ + ".plain VALUES ('taken', 0)");
  Exec("INSERT INTO " + schema_ + ".parent VALUES (1)");
  // citext, where the server has it: in the test's schema when it can be
  // made there, else wherever it already is.
  std::string citext;
  {
    Result made(PQexec(conn_.get(), ("CREATE EXTENSION IF NOT EXISTS citext SCHEMA " + schema_).c_str()),
                &PQclear);
    const std::string where = Query(
        "SELECT n.nspname FROM pg_catalog.pg_type t JOIN pg_catalog.pg_namespace n "
        "ON n.oid = t.typnamespace WHERE t.typname = 'citext' LIMIT 1");
    if (!where.empty()) citext = where.substr(0, where.size() - 1) + ".citext";
  }
  if (!citext.empty()) Exec("CREATE TABLE " + schema_ + ".nocase (k " + citext + " PRIMARY KEY, v int)");

  struct Case {
    const char* name;
    std::string table;
    std::string csv;
    std::vector<std::string> mentions;
    const char* rowsAfter;  // the table's rows after the refused load: those it held before
  };
  std::vector<Case> cases = {
      {"one decimal written two ways",
       "dec",
       "k,v\n1.10,1\n2,2\n1.1,3\n",
       {"line 4, column '(k)', value '1.1': repeats the key of line 2"},
       "0\n"},
      {"one time written two ways",
       "stamp",
       "k,v\n2024-01-01,1\n2024-01-01 00:00:00.000,2\n",
       {"line 3", "line 2"},
       "0\n"},
      {"a NUL byte",
       "plain",
       std::string("k,v\na\0b,1\n", 10),
       {"line 2, column 'k'", "NUL byte at byte offset 5"},
       "1\n"},
      {"bytes that are not UTF-8",
       "plain",
       "k,v\n\xC0\xAF,1\n",
       {"line 2, column 'k'", "byte 0xC0 at byte offset 4"},
       "1\n"},
      {"a key the table holds",
       "plain",
       "k,v\nfree,1\ntaken,2\n",
       {"not written", "Key (k)=(taken) of line 3 of the file already exists"},
       "1\n"},
      {"a parent that does not exist",
       "child",
       "id,parent\n1,1\n2,7\n",
       {"not written", "Key (parent)=(7) of line 3 of the file is not present"},
       "0\n"},
  };
  if (!citext.empty())
    cases.push_back(
        {"letters in another case in citext", "nocase", "k,v\nAbc,1\naBC,2\n", {"line 3", "line 2"}, "0\n"});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ToolResult r = Load(c.table, c.csv);
    EXPECT_EQ(r.exitCode, 1);
    for (const std::string& word : c.mentions) EXPECT_THAT(r.err, HasSubstr(word));
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(Query("SELECT count(*) FROM " + schema_ + "." + c.table), c.rowsAfter);
  }
}

// Files of more rows than the load writes in one batch, on PostgreSQL: one
// COPY in one transaction, every row once or none; the lines named are the
// file's, a key repeated far apart names both.
TEST_F(ToolPostgresTest, ALoadOfManyBatchesIsOneTransaction) {
  Exec("CREATE SCHEMA " + schema_);
  for (const ManyBatchLoad& c : ManyBatchLoads()) {
    SCOPED_TRACE(c.name);
    Exec("DROP TABLE IF EXISTS " + schema_ + ".t");
    Exec("CREATE TABLE " + schema_ + ".t (id int8 PRIMARY KEY, label text NOT NULL, reading float8)");
    Exec("INSERT INTO " + schema_ + ".t VALUES (999999, 'kept', 0)");
    const ToolResult r = Load("t", c.csv);
    if (c.mentions.empty()) {
      ASSERT_EQ(r.exitCode, 0) << r.err;
      EXPECT_THAT(r.out, HasSubstr("40,000 rows read, 40,000 written, 0 skipped"));
      EXPECT_EQ(Query(kManyBatchTotalsQuery + schema_ + ".t"), ManyBatchTotals() + "\n");
      continue;
    }
    EXPECT_EQ(r.exitCode, 1);
    for (const std::string& word : c.mentions) EXPECT_THAT(r.err, HasSubstr(word));
    for (const std::string& word : c.postgresMentions) EXPECT_THAT(r.err, HasSubstr(word));
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(Query("SELECT string_agg(id::text, ',') FROM " + schema_ + ".t"), "999999\n");
  }
}

// A password in the connection string reaches the server (which trusts the
// test's user, so any password works) and shows in no output.
TEST_F(ToolPostgresTest, ThePasswordShowsInNoOutput) {
  const std::string secret = "Pg-s3cret-pw";
  std::string withPassword = uri_;
  const std::size_t at = withPassword.find('@');
  ASSERT_NE(at, std::string::npos) << "TESSEL_PG_URI has no user: " << uri_;
  withPassword.insert(at, ":" + secret);
  const std::string csv = (dir_.path() / "r.csv").string();
  std::ofstream(csv) << "SolutionId,Name,Value\n1,a,1.5\n1,a,2\n";
  const std::vector<std::vector<std::string>> commands = {
      {"test"},
      {"demo"},
      {"ids", "models/demo"},
      {"call", "CaseSummary", "modeldir=string:models/demo"},
      {"call", "NoSuchRoutine"},
      {"load", "--table", "results", csv},
      {"load", "--table", "nosuch", csv},
  };
  for (const auto& args : commands) {
    SCOPED_TRACE(::testing::PrintToString(args));
    const ToolResult r = Run(args, withPassword);
    EXPECT_NE(r.exitCode, -1);
    EXPECT_THAT(r.out + r.err, Not(HasSubstr(secret)));
    if (args[0] == "demo") {
      EXPECT_EQ(r.exitCode, 0) << r.err;
      EXPECT_THAT(r.out, HasSubstr(":****@"));
    }
  }
}

}  // namespace
}  // namespace Tessel::Testing
