// tessel load --table NAME FILE.csv: write a CSV file into a table through the
// queued road (Tessel::Jobs::LoadCsvFile), with a progress bar on a terminal.
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>

#include "Commands.h"
#include "Format.h"
#include "TesselWrapper/jobs/Bridge.h"
#include "TesselWrapper/jobs/CsvLoad.h"

namespace Tessel::Cli {
namespace {

struct LoadArguments {
  std::string table;
  std::string file;
  char delimiter = ',';
};

// Draws the progress line on standard error, over and over in place. The job
// calls at most about ten times a second.
class ProgressBar {
 public:
  void Draw(const Jobs::CsvLoadProgress& p) {
    std::string line;
    if (p.phase == Jobs::CsvLoadProgress::Phase::Writing) {
      line = "writing " + Grouped(p.rows) + " rows ...";
    } else {
      const double rate = p.seconds > 0 ? static_cast<double>(p.rows) / p.seconds : 0;
      line = Grouped(p.rows) + " rows  " + Grouped(static_cast<std::uint64_t>(rate)) + " rows/s";
      if (p.bytesTotal > 0 && p.bytesRead > 0) {
        const double done = static_cast<double>(p.bytesRead) / static_cast<double>(p.bytesTotal);
        constexpr int kWidth = 24;
        const int filled = static_cast<int>(done * kWidth);
        line += "  [" + std::string(static_cast<std::size_t>(filled), '#') +
                std::string(static_cast<std::size_t>(kWidth - filled), '.') + "] " +
                Fixed(done * 100, 0) + "%  " + Clock(p.seconds * (1 - done) / done) + " left";
      }
    }
    std::fprintf(stderr, "\r%s\033[K", line.c_str());
    std::fflush(stderr);
    drawn_ = true;
  }
  ~ProgressBar() {
    if (drawn_) std::fprintf(stderr, "\r\033[K");
  }

 private:
  bool drawn_ = false;
};

}  // namespace

void AddLoadCommand(CLI::App& app, CommonOptions& common, int& status) {
  auto load = std::make_shared<LoadArguments>();
  CLI::App* command = app.add_subcommand(
      "load",
      "Write a CSV file with a header row of column names into a table, in one transaction: every "
      "line or none. A malformed line or a value the column cannot hold stops the load with its "
      "line number, column and value.");
  AddCommonOptions(*command, common);
  command->add_option("--table", load->table, "Table to write into")->required();
  command->add_option("--delimiter", load->delimiter, "Field delimiter")->capture_default_str();
  command->add_option("FILE", load->file, "CSV file ('-' for standard input)")->required();
  command->callback([load, &common, &status] {
    Jobs::BridgeHandle db = Jobs::OpenBridge(common.db, common.schema);
    Jobs::CsvLoadOptions options;
    options.tableSet = common.schema;
    options.delimiter = load->delimiter;
    Jobs::CsvLoadSummary summary;
    {
      ProgressBar bar;
      if (::isatty(STDERR_FILENO)) options.progress = [&bar](const Jobs::CsvLoadProgress& p) { bar.Draw(p); };
      summary = Jobs::LoadCsvFile(*db, load->table, load->file, options);
    }
    const double rate = summary.seconds > 0 ? static_cast<double>(summary.rows) / summary.seconds : 0;
    std::printf("loaded %s rows into %s in %s s (%s rows/s; write %s s)\n", Grouped(summary.rows).c_str(),
                summary.table.c_str(), Fixed(summary.seconds, 2).c_str(),
                Grouped(static_cast<std::uint64_t>(rate)).c_str(), Fixed(summary.writeSeconds, 2).c_str());
    status = 0;
  });
}

}  // namespace Tessel::Cli
