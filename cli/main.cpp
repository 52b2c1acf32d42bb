// tessel: the command-line face of TesselWrapper.
//
// Exit status: 0 on success, 1 when the work failed for a lasting cause (the
// reason is one line on standard error), 2 when the command line itself is
// wrong, 75 when the work failed for a cause that may pass (running the same
// command again may succeed), 130 after Ctrl-C with nothing written
// (ExitStatus.h).
#include <CLI/CLI.hpp>
#include <algorithm>
#include <clocale>
#include <cstdio>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "Commands.h"
#include "ExitStatus.h"

namespace {

// Messages from the database may span lines; the tool promises one. A
// password of the connection string never shows, whoever quoted it (libpq
// repeats parts of a connection string it cannot read).
std::string OneLine(std::string text, const std::vector<std::string>& secrets) {
  for (char& c : text)
    if (c == '\n' || c == '\r') c = ' ';
  while (!text.empty() && text.back() == ' ') text.pop_back();
  for (const std::string& secret : secrets) {
    // A password of one or two characters would mask half the message; such
    // a one is only ever shown inside a connection string, masked there.
    if (secret.size() < 3) continue;
    for (std::size_t at = text.find(secret); at != std::string::npos; at = text.find(secret, at + 4))
      text.replace(at, secret.size(), "****");
  }
  return text;
}

// The subcommand the command line names, before CLI11 parses it: the first
// word that is neither an option nor the value of the tool's own --db or
// --schema. Empty when there is none.
std::string CommandWord(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--db" || arg == "--schema") {
      ++i;
      continue;
    }
    if (arg == "--") return i + 1 < argc ? argv[i + 1] : "";
    if (!arg.empty() && arg[0] == '-') continue;
    return arg;
  }
  return {};
}

}  // namespace

int main(int argc, char** argv) {
  // Text handed to the library is in the locale's character set (the library
  // converts it); numbers stay in the "C" form.
  std::setlocale(LC_CTYPE, "");

  CLI::App app{
      "tessel: write rows into database tables, run routines and list case and solution "
      "identifiers through the TesselWrapper bridge."};
  app.name("tessel");
  app.set_version_flag("--version", "tessel " TESSEL_VERSION);
  app.require_subcommand(1);
  app.footer(
      "The database is --db, else the environment variable TESSEL_DB, else the SQLite file "
      "tessel.db in the working folder (only demo creates a missing SQLite file).\n\n"
      "Example:\n  tessel demo && tessel ids models/demo\n\n"
      "Exit status: 0 on success; 1 when the work failed and running it again cannot help until "
      "something is changed (a missing database, file or table, a wrong password, no permission, a "
      "refused row; the reason on standard error); 2 for a wrong command line; 75 when the work failed "
      "for a cause that may pass (a busy or locked database, a lost or refused connection, a table "
      "changed meanwhile): nothing was written, run the same command again; 130 when a load was "
      "interrupted (Ctrl-C) and nothing was written.\n"
      "Run 'tessel help COMMAND' or 'tessel COMMAND --help' for the options of a command.");

  Tessel::Cli::CommonOptions common;
  Tessel::Cli::AddCommonOptions(app, common);
  int status = 0;
  Tessel::Cli::AddDemoCommand(app, common, status);
  Tessel::Cli::AddLoadCommand(app, common, status);
  Tessel::Cli::AddCallCommand(app, common, status);
  Tessel::Cli::AddIdsCommand(app, common, status);
  Tessel::Cli::AddTestCommand(app, common, status);
  Tessel::Cli::AddHelpCommand(app, status);

  // A misspelt command would otherwise read as an argument nobody expected.
  const std::vector<std::string> commands = Tessel::Cli::CommandNames(app);
  const std::string word = CommandWord(argc, argv);
  if (!word.empty() && std::find(commands.begin(), commands.end(), word) == commands.end()) {
    const std::string nearest = Tessel::Cli::Nearest(word, commands);
    std::string list;
    for (const std::string& name : commands) list += (list.empty() ? "" : ", ") + name;
    std::cerr << "tessel: no command '" << OneLine(word, {}) << "'"
              << (nearest.empty() ? "" : " (did you mean '" + nearest + "'?)") << "; the commands are "
              << list << " (see tessel --help)\n";
    return Tessel::Cli::kExitWrongCommandLine;
  }

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    const std::string where = word.empty() ? "tessel" : "tessel " + word;
    std::cerr << where << ": " << OneLine(e.what(), Tessel::Cli::SecretsOf(common.db)) << " (see " << where
              << " --help)\n";
    return Tessel::Cli::kExitWrongCommandLine;
  } catch (const std::exception& e) {
    std::cout.flush();
    std::cerr << "tessel: " << OneLine(e.what(), Tessel::Cli::SecretsOf(common.db)) << '\n';
    return Tessel::Cli::ExitStatusOf(e);
  }
  return status;
}
