// How PostgreSQL failures become this library's errors and messages. Every
// failure the backend reports passes through here, so that the wording, the
// SQLSTATE and the choice of the retry texts live in one place.
//
// Messages carry the server's own text (its primary message, then its detail)
// followed by the SQLSTATE, e.g. `duplicate key value violates unique
// constraint "cases_pkey" (SQLSTATE 23505). Key (id)=(1) already exists.`
// A deadlock, serialization failure, lock time-out, busy server or lost
// connection adds the retry text "Rerun the transaction"; a table, column or
// type that no longer matches what the caller worked from adds "schema change"
// (the two texts the bridge looks for after a flush).
#pragma once

#include <libpq-fe.h>

#include <string>
#include <string_view>

#include "TesselWrapper/Errors.h"

namespace Tessel::Postgres {

// One failure as the server or libpq reported it.
struct Failure {
  std::string text;      // the server's primary message, or libpq's own
  std::string detail;    // the server's detail, often empty
  std::string sqlState;  // five characters; empty when no server answered
  bool connectionLost = false;
  bool shapeChanged = false;  // the catalogue no longer matches the caller's table
};

// The failure that `result` reports on `conn`; with a null result (libpq
// could not even send the command), the connection's own error.
Failure FailureOf(PGconn* conn, const PGresult* result);

// A failure found on the client side, such as a catalogue mismatch.
Failure ClientFailure(std::string text, bool shapeChanged = false);

// Deadlock (40P01), serialization failure (40001), lock not available
// (55P03), too many connections (53300), a shut-down or starting server
// (57P01-57P03), any connection exception (class 08), or a lost connection:
// running the same work again later may succeed.
bool IsRetryable(const Failure& failure) noexcept;

// Undefined table (42P01) or column (42703), a type mismatch (42804, and a
// binary value the column no longer reads, 22P03), a missing schema (3F000),
// an object that is no longer a table (42809), or a mismatch found in the
// catalogue.
bool IsSchemaChange(const Failure& failure) noexcept;

// "<text> (SQLSTATE xxxxx)", or just the text when there is no SQLSTATE.
std::string DescribeError(const Failure& failure);

// DescribeError plus "Rerun the transaction" when IsRetryable and the
// schema-change sentence when IsSchemaChange, each as its own sentence.
std::string DescribeFailure(const Failure& failure);

// The DatabaseError this backend throws: "<context>: <DescribeError>" with the
// SQLSTATE (native code 0). It keeps the Failure, so that the operations that
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
