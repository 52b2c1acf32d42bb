// End-to-end tests of the tessel tool on SQLite: each runs the installed-shape
// executable in a temporary folder and looks at its exit status, its two
// outputs and, with plain sqlite3, at what reached the database.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "ToolRunner.h"
#include "support/RawSqlite.h"

namespace Tessel::Testing {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

const std::string kTool = TESSEL_CLI_PATH;

int Lines(const std::string& text) { return static_cast<int>(std::count(text.begin(), text.end(), '\n')); }

// Plain sqlite3, so that the checks do not lean on the library under test.
using Sqlite = RawSqlite;

class ToolTest : public ::testing::Test {
 protected:
  std::filesystem::path DbFile() const { return dir_.path() / "t.db"; }
  std::string Db() const { return "sqlite:" + DbFile().string(); }
  ToolResult Run(const std::vector<std::string>& args, const std::string& stdinFile = {}) const {
    return RunProgram(kTool, args, dir_.path(), stdinFile);
  }
  std::string WriteFile(const std::string& name, const std::string& content) const {
    const std::filesystem::path file = dir_.path() / name;
    std::ofstream(file, std::ios::binary) << content;
    return file.string();
  }

  TempDir dir_;
};

// --- command line ------------------------------------------------------------

TEST(ToolCommandLine, EveryCommandHasHelp) {
  struct Case {
    std::vector<std::string> args;
    std::vector<std::string> mentions;
  };
  const Case cases[] = {
      {{"--help"}, {"Usage:", "demo", "load", "call", "ids", "test", "--db", "Exit status"}},
      {{"demo", "--help"}, {"Usage:", "demo", "--db", "--schema", "--model-dir", "--cases"}},
      {{"load", "--help"}, {"Usage:", "load", "--db", "--table", "FILE", "--delimiter"}},
      {{"call", "--help"}, {"Usage:", "call", "--db", "NAME", "name=type:value", "datetime"}},
      {{"ids", "--help"}, {"Usage:", "ids", "--db", "MODELDIR"}},
      {{"test", "--help"}, {"Usage:", "test", "--db"}},
  };
  TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0]);
    const ToolResult r = RunProgram(kTool, c.args, dir.path());
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    for (const std::string& word : c.mentions) EXPECT_THAT(r.out, HasSubstr(word));
  }
  EXPECT_TRUE(std::filesystem::is_empty(dir.path())) << "--help must not create a database";
}

