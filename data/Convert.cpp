#include "data/Convert.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <limits>
#include <span>

#include "TesselWrapper/Errors.h"
#include "TesselWrapper/data/DateTime.h"
#include "TesselWrapper/data/Text.h"
#include "data/NumberText.h"

namespace Tessel::Data::detail {
namespace {

// The largest decimal the databases behind the tables take: digits before
// and after the point.
constexpr std::size_t kMaxDecimalIntegerDigits = 131072;
constexpr std::size_t kMaxDecimalScale = 16383;

bool IsDigit(char c) noexcept { return c >= '0' && c <= '9'; }

ConvertFault FromParse(ParseOutcome outcome) noexcept {
  switch (outcome) {
    case ParseOutcome::Ok:
      return ConvertFault::None;
    case ParseOutcome::OutOfRange:
      return ConvertFault::Overflow;
    default:
      return ConvertFault::InvalidCast;
  }
}

// Round half to even, whatever the floating-point rounding mode.
ConvertFault RoundToInt64(double d, std::int64_t& out) noexcept {
  if (!std::isfinite(d)) return ConvertFault::Overflow;
  double whole = std::floor(d);
  const double fraction = d - whole;  // exact
  if (fraction > 0.5 || (fraction == 0.5 && std::fmod(whole, 2.0) != 0.0)) whole += 1.0;
  if (whole < -9223372036854775808.0 || whole >= 9223372036854775808.0) return ConvertFault::Overflow;
  out = static_cast<std::int64_t>(whole);
  return ConvertFault::None;
}

ConvertFault ToInteger(DataType type, const ValueView& value, std::uint64_t& word) {
  std::int64_t v = 0;
  switch (value.index()) {
    case kBool:
      v = std::get<bool>(value) ? 1 : 0;
      break;
    case kInt32:
      v = std::get<std::int32_t>(value);
      break;
    case kInt64:
      v = std::get<std::int64_t>(value);
      break;
    case kDouble:
      if (auto f = RoundToInt64(std::get<double>(value), v); f != ConvertFault::None) return f;
      break;
    case kText:
      if (auto f = FromParse(TryParseInt64(std::get<std::string_view>(value), v)); f != ConvertFault::None)
        return f;
      break;
    default:
      return ConvertFault::InvalidCast;
  }
  if (type == DataType::Int16 &&
      (v < std::numeric_limits<std::int16_t>::min() || v > std::numeric_limits<std::int16_t>::max()))
    return ConvertFault::Overflow;
  if (type == DataType::Int32 &&
      (v < std::numeric_limits<std::int32_t>::min() || v > std::numeric_limits<std::int32_t>::max()))
    return ConvertFault::Overflow;
  word = static_cast<std::uint64_t>(v);
  return ConvertFault::None;
}

ConvertFault ToBoolean(const ValueView& value, std::uint64_t& word) {
  switch (value.index()) {
    case kBool:
      word = std::get<bool>(value) ? 1 : 0;
      return ConvertFault::None;
    case kInt32:
      word = std::get<std::int32_t>(value) != 0;
      return ConvertFault::None;
    case kInt64:
      word = std::get<std::int64_t>(value) != 0;
      return ConvertFault::None;
    case kDouble:
      word = std::get<double>(value) != 0.0;
      return ConvertFault::None;  // NaN too is not zero
    case kText: {
      const std::string_view s = TrimSpace(std::get<std::string_view>(value));
      if (Text::EqualsIgnoreAsciiCase(s, "True")) {
        word = 1;
        return ConvertFault::None;
      }
      if (Text::EqualsIgnoreAsciiCase(s, "False")) {
        word = 0;
        return ConvertFault::None;
      }
      return ConvertFault::InvalidCast;
    }
    default:
      return ConvertFault::InvalidCast;
  }
}

ConvertFault ToDouble(const ValueView& value, std::uint64_t& word) {
  double d = 0;
  switch (value.index()) {
    case kBool:
      d = std::get<bool>(value) ? 1.0 : 0.0;
      break;
    case kInt32:
      d = std::get<std::int32_t>(value);
      break;
    case kInt64:
      d = static_cast<double>(std::get<std::int64_t>(value));
      break;
    case kDouble:
      d = std::get<double>(value);
      break;
    case kText:
      if (auto f = FromParse(TryParseDouble(std::get<std::string_view>(value), d)); f != ConvertFault::None)
        return f;
      break;
    default:
      return ConvertFault::InvalidCast;
  }
  word = std::bit_cast<std::uint64_t>(d);
  return ConvertFault::None;
}

ConvertFault ToDateTime(const ValueView& value, std::uint64_t& word) {
  switch (value.index()) {
    case kDate:
      word = static_cast<std::uint64_t>(std::get<DateTime>(value).Ticks());
      return ConvertFault::None;
    case kText:
      try {
        const DateTime parsed = DateTime::Parse(TrimSpace(std::get<std::string_view>(value)));
        word = static_cast<std::uint64_t>(parsed.Ticks());
        return ConvertFault::None;
      } catch (const Tessel::Error&) {
        return ConvertFault::InvalidCast;
      }
    default:
      return ConvertFault::InvalidCast;
  }
}

// Writes an integer's decimal digits to `out`.
void WriteInteger(std::int64_t v, std::string& out) {
  char buffer[24];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, v);
  out.assign(buffer, result.ptr);
}

ConvertFault ToDecimal(const ValueView& value, std::string& out) {
  switch (value.index()) {
    case kBool:
      out.assign(std::get<bool>(value) ? "1" : "0");
      return ConvertFault::None;
    case kInt32:
      WriteInteger(std::get<std::int32_t>(value), out);
      return ConvertFault::None;
    case kInt64:
      WriteInteger(std::get<std::int64_t>(value), out);
      return ConvertFault::None;
    case kDouble: {
      const double d = std::get<double>(value);
      if (!std::isfinite(d)) return ConvertFault::Overflow;
      // The shortest digits that read back as the same double, then spelled
      // out without an exponent by the canonical form.
      char buffer[40];
      const auto result = std::to_chars(buffer, buffer + sizeof buffer, d, std::chars_format::scientific);
      return CanonicalDecimal(std::string_view(buffer, static_cast<std::size_t>(result.ptr - buffer)), out);
    }
    case kText:
      return CanonicalDecimal(std::get<std::string_view>(value), out);
    default:
      return ConvertFault::InvalidCast;
  }
}

// The text form of a non-text value for a String column.
void TextForm(const ValueView& value, Cell& cell, std::string& scratch) {
  switch (value.index()) {
    case kBool:
      cell.bytes = std::get<bool>(value) ? "True" : "False";
      return;
    case kInt32:
      WriteInteger(std::get<std::int32_t>(value), scratch);
      break;
    case kInt64:
      WriteInteger(std::get<std::int64_t>(value), scratch);
      break;
    default:
      scratch = ToString(value);
      break;
  }
  cell.bytes = scratch;
}

}  // namespace

