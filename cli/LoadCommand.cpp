// tessel load --table NAME FILE.csv: write a CSV file into a table through the
// queued road (Tessel::Jobs::LoadCsvFile), with a progress bar on a terminal.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

#include "Commands.h"
#include "ExitStatus.h"
#include "Format.h"
#include "Interrupt.h"
#include "Progress.h"
#include "TesselWrapper/jobs/Bridge.h"
#include "TesselWrapper/jobs/CsvLoad.h"

namespace Tessel::Cli {
namespace {

struct LoadArguments {
  std::string table;
  std::string file;
  std::string delimiter = ",";
  std::optional<std::string> nullText;
  bool noHeader = false;
  std::string columnList;
  std::string encoding = "UTF-8";
  bool progress = false;
  double progressInterval = 5;
};

// "," ";" "|", and for a tab "\t" or "tab" (a shell hardly lets one type it).
char DelimiterOf(const std::string& text) {
  if (text == "\\t" || text == "tab" || text == "TAB" || text == "\t") return '\t';
  if (text.size() == 1 && text[0] != '"' && text[0] != '\n' && text[0] != '\r') return text[0];
  throw CLI::ValidationError("--delimiter", "'" + text +
                                                "' is not one character other than a quote or a line break "
                                                "(write \\t or tab for a tab)");
}

std::string Plural(std::uint64_t n, const char* one, const char* many) {
  return Grouped(n) + " " + (n == 1 ? one : many);
}

constexpr const char* kDescription =
    "Write a CSV file into a table, in one transaction: every line or none. The first line names the "
    "table's columns (or --no-header with --columns). Each value is converted as the table's column "
    "demands and checked, with the table's own rules, before anything is written; the first problem "
    "stops the load with its line number, column and value, and nothing is written.";

constexpr const char* kDialect =
    "The CSV it reads (what PostgreSQL's COPY ... TO ... CSV HEADER and sqlite3's .mode csv write):\n"
    "  fields      separated by --delimiter; quoted with \" when they hold it, a quote or a line break\n"
    "              (a doubled quote \"\" inside is one quote); blanks are data\n"
    "  lines       LF, CRLF or CR; blank lines are skipped and counted; a UTF-8 byte order mark is dropped\n"
    "  null        an unquoted empty field (or with --null TEXT, an unquoted TEXT): the column keeps its\n"
    "              default, else null. A quoted \"\" is an empty text. A line with no value at all is "
    "refused\n"
    "  booleans    1/0, t/f, true/false, yes/no, y/n, on/off, in any case\n"
    "  dates       YYYY-MM-DD[ HH:MM[:SS[.fffffff]]] ('T' may stand for the space); a zone after the\n"
    "              time (Z, +00, +02:00, -0530) is converted to UTC. On PostgreSQL the load's session\n"
    "              runs in UTC, so a timestamptz column keeps the instant\n"
    "  numbers     '.' as the decimal point, no thousands separators; NaN, Infinity for doubles\n"
    "  encoding    UTF-8 unless --encoding names another; a byte that is not valid in it, or a NUL byte,\n"
    "              is refused with its line, column and byte offset\n"
    "A key given twice in the file stops the load naming both lines; a key the table already holds is\n"
    "refused by the database, naming the line where the database names the row.";

}  // namespace

void AddLoadCommand(CLI::App& app, CommonOptions& common, int& status) {
  auto load = std::make_shared<LoadArguments>();
  CLI::App* command = app.add_subcommand("load", kDescription);
  AddCommonOptions(*command, common);
  command->add_option("--table", load->table, "Table to write into")->required();
  command
      ->add_option("--delimiter", load->delimiter, "Field delimiter: one character, or \\t or tab for a tab")
      ->capture_default_str();
  command->add_option("--null", load->nullText,
                      "An unquoted field of exactly this text is null (e.g. NULL or \\N); an unquoted empty "
                      "field is then an empty text");
  command->add_flag("--no-header", load->noHeader, "The file has no header line; --columns names its fields");
  command->add_option("--columns", load->columnList, "The columns of the fields, for --no-header: a,b,c");
  command
      ->add_option("--encoding", load->encoding,
                   "The file's encoding: UTF-8, latin1, locale (the locale's character set) or an iconv "
                   "name such as CP1252")
      ->capture_default_str();
  command->add_flag("--progress", load->progress,
                    "Report progress on standard error even when it is not a terminal (a line every "
                    "--progress-interval seconds); on a terminal a progress line is always drawn");
  command->add_option("--progress-interval", load->progressInterval, "Seconds between progress lines")
      ->capture_default_str()
      ->check(CLI::Range(0.0, 3600.0));
  command->add_option("FILE", load->file, "CSV file ('-' for standard input)")->required();
  SetFooter(
      *command, kDialect,
      "  tessel load --table results results.csv\n"
      "  tessel load --table results --delimiter tab --null NULL results.tsv\n"
      "  tessel load --table results --no-header --columns SolutionId,Name,Value --encoding latin1 old.csv\n"
      "  psql -c \"COPY results TO STDOUT WITH CSV HEADER\" | tessel load --table results -",
      std::string("0 when every line was written, 1 when nothing was written for a cause that lasts until "
                  "someone acts (the reason, with the line, column and value, on standard error), 2 for a "
                  "wrong command line, ") +
          kExitRerunText +
          " (nothing was written), 130 after Ctrl-C with nothing written (a Ctrl-C that comes after the "
          "commit still reports the lines written, with status 0).");
  command->callback([load, &common, &status] {
    if (load->noHeader != !load->columnList.empty())
      throw CLI::ValidationError(load->noHeader ? "--no-header" : "--columns",
                                 load->noHeader
                                     ? "a file without a header needs --columns a,b,c to name its fields"
                                     : "--columns is for a file without a header: add --no-header");
    Jobs::CsvLoadOptions options;
    options.tableSet = common.schema;
    options.delimiter = DelimiterOf(load->delimiter);
    options.nullText = load->nullText;
    for (std::size_t at = 0; !load->columnList.empty() && at <= load->columnList.size();) {
      const std::size_t comma = std::min(load->columnList.find(',', at), load->columnList.size());
      options.columns.push_back(load->columnList.substr(at, comma - at));
      at = comma + 1;
    }
    options.encoding = load->encoding;
    // The library writes timestamptz values as the time of day of the
    // session's zone; zoned values are converted to UTC, so the session must
    // be in UTC for them to keep their instant.
#if defined(_WIN32)
    _putenv_s("PGTZ", "UTC");
#else
    ::setenv("PGTZ", "UTC", 1);
#endif
    Jobs::BridgeHandle db = Jobs::OpenBridge(ExistingDatabase(common.db, "load", false), common.schema);
    Jobs::CsvLoadSummary summary;
    {
      const bool terminal = ::isatty(STDERR_FILENO) != 0;
      ProgressReport report(terminal);
      // The load reports often, so that Ctrl-C is noticed at once; the log
      // lines keep their own interval.
      const bool draw = terminal || load->progress;
      const auto logInterval =
          std::chrono::milliseconds(static_cast<long long>(load->progressInterval * 1000));
      auto lastLogged = std::chrono::steady_clock::now();
      options.progressInterval =
          std::min<std::chrono::milliseconds>(std::chrono::milliseconds(100), logInterval);
      options.progress = [&](const Jobs::CsvLoadProgress& p) {
        // Thrown before the commit: the load rolls back as it unwinds.
        if (Interrupted()) throw InterruptedError();
        if (!draw) return;
        const auto now = std::chrono::steady_clock::now();
        if (!terminal && p.phase == Jobs::CsvLoadProgress::Phase::Reading && now - lastLogged < logInterval)
          return;
        lastLogged = now;
        report.Draw(p);
      };
      NoteInterrupts();
      try {
        summary = Jobs::LoadCsvFile(*db, load->table, load->file, options);
      } catch (const InterruptedError&) {
        std::fprintf(stderr, "tessel: interrupted: nothing was written\n");
        status = kExitInterrupted;
        return;
      }
    }
    const double rate = summary.seconds > 0 ? static_cast<double>(summary.rows) / summary.seconds : 0;
    std::uint64_t skipped = 0;
    std::string reasons;
    for (const Jobs::CsvSkipped& s : summary.skipped) {
      skipped += s.count;
      reasons += (reasons.empty() ? ": " : "; ") +
                 Plural(s.count, s.reason.c_str(), (s.reason + "s").c_str()) + " (first: line " +
                 std::to_string(s.firstLine) + ")";
    }
    std::printf("loaded table %s: %s read, %s written, %s skipped%s; %s s (%s rows/s; write %s s)\n",
                summary.table.c_str(), Plural(summary.rowsRead, "row", "rows").c_str(),
                Grouped(summary.rows).c_str(), Grouped(skipped).c_str(), reasons.c_str(),
                Fixed(summary.seconds, 2).c_str(), Grouped(static_cast<std::uint64_t>(rate)).c_str(),
                Fixed(summary.writeSeconds, 2).c_str());
    // Ctrl-C after the last report: the commit went through all the same.
    if (Interrupted()) std::fprintf(stderr, "tessel: interrupted after the commit: every line was written\n");
    status = 0;
  });
}

}  // namespace Tessel::Cli
