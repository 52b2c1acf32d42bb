// Faults provoked on purpose against a real server and seen the way a native
// caller sees them, through the bridge's staging road: a deadlock between two
// loaders, a server that goes down in the middle of a write, a column dropped
// while the write waits for the table, and four loaders writing one table at
// once.
//
// The moment of each fault is fixed with locks, not with sleeps: a test holds
// a row or a table that the write needs, waits until the server shows the
// loader's session waiting for it, then causes the fault and lets go.
#include <stdlib.h>  // mkdtemp
#include <sys/stat.h>

#include <barrier>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "PgTestServer.h"
#include "TesselWrapper/IConnectWrapper.h"
#include "TesselWrapper/component/DbConnect.h"
#include "support/BridgeHandle.h"
#include "support/Contains.h"

namespace Tessel::Testing {
namespace {

using namespace std::chrono_literals;

// One native caller: a bridge object with its own component, and the three
// counters StartNewRow writes.
class Loader {
 public:
  Loader(const std::string& uri, const std::string& tableSet) : bridge_(IConnectWrapper::CreateInstance()) {
    bridge_->LoadObject(uri, tableSet);
  }

  IConnectWrapper& bridge() { return *bridge_; }
  std::string Message() { return bridge_->GetMessage(); }

  bool Start(const char* table) { return bridge_->StartNewRow(table, &stored, &written, &time); }
  // Moves on to the empty name, which writes the current table.
  bool Flush() { return Start(""); }

  int stored = 0;
  int written = 0;
  long time = 0;

 private:
  BridgeHandle bridge_;
};

// Runs loader.Flush() on a thread of its own; an error that leaves it is a
// test failure rather than the end of the process.
std::thread FlushOnThread(Loader& loader, bool& wrote) {
  return std::thread([&loader, &wrote] {
    try {
      wrote = loader.Flush();
    } catch (const std::exception& e) {
      ADD_FAILURE() << "the flush threw: " << e.what();
    }
  });
}

// Polls `done` every 10 ms until it holds or `limit` has passed.
bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit = 10s) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(10ms);
  }
  return true;
}

// How many sessions named `application` (a plain name of the test's own)
// wait for a lock. `observer` must not be inside a transaction: the activity
// view is read once per transaction.
int WaitingForLocks(RawPg& observer, const std::string& application) {
  return std::atoi(observer
                       .Query("SELECT count(*) FROM pg_stat_activity WHERE wait_event_type = 'Lock' "
                              "AND application_name = '" +
                              application + "'")
                       .c_str());
}

class PgFaults : public PgTest {
 protected:
  // The server's URI with the loaders' sessions named after the schema, so
  // that the test can find them in pg_stat_activity.
  std::string LoaderUri() { return WithUriParameter(schema().uri(), "application_name", schema().name()); }
  int LoadersWaiting() { return WaitingForLocks(raw(), schema().name()); }
};

