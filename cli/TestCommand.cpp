// tessel test: whether the database answers, and if not, why.
#include <cstdio>

#include "Commands.h"
#include "ExitStatus.h"
#include "TesselWrapper/Errors.h"
#include "TesselWrapper/jobs/Bridge.h"

namespace Tessel::Cli {

void AddTestCommand(CLI::App& app, CommonOptions& common, int& status) {
  CLI::App* command = app.add_subcommand(
      "test", "Say whether the database can be reached and holds the table set (schema), and why not.");
  AddCommonOptions(*command, common);
  SetFooter(
      *command,
      "  tessel test --db sqlite:cases.db\n"
      "  tessel test --db postgresql://me@db.example/prod --schema tessel",
      std::string("0 when the database answers and holds the table set, 1 when it does not (the reason on "
                  "standard error), 2 for a wrong command line, ") +
          std::string(kExitRerunText) + ".");
  command->callback([&common, &status] {
    Jobs::BridgeHandle db = Jobs::OpenBridge(ExistingDatabase(common.db, "test", true), common.schema);
    if (!db->Test())
      throw DatabaseError("cannot use " + DescribeConnection(common.db) + ": " + db->GetMessage());
    std::printf("%s answers\n", DescribeConnection(common.db).c_str());
    status = 0;
  });
}

}  // namespace Tessel::Cli
