#include "tessel/dialect/postgres/SqlStates.h"

#include <initializer_list>

namespace Tessel::Postgres {
namespace {

bool IsOneOf(std::string_view state, std::initializer_list<std::string_view> states) {
  for (std::string_view s : states)
    if (state == s) return true;
  return false;
}

}  // namespace

ErrorCategory CategoryOfSqlState(std::string_view state, bool connectionLost) noexcept {
  const std::string_view stateClass = state.substr(0, 2);
  if (state == "40003") return ErrorCategory::OutcomeUnknown;
  if (IsOneOf(state, {"42P01", "42703", "42804", "22P03", "3F000", "42809"}))
    return ErrorCategory::SchemaChange;
  if (IsOneOf(state, {"40P01", "40001", "55P03", "57014", "57P01", "57P02", "57P03", "25006"}) ||
      stateClass == "53")
    return ErrorCategory::Rerun;
  // Refusals of the connection itself that last until someone changes the
  // server or the connection string: authorization (class 28), a database
  // that does not exist, no permission to connect. They come with a
  // connection that was never made, so they go before `connectionLost`.
  if (stateClass == "28" || IsOneOf(state, {"3D000", "42501", "55000"})) return ErrorCategory::Other;
  if (connectionLost || stateClass == "08") return ErrorCategory::Connection;
  if (stateClass == "23" || stateClass == "22" || state == "P0001") return ErrorCategory::Refused;
  return ErrorCategory::Other;
}

bool IsLastingConnectFailure(std::string_view text) noexcept {
  constexpr std::string_view kLasting[] = {
      // The server's refusals (28P01, 28000, 3D000, 42501, 55000).
      "authentication failed",
      "no pg_hba.conf entry",
      "does not exist",  // a database or role
      "permission denied for database",
      "is not permitted to log in",
      "is not currently accepting connections",
      // libpq's own: the string, the host's name, what the server lacks.
      "could not translate host name",
      "in connection info string",
      "no password supplied",
      "SSL was required",
      "does not match host name",
  };
  if (text.substr(0, 8) == "invalid ") return true;  // "invalid sslmode value", "invalid URI query ..."
  for (std::string_view phrase : kLasting)
    if (text.find(phrase) != std::string_view::npos) return true;
  return false;
}

}  // namespace Tessel::Postgres
