// The Windows side of the native/managed text conversions: the iconv and
// nl_langinfo subset that Text.cpp uses (data/win32/iconv.h, langinfo.h),
// over the system's code page functions, and simple case folding through the
// invariant locale for CaseFold.cpp.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "data/CaseMapWin32.h"
#include "data/Utf8.h"
#include "data/win32/iconv.h"
#include "data/win32/langinfo.h"

namespace {

using Tessel::Text::detail::DecodeUtf8;
using Tessel::Text::detail::EncodeUtf8;
using Tessel::Text::detail::Utf8Step;

// `name` without case, '-', '_' or spaces: "utf-8" -> "UTF8".
std::string Canonical(const char* name) {
  std::string out;
  for (const char* p = name; *p != '\0'; ++p) {
    char c = *p;
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) out.push_back(c);
  }
  return out;
}

// The code page an iconv name stands for; 0 when there is none.
UINT CodePageOf(const char* name) {
  const std::string n = Canonical(name);
  struct Alias {
    const char* name;
    UINT codePage;
  };
  static constexpr Alias kAliases[] = {
      {"UTF8", CP_UTF8},     {"ASCII", 20127},      {"USASCII", 20127}, {"ANSIX341968", 20127},
      {"LATIN1", 28591},     {"WINDOWS1252", 1252}, {"MSANSI", 1252},   {"WINDOWS1251", 1251},
      {"WINDOWS1250", 1250}, {"SHIFTJIS", 932},     {"SJIS", 932},      {"EUCJP", 20932},
      {"GBK", 936},          {"GB2312", 936},       {"BIG5", 950},      {"EUCKR", 949},
      {"KOI8R", 20866},
  };
  for (const Alias& alias : kAliases)
    if (n == alias.name) return alias.codePage;
  UINT number = 0;
  // ISO-8859-N: the code pages 28591-28599, 28603 and 28605 (Windows has no
  // ISO-8859-10, -11, -14 or -16).
  if (n.size() > 7 && n.compare(0, 7, "ISO8859") == 0 && std::sscanf(n.c_str() + 7, "%u", &number) == 1) {
    const UINT page = number <= 9 ? 28590 + number : number == 13 ? 28603 : number == 15 ? 28605 : 0;
    return page != 0 && IsValidCodePage(page) ? page : 0;
  }
  if (n.size() > 2 && n.compare(0, 2, "CP") == 0 && std::sscanf(n.c_str() + 2, "%u", &number) == 1 &&
      number > 0)
    return IsValidCodePage(number) ? number : 0;
  return 0;
}

struct Converter {
  UINT codePage;
  bool toUtf8;  // code page -> UTF-8; else UTF-8 -> code page
  bool doubleByte;
};

std::size_t Fail(int error) {
  errno = error;
  return static_cast<std::size_t>(-1);
}

// One character of the code page at `in` to UTF-8 at `out`.
std::size_t DecodeFromCodePage(Converter& c, char** in, std::size_t* inLeft, char** out,
                               std::size_t* outLeft) {
  while (*inLeft > 0) {
    const auto* p = reinterpret_cast<const unsigned char*>(*in);
    std::size_t length = 1;
    if (c.doubleByte && IsDBCSLeadByteEx(c.codePage, p[0])) {
      if (*inLeft < 2) return Fail(EINVAL);
      length = 2;
    }
    char utf8[8];
    std::size_t produced = 0;
    if (p[0] < 0x80 && length == 1) {
      utf8[0] = static_cast<char>(p[0]);
      produced = 1;
    } else {
      WCHAR units[2];
      int n = MultiByteToWideChar(c.codePage, MB_ERR_INVALID_CHARS, *in, static_cast<int>(length), units, 2);
      if (n == 0 && GetLastError() == ERROR_INVALID_FLAGS)
        n = MultiByteToWideChar(c.codePage, 0, *in, static_cast<int>(length), units, 2);
      if (n <= 0) return Fail(EILSEQ);
      char32_t cp = units[0];
      if (n == 2 && cp >= 0xD800 && cp <= 0xDBFF) cp = 0x10000 + ((cp - 0xD800) << 10) + (units[1] - 0xDC00);
      produced = static_cast<std::size_t>(EncodeUtf8(cp, utf8) - utf8);
    }
    if (*outLeft < produced) return Fail(E2BIG);
    std::memcpy(*out, utf8, produced);
    *out += produced;
    *outLeft -= produced;
    *in += length;
    *inLeft -= length;
  }
  return 0;
}