// Two loaders write readings of the same two keys in opposite order; a
// trigger counts each reading in `totals`, so each write locks the two totals
// rows in its own order. A gate row holds both writes after their first row,
// so that each holds one totals row when both go on: the server's deadlock
// detector must end one of them. That loader is told to rerun, keeps its
// rows, and its rerun writes them once; the rolled-back attempt leaves no
// trace, neither its readings nor its counts.
TEST_F(PgFaults, DeadlockedLoaderIsToldToRerunAndItsRerunWritesEachRowOnce) {
  raw().Exec(
      "CREATE TABLE totals (key int PRIMARY KEY, n int NOT NULL);"
      "INSERT INTO totals VALUES (1, 0), (2, 0);"
      "CREATE TABLE gate (open bool);"
      "INSERT INTO gate VALUES (true);"
      "CREATE TABLE readings (loader text NOT NULL, key int NOT NULL, step int NOT NULL);"
      "CREATE FUNCTION count_reading() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN "
      "  UPDATE totals SET n = n + 1 WHERE key = NEW.key;"
      "  IF NEW.step = 1 THEN PERFORM 1 FROM gate FOR SHARE; END IF;"
      "  RETURN NEW; END $$;"
      "CREATE TRIGGER count_reading BEFORE INSERT ON readings "
      "  FOR EACH ROW EXECUTE FUNCTION count_reading()");

  // A short deadlock_timeout makes the detector look soon after both wait.
  const std::string uri = WithUriParameter(LoaderUri(), "options", "-c deadlock_timeout=50");
  Loader a(uri, schema().name());
  Loader b(uri, schema().name());
  const auto stage = [](Loader& loader, const char* name, int firstKey, int secondKey) {
    int step = 1;
    for (int key : {firstKey, secondKey}) {
      ASSERT_TRUE(loader.Start("readings")) << loader.Message();
      ASSERT_TRUE(loader.bridge().AddFieldData("loader", name));
      ASSERT_TRUE(loader.bridge().AddFieldData("key", key));
      ASSERT_TRUE(loader.bridge().AddFieldData("step", step++));
      ASSERT_TRUE(loader.bridge().AddCurRow()) << loader.Message();
    }
  };
  stage(a, "a", 1, 2);
  stage(b, "b", 2, 1);
  if (HasFatalFailure()) return;

  RawPg gatekeeper(schema().uri(), schema().name());
  gatekeeper.Exec("BEGIN; SELECT FROM gate FOR UPDATE");
  bool aWrote = false;
  bool bWrote = false;
  std::thread ta = FlushOnThread(a, aWrote);
  std::thread tb = FlushOnThread(b, bWrote);
  const bool bothAtTheGate = WaitFor([&] { return LoadersWaiting() == 2; });
  gatekeeper.Exec("COMMIT");
  ta.join();
  tb.join();
  ASSERT_TRUE(bothAtTheGate) << "the two writes never both reached the gate";

  ASSERT_NE(aWrote, bWrote) << "exactly one write must lose the deadlock\na: " << a.Message()
                            << "\nb: " << b.Message();
  Loader& winner = aWrote ? a : b;
  Loader& loser = aWrote ? b : a;
  const std::string winnerName = aWrote ? "a" : "b";
  EXPECT_EQ(winner.Message(), "2 rows written to table 'readings'");
  EXPECT_TRUE(Contains(loser.Message(), kRerunTransaction)) << loser.Message();
  EXPECT_TRUE(Contains(loser.Message(), "40P01")) << loser.Message();
  EXPECT_EQ(loser.written, 0) << "nothing of the loser's table was written";
  EXPECT_EQ(raw().Query("SELECT loader, key FROM readings ORDER BY key"),
            winnerName + "|1\n" + winnerName + "|2");
  EXPECT_EQ(raw().Query("SELECT key, n FROM totals ORDER BY key"), "1|1\n2|1");

  ASSERT_TRUE(loser.Flush()) << loser.Message();
  EXPECT_EQ(loser.written, 2);
  EXPECT_EQ(
      raw().Query("SELECT loader, key, count(*) FROM readings GROUP BY loader, key ORDER BY loader, key"),
      "a|1|1\na|2|1\nb|1|1\nb|2|1");
  EXPECT_EQ(raw().Query("SELECT key, n FROM totals ORDER BY key"), "1|2\n2|2");
}

