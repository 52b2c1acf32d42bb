// A strict UTF-8 check of the harnesses' own (shortest forms only, no
// surrogates, nothing above U+10FFFF), so that an oracle on text does not
// lean on the library's validator, which is part of what is under test.
#pragma once

#include <cstddef>
#include <string_view>

namespace Tessel::Fuzz {

inline bool IsValidUtf8(std::string_view text) {
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  std::size_t i = 0;
  while (i < n) {
    const unsigned char c = s[i];
    if (c < 0x80) {
      ++i;
      continue;
    }
    std::size_t length;
    unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
    if (c >= 0xC2 && c <= 0xDF) {
      length = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
      length = 3;
      if (c == 0xE0) low = 0xA0;
      if (c == 0xED) high = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      length = 4;
      if (c == 0xF0) low = 0x90;
      if (c == 0xF4) high = 0x8F;
    } else {
      return false;
    }
    if (i + length > n) return false;
    if (s[i + 1] < low || s[i + 1] > high) return false;
    for (std::size_t k = 2; k < length; ++k)
      if (s[i + k] < 0x80 || s[i + k] > 0xBF) return false;
    i += length;
  }
  return true;
}

}  // namespace Tessel::Fuzz
