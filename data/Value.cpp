#include "TesselWrapper/data/Value.h"

#include <charconv>

#include "data/NumberText.h"

namespace Tessel::Data {
namespace {

template <typename... Fs>
struct Overloaded : Fs... {
  using Fs::operator()...;
};
template <typename... Fs>
Overloaded(Fs...) -> Overloaded<Fs...>;

template <typename Integer>
std::string IntegerText(Integer value) {
  char digits[24];
  const auto result = std::to_chars(digits, digits + sizeof digits, value);
  return std::string(digits, result.ptr);
}

}  // namespace

Value::Value(ValueView view)
    : v_(std::visit(Overloaded{
                        [](std::string_view text) -> Storage { return std::string(text); },
                        [](std::span<const std::uint8_t> bytes) -> Storage {
                          return Bytes(bytes.begin(), bytes.end());
                        },
                        [](auto plain) -> Storage { return plain; },
                    },
                    view)) {}

ValueView Value::View() const noexcept {
  return std::visit(Overloaded{
                        [](const std::string& text) -> ValueView { return std::string_view(text); },
                        [](const Bytes& bytes) -> ValueView { return std::span<const std::uint8_t>(bytes); },
                        [](const auto& plain) -> ValueView { return plain; },
                    },
                    v_);
}

std::string Value::ToString() const { return Data::ToString(View()); }

std::string ToString(const ValueView& view) {
  return std::visit(Overloaded{
                        [](DBNullType) { return std::string(); },
                        [](bool b) { return std::string(b ? "True" : "False"); },
                        [](std::int32_t i) { return IntegerText(i); },
                        [](std::int64_t i) { return IntegerText(i); },
                        [](double d) { return FormatDouble(d); },
                        [](std::string_view text) { return std::string(text); },
                        [](DateTime date) { return date.ToString(); },
                        [](std::span<const std::uint8_t> bytes) {
                          constexpr char kHex[] = "0123456789abcdef";
                          std::string hex;
                          hex.reserve(bytes.size() * 2);
                          for (std::uint8_t b : bytes) {
                            hex += kHex[b >> 4];
                            hex += kHex[b & 0x0F];
                          }
                          return hex;
                        },
                    },
                    view);
}

}  // namespace Tessel::Data
