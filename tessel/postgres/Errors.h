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

#include <cstdint>
#include <optional>
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
  bool refused = false;         // a value the database cannot keep, found before it was sent
  // The line of a COPY the server was reading when it failed (1-based, a
  // row of the binary format counting as a line), from its context.
  std::optional<std::uint64_t> copyLine;
  // The position of the row at fault among the rows of the write, where the
  // writer knows it.
  std::optional<std::uint64_t> row;
};

// The failure that `result` reports on `conn`; with a null result (libpq
// could not even send the command), the connection's own error.
Failure FailureOf(PGconn* conn, const PGresult* result);

// A failure found on the client side, such as a catalogue mismatch.
Failure ClientFailure(std::string text, bool shapeChanged = false);

// What a failure means for the caller's rows: OutcomeUnknown for the
// writer's own finding after a lost COMMIT, SchemaChange for a mismatch found
// in the catalogue, Refused for a value the writer found the server cannot
// keep, otherwise what the SQLSTATE says
// (tessel/dialect/postgres/SqlStates.h, where the codes are sorted).
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