TEST(ToolCommandLine, WrongCommandLineGivesStatusTwoAndOneLine) {
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"frobnicate"},
      {"load", "x.csv"},                      // --table missing
      {"ids"},                                // MODELDIR missing
      {"demo", "--cases", "0"},               // out of range
      {"call", "AddCase", "caseid=int:abc"},  // not an integer
      {"call", "AddCase", "caseid=float:1"},  // unknown type
      {"call", "AddCase", "caseid"},          // no type
  };
  TempDir dir;
  for (const auto& args : cases) {
    SCOPED_TRACE(::testing::PrintToString(args));
    const ToolResult r = RunProgram(kTool, args, dir.path());
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(Lines(r.err), 1) << r.err;
    EXPECT_THAT(r.err, HasSubstr("tessel: "));
    EXPECT_EQ(r.out, "");
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

  Sqlite db(DbFile());
  EXPECT_EQ(db.One("SELECT COUNT(*) FROM cases"), "8");  // 3 staged + 1 by AddCase, twice
  EXPECT_EQ(db.One("SELECT COUNT(*) FROM solutions"), "12");
  EXPECT_EQ(db.One("SELECT COUNT(*) FROM results"), "36");
  EXPECT_EQ(db.One("SELECT Name FROM cases WHERE Caseid = 4"), "added by AddCase");

  r = Run({"ids", "--db", Db(), "models/demo"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "1:2;2:4;3:6;5:8;6:10;7:12;\n");

  r = Run({"ids", "--db", Db(), "--table", "models/demo"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "Caseid\tSolutionId\n1\t2\n2\t4\n3\t6\n5\t8\n6\t10\n7\t12\n");

  r = Run({"ids", "--db", Db(), "models/none"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "\n");

  r = Run({"call", "--db", Db(), "CaseSummary", "modeldir=string:models/demo"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "result: 8\noutput: Cases=8;Solutions=12;Results=36;NextCaseid=9;NextSolutionId=13;\n");

  r = Run({"call", "--db", Db(), "AddCase", "caseid=int:+100", "modeldir=string:other=dir:x",
           "name=string:"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "result: 1\noutput: inserted=1;\n");
  EXPECT_EQ(db.Rows("SELECT ModelDir, Name FROM cases WHERE Caseid = 100"),
            (std::vector<std::vector<std::string>>{{"other=dir:x", ""}}));
}

TEST_F(ToolTest, WithoutDbTheToolUsesTesselDbInTheWorkingDirectory) {
  ToolResult r = Run({"demo", "--cases", "1", "--solutions", "1", "--results", "1"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(std::filesystem::exists(dir_.path() / "tessel.db"));
  r = Run({"ids", "models/demo"});
  EXPECT_EQ(r.out, "1:1;\n");
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
      {{"test", "--db", "sqlite:" + (dir_.path() / "no-such-dir" / "x.db").string()}, {"cannot reach"}},
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

// -1 is the library's failure result, but a routine may return it too: the
// tool must tell a routine that answered -1 from one that failed.
TEST_F(ToolTest, CallOfARoutineThatReturnsMinusOneSucceeds) {
  {
    Sqlite db(DbFile());
    db.Exec("CREATE TABLE tessel_procedures(name TEXT PRIMARY KEY, body TEXT NOT NULL);"
            "INSERT INTO tessel_procedures VALUES ('MinusOne', 'SELECT -1 AS code, ''fine'' AS note'),"
            " ('Broken', 'SELECT -1 FROM no_such_table')");
  }
  ToolResult r = Run({"call", "--db", Db(), "MinusOne"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "result: -1\noutput: code=-1;note=fine;\n");

  r = Run({"call", "--db", Db(), "Broken"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_THAT(r.err, HasSubstr("no_such_table"));
  EXPECT_EQ(r.out, "");
}

TEST_F(ToolTest, TestSaysTheDatabaseAnswers) {
  const ToolResult r = Run({"test", "--db", Db()});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_THAT(r.out, HasSubstr("answers"));
}

// --- load ----------------------------------------------------------------------

constexpr const char* kMeasurements =
    "CREATE TABLE measurements("
    "  id INTEGER PRIMARY KEY,"
    "  label TEXT NOT NULL,"
    "  reading REAL,"
    "  amount DECIMAL(12,2),"
    "  taken DATETIME,"
    "  ok BOOLEAN,"
    "  big INTEGER,"
    "  note TEXT DEFAULT 'none');"
    "INSERT INTO measurements(id, label) VALUES (999999, 'kept');";

TEST_F(ToolTest, LoadWritesEveryFieldAsTheCsvSaysIt) {
  Sqlite(DbFile()).Exec(kMeasurements);
  // CRLF endings, a quoted delimiter, doubled quotes, a line break inside a
  // quoted field, blank lines, an unquoted empty field (the column keeps its
  // default or null) and a quoted empty one (an empty text), header names in
  // another case and order than the table's.
  const std::string csv = WriteFile("m.csv",
                                    "ID,Label,reading,amount,taken,ok,big,note\r\n"
                                    "1,plain,1.5,12.50,2024-03-01 12:30:00,1,5000000000,\r\n"
                                    "\r\n"
                                    "2,\"with, comma\",-2e3,0.10,2024-03-02,0,-7,\"quoted \"\"inner\"\"\"\r\n"
                                    "3,\"two\nlines\",,,,,,\"\"\r\n"
                                    "4, padded ,7,,,true,,x");
  const ToolResult r = Run({"load", "--db", Db(), "--table", "measurements", csv});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_THAT(r.out, HasSubstr("loaded 4 rows into measurements"));
  EXPECT_THAT(r.err, Not(HasSubstr("\r"))) << "no progress bar when standard error is not a terminal";

  Sqlite db(DbFile());
  using Rows = std::vector<std::vector<std::string>>;
  EXPECT_EQ(db.Rows("SELECT id, label, reading, taken, ok, big, note FROM measurements ORDER BY id"),
            (Rows{{"1", "plain", "1.5", "2024-03-01 12:30:00", "1", "5000000000", "none"},
                  {"2", "with, comma", "-2000.0", "2024-03-02 00:00:00", "0", "-7", "quoted \"inner\""},
                  {"3", "two\nlines", "NULL", "NULL", "NULL", "NULL", ""},
                  {"4", " padded ", "7.0", "NULL", "1", "NULL", "x"},
                  {"999999", "kept", "NULL", "NULL", "NULL", "NULL", "none"}}));
  EXPECT_EQ(db.One("SELECT amount FROM measurements WHERE id = 1"), "12.5");
}

TEST_F(ToolTest, LoadReadsStandardInput) {
  Sqlite(DbFile()).Exec(kMeasurements);
  const std::string csv = WriteFile("in.csv", "id,label\n5,five\n6,six\n");
  const ToolResult r = Run({"load", "--db", Db(), "--table", "measurements", "-"}, csv);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(Sqlite(DbFile()).One("SELECT group_concat(label) FROM measurements WHERE id < 10"), "five,six");
}

// A 10,000-line file whose line 5,000 carries one fault: the load must stop
// naming that line, the column and the value, and write nothing at all.
TEST_F(ToolTest, LoadWithOneBadLineInTheMiddleWritesNothing) {
  struct Case {
    const char* name;
    std::string line5000;  // its id, 4999, follows the good lines before it
    std::vector<std::string> mentions;
  };
  auto good = [](int id) {
    return std::to_string(id) + ",row " + std::to_string(id) + "," + std::to_string(id) + ".5," +
           std::to_string(id) + ".25,2024-01-01 10:00:00,1," + std::to_string(id) + "00000,n";
  };
  const Case cases[] = {
      {"text in a REAL column", "4999,r,abc,1,2024-01-01,1,1,n", {"line 5000", "reading", "'abc'"}},
      {"fraction in an INTEGER column", "4999,r,1,1,2024-01-01,1,12.5,n", {"line 5000", "big", "'12.5'"}},
      {"no such date", "4999,r,1,1,2024-13-45,1,1,n", {"line 5000", "taken", "'2024-13-45'"}},
      {"not a decimal", "4999,r,1,1.2.3,2024-01-01,1,1,n", {"line 5000", "amount", "'1.2.3'"}},
      {"stray quote", "4999,r\"x,1,1,2024-01-01,1,1,n", {"line 5000", "malformed"}},
      {"a field short", "4999,r,1,1,2024-01-01,1,1", {"line 5000", "7 fields", "header has 8"}},
      {"required value missing", "4999,,1,1,2024-01-01,1,1,n", {"line 5000", "label", "NOT NULL"}},
      {"key repeated from line 2", "1,again,1,1,2024-01-01,1,1,n", {"line 5000", "(id)", "'1'", "line 2"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(DbFile());
    Sqlite(DbFile()).Exec(kMeasurements);
    std::string csv = "id,label,reading,amount,taken,ok,big,note\n";
    for (int line = 2; line <= 10'000; ++line) csv += (line == 5000 ? c.line5000 : good(line - 1)) + "\n";
    const ToolResult r = Run({"load", "--db", Db(), "--table", "measurements", WriteFile("bad.csv", csv)});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(Lines(r.err), 1) << r.err;
    for (const std::string& word : c.mentions) EXPECT_THAT(r.err, HasSubstr(word));
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(Sqlite(DbFile()).One("SELECT group_concat(id) FROM measurements"), "999999");
  }
}

TEST_F(ToolTest, LoadRefusalsBeforeAndAfterReadingWriteNothing) {
  Sqlite(DbFile()).Exec(kMeasurements);
  struct Case {
    const char* name;
    std::string table;
    std::string csv;
    std::vector<std::string> mentions;
  };
  const Case cases[] = {
      {"no such table", "nosuch", "id\n1\n", {"nosuch", "does not exist"}},
      {"header names a column the table lacks", "measurements", "id,label,colour\n1,a,red\n",
       {"line 1", "colour", "no such column"}},
      {"header lacks a required column", "measurements", "id,reading\n1,2\n", {"line 1", "label"}},
      {"empty file", "measurements", "", {"header"}},
      {"unclosed quote at the end", "measurements", "id,label\n1,a\n2,\"b\n", {"line 3", "not closed"}},
      // Only the database knows this key; its refusal rolls the whole write back.
      {"key the table already holds", "measurements", "id,label\n1,a\n999999,b\n", {"not written"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ToolResult r = Run({"load", "--db", Db(), "--table", c.table, WriteFile("x.csv", c.csv)});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(Lines(r.err), 1) << r.err;
    for (const std::string& word : c.mentions) EXPECT_THAT(r.err, HasSubstr(word));
    EXPECT_EQ(Sqlite(DbFile()).One("SELECT group_concat(id) FROM measurements"), "999999");
  }
}

}  // namespace
}  // namespace Tessel::Testing
