#include "EndToEndTest.h"

#include <optional>
#include <string>

#ifdef TESSEL_E2E_POSTGRES
#include "PgTestServer.h"
#endif

namespace Tessel::EndToEnd {

void EndToEndTest::SetUp() {
  if (GetParam() == Backend::Sqlite) {
    context_ = MakeSqliteContext();
  } else {
#ifdef TESSEL_E2E_POSTGRES
    const std::optional<std::string> uri = Testing::PgUri();
    if (!uri) {
      if (Testing::RunningUnderCi()) FAIL() << "TESSEL_PG_URI is not set under CI";
      GTEST_SKIP() << "TESSEL_PG_URI is not set (start a server with .ci/postgres-server.sh start)";
    }
    context_ = MakePostgresContext(*uri);
#endif
  }
  ASSERT_NE(context_, nullptr);
  ASSERT_FALSE(HasFailure()) << "the database could not be set up";
  bridge_ = BridgePtr(IConnectWrapper::CreateInstance());
  bridge_->LoadObject(context_->ConnectionString(), context_->TableSet());
  ASSERT_TRUE(bridge_->Test()) << bridge_->GetMessage();
}

void EndToEndTest::TearDown() {
  // The bridge first: its connections close before the database goes.
  bridge_.reset();
  context_.reset();
}

std::string BackendName(const ::testing::TestParamInfo<Backend>& info) {
  return info.param == Backend::Sqlite ? "Sqlite" : "Postgres";
}

void PrintTo(Backend backend, std::ostream* out) {
  *out << (backend == Backend::Sqlite ? "Sqlite" : "Postgres");
}

}  // namespace Tessel::EndToEnd
