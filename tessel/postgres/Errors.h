// How PostgreSQL failures become this library's errors and messages. Every
// failure the backend reports passes through here, so that the wording, the
// SQLSTATE and the choice of the retry texts live in one place.
//
// Messages carry the server's own text (its primary message, then its detail)
// followed by the SQLSTATE, e.g. `duplicate key value violates unique
// constraint "cases_pkey" (SQLSTATE 23505). Key (id)=(1) already exists.`
// The sentences that follow ("Rerun the transaction", "schema change") come
// from the failure's category (CategoryOf, tessel/FailureText.h).
#pragma once

#include <libpq-fe.h>

#include <string>
#include <string_view>

#include "TesselWrapper/Errors.h"
#include "tessel/FailureText.h"

namespace Tessel::Postgres {

// One failure as the server or libpq reported it.
struct Failure {
  std::string text;      // the server's primary message, or libpq's own
  std::string detail;    // the server's detail, often empty
  std::string sqlState;  // five characters; empty when no server answered
  bool connectionLost = false;
  bool shapeChanged = false;    // the catalogue no longer matches the caller's table
  bool outcomeUnknown = false;  // a commit whose result nobody could learn
};

// The failure that `result` reports on `conn`; with a null result (libpq
// could not even send the command), the connection's own error.
Failure FailureOf(PGconn* conn, const PGresult* result);

// A failure found on the client side, such as a catalogue mismatch.
Failure ClientFailure(std::string text, bool shapeChanged = false);

// What a failure means for the caller's rows; the one place where SQLSTATEs
// are sorted:
//   SchemaChange  a mismatch found in the catalogue; undefined table (42P01)
//                 or column (42703), a type mismatch (42804, and a binary
//                 value the column no longer reads, 22P03), a missing schema
//                 (3F000), an object that is no longer a table (42809)
//   Rerun         deadlock (40P01), serialization failure (40001), lock not
//                 available (55P03), a cancelled statement (57014, as a
//                 statement time-out cancels), insufficient resources such as
//                 a full disk or too many connections (class 53), a
//                 shut-down or starting server (57P01-57P03), a read-only
//                 transaction on a standby (25006): nothing was written and
//                 the same work may succeed later
//   Connection    the connection was lost, or could not be made (class 08):
//                 before COMMIT that means nothing was written
//   OutcomeUnknown  the server could not say whether a commit happened
//                 (40003; the writer's own check after a lost COMMIT)
//   Refused       integrity rules (class 23), values the column refuses
//                 (class 22), an error raised by a trigger or routine (P0001)
//   Other         everything else
ErrorCategory CategoryOf(const Failure& failure) noexcept;

// "<text> (SQLSTATE xxxxx)", or just the text when there is no SQLSTATE.
std::string DescribeError(const Failure& failure);

// DescribeError with the category's sentence (tessel/FailureText.h).
std::string DescribeFailure(const Failure& failure);

// The failure of a write, as every backend reports one: its category and
// DescribeError.
WriteFailure WriteFailureOf(const Failure& failure);

// The DatabaseError this backend throws: "<context>: <DescribeFailure>" with
// the failure's category and SQLSTATE (native code 0). It keeps the Failure, so that the operations that
// report failures in Message() rather than throwing can classify it.
class QueryError : public DatabaseError {
 public:
  QueryError(const Failure& failure, std::string_view context);
  const Postgres::Failure& Failure() const noexcept { return failure_; }

 private:
  Postgres::Failure failure_;
};

[[noreturn]] void ThrowDatabaseError(const Failure& failure, std::string_view context);

}  // namespace Tessel::Postgres
