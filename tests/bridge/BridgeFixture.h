// A bridge object loaded with a fresh scripted component.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "TesselWrapper/ConnectWrapper.h"
#include "support/ScriptedConnect.h"

namespace Tessel::Testing {

class BridgeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterScriptedProvider();
    bridge.LoadObject("script:bridge-test", "");
    component = ScriptedConnect::LastCreated();
    ASSERT_NE(component, nullptr);
  }

  using Op = ScriptedConnect::Operation;

  ConnectWrapper bridge;
  std::shared_ptr<ScriptedConnect> component;
};

}  // namespace Tessel::Testing
