// Committing a write, and learning what became of it when the answer to
// COMMIT never arrives.
//
// A connection lost while COMMIT is in flight leaves the outcome with the
// server: it may have committed before the connection went, or not. Telling
// the caller to rerun would write the rows twice in the first case; calling
// the write a success would lose them in the second. So the transaction's id
// is read before COMMIT (ReadTransactionId), and after a lost answer
// CommitWrite closes that connection, opens a new one through the session
// and asks the server what became of the transaction (txid_status):
//   committed    the write succeeded, as if the answer had arrived
//   aborted      nothing was written: a failure of category Connection, so
//                that the caller reruns
//   in progress  the old server process has not finished with the COMMIT
//                (or has not yet noticed that its client is gone): asked
//                again, 9 times in all, with pauses that start at 50 ms and
//                double up to 1 s (about 4.5 s in all)
//   otherwise    no status kept any more (a transaction too old), still in
//                progress after the last check, or the server not reachable
//                or not answering: a failure with outcomeUnknown set (category
//                OutcomeUnknown), whose text names the transaction id so that
//                the caller can look at the table before writing again
// The text of every such failure says that the connection was lost during
// COMMIT of transaction <id>; its detail keeps libpq's or the server's word
// on how the connection ended.
#pragma once

#include <libpq-fe.h>

#include <functional>
#include <optional>
#include <string>

#include "tessel/postgres/Errors.h"
#include "tessel/postgres/Handles.h"
#include "tessel/postgres/Session.h"

namespace Tessel::Postgres {

// Points at which tests provoke faults that nothing outside the process can
// cause at the right moment. The library never sets them; a test sets them
// while no write is under way and clears them when done. A hook must not
// throw.
struct CommitFaultHooks {
  // Called on the writing thread with the writer's connection, right after
  // COMMIT has been sent and before its answer is read: e.g. to cut the
  // connection (shutdown of PQsocket) while the server still receives the
  // COMMIT, or to end the server process from another connection.
  std::function<void(PGconn*)> afterCommitSent;
};
CommitFaultHooks& CommitFaults() noexcept;

// Reads the id of the transaction open on `conn` (assigning one if it has
// none yet) into `id`, in its decimal text form; or gives the failure.
std::optional<Failure> ReadTransactionId(PGconn* conn, std::string& id);

// Commits `transaction`, open on `conn` (the session's connection) and known
// to the server as `transactionId`. Returns nothing once the server has
// committed, and the failure otherwise: the server's own answer when it gave
// one on a connection still good, else the outcome learnt as above. After a
// lost answer the session's old connection is closed (the file descriptor
// and libpq's state with it) and the session holds the new one, or none when
// it could not be made; `transaction` then no longer touches `conn`.
std::optional<Failure> CommitWrite(Session& session, PGconn* conn, Transaction& transaction,
                                   const std::string& transactionId);

}  // namespace Tessel::Postgres
