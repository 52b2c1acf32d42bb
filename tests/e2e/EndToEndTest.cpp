#include "EndToEndTest.h"

#include <string>

namespace Tessel::EndToEnd {

void EndToEndTest::SetUp() {
  MakeContext(GetParam(), context_);
  if (IsSkipped() || HasFatalFailure()) return;
  ASSERT_NE(context_, nullptr);
  ASSERT_FALSE(HasFailure()) << "the database could not be set up";
  bridge_ = Testing::NewBridge();
  bridge_->LoadObject(context_->ConnectionString(), context_->TableSet());
  ASSERT_TRUE(bridge_->Test()) << bridge_->GetMessage();
}

void EndToEndTest::TearDown() {
  // The bridge first: its connections close before the database goes.
  bridge_.reset();
  context_.reset();
}

std::string BackendName(const ::testing::TestParamInfo<Backend>& info) { return NameOf(info.param); }

}  // namespace Tessel::EndToEnd
