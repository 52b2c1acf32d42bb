#include "TesselWrapper/jobs/Demo.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string_view>

#include "TesselWrapper/Errors.h"
#include "TesselWrapper/component/DbConnectFactory.h"
#include "TesselWrapper/data/DateTime.h"
#include "TesselWrapper/jobs/RoutineText.h"
#include "data/NumberText.h"
#include "data/Quoted.h"
#include "jobs/DemoSchema.h"
#include "jobs/OwnedRecordQueue.h"

namespace Tessel::Jobs {
namespace {

using Clock = std::chrono::steady_clock;

double MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Now as an OLE Automation date, in whole seconds.
double OaDateNow() {
  return Data::DateTime(std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now()))
      .ToOADate();
}

// An in-memory SQLite database lives and dies with its one connection.
bool IsInMemorySqlite(const std::string& connection) {
  constexpr std::string_view kMemory = "sqlite::memory:";
  return connection.rfind(kMemory, 0) == 0 &&
         (connection.size() == kMemory.size() || connection[kMemory.size()] == '?');
}

// Hands one existing component to IConnectWrapper::LoadObject, which makes
// its own from a connection string: a scheme of this object's own is
// registered for the call and let go afterwards.
void LoadComponent(IConnectWrapper& db, std::shared_ptr<DbConnect> component, const std::string& tableSet) {
  static std::atomic<unsigned> counter{0};
  const std::string scheme = "tessel-demo-component-" + std::to_string(counter++);
  DbConnectFactory::RegisterProvider(
      scheme, [component](const std::string&, const std::string&) { return component; });
  struct Unregister {
    std::string scheme;
    ~Unregister() { DbConnectFactory::UnregisterProvider(scheme); }
  } unregister{scheme};
  db.LoadObject(scheme + ":", tableSet);
}

SimpleDbParameter IntArgument(const char* name, std::int32_t value) {
  ParamValue v;
  v.valueType = SimpleDbType::Int32;
  v.numericValue.intValue = value;
  return SimpleDbParameter(name, v, SimpleParameterDirection::Input);
}

SimpleDbParameter StringArgument(const char* name, const std::string& value) {
  ParamValue v;
  v.valueType = SimpleDbType::String;
  v.stringValue = value;
  return SimpleDbParameter(name, v, SimpleParameterDirection::Input);
}

struct CaseCounts {
  std::int64_t cases = 0;
  std::int64_t solutions = 0;
  std::int64_t results = 0;
  std::int64_t nextCaseId = 0;
  std::int64_t nextSolutionId = 0;
  std::string output;
};

std::int64_t OutputNumber(const std::vector<RoutineOutputColumn>& columns, const char* name,
                          const std::string& output) {
  const std::string* text = FindOutputColumn(columns, name);
  if (text == nullptr || text->empty())
    throw Error("routine CaseSummary gave no " + std::string(name) + " in its output " + Quoted(output));
  std::int64_t value = 0;
  if (!Data::ParseInt64(*text, value))
    throw Error("routine CaseSummary gave " + std::string(name) + "='" + *text + "', not a whole number");
  return value;
}

CaseCounts CaseSummary(IConnectWrapper& db, const std::string& modelDir) {
  CaseCounts counts;
  if (db.ExecuteStoredProcedure("CaseSummary", {StringArgument("modeldir", modelDir)}, &counts.output) == -1)
    throw DatabaseError("routine CaseSummary failed: " + db.GetMessage());
  const std::vector<RoutineOutputColumn> columns = ParseRoutineOutput(counts.output);
  counts.cases = OutputNumber(columns, "Cases", counts.output);
  counts.solutions = OutputNumber(columns, "Solutions", counts.output);
  counts.results = OutputNumber(columns, "Results", counts.output);
  counts.nextCaseId = OutputNumber(columns, "NextCaseid", counts.output);
  counts.nextSolutionId = OutputNumber(columns, "NextSolutionId", counts.output);
  return counts;
}

// The staging road's calls all report failure the same way.
class Stager {
 public:
  explicit Stager(IConnectWrapper& db) : db_(db) {}

