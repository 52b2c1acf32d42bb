// End-to-end tests of the tessel tool on SQLite: its command line, demo,
// call, ids and test, and what it does with connection strings. Each runs the
// executable in a temporary folder and looks at its exit status, its two
// outputs and, with plain sqlite3, at what reached the database.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ToolFixture.h"

namespace Tessel::Testing {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

// --- command line ------------------------------------------------------------

TEST(ToolCommandLine, EveryCommandHasHelpWithAnExampleAndItsExitStatuses) {
  struct Case {
    std::vector<std::string> args;
    std::vector<std::string> mentions;
  };
  const Case cases[] = {
      {{"--help"},
       {"Usage:", "demo", "load", "call", "ids", "test", "help", "--db", "TESSEL_DB", "Exit status"}},
      {{"demo", "--help"},
       {"Usage: tessel demo", "--db", "--schema", "--model-dir", "--cases", "sqlite::memory:"}},
      {{"load", "--help"},
       {"Usage: tessel load", "--table", "FILE", "--delimiter", "--null", "--no-header", "--columns",
        "--encoding", "--progress", "t/f", "+02:00", "byte offset"}},
      {{"call", "--help"}, {"Usage: tessel call", "NAME", "name=type:value", "datetime", "0100-01-01"}},
      {{"ids", "--help"}, {"Usage: tessel ids", "MODELDIR", "--format"}},
      {{"test", "--help"}, {"Usage: tessel test", "--db"}},
      {{"help", "--help"}, {"Usage: tessel help", "COMMAND"}},
  };
  TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0]);
    const ToolResult r = RunProgram(kTool, c.args, dir.path());
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    for (const std::string& word : c.mentions) EXPECT_THAT(r.out, HasSubstr(word));
    EXPECT_THAT(r.out, HasSubstr("Example:\n  tessel "));
    EXPECT_THAT(r.out, HasSubstr("\nExit status: 0 "));
    if (c.args[0] != "--help") {
      // `tessel help CMD` is the same text as `tessel CMD --help`.
      const ToolResult viaHelp = RunProgram(kTool, {"help", c.args[0]}, dir.path());
      EXPECT_EQ(viaHelp.exitCode, 0);
      EXPECT_EQ(viaHelp.out, r.out);
    }
  }
  EXPECT_EQ(RunProgram(kTool, {"help"}, dir.path()).out, RunProgram(kTool, {"--help"}, dir.path()).out);
  EXPECT_TRUE(std::filesystem::is_empty(dir.path())) << "help must not create a database";
}

TEST(ToolCommandLine, WrongCommandLineGivesStatusTwoOneLineAndTheHelpToRead) {
  struct Case {
    std::vector<std::string> args;
    std::string says;  // part of the message
    std::string see;   // the help it points at
  };
  const Case cases[] = {
      {{}, "required", "tessel --help"},
      {{"frobnicate"}, "no command 'frobnicate'", "tessel --help"},
      {{"lod", "--table", "t", "x.csv"}, "no command 'lod' (did you mean 'load'?)", "tessel --help"},
      {{"--db", "sqlite:x.db", "tset"}, "(did you mean 'test'?)", "tessel --help"},
      {{"help", "dmeo"}, "no command 'dmeo' (did you mean 'demo'?)", "tessel help --help"},
      {{"load", "x.csv"}, "--table", "tessel load --help"},
      {{"load", "--table", "t", "--delimiter", "ab", "x.csv"}, "tab", "tessel load --help"},
      {{"load", "--table", "t", "--no-header", "x.csv"}, "--columns", "tessel load --help"},
      {{"load", "--table", "t", "--columns", "a,b", "x.csv"}, "--no-header", "tessel load --help"},
      {{"ids"}, "MODELDIR", "tessel ids --help"},
      {{"ids", "--table", "models/demo"}, "--format tsv", "tessel ids --help"},
      {{"ids", "--format", "xml", "models/demo"}, "--format", "tessel ids --help"},
      {{"demo", "--cases", "0"}, "--cases", "tessel demo --help"},
      {{"call", "AddCase", "caseid=int:abc"}, "caseid=int:abc", "tessel call --help"},
      {{"call", "AddCase", "caseid=float:1"}, "unknown type", "tessel call --help"},
      {{"call", "AddCase", "caseid"}, "NAME=TYPE:VALUE", "tessel call --help"},
  };
  TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    const ToolResult r = RunProgram(kTool, c.args, dir.path());
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(Lines(r.err), 1) << r.err;
    EXPECT_THAT(r.err, HasSubstr(c.says));
    EXPECT_THAT(r.err, HasSubstr("(see " + c.see + ")"));
    EXPECT_EQ(r.out, "");
  }
  EXPECT_TRUE(std::filesystem::is_empty(dir.path())) << "a wrong command line must not create a database";
}

