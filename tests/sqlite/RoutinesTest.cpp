// Routines from the tessel_procedures catalogue.
#include "SqliteFixture.h"
#include "TesselWrapper/Errors.h"

namespace Tessel::Testing {
namespace {

using Data::DbType;
using Data::ParameterDirection;
using Data::Value;
using Parameters = std::vector<std::shared_ptr<Data::DbParameter>>;

class SqliteRoutineTest : public SqliteTest {
 protected:
  void SetUp() override {
    SqliteTest::SetUp();
    Raw().Exec(R"(
        CREATE TABLE tessel_procedures (name TEXT PRIMARY KEY, body TEXT NOT NULL);
        CREATE TABLE cases (id INTEGER PRIMARY KEY, name TEXT NOT NULL, weight REAL, created DATETIME);)");
  }

  void AddRoutine(const std::string& name, const std::string& body) {
    sqlite3_stmt* stmt = nullptr;
    ASSERT_EQ(
        sqlite3_prepare_v2(Raw().get(), "INSERT INTO tessel_procedures VALUES (?1, ?2)", -1, &stmt, nullptr),
        SQLITE_OK);
    sqlite3_bind_text(stmt, 1, name.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(stmt, 2, body.c_str(), -1, SQLITE_TRANSIENT);
    EXPECT_EQ(sqlite3_step(stmt), SQLITE_DONE);
    sqlite3_finalize(stmt);
  }

  std::shared_ptr<Data::DbParameter> Param(const std::string& name, DbType type, Value value) {
    return Component().NewDbParameter(name, type, 0, ParameterDirection::Input, std::move(value));
  }

  // Runs the routine; the result, with `output` and the message left behind.
  std::int32_t Run(const std::string& name, Parameters parameters = {}) {
    output = std::string("before");
    return Component().ExecuteStoredProcedure(name, parameters, output);
  }
  std::string Message() { return Component().Message().value_or("<absent>"); }

  ManagedText output;
};

TEST_F(SqliteRoutineTest, NamedParametersAreBoundAndTheResultRowComesBack) {
  AddRoutine("AddCase",
             "INSERT INTO cases (name, weight, created) VALUES (:name, @Weight, $created);\n"
             "-- the new case\n"
             "SELECT last_insert_rowid() AS CaseId, :name AS Name;");
  const std::int32_t result = Run(
      "addcase", {Param("@name", DbType::String, Value("alpha")), Param("weight", DbType::Double, Value(2.5)),
                  Param(":created", DbType::DateTime, Value(1.5)),
                  Param("unused", DbType::Int32, Value(std::int32_t{9}))});
  EXPECT_EQ(result, 1) << Message();
  EXPECT_EQ(output, "CaseId=1;Name=alpha;");
  EXPECT_EQ(Raw().Query("SELECT id, name, weight, created FROM cases"), "1|alpha|2.5|1899-12-31 12:00:00");
}

TEST_F(SqliteRoutineTest, PositionalParametersTakeTheListInOrder) {
  AddRoutine("AddTwo",
             "INSERT INTO cases (name, weight) VALUES (?, ?);"
             "INSERT INTO cases (name, weight) VALUES (?3, ?2);");
  EXPECT_EQ(Run("AddTwo", {Param("a", DbType::String, Value("first")),
                           Param("b", DbType::Int64, Value(std::int64_t{4})),
                           Param("c", DbType::String, Value("second"))}),
            0)
      << Message();
  EXPECT_EQ(output, "") << "no statement returned rows";
  EXPECT_EQ(Raw().Query("SELECT name, weight FROM cases ORDER BY id"), "first|4.0\nsecond|4.0");
}

TEST_F(SqliteRoutineTest, ValuesOfEveryKindAreBound) {
  AddRoutine("Echo",
             "SELECT :i AS i, :b AS b, :d AS d, :s AS s, :n IS NULL AS n, :t AS t, hex(:x) AS x, :o AS o");
  const Data::Bytes bytes{0xca, 0xfe};
  EXPECT_EQ(Run("Echo", {Param("i", DbType::Int32, Value(std::int32_t{-7})),
                         Param("b", DbType::Boolean, Value(true)), Param("d", DbType::Double, Value(0.25)),
                         Param("s", DbType::String, Value("x;y")), Param("n", DbType::String, Value()),
                         Param("t", DbType::DateTime, Value(Data::DateTime(2020, 5, 6, 7, 8, 9))),
                         Param("x", DbType::Binary, Value(bytes)), Param("o", DbType::Date, Value(0.0))}),
            -7)
      << Message();
  EXPECT_EQ(output, "i=-7;b=1;d=0.25;s=x;y;n=1;t=2020-05-06 07:08:09;x=CAFE;o=1899-12-30 00:00:00;");
}

TEST_F(SqliteRoutineTest, TheResultIsTheLastStatementThatReturnsRows) {
  const struct {
    const char* body;
    const char* output;
    std::int32_t result;
  } cases[] = {
      {"SELECT 5 AS a; UPDATE cases SET name = 'x';", "a=5;", 5},
      {"SELECT 5 AS a; SELECT 7 AS b WHERE 0;", "", 0},
      {"SELECT 'x' AS t, NULL AS n, 1.5 AS d", "t=x;n=;d=1.5;", 0},
      {"SELECT 3 AS first UNION ALL SELECT 4", "first=3;", 3},
      {"INSERT INTO cases (name) VALUES ('r') RETURNING id, name", "id=1;name=r;", 1},
      {"UPDATE cases SET weight = 1", "", 0},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.body);
    const std::string name = "case" + std::to_string(n++);
    AddRoutine(name, c.body);
    EXPECT_EQ(Run(name), c.result) << Message();
    EXPECT_EQ(output, c.output);
  }
}

TEST_F(SqliteRoutineTest, AFailingRoutineLeavesNothingWritten) {
  const struct {
    const char* body;
    const char* expected;  // in the message
  } cases[] = {
      {"INSERT INTO cases (name) VALUES ('a'); INSERT INTO nowhere VALUES (1);", "no such table: nowhere"},
      {"INSERT INTO cases (name) VALUES ('a'); INSERT INTO cases (name) VALUES (NULL);",
       "SQLITE_CONSTRAINT_NOTNULL"},
      {"INSERT INTO cases (name) VALUES ('a'); COMMIT; INSERT INTO cases (name) VALUES ('b');",
       "statement 2"},
      {"INSERT INTO cases (name) VALUES ('a'); ROLLBACK; INSERT INTO cases (name) VALUES ('b');",
       "statement 2"},
      {"INSERT INTO cases (name) VALUES ('a'); BEGIN;", "statement 2"},
      {"INSERT INTO cases (name) VALUES (:missing)", "':missing'"},
      {"INSERT INTO cases (name) VALUES (?1); INSERT INTO cases (name) VALUES (?2)", "'?2'"},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.body);
    const std::string name = "broken" + std::to_string(n++);
    AddRoutine(name, c.body);
    EXPECT_EQ(Run(name, {Param("only", DbType::String, Value("x"))}), -1);
    EXPECT_EQ(output, "before");
    EXPECT_NE(Message().find(c.expected), std::string::npos) << Message();
    EXPECT_NE(Message().find("'" + name + "'"), std::string::npos) << Message();
    EXPECT_EQ(Raw().Query("SELECT count(*) FROM cases"), "0");
  }
}

TEST_F(SqliteRoutineTest, BusyDatabaseAsksForARerun) {
  AddRoutine("AddCase", "INSERT INTO cases (name) VALUES ('a')");
  Component().SetConnectionString(ConnectionString("?busy_timeout=20"));
  Raw().Exec("BEGIN IMMEDIATE");
  EXPECT_EQ(Run("AddCase"), -1);
  EXPECT_NE(Message().find(kRerunTransaction), std::string::npos) << Message();
  Raw().Exec("COMMIT");
  EXPECT_EQ(Run("AddCase"), 0) << Message();
}

TEST_F(SqliteRoutineTest, AnIllegalDateArgumentIsRefusedAndNothingWritten) {
  AddRoutine("AddCase",
             "INSERT INTO cases (name) VALUES ('a'); INSERT INTO cases (name, created) VALUES ('b', :when)");
  Parameters parameters{Param("when", DbType::DateTime, Value(3e6))};
  ManagedText text = std::string("before");
  try {
    Component().ExecuteStoredProcedure("AddCase", parameters, text);
    ADD_FAILURE() << "no error for an illegal date";
  } catch (const ArgumentError& e) {
    EXPECT_NE(std::string(e.what()).find("':when'"), std::string::npos) << e.what();
  }
  EXPECT_EQ(text, "before");
  EXPECT_EQ(Raw().Query("SELECT count(*) FROM cases"), "0");
}

// The lookup has one argument, the model directory, and a body may refer to
// it by any name or number; the result's column types come from the values.
TEST_F(SqliteRoutineTest, TheSolutionLookupsOneArgumentFillsEveryPlaceholder) {
  AddRoutine("GetMaxSolnIdCaseId",
             "SELECT :dir AS Caseid, ?2 AS SolutionId, @other || '!' AS Note, 1.5 AS Score");
  auto table = Component().GetMaxSolnIdCaseId("/models/a");
  ASSERT_NE(table, nullptr);
  ASSERT_EQ(table->ColumnCount(), 4u);
  ASSERT_EQ(table->Rows().Count(), 1u);
  Data::DataRow row = *table->Rows().begin();
  EXPECT_EQ(row.Get("Caseid").ToString(), "/models/a");
  EXPECT_EQ(row.Get("SolutionId").ToString(), "/models/a");
  EXPECT_EQ(row.Get("Note").ToString(), "/models/a!");
  EXPECT_EQ(table->Column(0).Type, Data::DataType::String);
  EXPECT_EQ(table->Column(3).Type, Data::DataType::Double);
}

}  // namespace
}  // namespace Tessel::Testing