ConvertFault ToCell(DataType type, const ValueView& value, Cell& cell, std::string& scratch) {
  cell = Cell{};
  if (value.index() == kNull) return ConvertFault::None;
  cell.null = false;
  switch (type) {
    case DataType::Boolean:
      return ToBoolean(value, cell.word);
    case DataType::Int16:
    case DataType::Int32:
    case DataType::Int64:
      return ToInteger(type, value, cell.word);
    case DataType::Double:
      return ToDouble(value, cell.word);
    case DataType::DateTime:
      return ToDateTime(value, cell.word);
    case DataType::Decimal: {
      const ConvertFault fault = ToDecimal(value, scratch);
      cell.bytes = scratch;
      return fault;
    }
    case DataType::String:
      if (value.index() == kText) {
        cell.bytes = std::get<std::string_view>(value);
      } else {
        TextForm(value, cell, scratch);
      }
      return ConvertFault::None;
    case DataType::Binary:
      if (value.index() != kBytes) return ConvertFault::InvalidCast;
      {
        const auto bytes = std::get<std::span<const std::uint8_t>>(value);
        cell.bytes = std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size());
      }
      return ConvertFault::None;
  }
  return ConvertFault::InvalidCast;
}

ConvertFault CanonicalDecimal(std::string_view text, std::string& out) {
  const std::string_view s = TrimSpace(text);
  std::size_t i = 0;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  const std::size_t intBegin = i;
  while (i < s.size() && IsDigit(s[i])) ++i;
  const std::string_view intDigits = s.substr(intBegin, i - intBegin);
  std::string_view fracDigits;
  if (i < s.size() && s[i] == '.') {
    const std::size_t fracBegin = ++i;
    while (i < s.size() && IsDigit(s[i])) ++i;
    fracDigits = s.substr(fracBegin, i - fracBegin);
  }
  if (intDigits.empty() && fracDigits.empty()) return ConvertFault::InvalidCast;
  std::int64_t exponent = 0;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    bool expNegative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) expNegative = s[i++] == '-';
    if (i == s.size() || !IsDigit(s[i])) return ConvertFault::InvalidCast;
    bool huge = false;
    for (; i < s.size() && IsDigit(s[i]); ++i) {
      exponent = exponent * 10 + (s[i] - '0');
      if (exponent > 1'000'000) {
        huge = true;
        exponent = 1'000'000;
      }
    }
    if (i != s.size()) return ConvertFault::InvalidCast;
    if (huge) return ConvertFault::Overflow;
    if (expNegative) exponent = -exponent;
  }
  if (i != s.size()) return ConvertFault::InvalidCast;

  // All digits in a row, and where the point goes among them.
  std::string digits;
  digits.reserve(intDigits.size() + fracDigits.size());
  digits.append(intDigits).append(fracDigits);
  const std::int64_t point = static_cast<std::int64_t>(intDigits.size()) + exponent;
  std::string_view integerPart;
  std::string_view fractionPart;
  std::size_t leadingFractionZeros = 0;
  std::size_t trailingIntegerZeros = 0;
  if (point <= 0) {
    fractionPart = digits;
    leadingFractionZeros = static_cast<std::size_t>(-point);
  } else if (static_cast<std::size_t>(point) >= digits.size()) {
    integerPart = digits;
    trailingIntegerZeros = static_cast<std::size_t>(point) - digits.size();
  } else {
    integerPart = std::string_view(digits).substr(0, static_cast<std::size_t>(point));
    fractionPart = std::string_view(digits).substr(static_cast<std::size_t>(point));
  }
  while (!integerPart.empty() && integerPart.front() == '0') integerPart.remove_prefix(1);
  if (integerPart.empty()) trailingIntegerZeros = 0;  // zeros after nothing are still zero
  const bool zero = digits.find_first_not_of('0') == std::string::npos;
  const std::size_t integerLength = integerPart.size() + trailingIntegerZeros;
  const std::size_t scale = leadingFractionZeros + fractionPart.size();
  if (integerLength > kMaxDecimalIntegerDigits || scale > kMaxDecimalScale) return ConvertFault::Overflow;

  out.clear();
  out.reserve(2 + std::max<std::size_t>(integerLength, 1) + scale);
  if (negative && !zero) out.push_back('-');
  if (integerLength == 0) {
    out.push_back('0');
  } else {
    out.append(integerPart).append(trailingIntegerZeros, '0');
  }
  if (scale != 0) {
    out.push_back('.');
    out.append(leadingFractionZeros, '0').append(fractionPart);
  }
  return ConvertFault::None;
}

std::string_view DecimalKey(std::string_view canonical) noexcept {
  if (canonical.find('.') == std::string_view::npos) return canonical;
  while (canonical.back() == '0') canonical.remove_suffix(1);
  if (canonical.back() == '.') canonical.remove_suffix(1);
  return canonical;
}

std::string_view ValueKindName(const ValueView& value) noexcept {
  switch (value.index()) {
    case kNull:
      return "DBNull";
    case kBool:
      return "Boolean";
    case kInt32:
      return "Int32";
    case kInt64:
      return "Int64";
    case kDouble:
      return "Double";
    case kText:
      return "String";
    case kDate:
      return "DateTime";
    default:
      return "Bytes";
  }
}

}  // namespace Tessel::Data::detail
