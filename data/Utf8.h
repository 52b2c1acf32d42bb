// Decoding of UTF-8, shared by the text conversions, the case-insensitive
// comparison and whatever else of the library walks UTF-8 text. Private to
// the library.
//
// Well-formedness follows the Unicode table of well-formed byte sequences:
// no overlong forms, no surrogates (U+D800..U+DFFF), nothing above U+10FFFF.
// An ill-formed sequence is reported with the length of its "maximal
// subpart" (the longest prefix that could still have begun a well-formed
// sequence, at least one byte), which is the unit that a decoder replaces
// with one U+FFFD.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace Tessel::Text::detail {

inline constexpr char32_t kReplacementCharacter = 0xFFFD;

struct Utf8Step {
  char32_t codePoint;   // meaningful only when `valid`
  std::uint8_t length;  // bytes consumed: the sequence, or its maximal subpart
  bool valid;
};

// Decodes the sequence that starts at `p`; `n` (at least 1) bytes are
// readable there.
inline Utf8Step DecodeUtf8(const unsigned char* p, std::size_t n) noexcept {
  const unsigned char b0 = p[0];
  if (b0 < 0x80) return {b0, 1, true};

  std::size_t need;                    // continuation bytes that must follow
  unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
  char32_t cp;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    need = 1;
    cp = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    need = 2;
    cp = b0 & 0x0F;
    if (b0 == 0xE0) lo = 0xA0;  // overlong otherwise
    if (b0 == 0xED) hi = 0x9F;  // surrogates otherwise
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    need = 3;
    cp = b0 & 0x07;
    if (b0 == 0xF0) lo = 0x90;  // overlong otherwise
    if (b0 == 0xF4) hi = 0x8F;  // above U+10FFFF otherwise
  } else {
    return {0, 1, false};  // 80..C1, F5..FF never start a sequence
  }

  for (std::size_t i = 1; i <= need; ++i) {
    if (i >= n) return {0, static_cast<std::uint8_t>(i), false};
    const unsigned char b = p[i];
    const bool ok = (i == 1) ? (b >= lo && b <= hi) : (b >= 0x80 && b <= 0xBF);
    if (!ok) return {0, static_cast<std::uint8_t>(i), false};
    cp = (cp << 6) | (b & 0x3F);
  }
  return {cp, static_cast<std::uint8_t>(need + 1), true};
}

// Appends the UTF-8 encoding of a valid code point (not a surrogate, at most
// U+10FFFF) to `out`, which must have room for 4 bytes. Returns the new end.
inline char* EncodeUtf8(char32_t cp, char* out) noexcept {
  if (cp < 0x80) {
    *out++ = static_cast<char>(cp);
  } else if (cp < 0x800) {
    *out++ = static_cast<char>(0xC0 | (cp >> 6));
    *out++ = static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    *out++ = static_cast<char>(0xE0 | (cp >> 12));
    *out++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    *out++ = static_cast<char>(0xF0 | (cp >> 18));
    *out++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    *out++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (cp & 0x3F));
  }
  return out;
}

// The length of the longest prefix of `bytes` that is well-formed UTF-8.
std::size_t ValidUtf8Length(std::string_view bytes) noexcept;

}  // namespace Tessel::Text::detail
