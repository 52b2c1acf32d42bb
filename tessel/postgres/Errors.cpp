#include "tessel/postgres/Errors.h"

#include "tessel/postgres/SqlStates.h"

namespace Tessel::Postgres {
namespace {

// libpq prefixes errors it relays with the severity ("ERROR:  ").
std::string_view WithoutSeverity(std::string_view text) {
  for (std::string_view prefix : {"ERROR:", "FATAL:", "PANIC:"}) {
    if (text.substr(0, prefix.size()) == prefix) {
      text.remove_prefix(prefix.size());
      break;
    }
  }
  return text;
}

}  // namespace

Failure FailureOf(PGconn* conn, const PGresult* result) {
  Failure failure;
  if (result != nullptr) {
    if (const char* state = PQresultErrorField(result, PG_DIAG_SQLSTATE)) failure.sqlState = state;
    if (const char* primary = PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY))
      failure.text = OneLine(primary);
    if (const char* detail = PQresultErrorField(result, PG_DIAG_MESSAGE_DETAIL))
      failure.detail = OneLine(detail);
    if (failure.text.empty()) failure.text = OneLine(WithoutSeverity(PQresultErrorMessage(result)));
  }
  if (failure.text.empty() && conn != nullptr) failure.text = OneLine(WithoutSeverity(PQerrorMessage(conn)));
  if (failure.text.empty()) failure.text = "the server gave no reason";
  failure.connectionLost = conn == nullptr || PQstatus(conn) != CONNECTION_OK;
  return failure;
}

Failure ClientFailure(std::string text, bool shapeChanged) {
  Failure failure;
  failure.text = std::move(text);
  failure.shapeChanged = shapeChanged;
  return failure;
}

ErrorCategory CategoryOf(const Failure& failure) noexcept {
  if (failure.outcomeUnknown) return ErrorCategory::OutcomeUnknown;
  if (failure.shapeChanged) return ErrorCategory::SchemaChange;
  return CategoryOfSqlState(failure.sqlState, failure.connectionLost);
}

std::string DescribeError(const Failure& failure) {
  std::string message = failure.text;
  if (!failure.sqlState.empty()) message += " (SQLSTATE " + failure.sqlState + ")";
  if (!failure.detail.empty()) AppendSentence(message, failure.detail);
  return message;
}

std::string DescribeFailure(const Failure& failure) {
  return WithCategorySentence(DescribeError(failure), CategoryOf(failure));
}

WriteFailure WriteFailureOf(const Failure& failure) {
  return WriteFailure{CategoryOf(failure), DescribeError(failure)};
}

QueryError::QueryError(const Postgres::Failure& failure, std::string_view context)
    : DatabaseError(std::string(context) + ": " + DescribeFailure(failure), CategoryOf(failure), 0,
                    failure.sqlState),
      failure_(failure) {}

void ThrowDatabaseError(const Failure& failure, std::string_view context) {
  throw QueryError(failure, context);
}

}  // namespace Tessel::Postgres
