// A writer process killed with SIGKILL in the middle of a million-row write,
// on both roads and both backends: no destructor, no rollback, no goodbye to
// the server. Afterwards the database must be sound (SQLite's integrity
// check; a fresh PostgreSQL connection), the table must hold all of the rows
// or none, and the caller's rerun must leave every row there exactly once.
//
// The child is forked with no connection of the parent's in use; it prepares
// the rows and writes them. The parent watches for the write to be under way
// (SQLite: the rollback journal appears; PostgreSQL: the session shows its
// COPY as active), lets it run a little and kills the child.
#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#include "EndToEndTest.h"
#include "RoadWriter.h"
#include "support/RawSqlite.h"
#ifdef TESSEL_E2E_POSTGRES
#include "PgTestServer.h"
#endif

namespace Tessel::Faults {
namespace {

using namespace std::chrono_literals;
using EndToEnd::Backend;
using EndToEnd::BackendName;
using EndToEnd::BuiltBackends;

constexpr int kRows = 1000000;
constexpr std::size_t kNoteBytes = 12;
// How long the write runs once it is seen under way: far less than a
// million rows take on either backend, so that it dies in the middle.
constexpr auto kRunBeforeKill = 40ms;

// Polls `done` every millisecond until it holds, `gone` holds (false), or a
// minute has passed (false).
bool WaitFor(const std::function<bool()>& done, const std::function<bool()>& gone) {
  const auto end = std::chrono::steady_clock::now() + 60s;
  while (std::chrono::steady_clock::now() < end) {
    if (done()) return true;
    if (gone()) return false;
    std::this_thread::sleep_for(1ms);
  }
  return false;
}

class KilledWriter : public EndToEnd::EndToEndTest {
 protected:
  // The child: prepares and writes the rows through a bridge of its own.
  // Reports through its exit status only; gtest is the parent's.
  [[noreturn]] static void RunChild(const std::string& connect, const std::string& tableSet, Road road,
                                    const std::string& table) {
    int status = 3;
    try {
      // Never given back: the process ends right after the write.
      IConnectWrapper* bridge = IConnectWrapper::CreateInstance();
      bridge->LoadObject(connect, tableSet);
      RoadWriter writer(*bridge, road, table);
      writer.Prepare(1, kRows, kNoteBytes);
      status = writer.Write() ? 0 : 1;
    } catch (...) {
      status = 2;
    }
    _exit(status);
  }

  // True once the database shows the child's write under way.
  bool WriteUnderWay(const std::string& application) {
    if (GetParam() == Backend::Sqlite) return std::filesystem::exists(SqlitePath() + "-journal");
    return db().Query("SELECT count(*) FROM pg_stat_activity WHERE application_name = '" + application +
                      "' AND state = 'active' AND query LIKE 'COPY%'") == "1";
  }

  std::string SqlitePath() { return db().ConnectionString().substr(std::string("sqlite:").size()); }

  std::string Connect([[maybe_unused]] const std::string& application) {
    if (GetParam() == Backend::Sqlite) return db().ConnectionString();
#ifdef TESSEL_E2E_POSTGRES
    return Testing::WithUriParameter(db().ConnectionString(), "application_name", application);
#else
    return {};
#endif
  }
};

TEST_P(KilledWriter, TableHoldsAllOrNothingAndTheRerunWritesEachRowOnce) {
  for (Road road : {Road::Staging, Road::Queued}) {
    SCOPED_TRACE(RoadName(road));
    const std::string table = std::string("killed_") + RoadName(road);
    const std::string application = "tessel_killed_" + std::to_string(getpid()) + "_" + RoadName(road);
    db().Exec("CREATE TABLE " + table + " (id {int} NOT NULL, writer {int}, x {real}, note {text})");
    // The bridge's own connection is closed before the fork; the child opens
    // its own.
    bridge().SetConnectionString(db().ConnectionString());

    const auto started = std::chrono::steady_clock::now();
    const pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) RunChild(Connect(application), db().TableSet(), road, table);

    int status = 0;
    bool exited = false;
    const auto gone = [&] {
      exited = waitpid(child, &status, WNOHANG) == child;
      return exited;
    };
    const bool underWay = WaitFor([&] { return WriteUnderWay(application); }, gone);
    const auto seen = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(kRunBeforeKill);
    const bool stillWriting = !exited && !gone() && WriteUnderWay(application);
    if (!exited) {
      kill(child, SIGKILL);
      ASSERT_EQ(waitpid(child, &status, 0), child);
    }
    ASSERT_TRUE(underWay) << "the write was never seen under way (child "
                          << (exited ? "exited with status " + std::to_string(status) : "still running")
                          << ")";
    ASSERT_TRUE(stillWriting) << "the write ended before the kill; the test needs a slower write";
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "status " << status;
    std::printf("%s road: killed %.0f ms after the write was seen under way (%.1f s after the fork)\n",
                RoadName(road),
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - seen).count(),
                std::chrono::duration<double>(seen - started).count());

    // All or nothing, read by a connection that was not there.
    std::string rows;
    if (GetParam() == Backend::Sqlite) {
      Testing::RawSqlite fresh(SqlitePath());
      EXPECT_EQ(fresh.One("PRAGMA integrity_check"), "ok");
      rows = fresh.One("SELECT count(*) FROM " + table);
    } else {
#ifdef TESSEL_E2E_POSTGRES
      Testing::RawPg fresh(*Testing::PgUri(), db().TableSet());
      rows = fresh.Query("SELECT count(*) FROM " + table);
#endif
    }
    ASSERT_TRUE(rows == "0" || rows == std::to_string(kRows))
        << "the killed write left " << rows << " of " << kRows << " rows";

    // The caller's rerun, only when nothing arrived: a caller who finds the
    // table full does not write it again.
    if (rows == "0") {
      RoadWriter writer(bridge(), road, table);
      writer.Prepare(1, kRows, kNoteBytes);
      ASSERT_TRUE(writer.Write()) << writer.Message();
      EXPECT_EQ(writer.written, kRows);
    } else {
      std::printf("%s road: the kill came after the commit; every row had arrived\n", RoadName(road));
    }
    EXPECT_EQ(db().Query(RowsCheckSql(table)), RowsCheckExpected(1, kRows));
  }
}

TESSEL_E2E_INSTANTIATE(KilledWriter);

}  // namespace
}  // namespace Tessel::Faults