// One UTF-8 character at `in` to the code page at `out`.
std::size_t EncodeToCodePage(Converter& c, char** in, std::size_t* inLeft, char** out, std::size_t* outLeft) {
  while (*inLeft > 0) {
    const auto* p = reinterpret_cast<const unsigned char*>(*in);
    const Utf8Step step = DecodeUtf8(p, *inLeft);
    if (!step.valid) {
      // A lead byte whose sequence the end cuts short may be completed by
      // input still to come.
      const bool canLead = p[0] >= 0xC2 && p[0] <= 0xF4;
      return Fail(canLead && step.length == *inLeft ? EINVAL : EILSEQ);
    }
    char bytes[8];
    std::size_t produced = 0;
    if (step.codePoint < 0x80) {
      bytes[0] = static_cast<char>(step.codePoint);
      produced = 1;
    } else {
      WCHAR units[2];
      int count = 1;
      if (step.codePoint >= 0x10000) {
        units[0] = static_cast<WCHAR>(0xD800 + ((step.codePoint - 0x10000) >> 10));
        units[1] = static_cast<WCHAR>(0xDC00 + ((step.codePoint - 0x10000) & 0x3FF));
        count = 2;
      } else {
        units[0] = static_cast<WCHAR>(step.codePoint);
      }
      BOOL usedDefault = FALSE;
      const int n = WideCharToMultiByte(c.codePage, WC_NO_BEST_FIT_CHARS, units, count, bytes, sizeof bytes,
                                        nullptr, &usedDefault);
      if (n <= 0 || usedDefault) return Fail(EILSEQ);
      produced = static_cast<std::size_t>(n);
    }
    if (*outLeft < produced) return Fail(E2BIG);
    std::memcpy(*out, bytes, produced);
    *out += produced;
    *outLeft -= produced;
    *in += step.length;
    *inLeft -= step.length;
  }
  return 0;
}

}  // namespace

iconv_t iconv_open(const char* to, const char* from) {
  const UINT toPage = CodePageOf(to);
  const UINT fromPage = CodePageOf(from);
  // Text.cpp converts between UTF-8 and one other set, nothing else.
  if (toPage == 0 || fromPage == 0 || (toPage != CP_UTF8 && fromPage != CP_UTF8)) {
    errno = EINVAL;
    return reinterpret_cast<iconv_t>(-1);
  }
  const bool toUtf8 = toPage == CP_UTF8;
  const UINT codePage = toUtf8 ? fromPage : toPage;
  CPINFO info{};
  const bool doubleByte = GetCPInfo(codePage, &info) && info.MaxCharSize > 1;
  return new Converter{codePage, toUtf8, doubleByte};
}

std::size_t iconv(iconv_t cd, char** in, std::size_t* inLeft, char** out, std::size_t* outLeft) {
  auto* converter = static_cast<Converter*>(cd);
  if (in == nullptr || *in == nullptr || inLeft == nullptr) return 0;  // back to the initial state: none kept
  if (converter->toUtf8 && converter->codePage != CP_UTF8)
    return DecodeFromCodePage(*converter, in, inLeft, out, outLeft);
  return EncodeToCodePage(*converter, in, inLeft, out, outLeft);
}

int iconv_close(iconv_t cd) {
  delete static_cast<Converter*>(cd);
  return 0;
}

const char* nl_langinfo(nl_item item) {
  thread_local char name[16];
  if (item != CODESET) return "";
  const UINT codePage = GetACP();
  if (codePage == CP_UTF8) return "UTF-8";
  std::snprintf(name, sizeof name, "CP%u", codePage);
  return name;
}

namespace Tessel::Text::detail {

char32_t FoldWithSystemLocale(char32_t c) noexcept {
  WCHAR units[2];
  int count = 1;
  if (c >= 0x10000) {
    units[0] = static_cast<WCHAR>(0xD800 + ((c - 0x10000) >> 10));
    units[1] = static_cast<WCHAR>(0xDC00 + ((c - 0x10000) & 0x3FF));
    count = 2;
  } else {
    units[0] = static_cast<WCHAR>(c);
  }
  WCHAR upper[4], lower[4];
  // The invariant locale, so that no language's own rules (Turkish dotted i)
  // apply, with linguistic casing: the file system's casing leaves out
  // mappings such as the micro sign to mu and final sigma to sigma.
  const int u = LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE | LCMAP_LINGUISTIC_CASING, units, count,
                              upper, 4, nullptr, nullptr, 0);
  if (u <= 0) return c;
  const int l = LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_LOWERCASE | LCMAP_LINGUISTIC_CASING, upper, u,
                              lower, 4, nullptr, nullptr, 0);
  if (l == 1) return lower[0];
  if (l == 2 && lower[0] >= 0xD800 && lower[0] <= 0xDBFF)
    return 0x10000 + ((static_cast<char32_t>(lower[0]) - 0xD800) << 10) + (lower[1] - 0xDC00);
  return c;  // a mapping that changes the length is no simple folding
}

}  // namespace Tessel::Text::detail
