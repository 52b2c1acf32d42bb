// Text, numbers and dates as the library converts them, under the locales a
// host process may choose: C, C.UTF-8, and locales built with localedef
// (Latin-1, Greek, KOI8-R, Windows-1252, EUC-JP, Shift_JIS, Turkish UTF-8).
// The first byte picks the locale (uselocale, as a host's setlocale would
// take effect), the rest is the text, and a double read from it.
//
// Oracle:
//   - native to managed text: always valid UTF-8, never past the first NUL;
//     under a UTF-8 locale valid input comes back unchanged; text that the
//     locale's set decodes (glibc's iconv, asked by the harness itself)
//     comes back as exactly what iconv makes of it, and turns back into the
//     very same bytes; the view form gives the same text as the copying one;
//   - managed to native: text whose every character the set has comes back
//     unchanged through managed and native again;
//   - comparing names: ignoring ASCII case agrees with the harness's own
//     folding; ignoring case is reflexive and symmetric;
//   - numbers: the shortest text of a double reads back as the same double,
//     and number text reads and prints the same under every locale as in C;
//   - dates: an OLE Automation date in range becomes the millisecond its
//     documented rule gives (OaDate.h), whose text reads back as the same
//     date; one outside the range is refused.
#include <fuzzer/FuzzedDataProvider.h>
#include <iconv.h>
#include <langinfo.h>
#include <locale.h>
#include <sanitizer/lsan_interface.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "OaDate.h"
#include "TesselWrapper/Errors.h"
#include "TesselWrapper/data/DateTime.h"
#include "TesselWrapper/data/Text.h"
#include "Utf8.h"
#include "data/NumberText.h"
#include "support/TestLocale.h"

namespace {

using Tessel::Fuzz::Check;
using Tessel::Fuzz::Violation;

struct Locale {
  std::string name;
  locale_t locale;  // LC_GLOBAL_LOCALE for the process's own ("C")
  std::string charset;
  iconv_t toUtf8 = reinterpret_cast<iconv_t>(-1);
  iconv_t fromUtf8 = reinterpret_cast<iconv_t>(-1);
  bool utf8 = false;
};

// Never destroyed: the locales and iconv descriptors live as long as the
// process.
std::vector<Locale>& Locales() {
  static auto* locales = new std::vector<Locale>;
  return *locales;
}

void Add(const std::string& name, locale_t locale) {
  Locale l;
  l.name = name;
  l.locale = locale;
  l.charset = locale == LC_GLOBAL_LOCALE ? nl_langinfo(CODESET) : nl_langinfo_l(CODESET, locale);
  l.utf8 = l.charset == "UTF-8" || l.charset == "ANSI_X3.4-1968";
  l.toUtf8 = iconv_open("UTF-8", l.charset.c_str());
  l.fromUtf8 = iconv_open(l.charset.c_str(), "UTF-8");
  Locales().push_back(l);
}

// What glibc's iconv makes of `in`; nullopt when it refuses any of it.
std::optional<std::string> Iconv(iconv_t cd, const std::string& in) {
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  std::string out(in.size() * 4 + 16, '\0');
  char* src = const_cast<char*>(in.data());
  std::size_t srcLeft = in.size();
  char* dst = out.data();
  std::size_t dstLeft = out.size();
  if (iconv(cd, &src, &srcLeft, &dst, &dstLeft) == static_cast<std::size_t>(-1)) return std::nullopt;
  if (iconv(cd, nullptr, nullptr, &dst, &dstLeft) == static_cast<std::size_t>(-1)) return std::nullopt;
  out.resize(out.size() - dstLeft);
  return out;
}

std::string Hex(const std::string& bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
    out += ' ';
  }
  return out;
}

