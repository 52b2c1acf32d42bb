#include "tessel/postgres/SqlStates.h"

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
  if (connectionLost || stateClass == "08") return ErrorCategory::Connection;
  if (stateClass == "23" || stateClass == "22" || state == "P0001") return ErrorCategory::Refused;
  return ErrorCategory::Other;
}

}  // namespace Tessel::Postgres
