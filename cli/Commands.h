// The tool's subcommands. Each Add...Command registers its subcommand on the
// application; when the subcommand is chosen, its callback runs it and leaves
// the process's exit status in `status`. Failures leave the callback as
// exceptions, which main turns into one line on standard error.
#pragma once

#include <string>

#include <CLI/CLI.hpp>

namespace Tessel::Cli {

// Options every subcommand takes (and the tool itself, before the
// subcommand's name).
struct CommonOptions {
  std::string db = "sqlite:tessel.db";
  std::string schema;
};

// Adds --db and --schema to `command`, bound to `options`.
void AddCommonOptions(CLI::App& command, CommonOptions& options);

// A short name for the database in messages ("the default database" for "").
std::string DescribeConnection(const std::string& connection);

void AddDemoCommand(CLI::App& app, CommonOptions& common, int& status);
void AddLoadCommand(CLI::App& app, CommonOptions& common, int& status);
void AddCallCommand(CLI::App& app, CommonOptions& common, int& status);
void AddIdsCommand(CLI::App& app, CommonOptions& common, int& status);
void AddTestCommand(CLI::App& app, CommonOptions& common, int& status);

}  // namespace Tessel::Cli
