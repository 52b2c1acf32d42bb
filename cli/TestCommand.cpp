// tessel test: whether the database answers, and if not, why.
#include <cstdio>

#include "Commands.h"
#include "TesselWrapper/Errors.h"
#include "TesselWrapper/jobs/Bridge.h"

namespace Tessel::Cli {

void AddTestCommand(CLI::App& app, CommonOptions& common, int& status) {
  CLI::App* command = app.add_subcommand("test", "Say whether the database can be reached, and why not.");
  AddCommonOptions(*command, common);
  command->callback([&common, &status] {
    Jobs::BridgeHandle db = Jobs::OpenBridge(common.db, common.schema);
    if (!db->Test())
      throw DatabaseError("cannot reach " + DescribeConnection(common.db) + ": " + db->GetMessage());
    std::printf("%s answers\n", DescribeConnection(common.db).c_str());
    status = 0;
  });
}

}  // namespace Tessel::Cli
