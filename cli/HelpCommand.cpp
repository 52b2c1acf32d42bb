// tessel help [COMMAND]: the tool's help, or one command's, as --help gives it.
#include <iostream>
#include <memory>

#include "Commands.h"

namespace Tessel::Cli {

void AddHelpCommand(CLI::App& app, int& status) {
  auto topic = std::make_shared<std::string>();
  CLI::App* command = app.add_subcommand("help", "Show the help of the tool, or of one command.");
  command->add_option("COMMAND", *topic, "The command whose help to show");
  SetFooter(*command, "  tessel help load", "0 when the help was shown, 2 for an unknown command.");
  command->callback([&app, topic, &status] {
    if (topic->empty()) {
      // app.help() would show the help of the chosen subcommand: this one.
      std::cout << app.get_formatter()->make_help(&app, app.get_name(), CLI::AppFormatMode::Normal);
      status = 0;
      return;
    }
    CLI::App* sub = nullptr;
    try {
      sub = app.get_subcommand(*topic);
    } catch (const CLI::OptionNotFound&) {
    }
    if (sub == nullptr) {
      const std::string nearest = Nearest(*topic, CommandNames(app));
      throw CLI::ValidationError(
          "COMMAND",
          "no command '" + *topic + "'" + (nearest.empty() ? "" : " (did you mean '" + nearest + "'?)"));
    }
    std::cout << sub->help(app.get_name());
    status = 0;
  });
}

}  // namespace Tessel::Cli