// The write checks the table against the catalogue, then waits for a lock
// on it; meanwhile the holder of the lock drops a column. The COPY, once it
// runs, finds the column gone: the server's own error must still be reported
// as a schema change (not as a rerun), with nothing written and the rows kept
// for when the table is mended.
TEST_F(PgFaults, ColumnDroppedWhileTheWriteWaitsIsASchemaChange) {
  raw().Exec("CREATE TABLE cases (id int PRIMARY KEY, note text)");
  Loader loader(LoaderUri(), schema().name());
  for (int id : {1, 2, 3}) {
    ASSERT_TRUE(loader.Start("cases")) << loader.Message();
    ASSERT_TRUE(loader.bridge().AddFieldData("id", id));
    ASSERT_TRUE(loader.bridge().AddFieldData("note", ("note " + std::to_string(id)).c_str()));
    ASSERT_TRUE(loader.bridge().AddCurRow()) << loader.Message();
  }

  RawPg holder(schema().uri(), schema().name());
  holder.Exec("BEGIN; LOCK TABLE cases IN SHARE MODE");  // lets catalogue reads by, stops writes
  bool wrote = true;
  std::thread writer = FlushOnThread(loader, wrote);
  const bool waiting = WaitFor([&] { return LoadersWaiting() == 1; });
  holder.Exec("ALTER TABLE cases DROP COLUMN note; COMMIT");
  writer.join();
  ASSERT_TRUE(waiting) << "the write never waited for the table";

  EXPECT_FALSE(wrote);
  EXPECT_TRUE(Contains(loader.Message(), kSchemaChange)) << loader.Message();
  EXPECT_TRUE(Contains(loader.Message(), "42703")) << loader.Message();
  EXPECT_FALSE(Contains(loader.Message(), kRerunTransaction)) << loader.Message();
  EXPECT_EQ(loader.written, 0);
  EXPECT_EQ(raw().Query("SELECT count(*) FROM cases"), "0");

  raw().Exec("ALTER TABLE cases ADD COLUMN note text");
  ASSERT_TRUE(loader.Flush()) << loader.Message();
  EXPECT_EQ(raw().Query("SELECT id, note FROM cases ORDER BY id"), "1|note 1\n2|note 2\n3|note 3");
}

// Four loaders on four threads, each with its own component, stage 100,000
// rows each and write them into one table at the same moment. Every row must
// arrive once, with its own values.
TEST_F(PgFaults, FourLoadersWritingOneTableAtOnceLoseAndDoubleNothing) {
  constexpr int kLoaders = 4;
  constexpr int kRows = 100000;
  raw().Exec("CREATE TABLE samples (loader int NOT NULL, seq int NOT NULL, x float8, label text)");

  struct Outcome {
    bool staged = false;
    bool wrote = false;
    int written = 0;
    std::string message;
  };
  std::vector<Outcome> outcomes(kLoaders);
  std::barrier allStaged(kLoaders);
  std::vector<std::thread> threads;
  for (int n = 0; n < kLoaders; ++n) {
    threads.emplace_back([&, n] {
      Outcome& outcome = outcomes[n];
      std::unique_ptr<Loader> loader;
      try {
        loader = std::make_unique<Loader>(LoaderUri(), schema().name());
        IConnectWrapper& bridge = loader->bridge();
        char label[32];
        outcome.staged = true;
        for (int seq = 0; seq < kRows && outcome.staged; ++seq) {
          std::snprintf(label, sizeof label, "L%d-%d", n, seq);
          outcome.staged = loader->Start("samples") && bridge.AddFieldData("loader", n) &&
                           bridge.AddFieldData("seq", seq) && bridge.AddFieldData("x", seq * 0.25 + n) &&
                           bridge.AddFieldData("label", label) && bridge.AddCurRow();
        }
        if (!outcome.staged) outcome.message = loader->Message();
      } catch (const std::exception& e) {
        outcome.staged = false;
        outcome.message = e.what();
      }
      allStaged.arrive_and_wait();  // every loader, staged or not, so that none waits for ever
      if (!outcome.staged) return;
      try {
        outcome.wrote = loader->Flush();
        outcome.written = loader->written;
        outcome.message = loader->Message();
      } catch (const std::exception& e) {
        outcome.message = e.what();
      }
    });
  }
  for (std::thread& thread : threads) thread.join();

  for (int n = 0; n < kLoaders; ++n) {
    SCOPED_TRACE("loader " + std::to_string(n));
    EXPECT_TRUE(outcomes[n].staged) << outcomes[n].message;
    EXPECT_TRUE(outcomes[n].wrote) << outcomes[n].message;
    EXPECT_EQ(outcomes[n].written, kRows);
  }
  // Rows, distinct rows, the range of keys, a sum over every value, and the
  // rows whose values are not the ones their keys were staged with.
  // sum(x) = 4 * 0.25 * (0 + ... + 99999) + 100000 * (0 + 1 + 2 + 3)
  EXPECT_EQ(raw().Query("SELECT count(*), count(DISTINCT (loader, seq)), min(seq), max(seq), sum(x), "
                        "count(*) FILTER (WHERE x IS DISTINCT FROM seq * 0.25 + loader "
                        "  OR label IS DISTINCT FROM 'L' || loader || '-' || seq) "
                        "FROM samples"),
            "400000|400000|0|99999|5000550000|0");
  EXPECT_EQ(raw().Query("SELECT loader, count(*) FROM samples GROUP BY loader ORDER BY loader"),
            "0|100000\n1|100000\n2|100000\n3|100000");
}