// Routine arguments the bridge cannot carry are refused with the text the
// user typed, before anything is opened; a time near midnight before
// 1899-12-30 arrives on the right day.
TEST_F(ToolTest, CallRefusesDatesTheBridgeCannotCarryAndRoundsTheOthersOnce) {
  for (const char* argument : {"at=datetime:0099-12-31 23:59:59", "at=datetime:0001-01-01",
                               "at=datetime:9999-12-31 23:59:59.9996", "at=datetime:-700000"}) {
    SCOPED_TRACE(argument);
    const ToolResult r = Run({"call", "--db", Db(), "Echo", argument});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_THAT(r.err, HasSubstr(std::string(argument).substr(12)));
    EXPECT_THAT(r.err, HasSubstr("0100-01-01"));
  }
  Exec(
      "CREATE TABLE tessel_procedures(name TEXT PRIMARY KEY, body TEXT NOT NULL);"
      "INSERT INTO tessel_procedures VALUES ('Echo', 'SELECT :at AS at')");
  struct Case {
    const char* typed;
    const char* arrives;
  };
  const Case cases[] = {
      {"1850-06-30 23:59:59.9996", "1850-07-01 00:00:00"},
      {"1850-06-30 23:59:59.9994", "1850-06-30 23:59:59.999"},
      {"1899-12-29T12:00", "1899-12-29 12:00:00"},
      {"0100-01-01", "0100-01-01 00:00:00"},
      {"9999-12-31 23:59:59.999", "9999-12-31 23:59:59.999"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed);
    const ToolResult r = Run({"call", "--db", Db(), "Echo", std::string("at=datetime:") + c.typed});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "result: 0\noutput: at=" + std::string(c.arrives) + ";\n");
  }
}

// --- demo, call, ids, test -------------------------------------------------------

