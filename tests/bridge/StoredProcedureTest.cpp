// Routine calls: how argument records become the component's parameters,
// and the in/out text.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "TesselWrapper/Errors.h"
#include "bridge/BridgeFixture.h"

namespace Tessel::Testing {
namespace {

using Data::DbType;
using Data::ParameterDirection;
using Data::Value;

SimpleDbParameter Argument(std::int32_t type, std::string text, std::int32_t intValue = 0,
                           double doubleValue = 0.0, std::int32_t direction = Input) {
  ParamValue value;
  value.valueType = static_cast<SimpleDbType>(type);
  value.stringValue = std::move(text);
  if (type == Int32 || type == Binary) {
    value.numericValue.intValue = intValue;
  } else {
    value.numericValue.doubleValue = doubleValue;
  }
  return SimpleDbParameter("@p", value, static_cast<SimpleParameterDirection>(direction));
}

class StoredProcedureTest : public BridgeTest {};

TEST_F(StoredProcedureTest, EachValueTypeGivesItsTypeSizeAndValue) {
  const struct {
    SimpleDbParameter argument;
    DbType type;
    std::int32_t size;
    Value value;
  } cases[] = {
      {Argument(0, "abc"), DbType::String, 3, Value("abc")},
      {Argument(0, ""), DbType::String, 0, Value("")},
      {Argument(1, "", -12), DbType::Int32, 0, Value(std::int32_t{-12})},
      {Argument(2, "", 0, 2.5), DbType::Double, 0, Value(2.5)},
      {Argument(3, "", 0, 12.25), DbType::Decimal, 0, Value(12.25)},
      {Argument(4, "", 0, -3.5), DbType::Currency, 0, Value(-3.5)},
      {Argument(5, "", 0, 45000.75), DbType::DateTime, 0, Value(45000.75)},
      {Argument(6, "", 255), DbType::Binary, 0, Value(std::int32_t{255})},
      {Argument(9, "xy"), DbType::AnsiString, 2, Value("")},
      {Argument(-1, "", 5), DbType::AnsiString, 0, Value("")},
      // A numeric argument that also carries text: the text sizes it, the number is the value.
      {Argument(1, "12345", 7), DbType::Int32, 5, Value(std::int32_t{7})},
      {Argument(2, "abcd", 0, 1.5), DbType::Double, 4, Value(1.5)},
      // The size counts bytes of the native text; the value ends at its first NUL.
      {Argument(0, std::string("ab\0cd", 5)), DbType::String, 5, Value("ab")},
      {Argument(0, "h\xC3\xA9llo"), DbType::String, 6, Value("h\xC3\xA9llo")},
  };
  std::vector<SimpleDbParameter> arguments;
  for (const auto& c : cases) arguments.push_back(c.argument);
  std::string output;
  bridge.ExecuteStoredProcedure("proc", arguments, &output);

  ASSERT_EQ(component->ParameterCalls().size(), std::size(cases));
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const auto& call = component->ParameterCalls()[i];
    const auto& c = cases[i];
    SCOPED_TRACE(testing::Message() << "case " << i << ", valueType "
                                    << static_cast<int>(c.argument.paramValue.valueType));
    EXPECT_EQ(call.name, "@p");
    EXPECT_EQ(call.type, c.type);
    EXPECT_EQ(call.size, c.size);
    EXPECT_EQ(call.value, c.value) << call.value.ToString();
  }
  ASSERT_EQ(component->RoutineCalls().size(), 1u);
  EXPECT_EQ(component->RoutineCalls()[0].parameters.size(), std::size(cases));
}

TEST_F(StoredProcedureTest, DirectionsAreHandedOnUntranslated) {
  std::vector<SimpleDbParameter> arguments;
  const std::int32_t directions[] = {0, 1, 2, 3, 6, 42};
  for (std::int32_t d : directions) arguments.push_back(Argument(1, "", d, 0, d));
  std::string output;
  bridge.ExecuteStoredProcedure("proc", arguments, &output);
  ASSERT_EQ(component->ParameterCalls().size(), std::size(directions));
  for (std::size_t i = 0; i < std::size(directions); ++i) {
    EXPECT_EQ(static_cast<std::int32_t>(component->ParameterCalls()[i].direction), directions[i]);
  }
}

TEST_F(StoredProcedureTest, TheOutputTextMakesTheRoundTrip) {
  component->ScriptRoutine({.result = 7, .output = ManagedText("id=7;name=x;")});
  std::string output = "sent in";
  EXPECT_EQ(bridge.ExecuteStoredProcedure(std::string("Add\0Case", 8), {}, &output), 7);
  ASSERT_EQ(component->RoutineCalls().size(), 1u);
  EXPECT_EQ(component->RoutineCalls()[0].procName, "Add");
  EXPECT_EQ(component->RoutineCalls()[0].outputIn, ManagedText("sent in"));
  EXPECT_TRUE(component->RoutineCalls()[0].parameters.empty());
  EXPECT_EQ(output, "id=7;name=x;");

  component->ScriptRoutine({.result = -1, .output = std::nullopt});  // leaves the text as received
  EXPECT_EQ(bridge.ExecuteStoredProcedure("p", {}, &output), -1);
  EXPECT_EQ(output, "id=7;name=x;");

  component->ScriptRoutine({.result = 0, .output = ManagedText(std::nullopt)});
  bridge.ExecuteStoredProcedure("p", {}, &output);
  EXPECT_EQ(output, "") << "an absent text comes back empty";
}

TEST_F(StoredProcedureTest, TheOutputIsUnchangedWhenTheComponentThrows) {
  component->ScriptRoutine({.result = 1, .output = ManagedText("changed")});
  std::string output = "entry";
  component->FailNext(Op::ExecuteStoredProcedure, DatabaseError("routine failed"));
  EXPECT_THROW(bridge.ExecuteStoredProcedure("p", {Argument(0, "x")}, &output), DatabaseError);
  EXPECT_EQ(output, "entry");

  component->FailNext(Op::NewDbParameter, ArgumentError("bad parameter"));
  EXPECT_THROW(bridge.ExecuteStoredProcedure("p", {Argument(0, "x")}, &output), ArgumentError);
  EXPECT_EQ(output, "entry");
  EXPECT_EQ(component->CallCount(Op::ExecuteStoredProcedure), 1);
}

TEST(SimpleDbParameter, CopiesOwnTheirTextAndTheWholeNumber) {
  ParamValue value;
  EXPECT_EQ(value.stringValue.size(), 0u);
  value.valueType = Double;
  value.stringValue = "text";
  value.numericValue.doubleValue = -1.0 / 3.0;

  auto* source = new SimpleDbParameter("name", value, InputOutput);
  const SimpleDbParameter copy(*source);
  ParamValue assigned;
  assigned = source->paramValue;
  delete source;

  EXPECT_EQ(copy.parameterName, "name");
  EXPECT_EQ(copy.parameterDirection, InputOutput);
  EXPECT_EQ(copy.paramValue.stringValue, "text");
  EXPECT_EQ(assigned.stringValue, "text");
  EXPECT_EQ(copy.paramValue.numericValue.doubleValue, -1.0 / 3.0);
  EXPECT_EQ(assigned.numericValue.intValue, value.numericValue.intValue);
  EXPECT_EQ(assigned.numericValue.doubleValue, value.numericValue.doubleValue);
}

}  // namespace
}  // namespace Tessel::Testing
