// Simple case folding on Windows, where the C library has no C.UTF-8
// locale: the lower case of the upper case through the system's invariant
// locale (LCMapStringEx), in data/TextWin32.cpp. Private to tessel_data.
#pragma once

namespace Tessel::Text::detail {

char32_t FoldWithSystemLocale(char32_t c) noexcept;

}  // namespace Tessel::Text::detail
