// The 32-bit figures of the exported face.
//
// The interface declares some figures `long`, which is 64 bits wide here but
// carries a 32-bit value on the wire: executionTime goes to the component as
// its low 32 bits, sign-extended, and comes back cut to its low 32 bits; the
// probe's 64-bit result comes back cut the same way. Cutting wraps; it never
// saturates.
#pragma once

#include <cstdint>

namespace Tessel {

// The low 32 bits of `value`, sign-extended to 64 bits.
constexpr std::int64_t WidenLong32(long value) noexcept {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<unsigned long>(value)));
}

// The low 32 bits of `value` as a signed 32-bit figure in a `long`.
constexpr long NarrowToLong32(std::int64_t value) noexcept {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(value)));
}

static_assert(NarrowToLong32((std::int64_t{1} << 32) + 5) == 5);
static_assert(NarrowToLong32(std::int64_t{1} << 31) == -(std::int64_t{1} << 31));
static_assert(WidenLong32(-5) == -5);

}  // namespace Tessel