  // Opens a row of `table`, writing the previous table first when it differs.
  void Start(const char* table) {
    executionTime_ = 0;
    rowsWritten_ = -1;
    if (!db_.StartNewRow(table, &rowsStored_, &rowsWritten_, &executionTime_))
      throw DatabaseError(std::string("StartNewRow(\"") + table + "\") failed: " + db_.GetMessage());
  }
  template <typename Value>
  void Field(const char* name, Value value) {
    if (!db_.AddFieldData(name, value))
      throw DatabaseError(std::string("AddFieldData(\"") + name + "\") failed: " + db_.GetMessage());
  }
  void DateField(const char* name, double oaDate) {
    if (!db_.AddFieldDateTimeData(name, oaDate))
      throw DatabaseError(std::string("AddFieldDateTimeData(\"") + name + "\") failed: " + db_.GetMessage());
  }
  void Add() {
    if (!db_.AddCurRow()) throw DatabaseError("AddCurRow failed: " + db_.GetMessage());
  }
  int RowsStored() const noexcept { return rowsStored_; }
  int RowsWritten() const noexcept { return rowsWritten_; }
  long ExecutionTime() const noexcept { return executionTime_; }

 private:
  IConnectWrapper& db_;
  int rowsStored_ = 0;
  int rowsWritten_ = -1;
  long executionTime_ = 0;
};

void CheckRange(const char* what, int value, int low, int high) {
  if (value < low || value > high)
    throw ArgumentError(std::string("demo: ") + what + " must be from " + std::to_string(low) + " to " +
                        std::to_string(high) + ", not " + std::to_string(value));
}

}  // namespace

void SetUpDemoSchema(const std::string& connection, const std::string& tableSet) {
  const DemoBackend backend = DemoBackendFor(connection);
  std::shared_ptr<DbConnect> component = DbConnectFactory::CreateDbConnect(connection, tableSet);
  component->ExecuteScript(DemoSchemaScript(backend, tableSet));
}

