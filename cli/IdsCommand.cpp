// tessel ids MODELDIR: the latest solution of each case of a model directory,
// printed as the library gives it ("Caseid:SolutionId;" entries), or with
// --format tsv as a tab-separated table with a header line.
#include <cstdio>
#include <memory>

#include "Commands.h"
#include "ExitStatus.h"
#include "TesselWrapper/jobs/Bridge.h"
#include "TesselWrapper/jobs/CaseSolutionList.h"

namespace Tessel::Cli {
namespace {

struct IdsArguments {
  std::string modelDir;
  std::string format = "list";
  bool oldTableFlag = false;
};

}  // namespace

void AddIdsCommand(CLI::App& app, CommonOptions& common, int& status) {
  auto ids = std::make_shared<IdsArguments>();
  CLI::App* command = app.add_subcommand(
      "ids", "Print the case and solution identifiers (GetMaxSolnIdCaseId) of a model directory.");
  AddCommonOptions(*command, common);
  command->add_option("MODELDIR", ids->modelDir, "Model directory whose cases are listed")->required();
  command
      ->add_option("--format", ids->format,
                   "list: as the library gives it (1:2;2:4;); tsv: a tab-separated table with a header line")
      ->check(CLI::IsMember({"list", "tsv"}))
      ->capture_default_str();
  // --table names the table to write in `load`; here it was a flag. Kept
  // out of sight only to say what replaced it.
  command->add_flag("--table", ids->oldTableFlag)->group("");
  SetFooter(
      *command,
      "  tessel ids models/demo\n"
      "  tessel ids --format tsv models/demo",
      std::string(
          "0 when the list was read (an empty one too), 1 when the database could not give it (the reason "
          "on standard error), 2 for a wrong command line, ") +
          std::string(kExitRerunText) + ".");
  command->callback([ids, &common, &status] {
    if (ids->oldTableFlag) throw CLI::ValidationError("--table", "ids --table is now ids --format tsv");
    Jobs::BridgeHandle db = Jobs::OpenBridge(ExistingDatabase(common.db, "ids", false), common.schema);
    const std::string list = db->GetMaxSolnIdCaseId(ids->modelDir);
    const std::vector<Jobs::CaseSolution> entries = Jobs::ParseCaseSolutionList(list);
    if (ids->format == "tsv") {
      std::printf("Caseid\tSolutionId\n");
      for (const Jobs::CaseSolution& entry : entries)
        std::printf("%s\t%s\n", entry.caseId.c_str(), entry.solutionId.c_str());
    } else {
      std::printf("%s\n", list.c_str());
    }
    std::fprintf(stderr, "%zu case%s in model directory '%s'\n", entries.size(),
                 entries.size() == 1 ? "" : "s", ids->modelDir.c_str());
    status = 0;
  });
}

}  // namespace Tessel::Cli
