// tessel ids MODELDIR: the latest solution of each case of a model directory,
// printed as the library gives it ("Caseid:SolutionId;" entries), or with
// --table as a tab-separated table with a header line.
#include <cstdio>
#include <memory>

#include "Commands.h"
#include "TesselWrapper/jobs/Bridge.h"
#include "TesselWrapper/jobs/CaseSolutionList.h"

namespace Tessel::Cli {

void AddIdsCommand(CLI::App& app, CommonOptions& common, int& status) {
  auto modelDir = std::make_shared<std::string>();
  CLI::App* command = app.add_subcommand(
      "ids", "Print the case and solution identifiers (GetMaxSolnIdCaseId) of a model directory.");
  AddCommonOptions(*command, common);
  command->add_option("MODELDIR", *modelDir, "Model directory whose cases are listed")->required();
  auto table = std::make_shared<bool>(false);
  command->add_flag("--table", *table, "Print a tab-separated table (Caseid, SolutionId) instead of the list");
  command->callback([modelDir, table, &common, &status] {
    Jobs::BridgeHandle db = Jobs::OpenBridge(common.db, common.schema);
    const std::string list = db->GetMaxSolnIdCaseId(*modelDir);
    const std::vector<Jobs::CaseSolution> entries = Jobs::ParseCaseSolutionList(list);
    if (*table) {
      std::printf("Caseid\tSolutionId\n");
      for (const Jobs::CaseSolution& entry : entries)
        std::printf("%s\t%s\n", entry.caseId.c_str(), entry.solutionId.c_str());
    } else {
      std::printf("%s\n", list.c_str());
    }
    std::fprintf(stderr, "%zu case%s in model directory '%s'\n", entries.size(),
                 entries.size() == 1 ? "" : "s", modelDir->c_str());
    status = 0;
  });
}

}  // namespace Tessel::Cli
