// tessel: the command-line face of TesselWrapper.
//
// Exit status: 0 on success, 1 when the work failed (the reason is one line on
// standard error), 2 when the command line itself is wrong.
#include <clocale>
#include <cstdio>
#include <exception>
#include <iostream>
#include <string>

#include <CLI/CLI.hpp>

#include "Commands.h"

namespace {

// Messages from the database may span lines; the tool promises one.
std::string OneLine(std::string text) {
  for (char& c : text)
    if (c == '\n' || c == '\r') c = ' ';
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  // Text handed to the library is in the locale's character set (the library
  // converts it); numbers stay in the "C" form.
  std::setlocale(LC_CTYPE, "");

  CLI::App app{"tessel: write rows into database tables, run routines and list case and solution "
               "identifiers through the TesselWrapper bridge."};
  app.name("tessel");
  app.set_version_flag("--version", "tessel " TESSEL_VERSION);
  app.require_subcommand(1);
  app.footer("Exit status: 0 on success, 1 when the work failed, 2 for a wrong command line.\n"
             "Run 'tessel COMMAND --help' for the options of a command.");

  Tessel::Cli::CommonOptions common;
  Tessel::Cli::AddCommonOptions(app, common);
  int status = 0;
  Tessel::Cli::AddDemoCommand(app, common, status);
  Tessel::Cli::AddLoadCommand(app, common, status);
  Tessel::Cli::AddCallCommand(app, common, status);
  Tessel::Cli::AddIdsCommand(app, common, status);
  Tessel::Cli::AddTestCommand(app, common, status);

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    std::cerr << "tessel: " << OneLine(e.what()) << " (see tessel --help)\n";
    return 2;
  } catch (const std::exception& e) {
    std::cout.flush();
    std::cerr << "tessel: " << OneLine(e.what()) << '\n';
    return 1;
  }
  return status;
}
