#include "tessel/RoutineOutput.h"

#include <charconv>
#include <limits>
#include <variant>

#include "data/NumberText.h"

namespace Tessel {

std::string FormatRoutineOutput(const RoutineRow& row) {
  std::string out;
  for (std::size_t i = 0; i < row.names.size(); ++i) {
    out += row.names[i];
    out += '=';
    if (i < row.values.size()) out += row.values[i].ToString();
    out += ';';
  }
  return out;
}

std::int32_t RoutineResultCode(const RoutineRow& row) {
  if (row.values.empty()) return 0;
  const auto& first = row.values.front().Get();
  std::int64_t value = 0;
  if (const auto* i32 = std::get_if<std::int32_t>(&first)) {
    return *i32;
  } else if (const auto* i64 = std::get_if<std::int64_t>(&first)) {
    value = *i64;
  } else if (const auto* text = std::get_if<std::string>(&first)) {
    if (!Data::ParseInt64(*text, value, Data::kExact)) return 0;
  } else {
    return 0;
  }
  if (value < std::numeric_limits<std::int32_t>::min() || value > std::numeric_limits<std::int32_t>::max())
    return 0;
  return static_cast<std::int32_t>(value);
}

}  // namespace Tessel
