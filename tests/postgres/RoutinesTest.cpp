// ExecuteStoredProcedure against PostgreSQL's own functions and procedures:
// CALL and SELECT, named and positional notation, OUT arguments, server types.
#include <memory>
#include <vector>

#include "PgTestServer.h"
#include "TesselWrapper/Errors.h"
#include "TesselWrapper/data/DateTime.h"
#include "support/ComponentHelpers.h"
#include "support/Contains.h"

namespace Tessel::Testing {
namespace {

using Data::DbType;
using Data::ParameterDirection;
using Data::Value;

struct Param {
  const char* name;
  DbType type;
  Value value;
  ParameterDirection direction = ParameterDirection::Input;
};

class PgRoutines : public PgTest {
 protected:
  void SetUp() override {
    PgTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    raw().Exec(R"sql(
      CREATE TABLE log (id serial, note text);
      CREATE PROCEDURE add_case(a int, OUT doubled int, INOUT note text) LANGUAGE plpgsql AS $$
      BEGIN
        INSERT INTO log (note) VALUES (note);
        doubled := a * 2;
        note := note || '!';
      END $$;
      CREATE PROCEDURE commits_on_its_own() LANGUAGE plpgsql AS $$
      BEGIN
        INSERT INTO log (note) VALUES ('one'); COMMIT;
        INSERT INTO log (note) VALUES ('two');
      END $$;
      CREATE FUNCTION pair(first_val int, second_val text) RETURNS text LANGUAGE sql AS
        $$ SELECT second_val || ':' || first_val $$;
      CREATE FUNCTION count_log() RETURNS bigint LANGUAGE sql AS $$ SELECT count(*) FROM log $$;
      CREATE FUNCTION nothing() RETURNS void LANGUAGE sql AS $$ SELECT 1 $$;
      CREATE FUNCTION echo(p_n numeric, p_d float8, p_ts timestamp, p_flag bool, p_bytes bytea,
                           p_label text, p_i int4, p_big int8, p_r real, p_s int2, p_day date)
        RETURNS TABLE (n numeric, d float8, ts timestamp, flag bool, bytes bytea, label text,
                       i int4, big int8, r real, s int2, day date)
        LANGUAGE sql AS $$ SELECT p_n, p_d, p_ts, p_flag, p_bytes, p_label, p_i, p_big, p_r, p_s, p_day $$;
      CREATE FUNCTION fails_after_insert() RETURNS int LANGUAGE plpgsql AS $$
      BEGIN
        INSERT INTO log (note) VALUES ('should vanish');
        RAISE EXCEPTION 'boom in %', 'fails_after_insert' USING ERRCODE = 'P0001';
      END $$;
    )sql");
    component_ = NewComponent();
  }

  std::int32_t Run(const std::string& name, const std::vector<Param>& params, ManagedText& output) {
    std::vector<std::shared_ptr<Data::DbParameter>> list;
    for (const Param& p : params)
      list.push_back(component_->NewDbParameter(p.name, p.type, 0, p.direction, p.value));
    return component_->ExecuteStoredProcedure(name, list, output);
  }

