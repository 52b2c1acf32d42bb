// Native <-> UTF-8 text conversion: validation under a UTF-8 locale, iconv
// with explicit character sets, and the whole road under a real
// single-byte locale when one can be built on this machine.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "TesselWrapper/data/Text.h"
#include "data/TextCodec.h"
#include "support/TestLocale.h"

namespace Tessel::Text {
namespace {

const std::string kFFFD = "\xEF\xBF\xBD";

struct Utf8Case {
  std::string input;
  std::string expected;
};

// Each maximal subpart of an ill-formed sequence becomes one U+FFFD.
const Utf8Case kUtf8Cases[] = {
    {"", ""},
    {"plain ascii", "plain ascii"},
    {"h\xC3\xA9llo \xE2\x82\xAC \xF0\x9F\x98\x80", "h\xC3\xA9llo \xE2\x82\xAC \xF0\x9F\x98\x80"},
    {"a\xFF"
     "b",
     "a" + kFFFD + "b"},
    {"\x80", kFFFD},
    {"\xC0\xAF", kFFFD + kFFFD},                          // overlong "/"
    {"\xE0\x80\xAF", kFFFD + kFFFD + kFFFD},              // overlong, three bytes
    {"\xED\xA0\x80", kFFFD + kFFFD + kFFFD},              // a surrogate
    {"\xF4\x90\x80\x80", kFFFD + kFFFD + kFFFD + kFFFD},  // above U+10FFFF
    {"\xF5\x80", kFFFD + kFFFD},
    {"\xE2\x82", kFFFD},         // cut short at the end
    {"\xE2\x82x", kFFFD + "x"},  // cut short by ASCII
    {"\xF0\x9F\x98"
     "A",
     kFFFD + "A"},
    {"0123456789abc\xFF"
     "defghijklmnop\xC3\xA9",
     "0123456789abc" + kFFFD + "defghijklmnop\xC3\xA9"},
};

TEST(NativeToManagedUtf8, ValidatesAndReplacesIllFormedSequences) {
  ASSERT_TRUE(NativeIsUtf8()) << "the test process runs in the C locale";
  for (const Utf8Case& c : kUtf8Cases) {
    SCOPED_TRACE(testing::PrintToString(c.input));
    EXPECT_EQ(NativeToManaged(c.input.c_str()), c.expected);
    EXPECT_EQ(NativeToManaged(c.input), c.expected);
    std::string scratch;
    EXPECT_EQ(NativeToManagedView(c.input.c_str(), scratch), c.expected);
    EXPECT_EQ(ManagedToNative(c.expected), c.expected);
  }
}

TEST(NativeToManagedUtf8, ViewOfValidTextIsTheInputItself) {
  const char* valid =
      "Gr\xC3\xBC\xC3\x9F"
      "e aus K\xC3\xB6ln, and some more ASCII";
  std::string scratch = "untouched";
  const std::string_view view = NativeToManagedView(valid, scratch);
  EXPECT_EQ(view.data(), valid);
  EXPECT_EQ(view.size(), std::strlen(valid));
  EXPECT_EQ(scratch, "untouched");

  const char* invalid = "bad \xFF byte";
  const std::string_view fixed = NativeToManagedView(invalid, scratch);
  EXPECT_EQ(fixed, "bad " + kFFFD + " byte");
  EXPECT_EQ(fixed.data(), scratch.data());
}

TEST(NativeToManaged, TextEndsAtTheFirstNul) {
  const std::string native("A\0B", 3);
  EXPECT_EQ(NativeToManaged(native), "A");
  EXPECT_EQ(ManagedToNative(std::string_view("A\0B", 3)), "A");
  EXPECT_EQ(ManagedToNative(ManagedText(std::string("\0B", 2))), "");
}

TEST(NativeToManaged, NullAndAbsentGiveEmptyText) {
  EXPECT_EQ(NativeToManaged(static_cast<const char*>(nullptr)), "");
  std::string scratch = "x";
  EXPECT_TRUE(NativeToManagedView(nullptr, scratch).empty());
  EXPECT_EQ(ManagedToNative(ManagedText()), "");
  EXPECT_EQ(ManagedToNative(ManagedText("")), "");
  EXPECT_EQ(NativeToManaged(std::string()), "");
}

TEST(CharsetNames, Utf8AndAsciiCountAsUtf8) {
  for (const char* name : {"UTF-8", "utf8", "Utf_8", "ANSI_X3.4-1968", "US-ASCII", "ascii"}) {
    EXPECT_TRUE(detail::IsUtf8Charset(name)) << name;
  }
  for (const char* name : {"ISO-8859-1", "CP1252", "EUC-JP", "UTF-16", "KOI8-R"}) {
    EXPECT_FALSE(detail::IsUtf8Charset(name)) << name;
  }
}

// UTF-8 of the code points 1..255, which Latin-1 maps one to one.
std::string Latin1AsUtf8() {
  std::string out;
  for (unsigned cp = 1; cp < 256; ++cp) {
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

std::string AllBytesButNul() {
  std::string bytes;
  for (int b = 1; b < 256; ++b) bytes += static_cast<char>(b);
  return bytes;
}

TEST(Codec, Latin1DecodesEveryByteAndEncodesItBack) {
  const std::string bytes = AllBytesButNul();
  EXPECT_EQ(detail::Decode(bytes, "ISO-8859-1"), Latin1AsUtf8());
  EXPECT_EQ(detail::Encode(Latin1AsUtf8(), "ISO-8859-1"), bytes);
}

TEST(Codec, Windows1252KeepsItsFiveUndefinedBytes) {
  // 0x80 is the euro sign; 0x81, 0x8D, 0x8F, 0x90, 0x9D are undefined in the
  // code page and stand for the C1 controls of the same number.
  const std::string native = "\x80\x81\x8D\x8F\x90\x9D\x9F";
  const std::string utf8 = "\xE2\x82\xAC\xC2\x81\xC2\x8D\xC2\x8F\xC2\x90\xC2\x9D\xC5\xB8";
  for (const char* name : {"CP1252", "WINDOWS-1252"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(detail::Decode(native, name), utf8);
    EXPECT_EQ(detail::Encode(utf8, name), native);
    EXPECT_EQ(detail::Encode(detail::Decode(AllBytesButNul(), name), name), AllBytesButNul());
  }
  // Other C1 controls are not in the code page.
  EXPECT_EQ(detail::Encode("\xC2\x80", "CP1252"), "?");
}

TEST(Codec, CharactersTheSetLacksBecomeQuestionMarks) {
  struct Case {
    const char* charset;
    std::string utf8;
    std::string native;
  };
  const Case cases[] = {
      {"ISO-8859-1",
       "a\xC4\x80"
       "b\xE2\x82\xAC"
       "c\xF0\x9F\x98\x80",
       "a?b?c?"},  // A-macron, euro, emoji
      {"ISO-8859-1",
       "a\xFF"
       "b",
       "a?b"},                                                    // ill-formed input
      {"ISO-8859-1", "\xC3\xA9\xE2\x82", "\xE9?"},                // cut short at the end
      {"ISO-8859-1", "\xED\xA0\x80", "???"},                      // a surrogate
      {"CP1252", "\xE2\x82\xAC\xD0\x96", "\x80?"},                // euro, Cyrillic Zhe
      {"EUC-JP", "\xE3\x81\x82\xF0\x9F\x98\x80!", "\xA4\xA2?!"},  // hiragana a, emoji
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.charset) + " " + testing::PrintToString(c.utf8));
    EXPECT_EQ(detail::Encode(c.utf8, c.charset), c.native);
  }
}

TEST(Codec, UndecodableMultiByteInputBecomesReplacementCharacters) {
  EXPECT_EQ(detail::Decode("\xA4\xA2", "EUC-JP"), "\xE3\x81\x82");
  EXPECT_EQ(detail::Decode("x\xA4", "EUC-JP"), "x" + kFFFD);  // cut short
  EXPECT_EQ(detail::Decode("\xA4\xA2\xFF"
                           "b",
                           "EUC-JP"),
            "\xE3\x81\x82" + kFFFD + "b");
}

TEST(Codec, UnknownCharsetKeepsAsciiOnly) {
  EXPECT_EQ(detail::Decode("ok\xE9", "NO-SUCH-CHARSET"), "ok" + kFFFD);
  EXPECT_EQ(detail::Encode("ok\xC3\xA9", "NO-SUCH-CHARSET"), "ok?");
}

TEST(Codec, ManyCharsetsInTurnStayCorrect) {
  // More sets than the per-thread descriptor cache holds, twice over, so
  // that evicted descriptors are reopened.
  const char* charsets[] = {"ISO-8859-1", "ISO-8859-2",  "ISO-8859-4",  "ISO-8859-5",  "ISO-8859-7",
                            "ISO-8859-9", "ISO-8859-10", "ISO-8859-13", "ISO-8859-15", "KOI8-R"};
  const std::string native = "A\xE9Z";
  for (int round = 0; round < 2; ++round) {
    for (const char* name : charsets) {
      SCOPED_TRACE(name);
      const std::string utf8 = detail::Decode(native, name);
      EXPECT_EQ(utf8.size(), 4u);  // A, one two-byte letter, Z
      EXPECT_EQ(detail::Encode(utf8, name), native);
    }
  }
}

// The whole road under a Windows-1252 locale (support/TestLocale.h builds it
// when the system has none).
class Windows1252Locale : public testing::Test {
 protected:
  void SetUp() override { TESSEL_REQUIRE_LOCALE(locale_); }

  Testing::LocaleScope locale_{"en_US", "CP1252"};
};

TEST_F(Windows1252Locale, ConvertsThroughTheLocaleCharset) {
  EXPECT_FALSE(NativeIsUtf8());
  EXPECT_EQ(NativeToManaged("caf\xE9 \x80"), "caf\xC3\xA9 \xE2\x82\xAC");
  std::string scratch;
  EXPECT_EQ(NativeToManagedView("caf\xE9", scratch), "caf\xC3\xA9");
  EXPECT_EQ(ManagedToNative("caf\xC3\xA9 \xE2\x82\xAC \xC4\x80"), "caf\xE9 \x80 ?");
  EXPECT_EQ(NativeToManaged(std::string("\xE9\0\xE9", 3)), "\xC3\xA9");
}

TEST_F(Windows1252Locale, EveryByteComesBackUnchanged) {
  const std::string bytes = AllBytesButNul();
  EXPECT_EQ(ManagedToNative(NativeToManaged(bytes)), bytes);
}

}  // namespace
}  // namespace Tessel::Text
