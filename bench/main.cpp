// tessel_bench: how fast rows reach the database through the bridge's two
// roads, as a ratio to plain client-library code doing the same work in the
// same run, and how much memory a staged row costs.
//
//   tessel_bench [--rows N] [--repeat K] [--backend sqlite|postgres|all]
//                [--only ROAD,...] [--seed S] [--tmpdir DIR]
//
// PostgreSQL roads run when TESSEL_PG_URI is set. ROAD names: baseline,
// staging, queued, ceiling (plain client code in the fastest form, no
// target), memory (SQLite only), insert (PostgreSQL only). The exit
// code is 0 when every road ran and wrote exactly the dataset, 1 when a road
// failed or its table was wrong, 2 for a bad command line; a target that is
// not met is reported, not turned into an exit code.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <functional>
#include <iostream>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include "bench/BridgeRoads.h"
#include "bench/Dataset.h"
#include "bench/Measure.h"
#include "bench/MemoryProbe.h"
#ifdef TESSEL_BENCH_WITH_POSTGRES
#include "bench/PostgresBench.h"
#endif
#include "bench/Report.h"
#include "bench/SqliteBench.h"

namespace Tessel::Bench {
namespace {

struct Options {
  std::size_t rows = 1'000'000;
  std::uint64_t seed = 20240601;
  int repeat = 1;
  std::string backend = "all";
  std::set<std::string> only;  // empty: every road
  std::string tmpdir;
  bool memoryChild = false;
  MemoryRoad memoryRoad = MemoryRoad::Staging;  // the child's road
  std::string db;                               // the child's database file
};

constexpr const char* kUsage =
    "usage: tessel_bench [--rows N] [--repeat K] [--backend sqlite|postgres|all]\n"
    "                    [--only baseline,staging,queued,ceiling,memory,insert] [--seed S] [--tmpdir DIR]\n"
    "PostgreSQL roads run when TESSEL_PG_URI is set.\n";

[[noreturn]] void BadUsage(const std::string& why) {
  std::cerr << "tessel_bench: " << why << "\n" << kUsage;
  std::exit(2);
}

std::uint64_t ParseNumber(const std::string& option, const std::string& text) {
  std::size_t used = 0;
  unsigned long long value = 0;
  try {
    value = std::stoull(text, &used, 0);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used == 0 || used != text.size() || text[0] == '-')
    BadUsage(option + " needs a number, got \"" + text + "\"");
  return value;
}

Options ParseOptions(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) BadUsage(arg + " needs a value");
      return argv[++i];
    };
    if (arg == "--rows") {
      o.rows = ParseNumber(arg, value());
      if (o.rows == 0 || o.rows > 2'000'000'000) BadUsage("--rows must be between 1 and 2000000000");
    } else if (arg == "--repeat") {
      const auto k = ParseNumber(arg, value());
      if (k < 1 || k > 100) BadUsage("--repeat must be between 1 and 100");
      o.repeat = static_cast<int>(k);
    } else if (arg == "--seed") {
      o.seed = ParseNumber(arg, value());
    } else if (arg == "--backend") {
      o.backend = value();
      if (o.backend != "sqlite" && o.backend != "postgres" && o.backend != "all") {
        BadUsage("--backend must be sqlite, postgres or all");
      }
    } else if (arg == "--only") {
      std::istringstream list(value());
      std::string road;
      while (std::getline(list, road, ',')) {
        static const std::set<std::string> known = {"baseline", "staging", "queued",
                                                    "ceiling",  "memory",  "insert"};
        if (!known.count(road)) BadUsage("unknown road \"" + road + "\"");
        o.only.insert(road);
      }
    } else if (arg == "--tmpdir") {
      o.tmpdir = value();
    } else if (arg == "--memory-child") {
      o.memoryChild = true;
    } else if (arg == "--memory-road") {
      const std::string road = value();
      if (road != "staging" && road != "queued") BadUsage("unknown memory road \"" + road + "\"");
      o.memoryRoad = road == "queued" ? MemoryRoad::Queued : MemoryRoad::Staging;
    } else if (arg == "--db") {
      o.db = value();
    } else if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      std::exit(0);
    } else {
      BadUsage("unknown option \"" + arg + "\"");
    }
  }
  return o;
}

