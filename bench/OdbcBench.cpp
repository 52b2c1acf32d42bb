// tessel_bench_odbc: the bridge's two roads into PostgreSQL through the ODBC
// backend (psqlODBC), as a ratio to plain libpq COPY in text format measured
// in the same run, and the native PostgreSQL backend's roads beside them for
// comparison.
//
//   tessel_bench_odbc [--rows N] [--repeat K] [--seed S]
//
// Needs TESSEL_PG_URI; the ODBC connection string is made from it for the
// driver "PostgreSQL Unicode" unless TESSEL_ODBC_PG gives one whole. Every
// road writes into a fresh table that is read back and checked before its
// figure counts. Exit code: 0 when every road wrote exactly the dataset, 1
// otherwise, 2 for a bad command line.
#include <cstdlib>
#include <functional>
#include <iostream>
#include <string>
#include <thread>

#include "bench/BridgeRoads.h"
#include "bench/Dataset.h"
#include "bench/Measure.h"
#include "bench/PostgresBench.h"
#include "bench/Report.h"

namespace Tessel::Bench {
namespace {

struct Options {
  std::size_t rows = 200'000;
  int repeat = 1;
  std::uint64_t seed = 20240601;
};

[[noreturn]] void BadUsage(const std::string& why) {
  std::cerr << "tessel_bench_odbc: " << why
            << "\nusage: tessel_bench_odbc [--rows N] [--repeat K] [--seed S]\n";
  std::exit(2);
}

Options ParseOptions(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (i + 1 >= argc) BadUsage(arg + " needs a value");
    const std::string value = argv[++i];
    char* end = nullptr;
    const unsigned long long number = std::strtoull(value.c_str(), &end, 10);
    if (end == value.c_str() || *end != '\0' || number == 0) BadUsage(arg + " needs a positive number");
    if (arg == "--rows") {
      o.rows = number;
    } else if (arg == "--repeat") {
      o.repeat = static_cast<int>(std::min<unsigned long long>(number, 100));
    } else if (arg == "--seed") {
      o.seed = number;
    } else {
      BadUsage("unknown option \"" + arg + "\"");
    }
  }
  return o;
}

// "Driver={PostgreSQL Unicode};Server=...;..." for postgresql://user@host:port/db.
std::string OdbcString(const std::string& uri) {
  if (const char* whole = std::getenv("TESSEL_ODBC_PG"); whole && *whole) return whole;
  std::string rest = uri.substr(uri.find("://") + 3);
  rest = rest.substr(0, rest.find('?'));
  const std::string database = rest.find('/') == std::string::npos ? "" : rest.substr(rest.find('/') + 1);
  std::string authority = rest.substr(0, rest.find('/'));
  std::string user;
  if (const auto at = authority.rfind('@'); at != std::string::npos) {
    user = authority.substr(0, at);
    authority = authority.substr(at + 1);
  }
  std::string password;
  if (const auto colon = user.find(':'); colon != std::string::npos) {
    password = user.substr(colon + 1);
    user = user.substr(0, colon);
  }
  std::string host = authority, port = "5432";
  if (const auto colon = authority.rfind(':'); colon != std::string::npos) {
    host = authority.substr(0, colon);
    port = authority.substr(colon + 1);
  }
  std::string text = "Driver={PostgreSQL Unicode};Server=" + host + ";Port=" + port + ";Database=" + database;
  if (!user.empty()) text += ";Uid=" + user;
  if (!password.empty()) text += ";Pwd=" + password;
  return text;
}

struct Road {
  RoadLine* line;
  std::function<Timing()> run;
};

int Main(int argc, char** argv) {
  const Options o = ParseOptions(argc, argv);
  const char* uri = std::getenv("TESSEL_PG_URI");
  if (uri == nullptr || *uri == '\0') BadUsage("TESSEL_PG_URI is not set");
  const std::string odbc = "odbc:" + OdbcString(uri);

  std::cout << "TesselWrapper row-transfer benchmark: PostgreSQL through ODBC\n"
            << "   rows: " << o.rows << " of 8 columns (the dataset of tessel_bench), seed " << o.seed
            << ", best of " << o.repeat << " run(s) per road\n"
            << "   machine: " << std::thread::hardware_concurrency()
            << " cores; load average before: " << LoadAverage() << "\n"
            << "   ratios are rows/s of the road over rows/s of (a), measured in this run\n";
  const Dataset data(o.rows, o.seed);
  Section section("PostgreSQL: " + std::to_string(data.Rows()) + " rows into a fresh table per road",
                  data.Rows());
  section.AddNote(PostgresBench::Describe(uri));
  section.AddNote(
      "ODBC: the driver \"PostgreSQL Unicode\" (psqlODBC) with its default settings, through the "
      "driver manager of this machine");

  std::vector<Road> roads;
  auto add = [&](const std::string& label, std::function<Timing()> run) {
    roads.push_back(Road{&section.AddRoad(label), std::move(run)});
  };
  add("(a) plain libpq: COPY FROM STDIN, text format",
      [&] { return PostgresBench::RunCopyBaseline(uri, data); });
  add("(b) ODBC staging road: StartNewRow/AddFieldData.../AddCurRow, flush",
      [&] { return RunStagingRoad(odbc, data); });
  add("(c) ODBC queued road: build SqlRow records + BulkToTable", [&] { return RunQueuedRoad(odbc, data); });
  add("(d) native staging road (libpq COPY binary), for comparison",
      [&] { return RunStagingRoad(uri, data); });
  add("(e) native queued road (libpq COPY binary), for comparison", [&] { return RunQueuedRoad(uri, data); });

  for (int round = 1; round <= o.repeat; ++round) {
    for (Road& road : roads) {
      if (road.line->Failed()) continue;
      std::cerr << "  [round " << round << "/" << o.repeat << "] " << road.line->label << " ..."
                << std::flush;
      try {
        PostgresBench::CreateFreshTable(uri);
        const Timing timing = road.run();
        PostgresBench::Verify(road.line->label, uri, data);
        road.line->runs.push_back(timing);
        std::cerr << " " << timing.wallSeconds << " s, verified\n";
      } catch (const std::exception& e) {
        road.line->failure = e.what();
        std::cerr << " FAILED: " << e.what() << "\n";
      }
    }
  }
  PostgresBench::DropTable(uri);
  section.Print(std::cout);
  const auto tally = section.Count();
  std::cout << "\n   roads failed: " << tally.failed << "\n   load average after: " << LoadAverage() << "\n";
  return tally.failed > 0 ? 1 : 0;
}

}  // namespace
}  // namespace Tessel::Bench

int main(int argc, char** argv) {
  try {
    return Tessel::Bench::Main(argc, argv);
  } catch (const std::exception& e) {
    std::cerr << "tessel_bench_odbc: " << e.what() << "\n";
    return 1;
  }
}
