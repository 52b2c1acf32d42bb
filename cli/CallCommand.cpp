// tessel call NAME [name=type:value ...]: run a routine, print its integer
// result and its output text.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "Commands.h"
#include "ExitStatus.h"
#include "TesselWrapper/Errors.h"
#include "TesselWrapper/jobs/Bridge.h"
#include "TesselWrapper/jobs/RoutineText.h"

namespace Tessel::Cli {
namespace {

struct CallArguments {
  std::string routine;
  std::vector<std::string> arguments;
};

}  // namespace

void AddCallCommand(CLI::App& app, CommonOptions& common, int& status) {
  auto call = std::make_shared<CallArguments>();
  CLI::App* command = app.add_subcommand(
      "call", "Run a routine with typed arguments; print its integer result and its output text.");
  AddCommonOptions(*command, common);
  command->add_option("NAME", call->routine, "Routine to run")->required();
  command->add_option("ARGUMENTS", call->arguments,
                      "Arguments as name=type:value, type one of " +
                          std::string(Jobs::RoutineArgumentTypeWords()) +
                          " (datetime: YYYY-MM-DD[ HH:MM[:SS[.fff]]] from 0100-01-01 to 9999-12-31, or a day "
                          "number)");
  SetFooter(
      *command,
      "  tessel call AddCase caseid=int:7 modeldir=string:models/a name=string:first\n"
      "  tessel call CaseSummary modeldir=string:models/a\n"
      "  tessel call Stamp at=datetime:2024-03-01T12:30:00.250",
      std::string(
          "0 when the routine ran (whatever result it gave), 1 when it failed or does not exist (the reason "
          "on standard error), 2 for a wrong command line or an argument that cannot be read, ") +
          std::string(kExitRerunText) + ".");
  command->callback([call, &common, &status] {
    // Arguments are checked before anything is opened; a bad one is a wrong
    // command line.
    std::vector<SimpleDbParameter> parameters;
    try {
      parameters = Jobs::ParseRoutineArguments(call->arguments);
    } catch (const ArgumentError& e) {
      throw CLI::ValidationError("ARGUMENTS", e.what());
    }
    Jobs::BridgeHandle db = Jobs::OpenBridge(ExistingDatabase(common.db, "call", false), common.schema);
    // -1 is the failure result but also a value a routine may return. A
    // failure leaves the output text as it was, and a result row never reads
    // as this marker (its text is empty or ends with ';'), so the marker
    // still being there tells the two apart.
    const std::string unset = "\x01";
    std::string output = unset;
    const int result = db->ExecuteStoredProcedure(call->routine, std::move(parameters), &output);
    if (result == -1 && output == unset)
      throw DatabaseError("routine " + call->routine + " failed: " + db->GetMessage());
    std::printf("result: %d\noutput: %s\n", result, output.c_str());
    status = 0;
  });
}

}  // namespace Tessel::Cli
