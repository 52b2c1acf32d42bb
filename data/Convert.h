// Conversion of written values to a column's type (private to the data
// library).
//
// A value written into a row is converted at once, or refused. Text is read
// in the invariant form whatever the process locale (NumberText.h for
// numbers): '.' as the decimal point, no thousands separators, ASCII white
// space allowed around the value.
//
//   into Boolean        bool; integers and doubles (anything but zero, NaN
//                       included, is true); "True"/"False" in any case
//   into Int16/32/64    bool (1/0); integers, range-checked; doubles rounded
//                       half to even (NaN, infinities and out of range
//                       overflow); text with an optional sign and digits only
//   into Double         bool (1/0); integers; doubles; text in decimal or
//                       exponent form, "NaN", "Infinity", "-Infinity" (any
//                       case); text too large for a double overflows, too
//                       small reads as zero
//   into Decimal        bool (1/0); integers; finite doubles (their shortest
//                       round-trip digits); decimal text, an exponent allowed.
//                       Stored as canonical text: sign only when not zero, no
//                       leading zeros, the scale as written ("-012.50" ->
//                       "-12.50", "1.5e1" -> "15", ".5" -> "0.5")
//   into String         text as it is; anything else as its text form
//   into DateTime       DateTime; text that DateTime::Parse reads
//   into Binary         bytes only
//
// DBNull converts to a null cell for every type. Everything else is refused
// as an invalid cast.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "TesselWrapper/data/DataColumn.h"
#include "TesselWrapper/data/Value.h"
#include "data/ColumnStore.h"

namespace Tessel::Data::detail {

// ValueView::index() of each kind of value (the order of its alternatives).
enum ValueKind : std::size_t { kNull, kBool, kInt32, kInt64, kDouble, kText, kDate, kBytes };

enum class ConvertFault : std::uint8_t {
  None,
  InvalidCast,  // the type has no conversion for this value
  Overflow,     // a number outside the range of the type
};

// The cell for a value that is already of the column's own kind (an int64
// into Int64, text into String, ...), which needs no conversion: the common
// case, kept inline for the per-field path. False when ToCell must decide.
inline bool ExactCell(DataType type, const ValueView& value, Cell& cell) noexcept {
  switch (value.index()) {
    case kInt32:
      if (type != DataType::Int32 && type != DataType::Int64) return false;
      cell.word = static_cast<std::uint64_t>(std::int64_t{*std::get_if<std::int32_t>(&value)});
      break;
    case kInt64:
      if (type != DataType::Int64) return false;
      cell.word = static_cast<std::uint64_t>(*std::get_if<std::int64_t>(&value));
      break;
    case kDouble:
      if (type != DataType::Double) return false;
      cell.word = std::bit_cast<std::uint64_t>(*std::get_if<double>(&value));
      break;
    case kText:
      if (type != DataType::String) return false;
      cell.bytes = *std::get_if<std::string_view>(&value);
      break;
    case kDate:
      if (type != DataType::DateTime) return false;
      cell.word = static_cast<std::uint64_t>(std::get_if<DateTime>(&value)->Ticks());
      break;
    default:
      return false;
  }
  cell.null = false;
  return true;
}

// Converts `value` for a column of `type` into `cell`. Text that the
// conversion makes is written to `scratch`, which `cell.bytes` may then view;
// text that `value` carries is viewed where it is. Never throws for a value
// it refuses; may throw std::bad_alloc.
ConvertFault ToCell(DataType type, const ValueView& value, Cell& cell, std::string& scratch);

// The canonical decimal text of `text` (see the file comment) into `out`.
ConvertFault CanonicalDecimal(std::string_view text, std::string& out);

// The part of a canonical decimal text that decides its numeric value (the
// fraction's trailing zeros dropped): "1.50" and "1.5" give the same key.
std::string_view DecimalKey(std::string_view canonical) noexcept;

// The name of a value's kind for messages: "Int32", "String", "Bytes", ...
std::string_view ValueKindName(const ValueView& value) noexcept;

}  // namespace Tessel::Data::detail
