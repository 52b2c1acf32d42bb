#include "Format.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace Tessel::Cli {

std::string Grouped(std::uint64_t value) {
  const std::string digits = std::to_string(value);
  std::string grouped;
  grouped.reserve(digits.size() + digits.size() / 3);
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) grouped += ',';
    grouped += digits[i];
  }
  return grouped;
}

std::string Clock(double seconds) {
  const auto total = static_cast<long long>(std::llround(seconds < 0 ? 0 : seconds));
  char buffer[32];
  if (total >= 3600)
    std::snprintf(buffer, sizeof buffer, "%lld:%02lld:%02lld", total / 3600, total / 60 % 60, total % 60);
  else
    std::snprintf(buffer, sizeof buffer, "%lld:%02lld", total / 60, total % 60);
  return buffer;
}

std::string Fixed(double value, int decimals) {
  // to_chars, unlike printf's %f, takes no decimal point from the locale. The
  // buffer holds any double with up to 180 decimals.
  char buffer[512];
  const auto result =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
  if (result.ec != std::errc()) return "?";
  return std::string(buffer, result.ptr);
}

}  // namespace Tessel::Cli
