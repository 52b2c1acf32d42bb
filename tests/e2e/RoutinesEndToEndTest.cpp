// Routines and the case and solution lookup against a real database: typed
// arguments go in, the result row comes back as the integer result and the
// "name=value;" output text, and the lookup packs the routine's rows.
#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "EndToEndTest.h"
#include "support/Contains.h"

namespace Tessel::EndToEnd {
namespace {

using Testing::Contains;

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

SimpleDbParameter TextArg(const char* name, const char* value) {
  ParamValue v;
  v.valueType = SimpleDbType::String;
  v.stringValue = value;
  return SimpleDbParameter(name, v, SimpleParameterDirection::Input);
}
SimpleDbParameter IntArg(const char* name, int value) {
  ParamValue v;
  v.valueType = SimpleDbType::Int32;
  v.numericValue.intValue = value;
  return SimpleDbParameter(name, v, SimpleParameterDirection::Input);
}
// valueType 2 to 5: the value is a double.
SimpleDbParameter NumberArg(const char* name, SimpleDbType type, double value) {
  ParamValue v;
  v.valueType = type;
  v.numericValue.doubleValue = value;
  return SimpleDbParameter(name, v, SimpleParameterDirection::Input);
}

class RoutinesEndToEnd : public EndToEndTest {
 protected:
  void SetUp() override {
    EndToEndTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    db().Exec("CREATE TABLE cases (id {int} PRIMARY KEY, name {text} NOT NULL, weight {real})");
  }

  // Runs the routine with "before" as the output's entry text.
  int Run(const std::string& name, std::vector<SimpleDbParameter> parameters) {
    output = "before";
    return bridge().ExecuteStoredProcedure(name, std::move(parameters), &output);
  }