DemoReport RunDemo(IConnectWrapper& db, const DemoOptions& options) {
  CheckRange("the number of cases", options.cases, 1, 100000);
  CheckRange("solutions per case", options.solutionsPerCase, 1, 100);
  CheckRange("results per solution", options.resultsPerSolution, 1, 100);

  const Clock::time_point runStart = Clock::now();
  DemoReport report;
  report.backend = DemoBackendName(DemoBackendFor(options.connection));
  Clock::time_point t = Clock::now();
  auto step = [&](std::string what, std::int64_t rows, std::string detail = {}) {
    report.steps.push_back({std::move(what), rows, MillisecondsSince(t), std::move(detail)});
    t = Clock::now();
  };

  {
    std::shared_ptr<DbConnect> component =
        DbConnectFactory::CreateDbConnect(options.connection, options.tableSet);
    component->ExecuteScript(DemoSchemaScript(DemoBackendFor(options.connection), options.tableSet));
    step("set up tables and routines", 0);
    // The bridge would open a second, empty, in-memory database of its own;
    // it works on the connection that holds the tables instead.
    if (IsInMemorySqlite(options.connection)) {
      LoadComponent(db, std::move(component), options.tableSet);
    } else {
      db.LoadObject(options.connection, options.tableSet);
    }
  }
  if (!db.Test())
    throw DatabaseError("cannot reach " +
                        (options.connection.empty()
                             ? std::string("the default database")
                             : Quoted(DbConnectFactory::MaskPasswords(options.connection))) +
                        ": " + db.GetMessage());
  step("connection test", 0, db.GetMessage());

  const CaseCounts before = CaseSummary(db, options.modelDir);
  step("CaseSummary: next free identifiers", 0, before.output);
  const std::int64_t firstCase = before.nextCaseId;
  const std::int64_t firstSolution = before.nextSolutionId;
  const std::int64_t solutionCount = std::int64_t{options.cases} * options.solutionsPerCase;
  if (firstCase + options.cases > INT32_MAX || firstSolution + solutionCount > INT32_MAX)
    throw ArgumentError("demo: the identifiers in the database are too close to the 32-bit limit");
  report.firstCaseId = firstCase;
  const double now = OaDateNow();

  // Staging road: one field at a time, one row at a time.
  Stager stager(db);
  for (int c = 0; c < options.cases; ++c) {
    const std::string name = "case " + std::to_string(firstCase + c);
    stager.Start("cases");
    stager.Field("Caseid", static_cast<int>(firstCase + c));
    stager.Field("ModelDir", options.modelDir.c_str());
    stager.Field("Name", name.c_str());
    stager.DateField("Created", now);
    stager.Add();
  }
  step("staged cases", options.cases);

  std::int64_t solutionId = firstSolution;
  bool casesWritten = false;
  for (int c = 0; c < options.cases; ++c) {
    for (int s = 0; s < options.solutionsPerCase; ++s, ++solutionId) {
      stager.Start("solutions");
      if (!casesWritten) {  // the first row of another table wrote the cases
        casesWritten = true;
        step("wrote cases (" + std::to_string(stager.ExecutionTime()) + " ms in the component)",
             stager.RowsWritten(), db.GetMessage());
      }
      stager.Field("SolutionId", static_cast<int>(solutionId));
      stager.Field("Caseid", static_cast<int>(firstCase + c));
      stager.Field("Objective", 1000.0 / (s + 1) + c);
      stager.DateField("Solved", now);
      stager.Add();
    }
  }
  step("staged solutions", solutionCount);

  // Selecting the enumeration table writes the solutions and leaves no table
  // current; asked for again with nothing current, it answers -1 rows stored:
  // no rows are staged for enumeration tables.
  stager.Start("case_status");
  step("wrote solutions (" + std::to_string(stager.ExecutionTime()) + " ms in the component)",
       stager.RowsWritten(), db.GetMessage());
  stager.Start("case_status");
  if (stager.RowsStored() != -1)
    throw Error("case_status was not treated as an enumeration table (rows stored " +
                std::to_string(stager.RowsStored()) + ", expected -1)");
  step("case_status is an enumeration table: no rows staged", 0);

  // Queued road: ready-made records, one call.
  static const char* const kResultNames[] = {"objective", "gap", "seconds", "iterations", "nodes"};
  std::int64_t resultCount = 0;
  {
    OwnedRecordQueue queue;  // records the bridge did not take are deleted with it
    for (std::int64_t id = firstSolution; id < firstSolution + solutionCount; ++id) {
      for (int r = 0; r < options.resultsPerSolution; ++r) {
        auto record = std::make_unique<SqlRow>();
        record->AddLongField("SolutionId", static_cast<std::int32_t>(id));
        const std::string resultName = r < 5 ? kResultNames[r] : "result " + std::to_string(r + 1);
        record->AddTextField("Name", resultName);
        record->AddDoubleField("Value", static_cast<double>(id) * 0.5 + r);
        queue.records.push(record.get());
        record.release();
        ++resultCount;
      }
    }
    step("queued results", resultCount);
    long executionTime = 0;
    if (!db.BulkToTable("results", &queue.records, &executionTime))
      throw DatabaseError("BulkToTable(\"results\") failed: " + db.GetMessage());
    step("wrote results (" + std::to_string(executionTime) + " ms in the component)", resultCount,
         db.GetMessage());
  }

  // Routines: one that inserts, one that returns values.
  std::string output;
  const int inserted = db.ExecuteStoredProcedure(
      "AddCase",
      {IntArgument("caseid", static_cast<std::int32_t>(firstCase + options.cases)),
       StringArgument("modeldir", options.modelDir), StringArgument("name", "added by AddCase")},
      &output);
  if (inserted == -1) throw DatabaseError("routine AddCase failed: " + db.GetMessage());
  step("AddCase (result " + std::to_string(inserted) + ")", 1, output);

  const CaseCounts after = CaseSummary(db, options.modelDir);
  step("CaseSummary", after.cases, after.output);
  if (after.cases != before.cases + options.cases + 1 ||
      after.solutions != before.solutions + solutionCount || after.results != before.results + resultCount)
    throw Error("the database holds " + std::to_string(after.cases - before.cases) + " new cases, " +
                std::to_string(after.solutions - before.solutions) + " new solutions and " +
                std::to_string(after.results - before.results) + " new results; the demo wrote " +
                std::to_string(options.cases + 1) + ", " + std::to_string(solutionCount) + " and " +
                std::to_string(resultCount) + " (last message: " + db.GetMessage() + ")");

  report.latest = ParseCaseSolutionList(db.GetMaxSolnIdCaseId(options.modelDir));
  step("GetMaxSolnIdCaseId", static_cast<std::int64_t>(report.latest.size()));
  report.milliseconds = MillisecondsSince(runStart);
  return report;
}

}  // namespace Tessel::Jobs
