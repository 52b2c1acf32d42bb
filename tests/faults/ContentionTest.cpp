// Four writers, each a thread with a bridge of its own, write batches into
// one table of one database at the same time, with lock waits cut short
// (SQLite busy_timeout=20 ms, PostgreSQL lock_timeout=50 ms) so that writes
// often fail asking for a rerun. Each writer reruns the way the interface
// tells a caller to: the same call again on "Rerun the transaction" (the
// staged table and the queue are kept for it), and again on a thrown
// DatabaseError of category Rerun. Reruns used to write rows twice; at the
// end every writer's rows must be there exactly once, and the rows the
// writes reported must add up to the rows in the table.
//
// The writers start each batch together, while the test's own connection
// holds the table's write lock until a writer has been told to rerun, so
// every batch meets a lock it cannot wait out, and then the other writers. On
// PostgreSQL, where inserts into one table do not wait for each other, a
// statement trigger also updates one shared row, so that the writers queue
// for it; its count shows that no rolled-back attempt left a trace.
//
// Under ThreadSanitizer (the `tsan` preset) this is also the test of the
// rule that separate bridges may be used from separate threads.
#include <atomic>
#include <barrier>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "EndToEndTest.h"
#include "RoadWriter.h"
#include "support/BridgeHandle.h"
#ifdef TESSEL_E2E_POSTGRES
#include "PgTestServer.h"
#endif

namespace Tessel::Faults {
namespace {

using EndToEnd::Backend;
using EndToEnd::BackendName;
using EndToEnd::BuiltBackends;

constexpr int kWriters = 4;
constexpr int kBatches = 8;
constexpr int kBatchRows = 5000;
constexpr int kRowsPerWriter = kBatches * kBatchRows;
constexpr int kMaxAttempts = 500;  // per batch; a write that never gets through fails the test
// How long the test's own lock is held at most in each round: it is let go
// as soon as one writer has been told to rerun (a slow build converts its
// records for longer than the time-outs).
constexpr auto kLockHeldAtMost = std::chrono::seconds(2);

struct WriterResult {
  long long reported = 0;  // rows the writes reported written
  int reruns = 0;          // writes asked to be rerun (returned false)
  int thrownReruns = 0;    // DatabaseErrors of category Rerun, on choosing a table or writing
  std::string failure;
};

class Contention : public EndToEnd::EndToEndTest {
 protected:
  std::string ShortWaitConnect() {
    if (GetParam() == Backend::Sqlite) return db().ConnectionString() + "?busy_timeout=20";
#ifdef TESSEL_E2E_POSTGRES
    return Testing::WithUriParameter(db().ConnectionString(), "options", "-c lock_timeout=50");
#else
    return {};
#endif
  }