bool AsciiFoldEqual(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

void CheckText(const Locale& l, const std::string& input) {
  const std::string where = " under " + l.name + " (" + l.charset + "), input " + Hex(input);
  const std::string native = input.c_str();  // native text ends at its first NUL
  const std::string managed = Tessel::Text::NativeToManaged(input.c_str());
  Check(Tessel::Fuzz::IsValidUtf8(managed), "NativeToManaged gave invalid UTF-8 " + Hex(managed) + where);
  Check(managed.find('\0') == std::string::npos, "NativeToManaged kept a NUL" + where);
  Check(Tessel::Text::NativeToManaged(input) == managed, "the std::string form read past the NUL" + where);
  std::string scratch;
  Check(std::string(Tessel::Text::NativeToManagedView(input.c_str(), scratch)) == managed,
        "NativeToManagedView differs from NativeToManaged" + where);

  if (l.utf8 && Tessel::Fuzz::IsValidUtf8(native))
    Check(managed == native, "valid UTF-8 changed under a UTF-8 locale: " + Hex(managed) + where);
  if (!l.utf8) {
    const std::optional<std::string> decoded = Iconv(l.toUtf8, native);
    if (decoded) {
      Check(managed == *decoded, "decoded as " + Hex(managed) + ", iconv says " + Hex(*decoded) + where);
      const std::optional<std::string> again = Iconv(l.fromUtf8, *decoded);
      if (again && *again == native) {
        Check(Tessel::Text::ManagedToNative(managed) == native,
              "no round trip: back as " + Hex(Tessel::Text::ManagedToNative(managed)) + where);
      }
    }
  }

  // The input read as managed text, when it is: to native and back.
  if (Tessel::Fuzz::IsValidUtf8(native)) {
    const std::string back = Tessel::Text::ManagedToNative(native);
    Check(back.find('\0') == std::string::npos, "ManagedToNative made a NUL" + where);
    const bool representable = l.utf8 || [&] {
      const std::optional<std::string> encoded = Iconv(l.fromUtf8, native);
      if (!encoded) return false;
      const std::optional<std::string> decoded = Iconv(l.toUtf8, *encoded);
      return decoded && *decoded == native;
    }();
    if (representable)
      Check(Tessel::Text::NativeToManaged(back) == native,
            "managed text the set can hold did not come back: " + Hex(Tessel::Text::NativeToManaged(back)) +
                where);
  }
}

void CheckNames(const std::string& a, const std::string& b, const std::string& where) {
  Check(Tessel::Text::EqualsIgnoreAsciiCase(a, b) == AsciiFoldEqual(a, b),
        "EqualsIgnoreAsciiCase is wrong" + where);
  if (Tessel::Fuzz::IsValidUtf8(a) && Tessel::Fuzz::IsValidUtf8(b)) {
    Check(Tessel::Text::EqualsIgnoreCase(a, a), "EqualsIgnoreCase is not reflexive" + where);
    Check(Tessel::Text::EqualsIgnoreCase(a, b) == Tessel::Text::EqualsIgnoreCase(b, a),
          "EqualsIgnoreCase is not symmetric" + where);
    if (AsciiFoldEqual(a, b))
      Check(Tessel::Text::EqualsIgnoreCase(a, b), "ASCII case is not ignored" + where);
  }
}

struct NumberReadings {
  Tessel::Data::ParseOutcome doubleOutcome, intOutcome;
  std::uint64_t doubleBits = 0;
  std::int64_t integer = 0;
  std::string formatted;
};

NumberReadings ReadNumbers(const std::string& text, double d) {
  NumberReadings r;
  double parsed = 0;
  r.doubleOutcome = Tessel::Data::TryParseDouble(text, parsed);
  if (std::isnan(parsed)) parsed = std::numeric_limits<double>::quiet_NaN();  // one NaN
  std::memcpy(&r.doubleBits, &parsed, sizeof parsed);
  r.intOutcome = Tessel::Data::TryParseInt64(text, r.integer);
  r.formatted = Tessel::Data::FormatDouble(d);
  return r;
}

void CheckNumber(double d, const std::string& where) {
  const std::string text = Tessel::Data::FormatDouble(d);
  double back = 0;
  Check(Tessel::Data::TryParseDouble(text, back) == Tessel::Data::ParseOutcome::Ok,
        "FormatDouble's own text '" + text + "' does not read back" + where);
  if (std::isnan(d)) {
    Check(std::isnan(back), "NaN read back as " + text + where);
  } else {
    Check(std::memcmp(&back, &d, sizeof d) == 0, "'" + text + "' read back as another double" + where);
  }
}

void CheckDate(double oa, const std::string& where) {
  using Tessel::Data::DateTime;
  std::optional<DateTime> when;
  try {
    when = DateTime::FromOADate(oa);
  } catch (const Tessel::Error&) {
  }
  const std::string what = "OA date " + Tessel::Data::FormatDouble(oa);
  if (std::isnan(oa) || oa <= -657435.0 || oa >= 2958466.0) {
    Check(!when, what + " was taken, though outside the range" + where);
    return;
  }
  if (!when) {
    Check(oa < -657434.999 || oa > 2958465.999, what + " was refused, though inside the range" + where);
    return;
  }
  static const std::int64_t epoch = DateTime(1899, 12, 30).Ticks();
  const std::int64_t expected = epoch + Tessel::Fuzz::OaDateMilliseconds(oa) * DateTime::kTicksPerMillisecond;
  Check(when->Ticks() == expected,
        what + " became " + when->ToString() + ", not " + DateTime(expected).ToString() + where);
  const std::string text = when->ToString();
  DateTime parsed;
  try {
    parsed = DateTime::Parse(text);
  } catch (const Tessel::Error& e) {
    Violation(what + ": its own text '" + text + "' does not parse: " + e.what() + where);
  }
  Check(parsed == *when, what + ": '" + text + "' parses as " + parsed.ToString() + where);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  Add("C", LC_GLOBAL_LOCALE);
  // glibc keeps copies of locale paths it never frees; not the library's.
  __lsan_disable();
  if (locale_t utf8 = newlocale(LC_ALL_MASK, "C.UTF-8", static_cast<locale_t>(nullptr))) Add("C.UTF-8", utf8);
  static const char* const kBuilt[][2] = {
      {"de_DE", "ISO-8859-1"}, {"el_GR", "ISO-8859-7"}, {"ru_RU", "KOI8-R"}, {"en_US", "CP1252"},
      {"ja_JP", "EUC-JP"},     {"ja_JP", "SHIFT_JIS"},  {"tr_TR", "UTF-8"}};
  for (const auto& [input, charmap] : kBuilt) {
    if (locale_t locale = Tessel::Testing::TestLocale(input, charmap)) {
      Add(std::string(input) + "." + charmap, locale);
    } else {
      std::fprintf(stderr, "locale %s.%s cannot be had here (localedef needs the locales package)\n", input,
                   charmap);
    }
  }
  __lsan_enable();
  std::fprintf(stderr, "text harness: %zu locales\n", Locales().size());
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const Locale& l = Locales()[data[0] % Locales().size()];
  FuzzedDataProvider in(data + 1, size - 1);
  const double d = in.ConsumeFloatingPoint<double>();
  double day = in.ConsumeFloatingPointInRange<double>(-700000.0, 3000000.0);
  if (in.ConsumeIntegralInRange(0, 9) == 0) day = d;
  const std::string other = in.ConsumeRandomLengthString(16);
  const std::string text = in.ConsumeRemainingBytesAsString();

  // Number text in C first, to compare with the locale's.
  const NumberReadings inC = ReadNumbers(text, d);

  const locale_t previous = uselocale(l.locale);
  const std::string where = " under " + l.name;
  CheckText(l, text);
  CheckNames(text, other, where);
  CheckNumber(d, where);
  CheckDate(day, where);
  const NumberReadings here = ReadNumbers(text, d);
  Check(here.doubleOutcome == inC.doubleOutcome && here.doubleBits == inC.doubleBits,
        "'" + text + "' reads as another double than in C" + where);
  Check(here.intOutcome == inC.intOutcome && here.integer == inC.integer,
        "'" + text + "' reads as another integer than in C" + where);
  Check(here.formatted == inC.formatted, "the text of a double differs from C's: " + here.formatted + where);
  uselocale(previous);
  return 0;
}
