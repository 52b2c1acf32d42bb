// Number formatting for the tool's output.
#pragma once

#include <cstdint>
#include <string>

namespace Tessel::Cli {

// 1234567 -> "1,234,567".
std::string Grouped(std::uint64_t value);

// A duration in seconds as "0:07" or "1:02:03".
std::string Clock(double seconds);

// "12.3" with the given number of decimals.
std::string Fixed(double value, int decimals);

}  // namespace Tessel::Cli
