#include "Commands.h"

namespace Tessel::Cli {

void AddCommonOptions(CLI::App& command, CommonOptions& options) {
  command.add_option("--db", options.db,
                     "Connection string: sqlite:PATH, sqlite::memory:, postgresql://... or "
                     "libpq key=value pairs")
      ->default_str(options.db);
  command.add_option("--schema", options.schema,
                     "Table set (schema) holding the tables and routines; empty for the default");
}

std::string DescribeConnection(const std::string& connection) {
  return connection.empty() ? std::string("the default database") : "'" + connection + "'";
}

}  // namespace Tessel::Cli
