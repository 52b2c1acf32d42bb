// `tessel load` end to end on SQLite: the CSV people have, every line or
// none, honest counts, and messages that name the line.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <locale.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "ToolFixture.h"

namespace Tessel::Testing {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

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
  Exec(kMeasurements);
  // CRLF endings, a quoted delimiter, doubled quotes, a line break inside a
  // quoted field, blank lines, an unquoted empty field (the column keeps its
  // default or null) and a quoted empty one (an empty text), header names in
  // another case and order than the table's.
  const ToolResult r = Load("measurements",
                            "ID,Label,reading,amount,taken,ok,big,note\r\n"
                            "1,plain,1.5,12.50,2024-03-01 12:30:00,1,5000000000,\r\n"
                            "\r\n"
                            "2,\"with, comma\",-2e3,0.10,2024-03-02,0,-7,\"quoted \"\"inner\"\"\"\r\n"
                            "3,\"two\nlines\",,,,,,\"\"\r\n"
                            "\r\n"
                            "4, padded ,7,,,true,,x");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out.substr(0, r.out.find(';') + 1),
            "loaded table measurements: 6 rows read, 4 written, 2 skipped: 2 blank lines (first: line 3);");
  EXPECT_THAT(r.err, Not(HasSubstr("\r"))) << "no progress bar when standard error is not a terminal";

  EXPECT_EQ(Query("SELECT id, label, reading, taken, ok, big, note FROM measurements ORDER BY id"),
            (Rows{{"1", "plain", "1.5", "2024-03-01 12:30:00", "1", "5000000000", "none"},
                  {"2", "with, comma", "-2000.0", "2024-03-02 00:00:00", "0", "-7", "quoted \"inner\""},
                  {"3", "two\nlines", "NULL", "NULL", "NULL", "NULL", ""},
                  {"4", " padded ", "7.0", "NULL", "1", "NULL", "x"},
                  {"999999", "kept", "NULL", "NULL", "NULL", "NULL", "none"}}));
  EXPECT_EQ(One("SELECT amount FROM measurements WHERE id = 1"), "12.5");
}

TEST_F(ToolTest, LoadReadsStandardInput) {
  Exec(kMeasurements);
  const std::string csv = WriteFile("in.csv", "id,label\n5,five\n6,six\n");
  const ToolResult r = Run({"load", "--db", Db(), "--table", "measurements", "-"}, csv);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(One("SELECT group_concat(label) FROM measurements WHERE id < 10"), "five,six");
}