  std::shared_ptr<DbConnect> component_;
};

TEST_F(PgRoutines, ProcedureRunsWithCallAndGivesItsOutArguments) {
  struct Case {
    const char* what;
    const char* routine;
    std::vector<Param> params;
  };
  const Case cases[] = {
      {"named, OUT passed as Output",
       "add_case",
       {{"@note", DbType::String, Value("hi")},
        {":A", DbType::Int32, Value(3)},
        {"$doubled", DbType::Int32, Value(), ParameterDirection::Output}}},
      {"named, OUT left out",
       "Add_Case",
       {{"a", DbType::Int32, Value(3)}, {"note", DbType::String, Value("hi")}}},
      {"positional, OUT left out",
       "ADD_CASE",
       {{"", DbType::Int32, Value(3)}, {"", DbType::String, Value("hi")}}},
      {"positional, OUT passed",
       "add_case",
       {{"", DbType::Int32, Value(3)},
        {"", DbType::Int32, Value(), ParameterDirection::Output},
        {"", DbType::String, Value("hi")},
        {"", DbType::Int32, Value(99), ParameterDirection::ReturnValue}}},
  };
  int calls = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ManagedText output = std::string("before");
    EXPECT_EQ(Run(c.routine, c.params, output), 6) << Message(*component_);
    EXPECT_EQ(output, "doubled=6;note=hi!;");
    EXPECT_EQ(Message(*component_), "routine 'add_case' completed");
    EXPECT_EQ(raw().Query("SELECT count(*) FROM log"), std::to_string(++calls));
  }
}

TEST_F(PgRoutines, FunctionRunsWithSelectInNamedOrPositionalNotation) {
  struct Case {
    const char* routine;
    std::vector<Param> params;
    const char* output;
    std::int32_t result;
  };
  const Case cases[] = {
      {"pair",
       {{"@Second_Val", DbType::AnsiString, Value("x")}, {"@FIRST_VAL", DbType::Int32, Value(3)}},
       "pair=x:3;",
       0},
      {"Pair", {{"", DbType::Int32, Value(4)}, {"", DbType::String, Value("y")}}, "pair=y:4;", 0},
      // One parameter without a name: all go in order.
      {"pair", {{"first_val", DbType::Int32, Value(5)}, {"", DbType::String, Value("z")}}, "pair=z:5;", 0},
      {"count_log", {}, "count_log=0;", 0},
      {"nothing", {}, "", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.output);
    ManagedText output = std::string("before");
    EXPECT_EQ(Run(c.routine, c.params, output), c.result) << Message(*component_);
    EXPECT_EQ(output, c.output);
  }
  raw().Exec("INSERT INTO log (note) VALUES ('a'), ('b')");
  ManagedText output;
  EXPECT_EQ(Run("count_log", {}, output), 2);  // an integer first column is the result
}

// Each DbType reaches the server as its matching type, so that the function
// is found among overloads and the values arrive intact. The DateTime double
// is an OLE Automation date.
TEST_F(PgRoutines, ParametersArriveWithTheirTypes) {
  const std::vector<Param> params = {
      {"", DbType::Decimal, Value("12.50")},
      {"", DbType::Double, Value(0.1)},
      {"", DbType::DateTime, Value(45000.5)},
      {"", DbType::Boolean, Value(1)},
      {"", DbType::Binary, Value(Data::Bytes{0x01, 0xab})},
      {"", DbType::String, Value("it's \"quoted\"")},
      {"", DbType::Int32, Value(-7)},
      {"", DbType::Int64, Value(std::int64_t{1} << 40)},
      {"", DbType::Single, Value(1.5)},
      {"", DbType::Int16, Value(12)},
      {"", DbType::Date, Value(45000.75)},
  };
  ManagedText output;
  EXPECT_EQ(Run("echo", params, output), 0) << Message(*component_);
  EXPECT_EQ(output, "n=12.50;d=0.1;ts=" + Data::DateTime::FromOADate(45000.5).ToString() +
                        ";flag=True;bytes=01ab;label=it's \"quoted\";i=-7;big=1099511627776;r=1.5;s=12;day=" +
                        Data::DateTime::FromOADate(45000).ToString() + ";");
}

// A routine the server fails (a raised error, no overload for the arguments)
// gives -1 with the SQLSTATE and leaves nothing; the connection stays usable.
TEST_F(PgRoutines, FailingRoutineGivesMinusOneWithItsSqlState) {
  ManagedText output = std::string("before");
  EXPECT_EQ(Run("fails_after_insert", {}, output), -1);
  EXPECT_TRUE(Contains(Message(*component_), "boom in fails_after_insert")) << Message(*component_);
  EXPECT_TRUE(Contains(Message(*component_), "P0001")) << Message(*component_);
  EXPECT_EQ(output, "before");
  EXPECT_EQ(raw().Query("SELECT count(*) FROM log"), "0");

  EXPECT_EQ(Run("pair", {{"", DbType::String, Value("wrong")}}, output), -1);  // no such overload
  EXPECT_TRUE(Contains(Message(*component_), "42883")) << Message(*component_);
  EXPECT_EQ(output, "before");

  EXPECT_EQ(Run("count_log", {}, output), 0) << Message(*component_);  // the connection still works
}

// A procedure may commit its own work: the call is not wrapped in a
// transaction block that would forbid it.
TEST_F(PgRoutines, ProcedureMayCommitItsOwnWork) {
  ManagedText output;
  EXPECT_EQ(Run("commits_on_its_own", {}, output), 0) << Message(*component_);
  EXPECT_EQ(output, "");
  EXPECT_EQ(raw().Query("SELECT string_agg(note, ',' ORDER BY id) FROM log"), "one,two");
}

}  // namespace
}  // namespace Tessel::Testing
