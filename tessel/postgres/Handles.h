// Owners for libpq's C handles, and the transaction guard.
//
// ConnHandle finishes its connection and ResultHandle clears its result when
// they go; neither can be copied.
//
// Transaction brackets a unit of work on one connection: Begin, then
// SendCommit and AwaitCommit (two steps, so that the caller can still act
// between sending COMMIT and reading its answer; Commit.h); if COMMIT is never
// sent, the destructor rolls back. Nothing in this header throws.
#pragma once

#include <libpq-fe.h>

#include <memory>

namespace Tessel::Postgres {

struct FinishConn {
  void operator()(PGconn* conn) const noexcept { PQfinish(conn); }
};
struct ClearResult {
  void operator()(PGresult* result) const noexcept { PQclear(result); }
};

using ConnHandle = std::unique_ptr<PGconn, FinishConn>;
using ResultHandle = std::unique_ptr<PGresult, ClearResult>;

// Reads and drops every result still pending on the connection, so that the
// next command can be sent (libpq refuses a new command while one is busy).
inline void DrainResults(PGconn* conn) noexcept {
  while (PGresult* result = PQgetResult(conn)) {
    const ExecStatusType status = PQresultStatus(result);
    PQclear(result);
    // A COPY that is still open must be ended before anything else; ending it
    // with an error message makes the server abandon it.
    if (status == PGRES_COPY_IN) {
      if (PQputCopyEnd(conn, "abandoned by the client") < 0) return;
    } else if (status == PGRES_COPY_OUT || status == PGRES_COPY_BOTH) {
      return;  // never started by this backend; leave the connection to be reset
    }
  }
}

// The scope of one transaction. Not copyable.
class Transaction {
 public:
  explicit Transaction(PGconn* conn) noexcept : conn_(conn) {}
  ~Transaction() { Rollback(); }
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;

  // Starts the transaction; the result is the server's answer (check it with
  // PQresultStatus == PGRES_COMMAND_OK), or null when the connection failed.
  ResultHandle Begin() noexcept {
    ResultHandle result(PQexec(conn_, "BEGIN"));
    active_ = result && PQresultStatus(result.get()) == PGRES_COMMAND_OK;
    return result;
  }

  // Sends COMMIT without waiting for its answer. Once it is sent the outcome
  // is the server's, and the guard no longer rolls back (nor touches the
  // connection at all): the connection may be closed before the guard goes.
  // False when it could not be sent; if the connection is still good then,
  // the COMMIT never left and the transaction is still the guard's to roll
  // back; otherwise it may have left, and the outcome is the server's.
  bool SendCommit() noexcept {
    const bool sent = PQsendQuery(conn_, "COMMIT") == 1;
    active_ = !sent && PQstatus(conn_) == CONNECTION_OK;
    return sent;
  }

  // The answer to a COMMIT sent with SendCommit; check it as for Begin. A
  // COMMIT that failed with an answer has ended the transaction on the server
  // (it rolls back), so nothing is left to undo. A null result, or a
  // connection no longer CONNECTION_OK, means the answer was lost: the server
  // may have committed or not. An error is kept over anything that follows
  // it (a lost connection adds its own).
  ResultHandle AwaitCommit() noexcept {
    ResultHandle answer;
    while (PGresult* result = PQgetResult(conn_)) {
      const bool failed = PQresultStatus(result) != PGRES_COMMAND_OK;
      if (!answer || (failed && PQresultStatus(answer.get()) == PGRES_COMMAND_OK)) {
        answer.reset(result);
      } else {
        PQclear(result);
      }
    }
    return answer;
  }

  // Rolls back when the transaction is still open. A connection that is gone
  // has no transaction left to undo. Never fails.
  void Rollback() noexcept {
    if (!active_) return;
    active_ = false;
    if (PQstatus(conn_) != CONNECTION_OK) return;
    DrainResults(conn_);
    if (PQtransactionStatus(conn_) == PQTRANS_IDLE) return;
    PQclear(PQexec(conn_, "ROLLBACK"));
  }

 private:
  PGconn* conn_;
  bool active_ = false;
};

}  // namespace Tessel::Postgres