TEST_F(ToolTest, DemoAddsToWhatEarlierRunsLeftAndIdsAndCallSeeIt) {
  ToolResult r = Run({"demo", "--db", Db()});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_THAT(r.out, HasSubstr("(SQLite)"));
  EXPECT_THAT(r.out, HasSubstr("(Caseid:SolutionId): 1:2 2:4 3:6\n"));

  r = Run({"--db", Db(), "demo"});  // --db before the command works as well
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_THAT(r.out, HasSubstr("(Caseid:SolutionId): 1:2 2:4 3:6 5:8 6:10 7:12\n"));
  EXPECT_THAT(r.out, HasSubstr("first case of this run: 5;"));

  EXPECT_EQ(One("SELECT COUNT(*) FROM cases"), "8");  // 3 staged + 1 by AddCase, twice
  EXPECT_EQ(One("SELECT COUNT(*) FROM solutions"), "12");
  EXPECT_EQ(One("SELECT COUNT(*) FROM results"), "36");
  EXPECT_EQ(One("SELECT Name FROM cases WHERE Caseid = 4"), "added by AddCase");

  r = Run({"ids", "--db", Db(), "models/demo"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "1:2;2:4;3:6;5:8;6:10;7:12;\n");

  r = Run({"ids", "--db", Db(), "--format", "tsv", "models/demo"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "Caseid\tSolutionId\n1\t2\n2\t4\n3\t6\n5\t8\n6\t10\n7\t12\n");

  r = Run({"ids", "--db", Db(), "models/none"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "\n");

  r = Run({"call", "--db", Db(), "CaseSummary", "modeldir=string:models/demo"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "result: 8\noutput: Cases=8;Solutions=12;Results=36;NextCaseid=9;NextSolutionId=13;\n");

  r = Run(
      {"call", "--db", Db(), "AddCase", "caseid=int:+100", "modeldir=string:other=dir:x", "name=string:"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "result: 1\noutput: inserted=1;\n");
  EXPECT_EQ(Query("SELECT ModelDir, Name FROM cases WHERE Caseid = 100"), (Rows{{"other=dir:x", ""}}));
}

TEST_F(ToolTest, WithoutDbTheToolUsesTesselDbThenTheEmbeddedFile) {
  // TESSEL_DB stands in for --db; --db still wins over it.
  const std::string elsewhere = "sqlite:" + (dir_.path() / "elsewhere.db").string();
  ToolResult r =
      Run({"demo", "--cases", "1", "--solutions", "1", "--results", "1"}, {}, {"TESSEL_DB=" + elsewhere});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(std::filesystem::exists(dir_.path() / "elsewhere.db"));
  EXPECT_FALSE(std::filesystem::exists(dir_.path() / "tessel.db"));
  EXPECT_EQ(Run({"ids", "models/demo"}, {}, {"TESSEL_DB=" + elsewhere}).out, "1:1;\n");
  EXPECT_EQ(Run({"ids", "--db", Db(), "models/demo"}, {}, {"TESSEL_DB=" + elsewhere}).exitCode, 1)
      << "t.db does not exist: --db must have been used";

  r = Run({"demo", "--cases", "1", "--solutions", "1", "--results", "1"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(std::filesystem::exists(dir_.path() / "tessel.db"));
  EXPECT_EQ(Run({"ids", "models/demo"}).out, "1:1;\n");
}

// Only demo creates a missing SQLite file (or a string that asks for it
// with mode=rwc); the other commands say which file is missing and how to
// make it, and leave no file behind.
TEST_F(ToolTest, ASQLiteFileThatDoesNotExistIsNotCreated) {
  const std::string missing = "sqlite:" + (dir_.path() / "missing.db").string();
  const std::vector<std::vector<std::string>> commands = {
      {"test", "--db", missing},
      {"ids", "--db", missing, "models/demo"},
      {"call", "--db", missing, "CaseSummary"},
      {"load", "--db", missing, "--table", "cases", WriteFile("c.csv", "Caseid\n1\n")},
  };
  for (const auto& args : commands) {
    SCOPED_TRACE(args[0]);
    const ToolResult r = Run(args);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "tessel: no SQLite database file '" + (dir_.path() / "missing.db").string() +
                         "' (create it with tessel demo or add ?mode=rwc)\n");
    EXPECT_FALSE(std::filesystem::exists(dir_.path() / "missing.db"));
  }
  ToolResult r = Run({"test", "--db", missing + "?mode=rwc"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(std::filesystem::exists(dir_.path() / "missing.db"));

  // The other modes of the connection string reach the library as written.
  r = Run({"test", "--db", "sqlite:" + (dir_.path() / "other.db").string() + "?mode=rw&busy_timeout=10"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_THAT(r.err, HasSubstr("mode=rw opens an existing file only"));
  r = Run({"test", "--db", missing + "?mode=rwx"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_THAT(r.err, HasSubstr("mode 'rwx'"));
  r = Run({"test", "--db", missing + "?moed=rw"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_THAT(r.err, HasSubstr("unknown option 'moed'"));
  EXPECT_FALSE(std::filesystem::exists(dir_.path() / "missing.db?moed=rw"));

  ASSERT_EQ(Run({"demo", "--db", Db()}).exitCode, 0);
  r = Run({"load", "--db", Db() + "?mode=ro", "--table", "cases",
           WriteFile("c.csv", "Caseid,ModelDir,Name\n50,m,n\n")});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_THAT(r.err, HasSubstr("readonly"));
  EXPECT_EQ(One("SELECT COUNT(*) FROM cases WHERE Caseid = 50"), "0");
}

TEST_F(ToolTest, InMemorySqliteRunsTheDemoOnOneConnectionAndIsRefusedWhereItHoldsNothing) {
  ToolResult r = Run({"demo", "--db", "sqlite::memory:"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_THAT(r.out, HasSubstr("(Caseid:SolutionId): 1:2 2:4 3:6\n"));
  EXPECT_TRUE(std::filesystem::is_empty(dir_.path()));

  EXPECT_EQ(Run({"test", "--db", "sqlite::memory:"}).exitCode, 0);
  const std::vector<std::vector<std::string>> refused = {
      {"ids", "--db", "sqlite::memory:", "models/demo"},
      {"call", "--db", "sqlite::memory:", "CaseSummary"},
      {"load", "--db", "sqlite::memory:", "--table", "cases", WriteFile("c.csv", "Caseid\n1\n")},
  };
  for (const auto& args : refused) {
    SCOPED_TRACE(args[0]);
    r = Run(args);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_THAT(r.err, HasSubstr("tessel " + args[0] +
                                 ": sqlite::memory: is a new, empty database on every "
                                 "connection"));
  }
}

TEST_F(ToolTest, FailuresGiveStatusOneAndTheReasonOnOneLine) {
  ASSERT_EQ(Run({"demo", "--db", Db()}).exitCode, 0);
  struct Case {
    std::vector<std::string> args;
    std::vector<std::string> mentions;
  };
  const Case cases[] = {
      {{"call", "--db", Db(), "NoSuchRoutine"}, {"NoSuchRoutine"}},
      // The routine's own failure: a key that is already taken.
      {{"call", "--db", Db(), "AddCase", "caseid=int:1", "modeldir=string:m", "name=string:n"},
       {"AddCase failed"}},
      {{"test", "--db", Db(), "--schema", "nosuch"}, {"cannot use", "nosuch"}},
      {{"test", "--db", "nosuchscheme://host/db"}, {"nosuchscheme://host/db"}},
      {{"ids", "--db", "nosuchscheme://host/db", "m"}, {"nosuchscheme://host/db"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    const ToolResult r = Run(c.args);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(Lines(r.err), 1) << r.err;
    for (const std::string& word : c.mentions) EXPECT_THAT(r.err, HasSubstr(word));
  }
}

// The status tells a script whether running the same command again may
// help: 75 for a cause that may pass, 1 for one that lasts.
TEST_F(ToolTest, TheExitStatusSaysWhetherARerunCanHelp) {
  ASSERT_EQ(Run({"demo", "--db", Db()}).exitCode, 0);
  const std::string csv = WriteFile("c.csv", "Caseid,ModelDir,Name\n50,m,n\n");
  const std::string missingFolder = "sqlite:" + (dir_.path() / "missing" / "t.db").string();
  const std::string locked = Db() + "?busy_timeout=100";
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string mentions;
  };
  const Case cases[] = {
      {{"load", "--db", locked, "--table", "cases", csv}, 75, "database is locked"},
      {{"test", "--db", locked}, 75, "database is locked"},
      {{"ids", "--db", locked, "models/demo"}, 75, "database is locked"},
      {{"load", "--db", missingFolder, "--table", "cases", csv}, 1, "no SQLite database file"},
      {{"test", "--db", missingFolder + "?mode=rwc"}, 1, "No such file or directory"},
      {{"load", "--db", missingFolder + "?mode=rwc", "--table", "cases", csv},
       1,
       "No such file or directory"},
  };
  Sqlite holder(DbFile().string());
  holder.Exec("BEGIN EXCLUSIVE");
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    const ToolResult r = Run(c.args);
    EXPECT_EQ(r.exitCode, c.status) << r.err;
    EXPECT_THAT(r.err, HasSubstr(c.mentions));
    EXPECT_EQ(Lines(r.err), 1) << r.err;
  }
  holder.Exec("ROLLBACK");
  EXPECT_EQ(One("SELECT COUNT(*) FROM cases WHERE Caseid = 50"), "0");
}

// -1 is the library's failure result, but a routine may return it too: the
// tool must tell a routine that answered -1 from one that failed.
TEST_F(ToolTest, CallOfARoutineThatReturnsMinusOneSucceeds) {
  Exec(
      "CREATE TABLE tessel_procedures(name TEXT PRIMARY KEY, body TEXT NOT NULL);"
      "INSERT INTO tessel_procedures VALUES ('MinusOne', 'SELECT -1 AS code, ''fine'' AS note'),"
      " ('Broken', 'SELECT -1 FROM no_such_table')");
  ToolResult r = Run({"call", "--db", Db(), "MinusOne"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "result: -1\noutput: code=-1;note=fine;\n");

  r = Run({"call", "--db", Db(), "Broken"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_THAT(r.err, HasSubstr("no_such_table"));
  EXPECT_EQ(r.out, "");
}

TEST_F(ToolTest, TestSaysTheDatabaseAnswers) {
  Exec("CREATE TABLE t(a)");
  const ToolResult r = Run({"test", "--db", Db()});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "'" + Db() + "' answers\n");
}

// --- passwords -----------------------------------------------------------------

// Every subcommand, failing or not, with the password in each form a
// connection string carries it, in --db and in TESSEL_DB, with the library's
// trace on: the password shows in no output.
TEST_F(ToolTest, NoOutputOfAnyCommandHoldsThePasswordOfTheConnectionString) {
  const std::string secret = "Pw0rd-s3cret";
  const std::vector<std::string> connections = {
      "postgresql://me:" + secret + "@127.0.0.1:1/db",
      "postgres://me:" + secret + "@127.0.0.1:1,127.0.0.1:2/db?connect_timeout=2",
      "postgresql://127.0.0.1:1/db?user=me&password=" + secret,
      "host=127.0.0.1 port=1 user=me password=" + secret,
      "host=127.0.0.1 port=1 user=me password = '" + secret + " x\\'y'",
      "host=127.0.0.1 port=1 sslpassword=" + secret + " password=" + secret,
      "postgresql://me:" + secret + "%zz@127.0.0.1:1/db",  // libpq quotes what it cannot decode
      "nosuch://me:" + secret + "@host/db",
      "odbc:DSN=none;UID=me;PWD=" + secret,
  };
  const std::string csv = WriteFile("c.csv", "a\n1\n");
  for (const std::string& connection : connections) {
    const std::vector<std::vector<std::string>> commands = {
        {"test", "--db", connection},
        {"demo", "--db", connection},
        {"ids", "--db", connection, "models/demo"},
        {"call", "--db", connection, "CaseSummary", "modeldir=string:x"},
        {"load", "--db", connection, "--table", "cases", csv},
        {"load", "--db", connection, "--table", "cases", "--delimiter", "xx", csv},
        {"test", "--help"},
        {"test"},
    };
    for (const auto& args : commands) {
      SCOPED_TRACE(connection + " | " + ::testing::PrintToString(args));
      const ToolResult r = Run(args, {}, {"TESSEL_DB=" + connection, "TESSEL_TRACE=1"});
      EXPECT_NE(r.exitCode, -1);
      EXPECT_THAT(r.out + r.err, Not(HasSubstr(secret)));
      EXPECT_THAT(r.out + r.err, Not(HasSubstr("s3cret")));
    }
  }
}

}  // namespace
}  // namespace Tessel::Testing
