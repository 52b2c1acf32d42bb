// The tool's subcommands. Each Add...Command registers its subcommand on the
// application; when the subcommand is chosen, its callback runs it and leaves
// the process's exit status in `status`. Failures leave the callback as
// exceptions, which main turns into one line on standard error.
#pragma once

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

namespace Tessel::Cli {

// Options every subcommand takes (and the tool itself, before the
// subcommand's name).
struct CommonOptions {
  // TESSEL_DB when set, else the embedded SQLite file of the working folder.
  std::string db = DefaultConnection();
  std::string schema;

  static std::string DefaultConnection();
};

// Adds --db and --schema to `command`, bound to `options`.
void AddCommonOptions(CLI::App& command, CommonOptions& options);

// Sets the footer of a subcommand's help: what more there is to say, its
// example(s) and what its exit statuses mean.
void SetFooter(CLI::App& command, const std::string& more, const std::string& examples,
               const std::string& exitStatus);
inline void SetFooter(CLI::App& command, const std::string& examples, const std::string& exitStatus) {
  SetFooter(command, std::string(), examples, exitStatus);
}

// A name for the database in messages, its passwords masked ("the default
// database" for "").
std::string DescribeConnection(const std::string& connection);

// The texts of `connection` that must never be shown: the passwords in it,
// as written and percent-decoded.
std::vector<std::string> SecretsOf(const std::string& connection);

// What a command that works on an existing database (test, load, ids, call)
// connects with. An SQLite file must exist: such a command never creates
// one, so a mistyped path is reported rather than answered by a new empty
// database; it is opened with mode=rw unless the string names a mode.
// sqlite::memory: starts empty on every connection, so only a command with
// `memoryAllowed` takes it. Throws Tessel::Error with the reason.
std::string ExistingDatabase(const std::string& connection, const char* command, bool memoryAllowed);

void AddDemoCommand(CLI::App& app, CommonOptions& common, int& status);
void AddLoadCommand(CLI::App& app, CommonOptions& common, int& status);
void AddCallCommand(CLI::App& app, CommonOptions& common, int& status);
void AddIdsCommand(CLI::App& app, CommonOptions& common, int& status);
void AddTestCommand(CLI::App& app, CommonOptions& common, int& status);
void AddHelpCommand(CLI::App& app, int& status);

// The tool's subcommand names, for suggestions.
std::vector<std::string> CommandNames(const CLI::App& app);

// The name among `names` nearest to `word` (edit distance), or "" when none
// is near enough to be a likely misspelling.
std::string Nearest(const std::string& word, const std::vector<std::string>& names);

}  // namespace Tessel::Cli
