#include "tessel/postgres/Errors.h"

#include "tessel/dialect/postgres/SqlStates.h"

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

// The line number in the context of a failure inside COPY ("COPY t, line 7"
// or "COPY t, line 7, column c: ..."), the innermost context coming last.
std::optional<std::uint64_t> CopyLineOf(const char* context) {
  if (context == nullptr) return std::nullopt;
  const std::string_view text(context);
  const std::size_t copy = text.rfind("COPY ");
  if (copy == std::string_view::npos) return std::nullopt;
  const std::size_t at = text.find(", line ", copy);
  if (at == std::string_view::npos || text.find('\n', copy) < at) return std::nullopt;
  std::uint64_t line = 0;
  std::size_t i = at + 7;
  const std::size_t digits = i;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9')
    line = line * 10 + static_cast<std::uint64_t>(text[i++] - '0');
  if (i == digits) return std::nullopt;
  return line;
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
    failure.copyLine = CopyLineOf(PQresultErrorField(result, PG_DIAG_CONTEXT));
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
  if (failure.refused) return ErrorCategory::Refused;
  // A connection that could not be made, or was lost, without a server's
  // SQLSTATE: only libpq's text tells why.
  if (failure.connectionLost && failure.sqlState.empty() && IsLastingConnectFailure(failure.text))
    return ErrorCategory::Other;
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
  return WriteFailure{CategoryOf(failure), DescribeError(failure), failure.row};
}

QueryError::QueryError(const Postgres::Failure& failure, std::string_view context)
    : DatabaseError(std::string(context) + ": " + DescribeFailure(failure), CategoryOf(failure), 0,
                    failure.sqlState),
      failure_(failure) {}

void ThrowDatabaseError(const Failure& failure, std::string_view context) {
  throw QueryError(failure, context);
}

}  // namespace Tessel::Postgres