  std::string output;
};

TEST_P(RoutinesEndToEnd, ARoutineWritesRowsAndAnotherReturnsOne) {
  db().DefineRoutine({"AddCases",
                      {{"p_first", "{int}"}, {"p_name", "{text}"}},
                      "INSERT INTO cases (id, name) VALUES (:p_first, :p_name);"
                      "INSERT INTO cases (id, name, weight) VALUES (:p_first + 1, :p_name || ' too', 0.5)",
                      {}});
  db().DefineRoutine({"CaseInfo",
                      {{"p_id", "{int}"}},
                      "SELECT id AS CaseId, name AS Name, weight AS Weight FROM cases WHERE id = :p_id",
                      {{"CaseId", "{int}"}, {"Name", "{text}"}, {"Weight", "{real}"}}});

  EXPECT_EQ(Run("AddCases", {IntArg("@p_first", 3), TextArg("@p_name", "it's")}), 0) << Message();
  EXPECT_EQ(output, "") << "a routine that returns no row leaves the empty text";
  EXPECT_EQ(db().Query("SELECT id, name, weight FROM cases ORDER BY id"), "3|it's|NULL\n4|it's too|0.5");

  struct Case {
    int id;
    int result;
    const char* output;
  };
  for (const Case& c : {Case{4, 4, "CaseId=4;Name=it's too;Weight=0.5;"},
                        Case{3, 3, "CaseId=3;Name=it's;Weight=;"}, Case{99, 0, ""}}) {
    SCOPED_TRACE(c.id);
    EXPECT_EQ(Run("caseinfo", {IntArg(":p_id", c.id)}), c.result) << Message();
    EXPECT_EQ(output, c.output);
  }
}

TEST_P(RoutinesEndToEnd, AFailingRoutineGivesMinusOneAndWritesNothing) {
  db().DefineRoutine({"AddTwice",
                      {{"p_id", "{int}"}},
                      "INSERT INTO cases (id, name) VALUES (:p_id, 'first');"
                      "INSERT INTO cases (id, name) VALUES (:p_id, 'again')",
                      {}});
  EXPECT_EQ(Run("AddTwice", {IntArg("p_id", 1)}), -1);
  EXPECT_EQ(output, "before");
  EXPECT_TRUE(Contains(Message(), db().UniqueViolationText())) << Message();
  EXPECT_TRUE(Contains(Lower(Message()), "addtwice")) << Message();
  EXPECT_EQ(db().Query("SELECT count(*) FROM cases"), "0");

  EXPECT_EQ(Run("NoSuchRoutine", {}), -1);
  EXPECT_EQ(output, "before");
  EXPECT_TRUE(Contains(Message(), "NoSuchRoutine")) << Message();
}

// Each SimpleDbType reaches the routine as a value of its kind; a type number
// outside the list goes as the empty text.
TEST_P(RoutinesEndToEnd, TypedArgumentsReachTheDatabase) {
  db().Exec(
      "CREATE TABLE typed (label {text}, count {int}, ratio {real}, amount {numeric}, price {numeric}, "
      "taken {datetime}, other {text})");
  db().DefineRoutine(
      {"StoreTyped",
       {{"p_label", "{text}"},
        {"p_count", "{int}"},
        {"p_ratio", "{real}"},
        {"p_amount", "{numeric}"},
        {"p_price", "{numeric}"},
        {"p_taken", "{datetime}"},
        {"p_other", "{text}"}},
       "INSERT INTO typed VALUES (:p_label, :p_count, :p_ratio, :p_amount, :p_price, :p_taken, :p_other)",
       {}});
  ParamValue unknown;
  unknown.valueType = static_cast<SimpleDbType>(9);
  unknown.stringValue = "not passed";
  EXPECT_EQ(Run("StoreTyped", {TextArg("p_label", "it's \"quoted\""), IntArg("p_count", -7),
                               NumberArg("p_ratio", SimpleDbType::Double, 0.25),
                               NumberArg("p_amount", SimpleDbType::Decimal, 12.5),
                               NumberArg("p_price", SimpleDbType::Currency, 3.25),
                               NumberArg("p_taken", SimpleDbType::DateTime, 45001.25),
                               SimpleDbParameter("p_other", unknown, SimpleParameterDirection::Input)}),
            0)
      << Message();
  std::string kinds;
  for (const char* column : {"label", "count", "ratio", "amount", "price", "taken", "other"})
    kinds += ", " + db().KindOf(column);
  EXPECT_EQ(db().Query("SELECT label, count, ratio, amount, price, taken, other" + kinds + " FROM typed"),
            "it's \"quoted\"|-7|0.25|12.5|3.25|2023-03-16 06:00:00||text|integer|real|real|real|text|text");
}

TEST_P(RoutinesEndToEnd, TheLookupPacksTheRoutinesRowsCaseFirst) {
  EXPECT_EQ(bridge().GetMaxSolnIdCaseId("models/a"), "") << "no routine, no entries";

  db().Exec("CREATE TABLE solutions (model {text}, seq {int}, SolutionId {int}, CaseId {int})");
  db().Exec(
      "INSERT INTO solutions VALUES ('models/it''s a', 2, NULL, 4), ('models/it''s a', 1, 12, 3), "
      "('models/b', 1, 20, 5), ('models/it''s a', 3, 15, NULL), ('models/it''s a', 4, 16, 3)");
  // The result spells its case column "CaseId"; the lookup reads "Caseid"
  // without regard to case.
  db().DefineRoutine(
      {"GetMaxSolnIdCaseId",
       {{"p_model", "{text}"}},
       "SELECT SolutionId AS SolutionId, CaseId AS CaseId FROM solutions WHERE model = :p_model "
       "ORDER BY seq",
       {{"SolutionId", "{int}"}, {"CaseId", "{int}"}}});
  EXPECT_EQ(bridge().GetMaxSolnIdCaseId("models/it's a"), "3:12;4:;:15;3:16;");
  EXPECT_EQ(bridge().GetMaxSolnIdCaseId("models/b"), "5:20;");
  EXPECT_EQ(bridge().GetMaxSolnIdCaseId("models/none"), "");
}

TESSEL_E2E_INSTANTIATE(RoutinesEndToEnd);

}  // namespace
}  // namespace Tessel::EndToEnd