// One road of a section: how to prepare a fresh table, run it and check what
// it wrote.
struct Road {
  std::string key;
  RoadLine* line;
  std::function<void()> prepare;
  std::function<Timing()> run;
  std::function<void()> verify;
};

// Runs the roads round-robin `repeat` times, so that a change of machine load
// spreads over all of them rather than landing on one; a road that fails once
// is not run again.
void RunRounds(std::vector<Road>& roads, int repeat) {
  for (int round = 1; round <= repeat; ++round) {
    for (auto& road : roads) {
      if (road.line->Failed()) continue;
      std::cerr << "  [round " << round << "/" << repeat << "] " << road.line->label << " ..." << std::flush;
      try {
        road.prepare();
        const Timing timing = road.run();
        road.verify();
        road.line->runs.push_back(timing);
        std::cerr << " " << timing.wallSeconds << " s, verified\n";
      } catch (const std::exception& e) {
        road.line->failure = e.what();
        std::cerr << " FAILED\n";
      }
    }
  }
}

bool Wanted(const Options& o, const std::string& road) { return o.only.empty() || o.only.count(road) > 0; }

Section BenchSqlite(const Options& o, const Dataset& data, const std::filesystem::path& dir) {
  Section section("SQLite: " + std::to_string(data.Rows()) + " rows into a fresh file per road", data.Rows());
  const std::string path = (dir / "bench.db").string();
  const std::string connect = SqliteBench::ConnectionString(path);
  SqliteBench::CreateFreshTable(path);
  section.AddNote(SqliteBench::Describe(path));
  section.AddNote("file: " + path + " (removed and created anew before every road)");

  std::vector<Road> roads;
  auto add = [&](const std::string& key, const std::string& label, std::optional<double> target,
                 std::function<Timing()> run) -> RoadLine& {
    RoadLine& line = section.AddRoad(label, target);
    if (!Wanted(o, key)) return line;
    roads.push_back(Road{key, &line, [path] { SqliteBench::CreateFreshTable(path); }, std::move(run),
                         [path, &data, label] { SqliteBench::Verify(label, path, data); }});
    return line;
  };
  add("baseline", "(a) plain sqlite3: one prepared INSERT, one transaction", std::nullopt,
      [&] { return SqliteBench::RunBaseline(path, data); });
  add("staging", "(b) staging road: StartNewRow/AddFieldData.../AddCurRow, flush", 0.9,
      [&] { return RunStagingRoad(connect, data); });
  add("queued", "(c) queued road: build SqlRow records + BulkToTable", 0.8,
      [&] { return RunQueuedRoad(connect, data); });
  add("ceiling", "(r) plain sqlite3: 64-row multi-row INSERT, one transaction", std::nullopt, [&] {
    return SqliteBench::RunMultiRowInsert(path, data);
  }).kind = "ceiling";
  // The library opened the staging road's file itself: confirm it journals
  // the way the baseline was told to.
  for (auto& road : roads) {
    if (road.key != "staging") continue;
    road.verify = [path, &data, label = road.line->label, &section] {
      SqliteBench::Verify(label, path, data);
      const std::string mode = SqliteBench::JournalMode(path);
      if (mode != SqliteBench::kJournalMode) {
        section.AddNote("WARNING: the library left the file in journal mode " + mode +
                        ", the baseline uses " + SqliteBench::kJournalMode +
                        ": the ratios compare unlike settings");
      }
    };
  }
  RunRounds(roads, o.repeat);

  if (Wanted(o, "memory")) {
    const auto self = std::filesystem::read_symlink("/proc/self/exe").string();
    const double rows = static_cast<double>(data.Rows());
    const auto mib = [](std::uint64_t bytes) { return Format("%.1f MiB", bytes / 1048576.0); };
    const auto probe = [&](MemoryLine& memory, MemoryRoad road, const char* built, const char* written) {
      std::cerr << "  " << memory.label.substr(0, 3) << " memory probe in a child process ..." << std::flush;
      try {
        const MemoryFigures f =
            RunMemoryProbe(self, data.Rows(), data.Seed(), (dir / "memory.db").string(), road);
        const std::uint64_t peak = road == MemoryRoad::Staging ? f.peakStaged : f.peakFlushed;
        memory.bytesPerRow = (static_cast<double>(peak) - static_cast<double>(f.rssBefore)) / rows;
        memory.detail =
            "resident before " + mib(f.rssBefore) + ", peak after " + built + " " + mib(f.peakStaged) +
            ", peak after " + written + " " + mib(f.peakFlushed) + " (" +
            Format("%.1f", (static_cast<double>(f.peakFlushed) - static_cast<double>(f.rssBefore)) / rows) +
            " B/row with the write); the values themselves take " +
            Format("%.1f", static_cast<double>(data.ValueBytes()) / rows) + " B/row";
        if (!f.peakWasReset)
          memory.detail += "; VmHWM could not be reset, growth counted from the earlier peak";
        std::cerr << " done\n";
      } catch (const std::exception& e) {
        memory.failure = e.what();
        std::cerr << " FAILED\n";
      }
    };
    probe(section.AddMemory("(d) memory per staged row (peak resident growth / rows)", 80),
          MemoryRoad::Staging, "staging", "the flush");
    // The queued road keeps its records until they are written, so records
    // and table coexist: its peak is reported, with no target.
    probe(section.AddMemory("(e) memory of a queued write (peak resident growth / rows)", std::nullopt),
          MemoryRoad::Queued, "building the records", "BulkToTable");
  }
  SqliteBench::RemoveDatabase(path);
  return section;
}

