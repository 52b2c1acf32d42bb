#include "data/NumberText.h"

#include <charconv>
#include <cmath>
#include <limits>

#include "TesselWrapper/data/Text.h"

namespace Tessel::Data {
namespace {

using Text::EqualsIgnoreAsciiCase;

constexpr bool IsDigit(char c) noexcept { return c >= '0' && c <= '9'; }

// The decimal exponent of a well-formed number's leading significant digit
// ("123.4" -> 2, "0.005" -> -3, "1e-400" -> -400), saturating far beyond any
// double's range. Used only to tell overflow from underflow.
long long DecimalMagnitude(std::string_view digits) noexcept {
  std::size_t i = 0;
  long long integerDigits = 0;
  bool significant = false;
  for (; i < digits.size() && IsDigit(digits[i]); ++i) {
    if (digits[i] != '0') significant = true;
    if (significant) ++integerDigits;
  }
  long long leadingFractionZeros = 0;
  if (i < digits.size() && digits[i] == '.') {
    for (++i; i < digits.size() && IsDigit(digits[i]); ++i) {
      if (!significant && digits[i] == '0') ++leadingFractionZeros;
      if (digits[i] != '0') significant = true;
    }
  }
  long long exponent = 0;
  if (i < digits.size() && (digits[i] == 'e' || digits[i] == 'E')) {
    ++i;
    bool negative = false;
    if (i < digits.size() && (digits[i] == '+' || digits[i] == '-')) negative = digits[i++] == '-';
    for (; i < digits.size() && IsDigit(digits[i]); ++i) {
      if (exponent < 1'000'000'000) exponent = exponent * 10 + (digits[i] - '0');
    }
    if (negative) exponent = -exponent;
  }
  const long long lead = integerDigits > 0 ? integerDigits - 1 : -(leadingFractionZeros + 1);
  return lead + exponent;
}

}  // namespace

void AppendDouble(double value, std::string& out) {
  if (std::isnan(value)) {
    out += "NaN";
    return;
  }
  if (std::isinf(value)) {
    out += value < 0 ? "-Infinity" : "Infinity";
    return;
  }
  if (value == 0) {
    out += std::signbit(value) ? "-0" : "0";
    return;
  }

  // The shortest round-trip digits, as "-d.ddde+XX".
  char sci[32];
  const auto result = std::to_chars(sci, sci + sizeof sci, value, std::chars_format::scientific);
  const std::string_view text(sci, static_cast<std::size_t>(result.ptr - sci));
  const std::size_t ePos = text.find('e');
  std::string_view mantissa = text.substr(0, ePos);
  int exponent = 0;
  const std::size_t exponentStart = ePos + 1 + (text[ePos + 1] == '+' ? 1 : 0);  // from_chars takes no "+"
  std::from_chars(text.data() + exponentStart, text.data() + text.size(), exponent);

  if (mantissa.front() == '-') {
    out += '-';
    mantissa.remove_prefix(1);
  }
  char digits[20];
  std::size_t count = 0;
  for (char c : mantissa) {
    if (c != '.') digits[count++] = c;
  }
  const std::string_view significand(digits, count);

  if (exponent >= 15 || exponent <= -5) {
    out += significand[0];
    if (count > 1) {
      out += '.';
      out += significand.substr(1);
    }
    out += exponent < 0 ? "E-" : "E+";
    const int magnitude = exponent < 0 ? -exponent : exponent;  // at most 324
    if (magnitude >= 100) out += static_cast<char>('0' + magnitude / 100);
    out += static_cast<char>('0' + magnitude / 10 % 10);
    out += static_cast<char>('0' + magnitude % 10);
  } else if (exponent >= 0) {
    const auto integerDigits = static_cast<std::size_t>(exponent) + 1;
    if (count <= integerDigits) {
      out += significand;
      out.append(integerDigits - count, '0');
    } else {
      out += significand.substr(0, integerDigits);
      out += '.';
      out += significand.substr(integerDigits);
    }
  } else {
    out += "0.";
    out.append(static_cast<std::size_t>(-exponent - 1), '0');
    out += significand;
  }
}

std::string FormatDouble(double value) {
  std::string out;
  AppendDouble(value, out);
  return out;
}

ParseOutcome TryParseInt64(std::string_view text, std::int64_t& value, NumberSyntax syntax) noexcept {
  if (syntax.spaceAround) text = TrimSpace(text);
  // from_chars takes a "-" but not a "+"; either sign must be followed by a digit.
  std::size_t firstDigit = 0;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) firstDigit = 1;
  if (text.size() <= firstDigit || !IsDigit(text[firstDigit])) return ParseOutcome::Malformed;
  if (text.front() == '+') text.remove_prefix(1);
  std::int64_t parsed = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), parsed);
  if (end != text.data() + text.size()) {
    return ParseOutcome::Malformed;
  }
  if (error == std::errc::result_out_of_range) return ParseOutcome::OutOfRange;
  if (error != std::errc{}) return ParseOutcome::Malformed;
  value = parsed;
  return ParseOutcome::Ok;
}

ParseOutcome TryParseDouble(std::string_view text, double& value, NumberSyntax syntax) noexcept {
  if (syntax.spaceAround) text = TrimSpace(text);
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (EqualsIgnoreAsciiCase(text, "Infinity")) {
    value = negative ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
    return ParseOutcome::Ok;
  }
  if (EqualsIgnoreAsciiCase(text, "NaN")) {
    value = std::numeric_limits<double>::quiet_NaN();
    return ParseOutcome::Ok;
  }
  // Only digits or a point may start the number: from_chars would also take
  // "inf", "nan(...)" and a second sign.
  if (text.empty() || !(IsDigit(text.front()) || text.front() == '.')) return ParseOutcome::Malformed;
  double parsed = 0;
  const auto [end, error] =
      std::from_chars(text.data(), text.data() + text.size(), parsed, std::chars_format::general);
  if (end != text.data() + text.size()) return ParseOutcome::Malformed;
  if (error == std::errc::result_out_of_range) {
    if (DecimalMagnitude(text) >= 0) return ParseOutcome::OutOfRange;
    parsed = 0;  // too small for a double: the nearest one is zero
  } else if (error != std::errc{}) {
    return ParseOutcome::Malformed;
  }
  value = negative ? -parsed : parsed;
  return ParseOutcome::Ok;
}

}  // namespace Tessel::Data
