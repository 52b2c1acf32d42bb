// The fixture of the end-to-end suite: a bridge object made the way a native
// caller makes one (IConnectWrapper::CreateInstance, LoadObject), on a fresh
// database of the backend the test is instantiated for.
//
// PostgreSQL tests need the server of TESSEL_PG_URI; without it they skip,
// except under CI=true, where they fail.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>

#include "BackendContext.h"
#include "TesselWrapper/IConnectWrapper.h"
#include "support/BridgeHandle.h"

namespace Tessel::EndToEnd {

class EndToEndTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override;
  void TearDown() override;

  BackendContext& db() { return *context_; }
  // The bridge under test, loaded with the context's connection string.
  IConnectWrapper& bridge() { return *bridge_; }
  // The bridge's message, for failure reports.
  std::string Message() { return bridge_->GetMessage(); }

 private:
  std::unique_ptr<BackendContext> context_;
  Testing::BridgeHandle bridge_;
};

// "Sqlite" or "Postgres": the test names end in the backend they ran on.
std::string BackendName(const ::testing::TestParamInfo<Backend>& info);

// Instantiates `fixture` for every backend this build has.
#define TESSEL_E2E_INSTANTIATE(fixture) \
  INSTANTIATE_TEST_SUITE_P(Backends, fixture, ::testing::ValuesIn(BuiltBackends()), BackendName)

}  // namespace Tessel::EndToEnd
