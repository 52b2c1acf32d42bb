// Value: owning and viewing forms, and the text form of every kind.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "TesselWrapper/data/Value.h"

namespace Tessel::Data {
namespace {

TEST(ValueToString, TextFormOfEveryKind) {
  const std::uint8_t bytes[] = {0x00, 0xAB, 0xFF, 0x10};
  const struct {
    ValueView view;
    const char* expected;
  } cases[] = {
      {DBNull, ""},
      {true, "True"},
      {false, "False"},
      {std::int32_t{-5}, "-5"},
      {std::numeric_limits<std::int64_t>::min(), "-9223372036854775808"},
      {0.1, "0.1"},
      {1e20, "1E+20"},
      {std::string_view("h\xC3\xA9llo"), "h\xC3\xA9llo"},
      {DateTime(2023, 3, 15, 1, 2, 3, 4), "2023-03-15 01:02:03.004"},
      {std::span<const std::uint8_t>(bytes), "00abff10"},
      {std::span<const std::uint8_t>(), ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expected);
    EXPECT_EQ(ToString(c.view), c.expected);
    EXPECT_EQ(Value(c.view).ToString(), c.expected);
  }
}

TEST(Value, CopiesWhatAViewRefersTo) {
  auto text = std::make_unique<std::string>("transient text");
  auto data = std::make_unique<Bytes>(Bytes{1, 2, 3});
  const Value fromText{ValueView(std::string_view(*text))};
  const Value fromBytes{ValueView(std::span<const std::uint8_t>(*data))};
  text.reset();
  data.reset();
  EXPECT_EQ(fromText, Value(std::string("transient text")));
  EXPECT_EQ(fromBytes, Value(Bytes{1, 2, 3}));

  // A view of a Value refers to the Value's own storage.
  const ValueView view = fromText.View();
  ASSERT_EQ(view.index(), 5u);
  EXPECT_EQ(std::get<std::string_view>(view).data(), std::get<std::string>(fromText.Get()).data());
  EXPECT_EQ(Value(view), fromText);
  EXPECT_EQ(Value(Value(std::int64_t{7}).View()), Value(std::int64_t{7}));
  EXPECT_TRUE(Value(ValueView(DBNull)).IsDBNull());
}

}  // namespace
}  // namespace Tessel::Data
