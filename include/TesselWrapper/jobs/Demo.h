// The demonstration database and a run through every road of the bridge.
//
// SetUpDemoSchema creates, in the table set of a SQLite or PostgreSQL
// database, what the demonstration uses; it is idempotent (existing tables and
// rows are kept, routines are replaced by the current version):
//
//   case_status(Status, Label)        an enumeration table, listed in
//                                     tessel_enum_tables
//   cases(Caseid, ModelDir, Name, Status, Created)
//   solutions(SolutionId, Caseid, Objective, Solved)
//   results(SolutionId, Name, Value)  key (SolutionId, Name)
//   AddCase(caseid, modeldir, name)   inserts one case; result row
//                                     "inserted=1"
//   CaseSummary(modeldir)             returns Cases, Solutions, Results (of the
//                                     model directory), NextCaseid and
//                                     NextSolutionId (over all cases)
//   GetMaxSolnIdCaseId(modelDir)      the latest solution of each case of the
//                                     model directory: Caseid, SolutionId
//
// On SQLite the routines are rows of tessel_procedures; on PostgreSQL they are
// a procedure (addcase) and functions (casesummary, getmaxsolnidcaseid), and a
// table set that does not exist yet is created as a schema. PostgreSQL folds
// the unquoted names above to lower case.
//
// RunDemo then drives a bridge object the way a native caller does (on
// sqlite::memory:, whose database lives as long as its one connection, the
// bridge is given the very component that set the schema up):
//   1. CaseSummary gives the next free identifiers, so runs add to what
//      earlier runs left;
//   2. the staging road: StartNewRow / AddFieldData / AddFieldDateTimeData /
//      AddCurRow for `cases`, then for `solutions` (which writes the cases),
//      then the enumeration table (which writes the solutions; no row is
//      staged for it);
//   3. the queued road: SqlRow records for `results`, one BulkToTable;
//   4. AddCase inserts one more case, CaseSummary reads the counts back and
//      checks that every row arrived;
//   5. GetMaxSolnIdCaseId lists the latest solution of each case.
//
// Thread safety: as the bridge object's.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "TesselWrapper/Export.h"
#include "TesselWrapper/IConnectWrapper.h"
#include "TesselWrapper/jobs/CaseSolutionList.h"

namespace Tessel::Jobs {

struct DemoOptions {
  std::string connection;  // "" for the embedded default, sqlite:tessel.db
  std::string tableSet;    // "" for the default table set
  std::string modelDir = "models/demo";
  int cases = 3;               // staged into `cases`, 1..100000
  int solutionsPerCase = 2;    // staged into `solutions`, 1..100
  int resultsPerSolution = 3;  // queued for `results`, 1..100
};

// One thing the demonstration did.
struct DemoStep {
  std::string what;         // e.g. "staged cases"
  std::int64_t rows = 0;    // rows concerned (0 where none)
  double milliseconds = 0;  // wall time of the step
  std::string detail;       // routine output, component message, ...
};

struct DemoReport {
  std::string backend;  // "SQLite" or "PostgreSQL"
  std::vector<DemoStep> steps;
  std::int64_t firstCaseId = 0;      // the first case identifier this run used
  std::vector<CaseSolution> latest;  // GetMaxSolnIdCaseId for the model directory
  double milliseconds = 0;           // the whole run
};

// Creates the demonstration's tables, catalogue rows and routines. Throws
// Tessel::ArgumentError when `connection` is neither SQLite nor PostgreSQL,
// Tessel::DatabaseError (with the database's text) when a statement fails;
// the schema script runs in one transaction, so a failure leaves no half.
TESSELWRAPPER_API void SetUpDemoSchema(const std::string& connection, const std::string& tableSet);

// Sets up the schema, loads `db` with options.connection and
// options.tableSet, and runs the demonstration. Throws Tessel::ArgumentError
// for options out of range, Tessel::DatabaseError when the database cannot be
// reached or refuses a step (with the component's message), Tessel::Error
// when the counts read back differ from what was written.
TESSELWRAPPER_API DemoReport RunDemo(IConnectWrapper& db, const DemoOptions& options);

}  // namespace Tessel::Jobs
