// What the ODBC backend does with text before any driver sees it: UTF-8 to
// the API's UTF-16 and back, the statements of a script or a catalogue
// routine, their parameter markers, and column defaults as drivers report
// them.
#include <gtest/gtest.h>

#include "TesselWrapper/component/DbConnectFactory.h"
#include "tessel/odbc/DefaultLiteral.h"
#include "tessel/odbc/Handles.h"
#include "tessel/odbc/Routines.h"

namespace Tessel::Odbc {
namespace {

std::vector<unsigned> Units(const Wide& text) { return {text.begin(), text.end()}; }

TEST(OdbcText, Utf16BothWays) {
  struct Case {
    const char* utf8;
    std::vector<unsigned> units;
  };
  const Case cases[] = {
      {"", {}},
      {"abc", {'a', 'b', 'c'}},
      {"caf\xC3\xA9", {'c', 'a', 'f', 0xE9}},
      {"\xE2\x82\xAC", {0x20AC}},
      {"\xF0\x9F\x98\x80!", {0xD83D, 0xDE00, '!'}},  // beyond the BMP: a surrogate pair
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.utf8);
    const Wide wide = ToWide(c.utf8);
    EXPECT_EQ(Units(wide), c.units);
    EXPECT_EQ(FromWide(wide), c.utf8);
  }
  EXPECT_EQ(Units(ToWide(std::string("a\0b", 3))), (std::vector<unsigned>{'a', 0, 'b'}))
      << "lengths, not NULs";
}

TEST(OdbcText, IllFormedTextBecomesReplacementCharacters) {
  EXPECT_EQ(Units(ToWide("a\xFF"
                         "b")),
            (std::vector<unsigned>{'a', 0xFFFD, 'b'}));
  EXPECT_EQ(Units(ToWide("\xE2\x82")), (std::vector<unsigned>{0xFFFD}));  // cut short
  const SQLWCHAR lone[] = {'x', 0xD800, 'y', 0xDC00};
  EXPECT_EQ(FromWide(lone, 4), "x\xEF\xBF\xBDy\xEF\xBF\xBD");
}

TEST(OdbcText, ScriptsSplitAtSemicolonsOutsideQuotesAndComments) {
  struct Case {
    const char* sql;
    Dbms dbms;
    std::vector<std::string> statements;
  };
  const Case cases[] = {
      {"SELECT 1; SELECT 2", Dbms::Other, {"SELECT 1", " SELECT 2"}},
      {"INSERT INTO t VALUES ('a;b'); ;;", Dbms::Other, {"INSERT INTO t VALUES ('a;b')"}},
      {"SELECT \"x;y\" FROM t -- the end; really\n; SELECT 'it''s;'",
       Dbms::Other,
       {"SELECT \"x;y\" FROM t -- the end; really\n", " SELECT 'it''s;'"}},
      {"/* a; b */ SELECT 1;", Dbms::Other, {"/* a; b */ SELECT 1"}},
      {"CREATE FUNCTION f() RETURNS int AS $f$ SELECT 1; $f$ LANGUAGE sql; SELECT 2",
       Dbms::PostgreSQL,
       {"CREATE FUNCTION f() RETURNS int AS $f$ SELECT 1; $f$ LANGUAGE sql", " SELECT 2"}},
      {"SELECT $$a;b$$", Dbms::PostgreSQL, {"SELECT $$a;b$$"}},
      // A trigger's body keeps its statements.
      {"CREATE TEMP TRIGGER t AFTER INSERT ON a BEGIN UPDATE a SET x = CASE WHEN y THEN 1 END; DELETE FROM "
       "b; END; "
       "SELECT 1",
       Dbms::SQLite,
       {"CREATE TEMP TRIGGER t AFTER INSERT ON a BEGIN UPDATE a SET x = CASE WHEN y THEN 1 END; DELETE FROM "
        "b; END",
        " SELECT 1"}},
      {"BEGIN; SELECT 1; END", Dbms::SQLite, {"BEGIN", " SELECT 1", " END"}},
      // SQLite's $name is a parameter, not a quote.
      {"SELECT $a; SELECT $b", Dbms::SQLite, {"SELECT $a", " SELECT $b"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sql);
    std::vector<std::string> got;
    for (std::string_view s : SplitStatements(c.sql, c.dbms)) got.emplace_back(s);
    EXPECT_EQ(got, c.statements);
  }
}

TEST(OdbcText, ParametersBecomeMarkersThatRememberWhatTheyStandFor) {
  struct Case {
    const char* statement;
    const char* sql;
    std::vector<std::string> names;
    std::vector<int> positions;
  };
  const Case cases[] = {
      {"INSERT INTO t VALUES (:id, @name, $note)",
       "INSERT INTO t VALUES (?, ?, ?)",
       {"id", "name", "note"},
       {0, 0, 0}},
      {"SELECT ?2, ?, ?1", "SELECT ?, ?, ?", {"", "", ""}, {2, 3, 1}},
      {"SELECT ':id', \":x\", x::text, a := 1 -- :c\n",
       "SELECT ':id', \":x\", x::text, a := 1 -- :c\n",
       {},
       {}},
      {"SELECT :p_id + 1 AS next", "SELECT ? + 1 AS next", {"p_id"}, {0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.statement);
    const MarkedStatement marked = MarkParameters(c.statement, Dbms::SQLite);
    EXPECT_EQ(marked.sql, c.sql);
    EXPECT_EQ(marked.names, c.names);
    EXPECT_EQ(marked.positions, c.positions);
  }
}

TEST(OdbcText, ColumnDefaultsAsDriversReportThem) {
  using Kind = ParsedDefault::Kind;
  using Data::DataType;
  struct Case {
    std::optional<std::string> text;
    DataType type;
    Dbms dbms;
    Kind kind;
    Data::Value literal;
  };
  const Case cases[] = {
      {std::nullopt, DataType::Int32, Dbms::Other, Kind::None, {}},
      {"NULL", DataType::String, Dbms::Other, Kind::Null, {}},
      {"NULL::text", DataType::String, Dbms::PostgreSQL, Kind::Null, {}},
      {"7", DataType::Int32, Dbms::PostgreSQL, Kind::Literal, Data::Value(std::int64_t{7})},
      {"(-1)", DataType::Int64, Dbms::PostgreSQL, Kind::Literal, Data::Value(std::int64_t{-1})},
      {"((5))", DataType::Int32, Dbms::SqlServer, Kind::Literal, Data::Value(std::int64_t{5})},
      {"1.50", DataType::Decimal, Dbms::Other, Kind::Literal, Data::Value("1.50")},
      {"'it''s'::text", DataType::String, Dbms::PostgreSQL, Kind::Literal, Data::Value("it's")},
      {"('abc')", DataType::String, Dbms::SqlServer, Kind::Literal, Data::Value("abc")},
      {"'2024-01-02 00:00:00'::timestamp without time zone", DataType::DateTime, Dbms::PostgreSQL,
       Kind::Literal, Data::Value("2024-01-02 00:00:00")},
      {"'x'::character varying(20)", DataType::String, Dbms::PostgreSQL, Kind::Literal, Data::Value("x")},
      {"true", DataType::Boolean, Dbms::PostgreSQL, Kind::Literal, Data::Value(true)},
      {"nextval('cases_id_seq'::regclass)", DataType::Int32, Dbms::PostgreSQL, Kind::Expression, {}},
      {"CURRENT_TIMESTAMP", DataType::DateTime, Dbms::Other, Kind::Expression, {}},
      {"'a'::text || 'b'::text", DataType::String, Dbms::PostgreSQL, Kind::Expression, {}},
      {"TRUNCATED", DataType::String, Dbms::Other, Kind::Expression, {}},
      // SQLite's drivers report the default as declared: SQLite's own rules.
      {"'7'", DataType::Int64, Dbms::SQLite, Kind::Literal, Data::Value("7")},
      {"X'00ff'", DataType::Binary, Dbms::SQLite, Kind::Literal, Data::Value(Data::Bytes{0x00, 0xFF})},
      // ... but for a string, whose quotes it drops.
      {"it''s", DataType::String, Dbms::SQLite, Kind::Literal, Data::Value("it's")},
      {"CURRENT_TIMESTAMP", DataType::DateTime, Dbms::SQLite, Kind::Expression, {}},
      {"(abs(-1))", DataType::Int64, Dbms::SQLite, Kind::Expression, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text.value_or("(none)"));
    const ParsedDefault parsed =
        ParseDefault(c.text ? std::optional<std::string_view>(*c.text) : std::nullopt, c.type, c.dbms);
    EXPECT_EQ(parsed.kind, c.kind);
    if (c.kind == Kind::Literal) {
      EXPECT_EQ(parsed.literal, c.literal);
    }
  }
}

// "odbc:" picks the ODBC backend, and making its component opens nothing:
// a driver that does not exist is noticed only when the component is used.
TEST(OdbcText, TheConnectionStringPicksTheBackendAndConnectsOnlyWhenUsed) {
  EXPECT_EQ(DbConnectFactory::BackendName("odbc:DSN=cases"), "odbc");
  EXPECT_EQ(DbConnectFactory::BackendName("odbc:Driver={PostgreSQL Unicode};Server=db"), "odbc");
  EXPECT_NE(DbConnectFactory::BackendName("ODBC:DSN=cases"), "odbc") << "schemes are matched exactly";

  auto component = DbConnectFactory::CreateDbConnect("odbc:Driver={No Such Driver};PWD=secret;UID=me", "");
  ASSERT_NE(component, nullptr);
  EXPECT_FALSE(component->Test());
  const std::string message = component->Message().value_or("");
  EXPECT_NE(message.find("No Such Driver"), std::string::npos) << message;
  EXPECT_EQ(message.find("secret"), std::string::npos) << "the password stays out of messages: " << message;
  EXPECT_THROW(component->GetTable("cases"), DatabaseError);
}

}  // namespace
}  // namespace Tessel::Odbc
