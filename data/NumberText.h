// Numbers as text in the invariant culture: "." is the decimal separator,
// there are no group separators, and the process locale is never consulted.
// Private to the library; the table model, the backends and the bridge share
// these so that a number reads and prints the same way everywhere.
//
// All functions are thread-safe and keep no state.
#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <type_traits>

namespace Tessel::Data {

// The shortest text that reads back as exactly `value`. With the number
// written d.ddd x 10^e, the form is fixed-point for -5 < e < 15 ("0.1",
// "0.0001", "100000000000000", "0.30000000000000004") and scientific
// otherwise, with a signed exponent of at least two digits ("1E-05",
// "1E+15", "1.2345678901234568E+17", "5E-324"). Zero is "0" or "-0"; the
// rest are "NaN", "Infinity" and "-Infinity".
std::string FormatDouble(double value);

// FormatDouble appended to `out`, for loops that reuse one buffer.
void AppendDouble(double value, std::string& out);

// `text` without the ASCII white space (space, \t \n \v \f \r) around it.
constexpr std::string_view TrimSpace(std::string_view text) noexcept {
  constexpr auto isSpace = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
  while (!text.empty() && isSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && isSpace(text.back())) text.remove_suffix(1);
  return text;
}

enum class ParseOutcome {
  Ok,
  Malformed,   // not a number in the accepted form; the target is untouched
  OutOfRange,  // a well-formed number the type cannot hold; target untouched
};

// What a number's text may hold besides the number. The default is the
// table model's form, which a person types: white space around it is fine.
// Text a machine wrote (a server's output, a field of a file) is read with
// kExact: the number and nothing else.
struct NumberSyntax {
  bool spaceAround = true;  // ASCII white space before and after the number
};
inline constexpr NumberSyntax kExact{false};

// Reads a decimal integer: optional ASCII white space around it, an optional
// leading "+" or "-", then digits only ("12", " -7 ", "+3"; not "12.0",
// "1,000", "0x10", "" or "- 1").
ParseOutcome TryParseInt64(std::string_view text, std::int64_t& value, NumberSyntax syntax = {}) noexcept;

// The same for a narrower integer type: OutOfRange beyond its range.
template <typename Int>
ParseOutcome TryParseInteger(std::string_view text, Int& value, NumberSyntax syntax = {}) noexcept {
  static_assert(std::is_integral_v<Int> && std::is_signed_v<Int> && sizeof(Int) <= sizeof(std::int64_t));
  std::int64_t wide = 0;
  const ParseOutcome outcome = TryParseInt64(text, wide, syntax);
  if (outcome != ParseOutcome::Ok) return outcome;
  if (wide < std::numeric_limits<Int>::min() || wide > std::numeric_limits<Int>::max())
    return ParseOutcome::OutOfRange;
  value = static_cast<Int>(wide);
  return ParseOutcome::Ok;
}

// Reads a decimal floating point number: optional ASCII white space around
// it, an optional sign, digits with at most one ".", an optional exponent
// ("1.5", "-.5", "5.", "+2e-3", "1E+20"), or "NaN" or a signed "Infinity" in
// any case. Rounds to the nearest double. A magnitude too
// small for a double reads as zero of that sign; one too large is OutOfRange
// rather than a silent infinity.
ParseOutcome TryParseDouble(std::string_view text, double& value, NumberSyntax syntax = {}) noexcept;

// The same, for callers that only need to know whether the text was taken.
inline bool ParseInt64(std::string_view text, std::int64_t& value, NumberSyntax syntax = {}) noexcept {
  return TryParseInt64(text, value, syntax) == ParseOutcome::Ok;
}
template <typename Int>
bool ParseInteger(std::string_view text, Int& value, NumberSyntax syntax = {}) noexcept {
  return TryParseInteger(text, value, syntax) == ParseOutcome::Ok;
}
inline bool ParseDouble(std::string_view text, double& value, NumberSyntax syntax = {}) noexcept {
  return TryParseDouble(text, value, syntax) == ParseOutcome::Ok;
}

}  // namespace Tessel::Data
