// The connection to the server is cut right after a write has sent COMMIT,
// and the write is seen the way a native caller sees it, on both roads (rows
// staged field by field, and a queue of records). Whatever the server then
// did with the COMMIT must be what the caller hears: written when it
// committed, asked to rerun when it rolled back, and told that nobody knows
// (with the transaction named) when nobody can find out. A rerun must never
// be asked for when the rows may be in the table already.
//
// The cut comes from the writer's own thread, through the fault hook the
// writer calls between sending COMMIT and reading its answer. Where the
// server must still be busy with the COMMIT when the writer asks about it, a
// deferred constraint trigger holds the COMMIT at a gate row the test holds.
#include <sys/socket.h>

#include <chrono>
#include <filesystem>
#include <initializer_list>
#include <optional>
#include <ostream>
#include <regex>
#include <string>
#include <thread>
#include <tuple>
#include <utility>

#include "PgTestServer.h"
#include "TesselWrapper/Errors.h"
#include "TesselWrapper/IConnectWrapper.h"
#include "TesselWrapper/component/DbConnect.h"
#include "support/BridgeHandle.h"
#include "support/Contains.h"
#include "support/RecordQueue.h"
#include "tessel/NameLookup.h"
#include "tessel/postgres/Commit.h"

namespace Tessel::Testing {
namespace {

using namespace std::chrono_literals;

std::size_t OpenFileDescriptors() {
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) ++count;
  return count;
}

// Asks `query` every 20 ms until it answers `expected`, for at most 20 s.
bool Answers(RawPg& pg, const std::string& query, const std::string& expected) {
  const auto end = std::chrono::steady_clock::now() + 20s;
  while (pg.Query(query) != expected) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(20ms);
  }
  return true;
}

enum class Road { Staging, Queue };

// A native caller writing rows (id, "row <id>") of table `cases` on one road.
class Caller {
 public:
  Caller(const std::string& uri, const std::string& tableSet, Road road)
      : bridge_(IConnectWrapper::CreateInstance()), road_(road) {
    bridge_->LoadObject(uri, tableSet);
  }
  Caller(const Caller&) = delete;
  Caller& operator=(const Caller&) = delete;

  IConnectWrapper& bridge() { return *bridge_; }
  std::string Message() { return bridge_->GetMessage(); }

  void Stage(std::initializer_list<int> ids) {
    for (int id : ids) {
      const std::string note = "row " + std::to_string(id);
      if (road_ == Road::Queue) {
        SqlRow* record = queue.Add();
        record->AddLongField("id", id);
        record->AddTextField("note", note.c_str());
        continue;
      }
      ASSERT_TRUE(bridge_->StartNewRow("cases", &stored_, &written, &time_)) << Message();
      ASSERT_TRUE(bridge_->AddFieldData("id", id));
      ASSERT_TRUE(bridge_->AddFieldData("note", note.c_str()));
      ASSERT_TRUE(bridge_->AddCurRow()) << Message();
    }
  }

  // Staging: moves on to the empty name, which writes the current table.
  bool Write() {
    if (road_ == Road::Queue) return bridge_->BulkToTable("cases", &queue.records, &time_);
    return bridge_->StartNewRow("", &stored_, &written, &time_);
  }

  RecordQueue queue;
  int written = 0;

 private:
  BridgeHandle bridge_;
  Road road_;
  int stored_ = 0;
  long time_ = 0;
};

// What the server does once COMMIT reaches it: a deferred trigger holds the
// COMMIT, so that the server cannot answer before the cut, however fast it is.
enum class AtCommit {
  SleepsFirst,  // sleeps 0.3 s, then commits: the first status checks find it in progress
  WaitsAtGate,  // waits for the gate row, which the test holds until it lets it go
};

// How the hook cuts the writer off, right after COMMIT has been sent.
enum class Cut {
  Socket,              // shuts the socket down: the COMMIT still reaches the server
  SocketThenOpenGate,  // the same, then opens the gate and waits until the server process
                       // has ended: the COMMIT is done before anyone asks
  SocketAndLogins,     // the same as Socket, and the writer's role may no longer log in
  TerminateAtGate,     // ends the server process while its COMMIT waits at the gate
};

enum class Verdict { Written, Rerun, Unknown };

struct Case {
  const char* name;
  AtCommit atCommit;
  const char* lockTimeout;  // the writer's lock_timeout
  Cut cut;
  Verdict verdict;
};