  // One writer's batches, each written until it goes through.
  static void Write(int w, Road road, const std::string& table, const std::string& connect,
                    const std::string& tableSet, std::barrier<>& start, std::atomic<int>& rerunsSeen,
                    WriterResult& result) {
    // Leaves the barrier's count for good, however the writer ends.
    struct Leave {
      std::barrier<>& start;
      ~Leave() { start.arrive_and_drop(); }
    } leave{start};
    try {
      Testing::BridgeHandle bridge = Testing::NewBridge();
      bridge->LoadObject(connect, tableSet);
      for (int b = 0; b < kBatches; ++b) {
        const int first = w * kRowsPerWriter + b * kBatchRows + 1;
        RoadWriter writer(*bridge, road, table);
        writer.Prepare(first, kBatchRows, 16, w);
        start.arrive_and_wait();  // every writer prepared: the lock is taken
        start.arrive_and_wait();  // the lock is held: go
        result.thrownReruns += writer.reruns;
        rerunsSeen += writer.reruns;
        for (int attempt = 0;; ++attempt) {
          if (attempt == kMaxAttempts) {
            result.failure = "batch " + std::to_string(b) + " never got through: " + writer.Message();
            return;
          }
          try {
            const bool written = writer.Write();
            result.reported += writer.written;
            if (written) break;
            if (!AsksForRerun(writer.Message())) {
              result.failure = "batch " + std::to_string(b) + " refused: " + writer.Message();
              return;
            }
            ++result.reruns;
            ++rerunsSeen;
          } catch (const DatabaseError& e) {
            // On the staging road the table was written (or dropped) before
            // the error; its count came with it, and the next attempt finds
            // nothing staged.
            result.reported += writer.written;
            if (e.Category() != ErrorCategory::Rerun) throw;
            ++result.thrownReruns;
            ++rerunsSeen;
          }
        }
      }
    } catch (const std::exception& e) {
      result.failure = e.what();
    }
  }
};

TEST_P(Contention, FourWritersRerunningUntilWrittenLeaveEveryRowOnce) {
  const bool postgres = GetParam() == Backend::Postgres;
  for (Road road : {Road::Staging, Road::Queued}) {
    SCOPED_TRACE(RoadName(road));
    const std::string table = std::string("contended_") + RoadName(road);
    db().Exec("CREATE TABLE " + table + " (id {int} NOT NULL, writer {int} NOT NULL, x {real}, note {text})");
    if (postgres) {
      db().Exec("CREATE TABLE " + table + "_writes (n int NOT NULL); INSERT INTO " + table +
                "_writes VALUES (0);"
                "CREATE FUNCTION " +
                table +
                "_hold() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN "
                "  UPDATE " +
                table +
                "_writes SET n = n + 1; RETURN NULL; END $$;"
                "CREATE TRIGGER hold BEFORE INSERT ON " +
                table + " FOR EACH STATEMENT EXECUTE FUNCTION " + table + "_hold()");
    }

    const std::string connect = ShortWaitConnect();
    const std::string tableSet = db().TableSet();
    std::vector<WriterResult> results(kWriters);
    std::barrier<> start(kWriters + 1);  // the writers and this thread, which holds the lock
    std::atomic<int> rerunsSeen{0};
    std::vector<std::thread> threads;
    for (int w = 0; w < kWriters; ++w)
      threads.emplace_back(
          [&, w] { Write(w, road, table, connect, tableSet, start, rerunsSeen, results[w]); });
    for (int b = 0; b < kBatches; ++b) {
      // Taken only while the writers wait at the barrier, never while they
      // still write: they could not finish, and this thread would wait for
      // them for ever.
      start.arrive_and_wait();
      std::unique_ptr<EndToEnd::LockHolder> lock = db().HoldWriteLock(table);
      start.arrive_and_wait();
      const int seen = rerunsSeen;
      const auto until = std::chrono::steady_clock::now() + kLockHeldAtMost;
      while (rerunsSeen == seen && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      lock->Release();
    }
    for (std::thread& thread : threads) thread.join();

    long long reported = 0;
    int reruns = 0, thrownReruns = 0;
    for (int w = 0; w < kWriters; ++w) {
      EXPECT_EQ(results[w].failure, "") << "writer " << w;
      reported += results[w].reported;
      reruns += results[w].reruns;
      thrownReruns += results[w].thrownReruns;
      EXPECT_EQ(db().Query(RowsCheckSql(table, "writer = " + std::to_string(w))),
                RowsCheckExpected(w * kRowsPerWriter + 1, kRowsPerWriter))
          << "writer " << w << ": rows, distinct ids, min, max, rows with wrong content";
    }
    EXPECT_EQ(db().Query(RowsCheckSql(table)), RowsCheckExpected(1, kWriters * kRowsPerWriter));
    EXPECT_EQ(std::to_string(reported), db().Query("SELECT count(*) FROM " + table))
        << "the rows the writes reported differ from the rows in the table";
    if (postgres) {
      EXPECT_EQ(db().Query("SELECT n FROM " + table + "_writes"), std::to_string(kWriters * kBatches))
          << "an attempt that was rolled back left its trigger's work behind";
    }
    std::printf("%s road: %d writes asked for a rerun, %d reruns after a thrown Rerun error, %d batches\n",
                RoadName(road), reruns, thrownReruns, kWriters * kBatches);
    EXPECT_GT(reruns + thrownReruns, 0) << "no write was ever asked to be rerun: the test tested nothing";
  }
}

TESSEL_E2E_INSTANTIATE(Contention);

}  // namespace
}  // namespace Tessel::Faults
