// Cell values of the table model.
//
// Value is an owning cell value: DBNull (an absent value), a boolean, a 32- or
// 64-bit integer, a double, UTF-8 text, a DateTime, or bytes. ValueView is the
// same set without ownership (text and bytes are views); rows take ValueViews
// when written so that storing a field never allocates on the caller's side.
// A ValueView must not outlive what it views.
//
// ToString gives the value's text form: DBNull "", booleans "True"/"False",
// integers in decimal, doubles as the shortest text that reads back exactly
// ("0.1", "1E+20", "NaN", "Infinity"), dates as DateTime::ToString, bytes as
// lower-case hex.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "TesselWrapper/Export.h"
#include "TesselWrapper/data/DateTime.h"

namespace Tessel::Data {

// The marker of an absent value in a cell.
struct DBNullType {
  friend constexpr bool operator==(DBNullType, DBNullType) noexcept { return true; }
};
inline constexpr DBNullType DBNull{};

using Bytes = std::vector<std::uint8_t>;

// The order of the alternatives is part of the interface: index() tells the kind.
using ValueView = std::variant<DBNullType, bool, std::int32_t, std::int64_t, double, std::string_view,
                               DateTime, std::span<const std::uint8_t>>;

class TESSELWRAPPER_API Value {
 public:
  using Storage =
      std::variant<DBNullType, bool, std::int32_t, std::int64_t, double, std::string, DateTime, Bytes>;

  Value() = default;  // DBNull
  Value(DBNullType) {}
  Value(bool v) : v_(v) {}
  Value(std::int32_t v) : v_(v) {}
  Value(std::int64_t v) : v_(v) {}
  Value(double v) : v_(v) {}
  Value(std::string v) : v_(std::move(v)) {}
  Value(std::string_view v) : v_(std::string(v)) {}
  // An absent text (a null pointer) is an absent value: DBNull.
  Value(const char* v) {
    if (v != nullptr) v_ = std::string(v);
  }
  Value(DateTime v) : v_(v) {}
  Value(Bytes v) : v_(std::move(v)) {}
  explicit Value(ValueView view);

  bool IsDBNull() const noexcept { return std::holds_alternative<DBNullType>(v_); }
  const Storage& Get() const noexcept { return v_; }
  ValueView View() const noexcept;
  operator ValueView() const noexcept { return View(); }

  std::string ToString() const;

  friend bool operator==(const Value& a, const Value& b) = default;

 private:
  Storage v_;
};

// The text form of a view, as Value::ToString gives it.
TESSELWRAPPER_API std::string ToString(const ValueView& view);

}  // namespace Tessel::Data
