// Case-insensitive comparison of names.
//
// The case mappings come from the C library's C.UTF-8 locale (independent of
// the process's own locale), used through a locale object of our own so that
// nothing global is touched; on Windows from the system's invariant locale
// (data/CaseMapWin32.h). Two characters are equal when their folds are;
// a fold is the lower case of the upper case, which gives Unicode's simple
// case folding for the cases names meet: final sigma and sigma, the micro
// sign and mu, the Kelvin sign and k, long s and s, capital sharp s and ß,
// title-case digraphs.
#if defined(_WIN32)
#include "data/CaseMapWin32.h"
#else
#include <locale.h>

#include <cwctype>
#endif

#include "TesselWrapper/data/Text.h"
#include "data/Utf8.h"

namespace Tessel::Text {
namespace {

#if !defined(_WIN32)
// The C.UTF-8 locale object, freed at exit.
class CaseMappingLocale {
 public:
  CaseMappingLocale() noexcept {
    for (const char* name : {"C.UTF-8", "C.utf8", "en_US.UTF-8"}) {
      locale_ = newlocale(LC_CTYPE_MASK, name, static_cast<locale_t>(nullptr));
      if (locale_ != static_cast<locale_t>(nullptr)) break;
    }
  }
  ~CaseMappingLocale() {
    if (locale_ != static_cast<locale_t>(nullptr)) freelocale(locale_);
  }
  CaseMappingLocale(const CaseMappingLocale&) = delete;
  CaseMappingLocale& operator=(const CaseMappingLocale&) = delete;

  // Null when no UTF-8 locale is installed; folding is then ASCII only.
  locale_t Get() const noexcept { return locale_; }

 private:
  locale_t locale_ = static_cast<locale_t>(nullptr);
};
#endif

constexpr char32_t AsciiLower(char32_t c) noexcept { return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c; }

char32_t Fold(char32_t c) noexcept {
  if (c < 0x80) return AsciiLower(c);
  // Dotted capital I and dotless small i have no simple folding; the
  // lower-of-upper rule would make both equal to an ASCII "i", which only
  // Turkish rules want.
  if (c == 0x130 || c == 0x131 || c > 0x10FFFF) return c;
#if defined(_WIN32)
  return detail::FoldWithSystemLocale(c);
#else
  static const CaseMappingLocale locale;
  const locale_t loc = locale.Get();
  if (loc == static_cast<locale_t>(nullptr)) return c;
  const auto wc = static_cast<wint_t>(c);
  return static_cast<char32_t>(towlower_l(towupper_l(wc, loc), loc));
#endif
}

// The next unit of `s` from `i` on: a code point, or for an ill-formed byte
// sequence a value outside Unicode that stands for exactly those bytes, so
// that malformed names still compare byte for byte.
char32_t NextUnit(std::string_view s, std::size_t& i) noexcept {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data()) + i;
  const detail::Utf8Step step = detail::DecodeUtf8(p, s.size() - i);
  i += step.length;
  if (step.valid) return step.codePoint;
  // At most three bytes: packed below a tag bit and their count.
  char32_t unit = 0x80000000u | (static_cast<char32_t>(step.length) << 24);
  for (std::uint8_t k = 0; k < step.length; ++k) unit |= static_cast<char32_t>(p[k]) << (8 * k);
  return unit;
}

}  // namespace

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  std::size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    const auto ca = static_cast<unsigned char>(a[i]);
    const auto cb = static_cast<unsigned char>(b[j]);
    if ((ca | cb) < 0x80) {
      if (AsciiLower(ca) != AsciiLower(cb)) return false;
      ++i;
      ++j;
      continue;
    }
    // A non-ASCII character may still fold to an ASCII one (the Kelvin sign
    // to "k"), so both sides are decoded.
    if (Fold(NextUnit(a, i)) != Fold(NextUnit(b, j))) return false;
  }
  return i == a.size() && j == b.size();
}

bool EqualsIgnoreAsciiCase(std::string_view a, std::string_view b) noexcept {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(static_cast<unsigned char>(a[i])) != AsciiLower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

}  // namespace Tessel::Text
