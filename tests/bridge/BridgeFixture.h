// A bridge object loaded with a fresh scripted component.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <memory>

#include "TesselWrapper/ConnectWrapper.h"
#include "support/ScriptedConnect.h"

namespace Tessel::Testing {

// The caller's execution time reaches the component as its low 32 bits, and
// what the component leaves there comes back the same way, sign and all.
struct ExecutionTimeCase {
  long in;
  std::int64_t componentSees;
  std::int64_t componentLeaves;
  long out;
};
// Bits above the low 32 that a caller's long can carry: none where long has
// 32 bits (Windows, 32-bit Linux).
inline constexpr long kLongHighBits = sizeof(long) > 4 ? static_cast<long>(std::int64_t{1} << 32) : 0;
inline constexpr ExecutionTimeCase kExecutionTimeCases[] = {
    {-5, -5, -5, -5},
    {0, 0, (std::int64_t{1} << 32) + 5, 5},
    {7, 7, -1, -1},
    {kLongHighBits + 7, 7, 7, 7},
    {kLongHighBits + 7, 7, 8, 8},
    {0, 0, std::int64_t{1} << 31, static_cast<long>(std::numeric_limits<std::int32_t>::min())},
};

class BridgeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterScriptedProvider();
    bridge.LoadObject("script:bridge-test", "tableset");
    component = ScriptedConnect::LastCreated();
    ASSERT_NE(component, nullptr);
  }

  using Op = ScriptedConnect::Operation;

  ConnectWrapper bridge;
  std::shared_ptr<ScriptedConnect> component;
};

}  // namespace Tessel::Testing
