// tessel demo: set up the demonstration tables and routines and drive every
// road of the bridge once (Tessel::Jobs::RunDemo), then print what was done.
#include <cstdio>
#include <memory>

#include "Commands.h"
#include "ExitStatus.h"
#include "Format.h"
#include "TesselWrapper/jobs/Bridge.h"
#include "TesselWrapper/jobs/Demo.h"

namespace Tessel::Cli {
namespace {

void PrintReport(const Jobs::DemoReport& report, const Jobs::DemoOptions& options) {
  std::printf("demo on %s (%s), model directory '%s'\n", DescribeConnection(options.connection).c_str(),
              report.backend.c_str(), options.modelDir.c_str());
  for (const Jobs::DemoStep& step : report.steps) {
    std::printf("  %-58s %8s rows %9s ms", step.what.c_str(),
                Grouped(static_cast<std::uint64_t>(step.rows)).c_str(), Fixed(step.milliseconds, 1).c_str());
    if (!step.detail.empty()) std::printf("   %s", step.detail.c_str());
    std::printf("\n");
  }
  std::printf("latest solution per case (Caseid:SolutionId):");
  for (const Jobs::CaseSolution& entry : report.latest)
    std::printf(" %s:%s", entry.caseId.c_str(), entry.solutionId.c_str());
  std::printf("\nfirst case of this run: %lld; done in %s ms\n", static_cast<long long>(report.firstCaseId),
              Fixed(report.milliseconds, 1).c_str());
}

}  // namespace

void AddDemoCommand(CLI::App& app, CommonOptions& common, int& status) {
  auto options = std::make_shared<Jobs::DemoOptions>();
  CLI::App* command = app.add_subcommand(
      "demo",
      "Create (or reuse) the demonstration tables and routines, stage cases and solutions field by "
      "field, queue result records, run the routines and list the latest solution of each case. An "
      "SQLite file that does not exist is created; sqlite::memory: runs the whole demo on one "
      "connection and leaves nothing behind.");
  AddCommonOptions(*command, common);
  command->add_option("--model-dir", options->modelDir, "Model directory the demo's cases belong to")
      ->capture_default_str();
  command->add_option("--cases", options->cases, "Cases to stage")
      ->capture_default_str()
      ->check(CLI::Range(1, 100000));
  command->add_option("--solutions", options->solutionsPerCase, "Solutions to stage per case")
      ->capture_default_str()
      ->check(CLI::Range(1, 100));
  command->add_option("--results", options->resultsPerSolution, "Result records to queue per solution")
      ->capture_default_str()
      ->check(CLI::Range(1, 100));
  SetFooter(
      *command,
      "  tessel demo\n"
      "  tessel demo --db sqlite:cases.db --cases 100\n"
      "  tessel demo --db sqlite::memory:\n"
      "  tessel demo --db postgresql://me@db.example/prod --schema tessel",
      std::string("0 when every step ran and the counts read back agree, 1 when a step failed (the reason on "
                  "standard error), 2 for a wrong command line, ") +
          std::string(kExitRerunText) + ".");
  command->callback([options, &common, &status] {
    options->connection = common.db;
    options->tableSet = common.schema;
    Jobs::BridgeHandle db(IConnectWrapper::CreateInstance());
    const Jobs::DemoReport report = Jobs::RunDemo(*db, *options);
    PrintReport(report, *options);
    status = 0;
  });
}

}  // namespace Tessel::Cli
