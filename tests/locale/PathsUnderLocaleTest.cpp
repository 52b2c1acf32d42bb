// An SQLite file named in the caller's own character set. The bridge turns
// the connection string into UTF-8 on the way in; the file that is opened
// must still be the one whose name has the caller's bytes.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "TesselWrapper/IConnectWrapper.h"
#include "support/BridgeHandle.h"
#include "support/RawSqlite.h"
#include "support/TestLocale.h"

namespace Tessel::Testing {
namespace {

struct NamedInLocale {
  const char* input;
  const char* charmap;
  const char* native;   // "café" as the caller writes it under the locale
  const char* managed;  // the same word in UTF-8
};

const NamedInLocale kNames[] = {
    {"de_DE", "ISO-8859-1", "caf\xE9", "caf\xC3\xA9"},
    {"de_DE", "UTF-8", "caf\xC3\xA9", "caf\xC3\xA9"},
};

void PrintTo(const NamedInLocale& name, std::ostream* out) { *out << name.input << '.' << name.charmap; }

std::string NameOf(const testing::TestParamInfo<NamedInLocale>& info) {
  return LocaleTestName(info.param.input, info.param.charmap);
}

class NativeSqlitePath : public testing::TestWithParam<NamedInLocale> {
 protected:
  void SetUp() override {
    TESSEL_REQUIRE_LOCALE(locale_);
    std::string pattern = (std::filesystem::temp_directory_path() / "tessel-path-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    bridge_.reset();
    if (dir_.empty()) return;
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  std::string dir_;

  // "<dir>/café.db" in the caller's bytes.
  std::string NativeFile() const { return dir_ + "/" + GetParam().native + ".db"; }

  // A bridge made and loaded the way a native caller does it.
  IConnectWrapper& Load(const std::string& connect) {
    bridge_.reset(IConnectWrapper::CreateInstance());
    bridge_->LoadObject(connect, "");
    return *bridge_;
  }
  void Unload() { bridge_.reset(); }

  // The names in the test's directory, byte for byte.
  std::vector<std::string> FileNames() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir_))
      names.push_back(entry.path().filename().native());
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  LocaleScope locale_{GetParam().input, GetParam().charmap};
  BridgeHandle bridge_;
};

TEST_P(NativeSqlitePath, TestCreatesTheFileUnderTheCallersName) {
  IConnectWrapper& bridge = Load("sqlite:" + NativeFile());
  EXPECT_TRUE(bridge.Test()) << bridge.GetMessage();
  EXPECT_NE(bridge.GetMessage().find(NativeFile()), std::string::npos)
      << "the message names the file as the caller wrote it: " << bridge.GetMessage();
  Unload();
  EXPECT_EQ(FileNames(), std::vector<std::string>{std::string(GetParam().native) + ".db"});
}

TEST_P(NativeSqlitePath, RowsGoIntoTheFileTheCallerNamed) {
  RawSqlite(NativeFile()).Exec("CREATE TABLE cases (id INTEGER PRIMARY KEY, name TEXT NOT NULL)");

  IConnectWrapper& bridge = Load("sqlite:" + NativeFile());
  int stored = 0, written = 0;
  long ms = 0;
  ASSERT_TRUE(bridge.StartNewRow("cases", &stored, &written, &ms)) << bridge.GetMessage();
  ASSERT_TRUE(bridge.AddFieldData("name", GetParam().native));
  ASSERT_TRUE(bridge.AddCurRow()) << bridge.GetMessage();
  ASSERT_TRUE(bridge.StartNewRow("", &stored, &written, &ms)) << bridge.GetMessage();
  EXPECT_EQ(written, 1);
  Unload();

  EXPECT_EQ(FileNames(), std::vector<std::string>{std::string(GetParam().native) + ".db"});
  // The name went in as the caller's text and is stored as UTF-8.
  EXPECT_EQ(RawSqlite(NativeFile()).Query("SELECT name FROM cases"), GetParam().managed);
}

TEST_P(NativeSqlitePath, FailureNamesThePathAsTheCallerWroteIt) {
  const std::string missing = dir_ + "/" + GetParam().native + "/inner.db";  // no such folder
  IConnectWrapper& bridge = Load("sqlite:" + missing);
  EXPECT_FALSE(bridge.Test());
  EXPECT_NE(bridge.GetMessage().find(missing), std::string::npos) << bridge.GetMessage();
  EXPECT_EQ(FileNames(), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(Locales, NativeSqlitePath, testing::ValuesIn(kNames), NameOf);

}  // namespace
}  // namespace Tessel::Testing
