#include "tessel/postgres/Commit.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "TesselWrapper/Errors.h"
#include "data/Quoted.h"

namespace Tessel::Postgres {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// How often, and how patiently, the server is asked about a transaction it
// still has in progress: long enough for a COMMIT that arrived to finish, short
// enough that a caller is not kept waiting by a server process that will
// never hear of it.
constexpr int kStatusChecks = 9;
constexpr std::chrono::milliseconds kFirstPause = 50ms;
constexpr std::chrono::milliseconds kLongestPause = 1000ms;

// What a status check learnt; `reason` says why the outcome stays unknown.
enum class Status { Committed, Aborted, InProgress, Unknown };
struct Check {
  Status status = Status::Unknown;
  std::string reason;
};

Check AskStatus(Session& session, const std::string& transactionId) {
  try {
    ResultHandle result =
        session.ExecParams("SELECT pg_catalog.txid_status($1::pg_catalog.int8)", {transactionId.c_str()},
                           "asking for the status of transaction " + transactionId);
    if (PQntuples(result.get()) != 1 || PQgetisnull(result.get(), 0, 0))
      return {Status::Unknown, "the server no longer knows whether it committed (its status is too old)"};
    const char* status = PQgetvalue(result.get(), 0, 0);
    if (std::strcmp(status, "committed") == 0) return {Status::Committed, {}};
    if (std::strcmp(status, "aborted") == 0) return {Status::Aborted, {}};
    if (std::strcmp(status, "in progress") == 0) return {Status::InProgress, {}};
    return {Status::Unknown, "the server gave the status " + Quoted(status)};
  } catch (const QueryError& e) {
    // Its own text only: what() would add the retry sentence of a lost
    // connection, which an unknown outcome must never carry.
    session.DropIfBroken();
    return {Status::Unknown,
            "the server could not be asked whether it committed: " + DescribeError(e.Failure())};
  } catch (const Error& e) {
    return {Status::Unknown, std::string("the server could not be asked whether it committed: ") + e.what()};
  }
}

Failure AfterLostCommit(const std::string& transactionId, const std::string& outcome, const Failure& cause) {
  Failure failure;
  failure.text = "the connection was lost while COMMIT of transaction " + transactionId +
                 " was in flight, and " + outcome;
  failure.detail = "The connection ended with: " + DescribeError(cause);
  return failure;
}

// Tenths of a second, with "." whatever the process locale.
std::string Seconds(Clock::duration elapsed) {
  const auto tenths = std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count() / 100;
  return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10);
}

std::optional<Failure> ResolveLostCommit(Session& session, const std::string& transactionId,
                                         const Failure& cause) {
  // The connection whose answer went missing is not trusted with anything
  // more, even should libpq still call it good.
  session.Close();
  const auto start = Clock::now();
  std::chrono::milliseconds pause = kFirstPause;
  for (int check = 1;; ++check) {
    const Check answer = AskStatus(session, transactionId);
    switch (answer.status) {
      case Status::Committed:
        return std::nullopt;
      case Status::Aborted: {
        Failure failure = AfterLostCommit(transactionId, "the server rolled it back", cause);
        failure.connectionLost = true;  // nothing was written: a rerun is safe
        return failure;
      }
      case Status::InProgress:
        if (check < kStatusChecks) {
          std::this_thread::sleep_for(pause);
          pause = std::min(pause * 2, kLongestPause);
          continue;
        }
        {
          Failure failure =
              AfterLostCommit(transactionId,
                              "the server still had it in progress after " + std::to_string(check) +
                                  " checks over " + Seconds(Clock::now() - start) + " seconds",
                              cause);
          failure.outcomeUnknown = true;
          return failure;
        }
      case Status::Unknown: {
        Failure failure = AfterLostCommit(transactionId, answer.reason, cause);
        failure.outcomeUnknown = true;
        return failure;
      }
    }
  }
}

}  // namespace

CommitFaultHooks& CommitFaults() noexcept {
  static CommitFaultHooks hooks;
  return hooks;
}

std::optional<Failure> ReadTransactionId(PGconn* conn, std::string& id) {
  ResultHandle result(PQexec(conn, "SELECT pg_catalog.txid_current()"));
  if (!result || PQresultStatus(result.get()) != PGRES_TUPLES_OK || PQntuples(result.get()) != 1)
    return FailureOf(conn, result.get());
  id = PQgetvalue(result.get(), 0, 0);
  return std::nullopt;
}

std::optional<Failure> CommitWrite(Session& session, PGconn* conn, Transaction& transaction,
                                   const std::string& transactionId) {
  ResultHandle answer;
  const bool sent = transaction.SendCommit();
  if (sent) {
    if (const auto& hook = CommitFaults().afterCommitSent) hook(conn);
    answer = transaction.AwaitCommit();
  }
  if (answer && PQresultStatus(answer.get()) == PGRES_COMMAND_OK) return std::nullopt;
  Failure failure = FailureOf(conn, answer.get());
  // On a connection that is still good, either the server answered (a
  // COMMIT that failed has rolled back) or the COMMIT never left, and the
  // caller's guard rolls back.
  if (PQstatus(conn) == CONNECTION_OK && (answer || !sent)) return failure;
  return ResolveLostCommit(session, transactionId, failure);
}

}  // namespace Tessel::Postgres
