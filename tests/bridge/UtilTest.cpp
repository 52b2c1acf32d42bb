// The bridge's stateless helpers: key removal and parameter type translation.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "TesselWrapper/Errors.h"
#include "bridge/Util.h"

namespace Tessel {
namespace {

TEST(RemoveKeyValue, DropsEveryPieceThatStartsWithTheKey) {
  const struct {
    const char* source;
    const char* key;
    const char* splitOn;
    const char* expected;
  } cases[] = {
      {"a=1;b=2;c=3", "b=", ";", "a=1;c=3;"},
      {"a=1;b=2;", "b=", ";", "a=1;;"},             // the empty last piece counts
      {"a=1;b=2;bb=5", "b", ";", "a=1;"},           // a prefix test, not a name match
      {"a=1;b=2;c=3", "B=", ";", "a=1;b=2;c=3;"},   // case-sensitive
      {"a=1;b=2", "b=", ";;", "a=1;;"},             // split at one ';', follow with ";;"
      {"a=1;;b=2", "b=", ";;", "a=1;;;;"},          // adjacent separators: an empty piece
      {"a=1,b=2;x,c=3", "b=", ",;", "a=1,;c=3,;"},  // only the first character splits
      {"a=1;b=2", "b=", "", ""},                    // no separator: nothing
      {"", "b=", ";", ";"},                         // one empty piece
      {"", "", ";", ""},
      {"a=1;b=2", "", ";", ""},  // the empty key starts every piece
      {";a=1", "x", ";", ";a=1;"},
      {"a=1\xC2\xA7"
       "b=2\xC2\xA7"
       "c=3",
       "b=", "\xC2\xA7",
       "a=1\xC2\xA7"
       "c=3\xC2\xA7"},
  };
  for (const auto& c : cases) {
    const ManagedText result =
        Util::RemoveKeyValue(std::string(c.source), std::string(c.key), std::string(c.splitOn));
    EXPECT_EQ(result, ManagedText(c.expected))
        << "source '" << c.source << "', key '" << c.key << "', split on '" << c.splitOn << "'";
  }
}

TEST(RemoveKeyValue, AbsentArgumentsAreRefused) {
  const ManagedText text = std::string("a=1");
  EXPECT_THROW(Util::RemoveKeyValue(std::nullopt, text, text), ArgumentNullError);
  EXPECT_THROW(Util::RemoveKeyValue(text, std::nullopt, text), ArgumentNullError);
  EXPECT_THROW(Util::RemoveKeyValue(text, text, std::nullopt), ArgumentNullError);
}

TEST(SystemToStdString, EndsAtTheFirstNulAndTakesAbsentAsEmpty) {
  EXPECT_EQ(Util::SystemToStdString(std::string("out=1;")), "out=1;");
  EXPECT_EQ(Util::SystemToStdString(std::string("A\0B", 3)), "A");
  EXPECT_EQ(Util::SystemToStdString(std::string()), "");
  EXPECT_EQ(Util::SystemToStdString(std::nullopt), "");
}

TEST(TranslateToNetDbType, MapsTheSevenTypesAndEverythingElseToAnsiString) {
  using Data::DbType;
  const struct {
    std::int32_t number;
    DbType expected;
  } cases[] = {
      {0, DbType::String},           {1, DbType::Int32},
      {2, DbType::Double},           {3, DbType::Decimal},
      {4, DbType::Currency},         {5, DbType::DateTime},
      {6, DbType::Binary},           {7, DbType::AnsiString},
      {-1, DbType::AnsiString},      {16, DbType::AnsiString},
      {INT_MIN, DbType::AnsiString}, {INT_MAX, DbType::AnsiString},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Util::TranslateToNetDbType(static_cast<SimpleDbType>(c.number)), c.expected) << c.number;
  }
}

}  // namespace
}  // namespace Tessel