#ifdef TESSEL_BENCH_WITH_POSTGRES
Section BenchPostgres(const Options& o, const Dataset& data, const std::string& uri) {
  Section section("PostgreSQL: " + std::to_string(data.Rows()) + " rows into a fresh table per road",
                  data.Rows());
  try {
    section.AddNote(PostgresBench::Describe(uri));
  } catch (const std::exception& e) {
    RoadLine& line = section.AddRoad("connecting to TESSEL_PG_URI");
    line.failure = e.what();
    return section;
  }
  section.AddNote("the table is dropped and created anew, and a CHECKPOINT asked for, before every road");

  std::vector<Road> roads;
  auto add = [&](const std::string& key, const std::string& label, std::optional<double> target,
                 std::function<Timing()> run) -> RoadLine& {
    RoadLine& line = section.AddRoad(label, target);
    if (!Wanted(o, key)) return line;
    roads.push_back(Road{key, &line, [uri] { PostgresBench::CreateFreshTable(uri); }, std::move(run),
                         [uri, &data, label] { PostgresBench::Verify(label, uri, data); }});
    return line;
  };
  add("baseline", "(a) plain libpq: COPY FROM STDIN, text format", std::nullopt,
      [&] { return PostgresBench::RunCopyBaseline(uri, data); });
  add("staging", "(b) staging road: StartNewRow/AddFieldData.../AddCurRow, flush", 1.3,
      [&] { return RunStagingRoad(uri, data); });
  add("queued", "(c) queued road: build SqlRow records + BulkToTable", 1.1,
      [&] { return RunQueuedRoad(uri, data); });
  add("insert", "(d) plain libpq: one prepared INSERT per row, one transaction", std::nullopt,
      [&] { return PostgresBench::RunInsertRoad(uri, data); });
  add("ceiling", "(r) plain libpq: COPY FROM STDIN, binary format", std::nullopt, [&] {
    return PostgresBench::RunCopyBinary(uri, data);
  }).kind = "ceiling";
  RunRounds(roads, o.repeat);
  PostgresBench::DropTable(uri);
  return section;
}
#else
Section BenchPostgres(const Options&, const Dataset& data, const std::string&) {
  Section section("PostgreSQL", data.Rows());
  section.AddNote("skipped: built without the PostgreSQL backend (TESSEL_WITH_POSTGRES=OFF)");
  return section;
}
#endif