const Case kCases[] = {
    {"CommittedBeforeAsked", AtCommit::WaitsAtGate, "60s", Cut::SocketThenOpenGate, Verdict::Written},
    {"StillCommittingWhenFirstAsked", AtCommit::SleepsFirst, "60s", Cut::Socket, Verdict::Written},
    {"ServerProcessEndedDuringCommit", AtCommit::WaitsAtGate, "60s", Cut::TerminateAtGate, Verdict::Rerun},
    {"CommitTimedOutAfterTheCut", AtCommit::WaitsAtGate, "300ms", Cut::Socket, Verdict::Rerun},
    {"NoNewConnectionToAsk", AtCommit::WaitsAtGate, "60s", Cut::SocketAndLogins, Verdict::Unknown},
    {"StillWaitingAfterTheLastCheck", AtCommit::WaitsAtGate, "60s", Cut::Socket, Verdict::Unknown},
};

void PrintTo(const Case& fault, std::ostream* out) { *out << fault.name; }
void PrintTo(Road road, std::ostream* out) { *out << (road == Road::Staging ? "staged" : "queued"); }

class LostCommit : public PgTest, public ::testing::WithParamInterface<std::tuple<Case, Road>> {
 protected:
  void TearDown() override {
    Postgres::CommitFaults().afterCommitSent = nullptr;
    PgTest::TearDown();
  }

  // The rows of `cases` as "id|copies", in id order.
  std::string Copies() { return raw().Query("SELECT id, count(*) FROM cases GROUP BY id ORDER BY id"); }
};

// The writer's role for the case whose new logins are refused: a login role
// of the test's own, dropped at the end.
class LoginRole {
 public:
  LoginRole(RawPg& admin, const std::string& name, const std::string& schema) : admin_(admin), name_(name) {
    admin_.Exec("CREATE ROLE " + QuoteIdentifier(name_) + " LOGIN; GRANT USAGE, CREATE ON SCHEMA " +
                QuoteIdentifier(schema) + " TO " + QuoteIdentifier(name_) +
                "; GRANT ALL ON ALL TABLES IN SCHEMA " + QuoteIdentifier(schema) + " TO " +
                QuoteIdentifier(name_));
  }
  ~LoginRole() {
    admin_.Exec("DROP OWNED BY " + QuoteIdentifier(name_) + "; DROP ROLE " + QuoteIdentifier(name_));
  }
  void AllowLogins(bool allow) {
    admin_.Exec("ALTER ROLE " + QuoteIdentifier(name_) + (allow ? " LOGIN" : " NOLOGIN"));
  }

 private:
  RawPg& admin_;
  std::string name_;
};