// A server of the test's own, which it may crash: started with the project's
// server script in a fresh folder, and stopped and removed with it.
class PrivateServer {
 public:
  PrivateServer() {
    char base[] = "/tmp/tessel-fault.XXXXXX";
    if (::mkdtemp(base) == nullptr) {
      ADD_FAILURE() << "cannot make a folder for the private server";
      return;
    }
    base_ = base;
    // The server runs as another user when the test runs as root.
    ::chmod(base, 0755);
    dir_ = base_ + "/server";
    std::string exports;
    if (!Run("start", &exports)) return;
    const std::string prefix = "export TESSEL_PG_URI='";
    const std::size_t at = exports.find(prefix);
    if (at == std::string::npos) {
      ADD_FAILURE() << "the server script printed no URI:\n" << exports;
      return;
    }
    const std::size_t from = at + prefix.size();
    uri_ = exports.substr(from, exports.find('\'', from) - from);
  }

  ~PrivateServer() {
    if (base_.empty()) return;
    Run("stop");
    std::filesystem::remove_all(base_);
  }

  PrivateServer(const PrivateServer&) = delete;
  PrivateServer& operator=(const PrivateServer&) = delete;

  // Empty when the server could not be started.
  const std::string& uri() const { return uri_; }
  // Stops the server at once, cutting its sessions off as a crash would.
  bool Crash() { return Run("crash"); }
  // Starts it again on the same port with the same data.
  bool Recover() { return Run("recover"); }

 private:
  // Runs the script's `command` on the server's folder; its progress goes to
  // a log that a failure shows. The script remembers the last server it
  // started in $TMPDIR, which points into the test's own folder, so that the
  // test never changes what the script knows of other servers.
  bool Run(const std::string& command, std::string* out = nullptr) {
    const std::string log = base_ + "/script.log";
    const std::string line = "TMPDIR='" + base_ + "' bash '" TESSEL_PG_SERVER_SCRIPT "' " + command + " '" +
                             dir_ + "' 2>>'" + log + "'";
    FILE* pipe = ::popen(line.c_str(), "r");
    if (pipe == nullptr) {
      ADD_FAILURE() << "cannot run " << line;
      return false;
    }
    std::string text;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) text += buffer;
    const int status = ::pclose(pipe);
    if (out != nullptr) *out = text;
    if (status != 0) {
      std::ifstream in(log);
      std::stringstream shown;
      shown << in.rdbuf();
      ADD_FAILURE() << line << " failed (status " << status << "):\n" << shown.str();
      return false;
    }
    return true;
  }

  std::string base_;
  std::string dir_;
  std::string uri_;
};

