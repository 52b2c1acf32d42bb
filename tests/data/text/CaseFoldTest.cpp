// Case-insensitive name comparison, ASCII and beyond.
#include <gtest/gtest.h>

#include <string>

#include "TesselWrapper/data/Text.h"

namespace Tessel::Text {
namespace {

struct FoldCase {
  std::string a;
  std::string b;
  bool equal;
};

const FoldCase kFoldCases[] = {
    {"", "", true},
    {"SolutionId", "solutionid", true},
    {"Name", "Names", false},
    {"a", "", false},
    {"[", "{", false},  // differ only in bit 0x20
    {"@", "`", false},
    {"\xC3\x84rger", "\xC3\xA4RGER", true},  // Latin-1: Ä / ä
    {"\xC3\x84", "A", false},
    {"\xC3\xA9", "e", false},  // accents matter
    // Łódź / łÓDŹ (Latin Extended-A)
    {"\xC5\x81\xC3\xB3\x64\xC5\xBA", "\xC5\x82\xC3\x93\x44\xC5\xB9", true},
    {"\xCE\xA3\xCE\x8A\xCE\xA3\xCE\xA5\xCE\xA6\xCE\x9F\xCE\xA3",
     "\xCF\x83\xCE\xAF\xCF\x83\xCF\x85\xCF\x86\xCE\xBF\xCF\x82", true},  // ΣΊΣΥΦΟΣ / σίσυφος
    {"\xCF\x83", "\xCF\x82", true},                                      // σ / final ς
    {"\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82", "\xD0\xBF\xD0\xA0\xD0\x98\xD0\x92\xD0\x95\xD0\xA2",
     true},                              // Привет / пРИВЕТ
    {"\xE2\x84\xAA", "k", true},         // Kelvin sign / k
    {"\xC2\xB5", "\xCE\x9C", true},      // micro sign / capital mu
    {"\xE1\xBA\x9E", "\xC3\x9F", true},  // capital sharp s / ß
    {"STRASSE",
     "stra\xC3\x9F"
     "e",
     false},                                         // no full folding
    {"\xC7\x85", "\xC7\x84", true},                  // title-case Dž / DŽ
    {"\xC4\xB0", "i", false},                        // dotted capital I
    {"\xC4\xB1", "I", false},                        // dotless small i
    {"\xF0\x90\x90\x80", "\xF0\x90\x90\xA8", true},  // Deseret, beyond the BMP
    {"a\xFF", "A\xFF", true},                        // ill-formed bytes compare as bytes
    {"a\xFF", "a\xFE", false},
    {"\xC3", "\xC3\xA4", false},
};

TEST(EqualsIgnoreCase, FoldsAsciiAndOtherScripts) {
  for (const FoldCase& c : kFoldCases) {
    SCOPED_TRACE(testing::PrintToString(c.a) + " vs " + testing::PrintToString(c.b));
    EXPECT_EQ(EqualsIgnoreCase(c.a, c.b), c.equal);
    EXPECT_EQ(EqualsIgnoreCase(c.b, c.a), c.equal);
  }
}

TEST(EqualsIgnoreAsciiCase, FoldsAsciiLettersOnly) {
  const FoldCase cases[] = {
      {"Double", "DOUBLE", true}, {"memo", "MeMo", true},          {"Text", "Tex", false},
      {"@", "`", false},          {"\xC3\x84", "\xC3\xA4", false}, {"", "", true},
  };
  for (const FoldCase& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.a) + " vs " + testing::PrintToString(c.b));
    EXPECT_EQ(EqualsIgnoreAsciiCase(c.a, c.b), c.equal);
  }
}

}  // namespace
}  // namespace Tessel::Text
