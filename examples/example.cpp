// A native caller of TesselWrapper: both roads of row transfer, a routine
// call and the case and solution lookup, with nothing but the installed
// headers and library.
//
//   tessel_example [CONNECTION]      (default: sqlite:example.db)
//
// Exits 0 when everything it wrote reads back as expected, 1 otherwise.
#include <TesselWrapper/TesselWrapper.h>
#include <TesselWrapper/jobs/Bridge.h>
#include <TesselWrapper/jobs/CaseSolutionList.h>
#include <TesselWrapper/jobs/Demo.h>
#include <TesselWrapper/jobs/RoutineText.h>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <queue>
#include <string>
#include <vector>

namespace {

const char* const kModelDir = "models/example";

[[noreturn]] void Fail(const std::string& what, IConnectWrapper& db) {
  std::fprintf(stderr, "example: %s: %s\n", what.c_str(), db.GetMessage().c_str());
  std::exit(1);
}

// Runs the CaseSummary routine of the demonstration schema and returns one
// of its output columns as a number.
struct Summary {
  long cases, solutions, results, nextCase, nextSolution;
};

Summary CaseSummary(IConnectWrapper& db) {
  ParamValue dir;
  dir.valueType = SimpleDbType::String;
  dir.stringValue = kModelDir;
  std::string output;
  const int cases = db.ExecuteStoredProcedure(
      "CaseSummary", {SimpleDbParameter("modeldir", dir, SimpleParameterDirection::Input)}, &output);
  if (cases == -1) Fail("CaseSummary", db);
  std::printf("CaseSummary -> %d, \"%s\"\n", cases, output.c_str());
  const auto columns = Tessel::Jobs::ParseRoutineOutput(output);
  // The library writes numbers in the invariant form ("." as the decimal
  // point) whatever the locale; from_chars reads them the same way.
  auto number = [&](const char* name) {
    const std::string* value = Tessel::Jobs::FindOutputColumn(columns, name);
    long parsed = -1;
    if (value == nullptr) return parsed;
    const char* end = value->data() + value->size();
    if (std::from_chars(value->data(), end, parsed).ptr != end) parsed = -1;
    return parsed;
  };
  return {number("Cases"), number("Solutions"), number("Results"), number("NextCaseid"),
          number("NextSolutionId")};
}

}  // namespace

int main(int argc, char** argv) {
  const std::string connection = argc > 1 ? argv[1] : "sqlite:example.db";
  try {
    // The tables and routines this example writes to and calls.
    Tessel::Jobs::SetUpDemoSchema(connection, "");

    // A bridge object; BridgeHandle hands it back to IConnectWrapper::Destroy.
    Tessel::Jobs::BridgeHandle db(IConnectWrapper::CreateInstance());
    db->LoadObject(connection, "");
    if (!db->Test()) Fail("cannot reach " + connection, *db);

    const Summary before = CaseSummary(*db);
    const int firstCase = static_cast<int>(before.nextCase);
    const int firstSolution = static_cast<int>(before.nextSolution);

    // Staging road: open a row, fill it field by field, add it. Moving on to
    // another table writes the rows of the one before.
    int stored = 0, written = 0;
    long executionTime = 0;
    for (int c = 0; c < 2; ++c) {
      if (!db->StartNewRow("cases", &stored, &written, &executionTime)) Fail("StartNewRow(cases)", *db);
      db->AddFieldData("Caseid", firstCase + c);
      db->AddFieldData("ModelDir", kModelDir);
      db->AddFieldData("Name", c == 0 ? "first" : "second");
      db->AddFieldDateTimeData("Created", 45352.5);  // 2024-03-01 12:00
      if (!db->AddCurRow()) Fail("AddCurRow(cases)", *db);
    }
    for (int c = 0; c < 2; ++c) {
      if (!db->StartNewRow("solutions", &stored, &written, &executionTime))
        Fail("StartNewRow(solutions)", *db);
      db->AddFieldData("SolutionId", firstSolution + c);
      db->AddFieldData("Caseid", firstCase + c);
      db->AddFieldData("Objective", 42.5 + c);
      if (!db->AddCurRow()) Fail("AddCurRow(solutions)", *db);
    }
    std::printf("staged 2 cases (written when the solutions started: %d rows)\n", written);
    if (!db->StartNewRow("", &stored, &written, &executionTime)) Fail("StartNewRow(\"\")", *db);
    std::printf("staged 2 solutions (written by the empty table name: %d rows)\n", written);

    // Queued road: ready-made records, written in one call, deleted by it.
    std::queue<SqlRow*> records;
    for (int s = 0; s < 2; ++s) {
      for (const char* name : {"objective", "gap"}) {
        SqlRow* row = new SqlRow;
        row->AddLongField("SolutionId", firstSolution + s);
        row->AddTextField("Name", name);
        row->AddDoubleField("Value", 0.25 * (s + 1));
        records.push(row);
      }
    }
    long bulkTime = 0;
    if (!db->BulkToTable("results", &records, &bulkTime)) Fail("BulkToTable(results)", *db);
    std::printf("queued 4 results: %s\n", db->GetMessage().c_str());

    // A routine call reads back what both roads wrote.
    const Summary after = CaseSummary(*db);
    if (after.cases != before.cases + 2 || after.solutions != before.solutions + 2 ||
        after.results != before.results + 4) {
      std::fprintf(stderr, "example: counts did not grow by 2 cases, 2 solutions, 4 results\n");
      return 1;
    }

    // The lookup: the latest solution of each case of the model directory.
    const std::string list = db->GetMaxSolnIdCaseId(kModelDir);
    std::printf("GetMaxSolnIdCaseId(\"%s\") -> \"%s\"\n", kModelDir, list.c_str());
    const std::vector<Tessel::Jobs::CaseSolution> entries = Tessel::Jobs::ParseCaseSolutionList(list);
    for (int c = 0; c < 2; ++c) {
      const Tessel::Jobs::CaseSolution expected{std::to_string(firstCase + c),
                                                std::to_string(firstSolution + c)};
      bool found = false;
      for (const auto& entry : entries) found = found || entry == expected;
      if (!found) {
        std::fprintf(stderr, "example: case %s with solution %s is missing from the list\n",
                     expected.caseId.c_str(), expected.solutionId.c_str());
        return 1;
      }
    }
  } catch (const Tessel::Error& e) {
    std::fprintf(stderr, "example: %s\n", e.what());
    return 1;
  }
  std::printf("example: ok\n");
  return 0;
}