// The server goes down while a write is under way: the write fails asking
// for a rerun, the reason in the message; a rerun while the server is still
// down fails the same way; nothing of the table is in the database once the
// server is back, and the rerun then writes every staged row once.
//
// The write is held at its 1,000th row by a gate row that the test holds, and
// carries more data than the socket buffers take, so that the loader is
// still sending when the server goes.
TEST(PgFaultsServer, ServerDownInTheMiddleOfAWriteKeepsTheRowsForTheRerun) {
  if (!PgUri()) {
    if (RunningUnderCi()) FAIL() << "TESSEL_PG_URI is not set under CI: PostgreSQL tests must run";
    GTEST_SKIP() << "TESSEL_PG_URI is not set (start a server with .ci/postgres-server.sh start)";
  }
  constexpr int kRows = 120000;
  PrivateServer server;
  ASSERT_FALSE(server.uri().empty());
  const std::string application = "tessel_fault_loader";
  {
    RawPg setup(server.uri());
    // The script's server acknowledges commits before their log is on disk;
    // what the test sets up must survive the crash.
    setup.Exec(
        "SET synchronous_commit TO on;"
        "CREATE TABLE big (id int8 NOT NULL, label text NOT NULL);"
        "CREATE TABLE gate (open bool);"
        "INSERT INTO gate VALUES (true);"
        "CREATE FUNCTION wait_at_gate() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN "
        "  PERFORM 1 FROM gate FOR SHARE; RETURN NEW; END $$;"
        "CREATE TRIGGER wait_at_gate BEFORE INSERT ON big FOR EACH ROW WHEN (NEW.id = 1000) "
        "  EXECUTE FUNCTION wait_at_gate()");
  }

  Loader loader(WithUriParameter(server.uri(), "application_name", application), "");
  const std::string padding(80, '.');
  for (int id = 1; id <= kRows; ++id) {
    ASSERT_TRUE(loader.Start("big")) << loader.Message();
    ASSERT_TRUE(loader.bridge().AddFieldData("id", id));
    ASSERT_TRUE(loader.bridge().AddFieldData("label", ("row " + std::to_string(id) + padding).c_str()));
    ASSERT_TRUE(loader.bridge().AddCurRow()) << loader.Message();
  }

  bool wrote = true;
  {
    RawPg gatekeeper(server.uri());
    RawPg observer(server.uri());
    gatekeeper.Exec("BEGIN; SELECT FROM gate FOR UPDATE");
    std::thread writer = FlushOnThread(loader, wrote);
    const bool atTheGate = WaitFor([&] { return WaitingForLocks(observer, application) == 1; });
    const bool crashed = server.Crash();
    writer.join();
    ASSERT_TRUE(atTheGate) << "the write never reached the gate";
    ASSERT_TRUE(crashed);
  }
  EXPECT_FALSE(wrote);
  const std::string prefix = "could not write table 'big': ";
  const std::string message = loader.Message();
  ASSERT_EQ(message.rfind(prefix, 0), 0u) << message;
  ASSERT_TRUE(Contains(message, kRerunTransaction)) << message;
  const std::string reason = message.substr(prefix.size(), message.find(kRerunTransaction) - prefix.size());
  EXPECT_GT(reason.size(), 3u) << "no reason given: " << message;
  EXPECT_FALSE(Contains(reason, "the server gave no reason")) << message;
  EXPECT_EQ(loader.written, 0);

  // Still down: the rerun cannot connect, and says so the same way.
  EXPECT_FALSE(loader.Flush());
  EXPECT_TRUE(Contains(loader.Message(), kRerunTransaction)) << loader.Message();
  EXPECT_EQ(loader.written, 0);

  ASSERT_TRUE(server.Recover());
  RawPg check(server.uri());
  EXPECT_EQ(check.Query("SELECT count(*) FROM big"), "0") << "the interrupted write left rows behind";
  ASSERT_TRUE(loader.Flush()) << loader.Message();
  EXPECT_EQ(loader.written, kRows);
  EXPECT_EQ(check.Query("SELECT count(*), count(DISTINCT id), min(id), max(id), "
                        "count(*) FILTER (WHERE label <> 'row ' || id || repeat('.', 80)) FROM big"),
            std::to_string(kRows) + "|" + std::to_string(kRows) + "|1|" + std::to_string(kRows) + "|0");
}

}  // namespace
}  // namespace Tessel::Testing