std::filesystem::path MakeTempDir(const Options& o) {
  std::string base = o.tmpdir;
  if (base.empty()) base = std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp";
  std::string pattern = base + "/tessel-bench.XXXXXX";
  if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot make a temporary folder under " + base);
  return pattern;
}

int Main(int argc, char** argv) {
  const Options o = ParseOptions(argc, argv);
  if (o.memoryChild) {
    if (o.db.empty()) BadUsage("--memory-child needs --db");
    return RunMemoryChild(o.rows, o.seed, o.db, o.memoryRoad);
  }
  const char* pgUri = std::getenv("TESSEL_PG_URI");
  const bool wantSqlite = o.backend != "postgres";
  const bool wantPostgres = o.backend != "sqlite" && pgUri && *pgUri;
  if (o.backend == "postgres" && !wantPostgres) BadUsage("--backend postgres needs TESSEL_PG_URI");

  std::cout << "TesselWrapper row-transfer benchmark\n"
            << "   rows: " << o.rows
            << " of 8 columns (i1 i2 i3 32-bit integers, d1 d2 doubles, dt date-time in whole ms, "
               "t1 t2 texts of 10-20 characters), seed "
            << o.seed << ", best of " << o.repeat << " run(s) per road\n"
            << "   machine: " << std::thread::hardware_concurrency()
            << " cores; load average before: " << LoadAverage() << "\n"
            << "   every road writes into a fresh table, which is then read back and checked (row count, "
               "column sums, spot-checked rows) before its figure counts\n"
            << "   ratios are rows/s of the road over rows/s of the section's (a), measured in this run\n";
  if (o.rows < 100'000) {
    std::cout << "   note: with fewer than 100,000 rows fixed costs dominate; the verdicts mean little\n";
  }
  if (!wantPostgres && o.backend != "sqlite") {
    std::cout << "   PostgreSQL: skipped (TESSEL_PG_URI is not set)\n";
  }
  std::cout << std::flush;

  Stopwatch generation;
  const Dataset data(o.rows, o.seed);
  std::cerr << "dataset: " << data.Bytes() / 1048576.0 << " MiB made in " << generation.WallSeconds()
            << " s\n";

  const auto dir = MakeTempDir(o);
  std::vector<Section> sections;
  int status = 0;
  try {
    if (wantSqlite) {
      std::cerr << "SQLite roads (temporary folder " << dir.string() << "):\n";
      sections.push_back(BenchSqlite(o, data, dir));
    }
    if (wantPostgres) {
      std::cerr << "PostgreSQL roads:\n";
      sections.push_back(BenchPostgres(o, data, pgUri));
    }
  } catch (const std::exception& e) {
    std::cerr << "tessel_bench: " << e.what() << "\n";
    status = 1;
  }
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);

  Section::Tally total;
  for (const auto& section : sections) {
    section.Print(std::cout);
    const auto t = section.Count();
    total.met += t.met;
    total.missed += t.missed;
    total.failed += t.failed;
  }
  std::cout << "\n   targets met: " << total.met << ", not met: " << total.missed
            << ", roads failed: " << total.failed << "\n"
            << "   load average after: " << LoadAverage() << "\n";
  return total.failed > 0 ? 1 : status;
}

}  // namespace
}  // namespace Tessel::Bench

int main(int argc, char** argv) {
  try {
    return Tessel::Bench::Main(argc, argv);
  } catch (const std::exception& e) {
    std::cerr << "tessel_bench: " << e.what() << "\n";
    return 1;
  }
}
