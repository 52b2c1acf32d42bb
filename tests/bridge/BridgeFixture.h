// A bridge object loaded with a fresh scripted component.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
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
inline constexpr ExecutionTimeCase kExecutionTimeCases[] = {
    {-5, -5, -5, -5},
    {0, 0, (std::int64_t{1} << 32) + 5, 5},
    {7, 7, -1, -1},
    {(1L << 32) + 7, 7, 7, 7},
    {(1L << 32) + 7, 7, 8, 8},
    {0, 0, std::int64_t{1} << 31, -(1L << 31)},
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
