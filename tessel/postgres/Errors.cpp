#include "tessel/postgres/Errors.h"

#include "TesselWrapper/component/DbConnect.h"

namespace Tessel::Postgres {
namespace {

// libpq's own messages span lines ("...failed: Connection refused\n\tIs the
// server running..."); a message is one line here.
std::string OneLine(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  bool space = false;
  for (char c : text) {
    if (c == '\n' || c == '\r' || c == '\t' || c == ' ') {
      space = !out.empty();
      continue;
    }
    if (space) out.push_back(' ');
    space = false;
    out.push_back(c);
  }
  return out;
}

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

// libpq ends some of its texts with a question ("Is the server running on
// that host and accepting TCP/IP connections?"), which needs no full stop.
void AppendSentence(std::string& message, std::string_view sentence) {
  if (!message.empty()) {
    const char last = message.back();
    message += last == '.' || last == '?' || last == '!' ? " " : ". ";
  }
  message += sentence;
}

bool IsOneOf(std::string_view state, std::initializer_list<std::string_view> states) {
  for (std::string_view s : states)
    if (state == s) return true;
  return false;
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
  if (failure.text.empty() && conn != nullptr)
    failure.text = OneLine(WithoutSeverity(PQerrorMessage(conn)));
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

bool IsRetryable(const Failure& failure) noexcept {
  const std::string_view state = failure.sqlState;
  return failure.connectionLost || state.substr(0, 2) == "08" ||
         IsOneOf(state, {"40P01", "40001", "55P03", "53300", "57P01", "57P02", "57P03"});
}

bool IsSchemaChange(const Failure& failure) noexcept {
  return failure.shapeChanged ||
         IsOneOf(failure.sqlState, {"42P01", "42703", "42804", "22P03", "3F000", "42809"});
}

std::string DescribeError(const Failure& failure) {
  std::string message = failure.text;
  if (!failure.sqlState.empty()) message += " (SQLSTATE " + failure.sqlState + ")";
  if (!failure.detail.empty()) AppendSentence(message, failure.detail);
  return message;
}

std::string DescribeFailure(const Failure& failure) {
  std::string message = DescribeError(failure);
  if (IsRetryable(failure)) AppendSentence(message, kRerunTransaction);
  if (IsSchemaChange(failure)) {
    AppendSentence(message, "The table's shape changed in the database (");
    message += kSchemaChange;
    message += ")";
  }
  return message;
}

QueryError::QueryError(const Postgres::Failure& failure, std::string_view context)
    : DatabaseError(std::string(context) + ": " + DescribeError(failure), 0, failure.sqlState),
      failure_(failure) {}

void ThrowDatabaseError(const Failure& failure, std::string_view context) {
  throw QueryError(failure, context);
}

}  // namespace Tessel::Postgres