TEST_P(LostCommit, CallerHearsWhatTheServerDidWithTheCommit) {
  const auto& [fault, road] = GetParam();
  // No key: a table written twice shows every row twice.
  raw().Exec(
      "CREATE TABLE cases (id int NOT NULL, note text NOT NULL);"
      "CREATE TABLE gate (open bool); INSERT INTO gate VALUES (true);"
      "CREATE FUNCTION at_commit() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN " +
      std::string(fault.atCommit == AtCommit::SleepsFirst ? "PERFORM pg_catalog.pg_sleep(0.3);"
                                                          : "PERFORM 1 FROM gate FOR SHARE;") +
      " RETURN NULL; END $$;"
      "CREATE CONSTRAINT TRIGGER at_commit AFTER INSERT ON cases DEFERRABLE INITIALLY DEFERRED "
      "FOR EACH ROW WHEN (NEW.id = 1) EXECUTE FUNCTION at_commit()");
  RawPg gatekeeper(schema().uri(), schema().name());
  bool gateHeld = fault.atCommit == AtCommit::WaitsAtGate;
  if (gateHeld) gatekeeper.Exec("BEGIN; SELECT FROM gate FOR UPDATE");
  const auto openGate = [&] {
    if (std::exchange(gateHeld, false)) gatekeeper.Exec("ROLLBACK");
  };
  const auto writerEnded = [&](int pid) {
    return Answers(raw(), "SELECT count(*) FROM pg_stat_activity WHERE pid = " + std::to_string(pid), "0");
  };

  const std::string uri =
      WithUriParameter(schema().uri(), "options", std::string("-c lock_timeout=") + fault.lockTimeout);
  std::optional<LoginRole> role;
  if (fault.cut == Cut::SocketAndLogins) {
    role.emplace(raw(), schema().name(), schema().name());
  }
  Caller caller(role ? WithUriParameter(uri, "user", schema().name()) : uri, schema().name(), road);
  ASSERT_TRUE(caller.bridge().Test()) << caller.Message();  // the writer's connection is open from here
  caller.Stage({1, 2, 3});
  if (HasFatalFailure()) return;
  const std::size_t descriptors = OpenFileDescriptors();

  int writerPid = 0;
  Postgres::CommitFaults().afterCommitSent = [&](PGconn* conn) {
    if (writerPid != 0) return;  // the first COMMIT only
    writerPid = PQbackendPID(conn);
    const std::string pid = std::to_string(writerPid);
    switch (fault.cut) {
      case Cut::Socket:
        ::shutdown(PQsocket(conn), SHUT_RDWR);
        break;
      case Cut::SocketThenOpenGate:
        ::shutdown(PQsocket(conn), SHUT_RDWR);
        openGate();
        EXPECT_TRUE(writerEnded(writerPid)) << "the server process never ended";
        break;
      case Cut::SocketAndLogins:
        ::shutdown(PQsocket(conn), SHUT_RDWR);
        role->AllowLogins(false);
        break;
      case Cut::TerminateAtGate:
        EXPECT_TRUE(Answers(
            raw(), "SELECT count(*) FROM pg_stat_activity WHERE wait_event_type = 'Lock' AND pid = " + pid,
            "1"))
            << "the COMMIT never waited at the gate";
        EXPECT_EQ(raw().Query("SELECT pg_terminate_backend(" + pid + ", 10000)"), "t");
        break;
    }
  };
  bool wrote = false;
  std::string thrown;
  try {
    wrote = caller.Write();
  } catch (const Error& e) {
    thrown = e.what();
  }
  const std::string message = caller.Message();
  // Moving on to the next table asks the server too: on the staging road a
  // server that takes no new connection fails that step, which joins the
  // verdict on the write in the message rather than hiding it.
  EXPECT_EQ(thrown, "");
  if (road == Road::Staging && fault.cut == Cut::SocketAndLogins)
    EXPECT_TRUE(Contains(message, "not permitted to log in")) << message;
  ASSERT_NE(writerPid, 0) << "the hook never ran: " << message;

  // Whatever the writer was told, the old server process now finishes: the
  // gate opens, and the test waits until that process is gone.
  openGate();
  ASSERT_TRUE(writerEnded(writerPid)) << "the server process never ended";

  switch (fault.verdict) {
    case Verdict::Written:
      EXPECT_TRUE(wrote) << message;
      EXPECT_EQ(message, "3 rows written to table 'cases'");
      if (road == Road::Staging) {
        EXPECT_EQ(caller.written, 3);
      }
      EXPECT_TRUE(caller.queue.records.empty());
      EXPECT_EQ(Copies(), "1|1\n2|1\n3|1");
      break;
    case Verdict::Rerun:
      EXPECT_FALSE(wrote);
      EXPECT_TRUE(Contains(message, kRerunTransaction)) << message;
      EXPECT_TRUE(Contains(message, "Nothing of the table was written")) << message;
      EXPECT_EQ(Copies(), "");
      // The rows are still the caller's: the rerun writes each of them once.
      ASSERT_TRUE(caller.Write()) << caller.Message();
      if (road == Road::Staging) {
        EXPECT_EQ(caller.written, 3);
      }
      EXPECT_EQ(Copies(), "1|1\n2|1\n3|1");
      break;
    case Verdict::Unknown: {
      EXPECT_FALSE(wrote);
      EXPECT_TRUE(Contains(message, "unknown")) << message;
      EXPECT_FALSE(Contains(message, kRerunTransaction)) << message;
      EXPECT_FALSE(Contains(message, kSchemaChange)) << message;
      std::smatch id;
      ASSERT_TRUE(std::regex_search(message, id, std::regex("transaction ([0-9]+)"))) << message;
      // The id named is the write's own: the server committed it in the end,
      // and it wrote exactly the three rows (a row's xmin is the 32-bit form).
      EXPECT_EQ(raw().Query("SELECT pg_catalog.txid_status(" + id[1].str() + ")"), "committed");
      EXPECT_EQ(
          raw().Query("SELECT count(*) FROM cases WHERE xmin::text::int8 = " + id[1].str() + " % 4294967296"),
          "3");
      EXPECT_EQ(Copies(), "1|1\n2|1\n3|1");
      // The caller looked, and found its rows written.
      while (!caller.queue.records.empty()) caller.queue.DropFront();
      if (role) role->AllowLogins(true);
      break;
    }
  }

  // The same bridge writes on: its session has opened a new connection (or
  // opens one now), and the one cut off has been let go.
  caller.Stage({4});
  ASSERT_TRUE(caller.Write()) << caller.Message();
  EXPECT_EQ(Copies(), "1|1\n2|1\n3|1\n4|1");
  EXPECT_EQ(OpenFileDescriptors(), descriptors) << "a file descriptor was left open, or one too many closed";
}

std::string CaseName(const ::testing::TestParamInfo<LostCommit::ParamType>& info) {
  return std::string(std::get<0>(info.param).name) +
         (std::get<1>(info.param) == Road::Staging ? "_Staged" : "_Queued");
}

INSTANTIATE_TEST_SUITE_P(Faults, LostCommit,
                         ::testing::Combine(::testing::ValuesIn(kCases),
                                            ::testing::Values(Road::Staging, Road::Queue)),
                         CaseName);

}  // namespace
}  // namespace Tessel::Testing