// What PostgreSQL's and SQLite's CSV exports and other common tools write,
// each against what must arrive in the table.
TEST_F(ToolTest, LoadReadsTheDialectsPeopleHave) {
  Exec("CREATE TABLE d(id INTEGER PRIMARY KEY, flag BOOLEAN, at DATETIME, label TEXT)");
  struct Case {
    const char* name;
    std::string csv;
    std::vector<std::string> options;
    Rows expected;  // id, flag, at, label as SQL literals
  };
  const Case cases[] = {
      {"booleans as PostgreSQL and others write them",
       "id,flag\n1,t\n2,f\n3,TRUE\n4,no\n5,On\n6,Y\n",
       {},
       {{"1", "1", "NULL", "NULL"},
        {"2", "0", "NULL", "NULL"},
        {"3", "1", "NULL", "NULL"},
        {"4", "0", "NULL", "NULL"},
        {"5", "1", "NULL", "NULL"},
        {"6", "1", "NULL", "NULL"}}},
      {"times with a zone, converted to UTC, and fractional seconds",
       "id,at\n1,2024-03-01 12:30:00+02\n2,2024-03-01 12:30:00.25+05:30\n3,2024-03-01T10:00:00Z\n"
       "4,2024-01-01 00:30:00-0100\n5,2024-03-01 12:30:00.123\n6,2024-01-01 00:00:00+00\n"
       "7,1850-07-01 04:59:59+05:53:28\n",
       {},
       {{"1", "NULL", "'2024-03-01 10:30:00'", "NULL"},
        {"2", "NULL", "'2024-03-01 07:00:00.250'", "NULL"},
        {"3", "NULL", "'2024-03-01 10:00:00'", "NULL"},
        {"4", "NULL", "'2024-01-01 01:30:00'", "NULL"},
        {"5", "NULL", "'2024-03-01 12:30:00.123'", "NULL"},
        {"6", "NULL", "'2024-01-01 00:00:00'", "NULL"},
        {"7", "NULL", "'1850-06-30 23:06:31'", "NULL"}}},
      {"a tab as \\t", "id\tlabel\n1\ta, b\n", {"--delimiter", "\\t"}, {{"1", "NULL", "NULL", "'a, b'"}}},
      {"a tab as the word", "id\tlabel\n1\tx\n", {"--delimiter", "tab"}, {{"1", "NULL", "NULL", "'x'"}}},
      {"semicolons", "id;label\n1;a,b\n", {"--delimiter", ";"}, {{"1", "NULL", "NULL", "'a,b'"}}},
      {"a null text: unquoted it is null, quoted it is text, an unquoted empty field is empty text",
       "id,label,flag\n1,NULL,NULL\n2,\"NULL\",1\n3,,0\n",
       {"--null", "NULL"},
       {{"1", "NULL", "NULL", "NULL"}, {"2", "1", "NULL", "'NULL'"}, {"3", "0", "NULL", "''"}}},
      {"PostgreSQL's text null",
       "id,label\n1,\\N\n2,\"\\N\"\n",
       {"--null", "\\N"},
       {{"1", "NULL", "NULL", "NULL"}, {"2", "NULL", "NULL", "'\\N'"}}},
      {"no header, the columns named",
       "1,one\n2,two\n",
       {"--no-header", "--columns", "id,label"},
       {{"1", "NULL", "NULL", "'one'"}, {"2", "NULL", "NULL", "'two'"}}},
      {"an empty last field after a quoted one is null, not an empty text",
       "id,label\n\"1\",\n\"2\",\"\"\n",
       {},
       {{"1", "NULL", "NULL", "NULL"}, {"2", "NULL", "NULL", "''"}}},
      {"old Mac line ends and a byte order mark",
       "\xEF\xBB\xBFid,label\r1,a\r2,b",
       {},
       {{"1", "NULL", "NULL", "'a'"}, {"2", "NULL", "NULL", "'b'"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Exec("DELETE FROM d");
    const ToolResult r = Load("d", c.csv, c.options);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(Query("SELECT id, quote(flag), quote(at), quote(label) FROM d ORDER BY id"), c.expected);
  }
}

// sqlite3's own CSV export of a table loads into a fresh table of the same
// definition with equal contents.
TEST_F(ToolTest, AnSqliteShellExportRoundTrips) {
  if (std::system("command -v sqlite3 >/dev/null 2>&1") != 0) GTEST_SKIP() << "no sqlite3 shell";
  const char* definition =
      "(id INTEGER PRIMARY KEY, label TEXT NOT NULL, reading REAL, amount DECIMAL(12,3), taken DATETIME, "
      "ok BOOLEAN, note TEXT)";
  Exec(std::string("CREATE TABLE src") + definition + "; CREATE TABLE dst" + definition +
       ";"
       "INSERT INTO src VALUES (1, 'plain', 1.5, 12.5, '2024-03-01 12:30:00', 1, NULL),"
       " (2, 'with, comma and \"quotes\"', -0.002, 0.1, '2024-03-01 12:30:00.123', 0, ''),"
       " (3, 'two' || char(10) || 'lines', NULL, NULL, NULL, NULL, 'é€'),"
       " (4, '  blanks  ', 1e300, -7, '0100-01-01 00:00:00', 1, 'x')");
  const std::string csv = (dir_.path() / "export.csv").string();
  ASSERT_EQ(
      std::system(
          ("sqlite3 -csv -header '" + DbFile().string() + "' 'SELECT * FROM src' > '" + csv + "'").c_str()),
      0);
  const ToolResult r = Run({"load", "--db", Db(), "--table", "dst", csv});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_THAT(r.out, HasSubstr("4 rows read, 4 written, 0 skipped"));
  const char* columns = "id, label, quote(reading), quote(amount), taken, ok, quote(note)";
  EXPECT_EQ(Query(std::string("SELECT ") + columns + " FROM dst ORDER BY id"),
            Query(std::string("SELECT ") + columns + " FROM src ORDER BY id"));
}

// Rows the table would have left out of the write while the tool reported
// them loaded: each pair of lines holds one key as the table (and SQLite)
// compares keys, or a value no text can hold. Each stops the load naming
// both lines (or the line, column and byte), and nothing is written.
TEST_F(ToolTest, LoadLosesNoRowSilently) {
  Exec(
      "CREATE TABLE nocase(k TEXT COLLATE NOCASE PRIMARY KEY, v INTEGER);"
      "CREATE TABLE dec(k DECIMAL(10,2) PRIMARY KEY, v INTEGER);"
      "CREATE TABLE stamp(k DATETIME PRIMARY KEY, v INTEGER);"
      "CREATE TABLE pair(a INTEGER, b TEXT COLLATE NOCASE, v INTEGER, UNIQUE (a, b));"
      "CREATE TABLE plain(k TEXT PRIMARY KEY, v INTEGER);"
      "CREATE TABLE loose(a TEXT, b INTEGER)");
  struct Case {
    const char* name;
    std::string table;
    std::string csv;
    std::vector<std::string> mentions;
  };
  const Case cases[] = {
      {"letters in another case under NOCASE",
       "nocase",
       "k,v\nA,1\nb,2\na,3\n",
       {"line 4, column '(k)', value 'a': repeats the key of line 2"}},
      {"one decimal written two ways", "dec", "k,v\n1.10,1\n1.1,2\n", {"line 3", "'1.1'", "line 2"}},
      {"one decimal as an exponent", "dec", "k,v\n100,1\n1e2,2\n", {"line 3", "'1e2'", "line 2"}},
      {"one time written two ways",
       "stamp",
       "k,v\n2024-01-01,1\n2024-01-01 00:00,2\n",
       {"line 3", "'2024-01-01 00:00'", "line 2"}},
      {"one time in two zones",
       "stamp",
       "k,v\n2024-01-01 12:00+02,1\n2024-01-01T10:00:00Z,2\n",
       {"line 3", "line 2"}},
      {"a two-column key, one column without case",
       "pair",
       "a,b,v\n1,x,1\n2,x,2\n1,X,3\n",
       {"line 4, column '(a, b)', value '1, X': repeats the key of line 2"}},
      {"a NUL byte, which would cut the text",
       "plain",
       std::string("k,v\nab,1\na\0c,2\n", 16),
       {"line 3, column 'k'", "NUL byte at byte offset 10"}},
      {"bytes that are not UTF-8",
       "plain",
       "k,v\nx,1\n\xFF,2\n\xFE,3\n",
       {"line 3, column 'k'", "byte 0xFF at byte offset 8", "not valid UTF-8", "--encoding"}},
      {"a line of empty fields", "loose", "a,b\nx,1\n,\n", {"line 3", "every field of the line is empty"}},
      {"a quoted empty text and an empty number still make a row, not this",
       "loose",
       "a,b\n\"\",\n,\n",
       {"line 3", "every field"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ToolResult r = Load(c.table, c.csv);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(Lines(r.err), 1) << r.err;
    for (const std::string& word : c.mentions) EXPECT_THAT(r.err, HasSubstr(word));
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(One("SELECT COUNT(*) FROM " + c.table), "0");
  }
  // Keys that only look alike are different keys and all arrive.
  ToolResult r = Load("plain", "k,v\nA,1\na,2\n1.10,3\n1.1,4\n2024-01-01,5\n2024-01-01 00:00,6\n");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_THAT(r.out, HasSubstr("6 rows read, 6 written, 0 skipped"));
  EXPECT_EQ(One("SELECT COUNT(*) FROM plain"), "6");
  r = Load("loose", "a,b\n\"\",\n");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(Query("SELECT quote(a), quote(b) FROM loose"), (Rows{{"''", "NULL"}}));
}

// A file with one fault on a given line: the load must stop naming that
// line, the column and the value, and write nothing at all. The fault sits
// in the middle of 10,000 lines and on the very last line.
TEST_F(ToolTest, LoadWithOneBadLineWritesNothing) {
  struct Case {
    const char* name;
    std::string bad;  // its id is whatever the good lines would have given it
    std::vector<std::string> mentions;
  };
  auto good = [](int id) {
    return std::to_string(id) + ",row " + std::to_string(id) + "," + std::to_string(id) + ".5," +
           std::to_string(id) + ".25,2024-01-01 10:00:00,t," + std::to_string(id) + "00000,n";
  };
  const Case cases[] = {
      {"text in a REAL column", "ID,r,abc,1,2024-01-01,1,1,n", {"reading", "'abc'"}},
      {"fraction in an INTEGER column", "ID,r,1,1,2024-01-01,1,12.5,n", {"big", "'12.5'"}},
      {"no such date", "ID,r,1,1,2024-13-45,1,1,n", {"taken", "'2024-13-45'"}},
      {"a zone out of range", "ID,r,1,1,2024-01-01 10:00+25:00,1,1,n", {"taken", "'2024-01-01 10:00+25:00'"}},
      {"not a decimal", "ID,r,1,1.2.3,2024-01-01,1,1,n", {"amount", "'1.2.3'"}},
      {"not a truth value", "ID,r,1,1,2024-01-01,maybe,1,n", {"ok", "'maybe'"}},
      {"stray quote", "ID,r\"x,1,1,2024-01-01,1,1,n", {"malformed"}},
      {"a field short", "ID,r,1,1,2024-01-01,1,1", {"7 fields", "header has 8"}},
      {"required value missing", "ID,,1,1,2024-01-01,1,1,n", {"label", "NOT NULL"}},
      {"key repeated from line 2", "1,again,1,1,2024-01-01,1,1,n", {"(id)", "'1'", "line 2"}},
      {"key repeated from line 2, spelt differently",
       "+1,again,1,1,2024-01-01,1,1,n",
       {"(id)", "'+1'", "line 2"}},
      {"an invalid byte", "ID,\xC3\x28,1,1,2024-01-01,1,1,n", {"label", "byte 0xC3", "not valid UTF-8"}},
  };
  for (const int badLine : {5000, 10'000}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + " on line " + std::to_string(badLine));
      std::filesystem::remove(DbFile());
      Exec(kMeasurements);
      std::string csv = "id,label,reading,amount,taken,ok,big,note\n";
      for (int line = 2; line <= 10'000; ++line) {
        std::string text = line == badLine ? c.bad : good(line - 1);
        if (const std::size_t id = text.find("ID"); id != std::string::npos)
          text.replace(id, 2, std::to_string(line - 1));
        csv += text + "\n";
      }
      const ToolResult r = Load("measurements", csv);
      EXPECT_EQ(r.exitCode, 1);
      EXPECT_EQ(Lines(r.err), 1) << r.err;
      EXPECT_THAT(r.err, HasSubstr("line " + std::to_string(badLine)));
      for (const std::string& word : c.mentions) EXPECT_THAT(r.err, HasSubstr(word));
      EXPECT_EQ(r.out, "");
      EXPECT_EQ(One("SELECT group_concat(id) FROM measurements"), "999999");
    }
  }
}

// Files of more rows than the load writes in one batch: every row arrives
// once, or, whatever stops the load and however late in the file, nothing
// does; the lines named are the file's, a key repeated far apart names both.
TEST_F(ToolTest, ALoadOfManyBatchesIsOneTransaction) {
  const char* const kTable =
      "CREATE TABLE t(id INTEGER PRIMARY KEY, label TEXT NOT NULL, reading REAL);"
      "INSERT INTO t VALUES (999999, 'kept', 0)";
  for (const ManyBatchLoad& c : ManyBatchLoads()) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(DbFile());
    Exec(kTable);
    const ToolResult r = Load("t", c.csv);
    if (c.mentions.empty()) {
      ASSERT_EQ(r.exitCode, 0) << r.err;
      EXPECT_THAT(r.out, HasSubstr("40,000 rows read, 40,000 written, 0 skipped"));
      const std::vector<std::string> totals = Query(std::string(kManyBatchTotalsQuery) + "t").at(0);
      EXPECT_EQ(totals[0] + "|" + totals[1] + "|" + totals[2] + "|" + totals[3], ManyBatchTotals());
      continue;
    }
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(Lines(r.err), 1) << r.err;
    for (const std::string& word : c.mentions) EXPECT_THAT(r.err, HasSubstr(word));
    for (const std::string& word : c.sqliteMentions) EXPECT_THAT(r.err, HasSubstr(word));
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(One("SELECT group_concat(id) FROM t"), "999999");
  }

  // Standard input, which cannot be read twice, names the earlier line too.
  std::filesystem::remove(DbFile());
  Exec(kTable);
  for (const ManyBatchLoad& c : ManyBatchLoads()) {
    if (std::string(c.name) != "a key repeated two batches apart") continue;
    const ToolResult r = Run({"load", "--db", Db(), "--table", "t", "-"}, WriteFile("stdin.csv", c.csv));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_THAT(r.err, HasSubstr(c.mentions.at(0)));
    EXPECT_EQ(One("SELECT group_concat(id) FROM t"), "999999");
  }
}

TEST_F(ToolTest, LoadRefusalsBeforeAndAfterReadingWriteNothing) {
  Exec(kMeasurements);
  struct Case {
    const char* name;
    std::string table;
    std::string csv;
    std::vector<std::string> options;
    std::vector<std::string> mentions;
  };
  const Case cases[] = {
      {"no such table", "nosuch", "id\n1\n", {}, {"nosuch", "does not exist"}},
      {"header names a column the table lacks",
       "measurements",
       "id,label,colour\n1,a,red\n",
       {},
       {"line 1", "colour", "no such column"}},
      {"header lacks a required column", "measurements", "id,reading\n1,2\n", {}, {"line 1", "label"}},
      {"a column list names a column the table lacks",
       "measurements",
       "1,a\n",
       {"--no-header", "--columns", "id,lable"},
       {"column names given", "lable", "no such column"}},
      {"empty file", "measurements", "", {}, {"header"}},
      {"unclosed quote at the end",
       "measurements",
       "id,label\n1,a\n2,\"b\n\n",
       {},
       {"line 3", "starts on line 3", "not closed"}},
      {"an encoding nobody knows",
       "measurements",
       "id,label\n1,a\n",
       {"--encoding", "klingon"},
       {"unknown encoding 'klingon'"}},
      // Only the database knows this key; its refusal rolls the whole write
      // back and names the line of the file.
      {"key the table already holds",
       "measurements",
       "id,label\n1,a\n999999,b\n",
       {},
       {"not written", "the row of line 3 of the file", "UNIQUE"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ToolResult r = Load(c.table, c.csv, c.options);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(Lines(r.err), 1) << r.err;
    for (const std::string& word : c.mentions) EXPECT_THAT(r.err, HasSubstr(word));
    EXPECT_EQ(One("SELECT group_concat(id) FROM measurements"), "999999");
  }
}

// Text in another encoding loads when the encoding is named and is refused,
// with its line, column and byte, when it is not; characters split between
// two blocks of the reader decode as one.
TEST_F(ToolTest, LoadDecodesTheFileFromItsEncoding) {
  Exec("CREATE TABLE words(id INTEGER PRIMARY KEY, word TEXT)");
  const std::string latin1 = "id,word\n1,caf\xE9\n2,na\xEFve \xA9\n";
  ToolResult r = Load("words", latin1);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_THAT(r.err,
              HasSubstr("line 2, column 'word': byte 0xE9 at byte offset 13 of the file is not valid UTF-8"));
  EXPECT_EQ(One("SELECT COUNT(*) FROM words"), "0");

  for (const char* name : {"latin1", "ISO-8859-1", "Latin-1"}) {
    SCOPED_TRACE(name);
    Exec("DELETE FROM words");
    r = Load("words", latin1, {"--encoding", name});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(Query("SELECT word FROM words ORDER BY id"),
              (Rows{{"caf\xC3\xA9"}, {"na\xC3\xAFve \xC2\xA9"}}));
  }
  Exec("DELETE FROM words");
  r = Load("words", "id,word\n1,\x80 5\n", {"--encoding", "CP1252"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(One("SELECT word FROM words"), "\xE2\x82\xAC 5");
  r = Load("words", "id,word\n2,ok\n3,\x81\n", {"--encoding", "CP1252"});  // a byte CP1252 leaves undefined
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_THAT(
      r.err, HasSubstr("line 3, column 'word': byte 0x81 at byte offset 15 of the file is not valid CP1252"));

  // Far past the reader's first block: a two-byte character across the
  // block boundary, then an invalid byte whose offset must still be exact.
  Exec("DELETE FROM words");
  std::string csv = "id,word\n";
  int id = 1;
  while (csv.size() < 256 * 1024 - 40) csv += std::to_string(id++) + ",plain\n";
  csv += std::to_string(id++) + ",";
  csv += std::string(256 * 1024 - 1 - csv.size(), 'x') + "\xC3\xA9\n";  // é straddles 256 KiB
  const int straddling = id - 1;
  r = Load("words", csv);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(One("SELECT substr(word, -1) FROM words WHERE id = " + std::to_string(straddling)), "\xC3\xA9");
  Exec("DELETE FROM words");
  const std::size_t badOffset = csv.size() + std::to_string(id).size() + 3;  // "ID,ab" before it
  csv += std::to_string(id) + ",ab\xE9z\n";
  r = Load("words", csv);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_THAT(r.err,
              HasSubstr("line " + std::to_string(id + 1) + ", column 'word': byte 0xE9 at byte offset " +
                        std::to_string(badOffset) + " "));
  EXPECT_EQ(One("SELECT COUNT(*) FROM words"), "0");
}

// Under a Latin-1 locale the load still reads a UTF-8 file as UTF-8 and
// writes its text as it is: what Latin-1 holds arrives intact (a column name
// too), and so does what it lacks (the load's text never passes through the
// locale's character set, so nothing turns into '?'); --encoding locale
// reads a file in that set.
TEST_F(ToolTest, LoadUnderALatin1Locale) {
  const char* const kLocale = "de_DE.ISO-8859-1";
  if (locale_t probe = ::newlocale(LC_CTYPE_MASK, kLocale, static_cast<locale_t>(nullptr))) {
    ::freelocale(probe);
  } else {
    GTEST_SKIP() << "no locale " << kLocale;
  }
  Exec(
      "CREATE TABLE w(id INTEGER PRIMARY KEY, \"Gr\xC3\xB6\xC3\x9F"
      "e\" TEXT)");
  auto load = [&](const std::string& csv, std::vector<std::string> extra = {}) {
    std::vector<std::string> args{"load", "--db", Db(), "--table", "w"};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back(WriteFile("in.csv", csv));
    return Run(args, {}, {std::string("LC_ALL=") + kLocale});
  };
  ToolResult r = load(
      "id,Gr\xC3\xB6\xC3\x9F"
      "e\n1,caf\xC3\xA9\n");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  r = load(
      "id,Gr\xC3\xB6\xC3\x9F"
      "e\n2,5 \xE2\x82\xAC\n");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  r = load(
      "id,Gr\xF6\xDF"
      "e\n3,na\xEFve\n",
      {"--encoding", "locale"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(Query("SELECT id, hex(\"Gr\xC3\xB6\xC3\x9F"
                  "e\") FROM w ORDER BY id"),
            (Rows{{"1", "636166C3A9"}, {"2", "3520E282AC"}, {"3", "6E61C3AF7665"}}));
}

// With --progress the load reports to a log as well: a line per interval
// while reading and one when the write starts; without it, nothing.
TEST_F(ToolTest, LoadReportsProgressToANonTerminalWhenAsked) {
  Exec("CREATE TABLE m(id INTEGER PRIMARY KEY, label TEXT)");
  std::string csv = "id,label\n";
  for (int i = 1; i <= 60'000; ++i) csv += std::to_string(i) + ",label number " + std::to_string(i) + "\n";
  ToolResult r = Load("m", csv, {"--progress", "--progress-interval", "0"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_THAT(r.err, HasSubstr("tessel load: 60,000 rows read, writing them\n"));
  EXPECT_THAT(r.err, HasSubstr("% of the file"));
  EXPECT_THAT(r.err, Not(HasSubstr("\r")));
  EXPECT_GE(Lines(r.err), 3);

  Exec("DELETE FROM m");
  r = Load("m", csv);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err, "");
}

// Ctrl-C stops the load where it can still roll back; only then does the
// tool say that nothing was written.
TEST_F(ToolTest, AnInterruptedLoadWritesNothingAndSaysSo) {
  Exec("CREATE TABLE m(id INTEGER PRIMARY KEY, label TEXT)");
  std::string csv = "id,label\n";
  for (int i = 1; i <= 3'000'000; ++i) csv += std::to_string(i) + ",label number " + std::to_string(i) + "\n";
  const ToolResult r = RunProgram(kTool,
                                  {"load", "--db", Db(), "--table", "m", "--progress", "--progress-interval",
                                   "0", WriteFile("big.csv", csv)},
                                  dir_.path(), {}, {}, "% of the file");
  EXPECT_EQ(r.exitCode, 130) << r.err;
  EXPECT_THAT(r.err, HasSubstr("tessel: interrupted: nothing was written\n"));
  EXPECT_EQ(One("SELECT COUNT(*) FROM m"), "0");
}

}  // namespace
}  // namespace Tessel::Testing
