// A CSV load long enough to take several batches, run in the caller's
// process: one thread reads and converts the next batch while another writes
// the one before, all in one transaction. Every line becomes a row once, or,
// when a late line is bad, none does. (The reliability checks run this under
// ThreadSanitizer.)
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "EndToEndTest.h"
#include "TesselWrapper/jobs/CsvLoad.h"

namespace Tessel::EndToEnd {
namespace {

constexpr int kRows = 40'000;  // more than two of the load's batches

class LargeLoadEndToEnd : public EndToEndTest {
 protected:
  void SetUp() override {
    EndToEndTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    db().Exec("CREATE TABLE readings (id {int} PRIMARY KEY, value {real}, label {text})");
    path_ = ::testing::TempDir() + "tessel_large_load_" + std::to_string(::getpid()) + ".csv";
  }
  void TearDown() override {
    if (!path_.empty()) std::remove(path_.c_str());
    EndToEndTest::TearDown();
  }

  // Ids 1 .. kRows on lines 2 .. kRows + 1; the value of line `badLine` is
  // no number (0: every line is good).
  void WriteFile(int badLine) {
    std::ofstream out(path_, std::ios::binary | std::ios::trunc);
    out << "id,value,label\n";
    for (int id = 1; id <= kRows; ++id) {
      out << id << ',';
      if (id + 1 == badLine) {
        out << "many";
      } else {
        out << id / 2 << ".5";
      }
      out << ",reading " << id << '\n';
    }
  }

  Jobs::CsvLoadSummary Load() {
    Jobs::CsvLoadOptions options;
    options.tableSet = db().TableSet();
    return Jobs::LoadCsvFile(bridge(), "readings", path_, options);
  }

  std::string path_;
};

TEST_P(LargeLoadEndToEnd, EveryLineBecomesARowOnceOrNoneWhenTheLastLineIsBad) {
  WriteFile(0);
  const Jobs::CsvLoadSummary done = Load();
  EXPECT_EQ(done.rows, static_cast<std::uint64_t>(kRows));
  EXPECT_EQ(db().Query("SELECT count(*), count(DISTINCT id), min(id), max(id) FROM readings"),
            "40000|40000|1|40000");
  EXPECT_EQ(db().Query("SELECT label FROM readings WHERE id = 40000"), "reading 40000");

  db().Exec("DELETE FROM readings");
  WriteFile(kRows + 1);
  try {
    Load();
    ADD_FAILURE() << "the file with a bad last line loaded";
  } catch (const Jobs::CsvLoadError& e) {
    EXPECT_EQ(e.Line(), static_cast<std::uint64_t>(kRows + 1)) << e.what();
    EXPECT_EQ(e.Column(), "value") << e.what();
  }
  EXPECT_EQ(db().Query("SELECT count(*) FROM readings"), "0");
}

TESSEL_E2E_INSTANTIATE(LargeLoadEndToEnd);

}  // namespace
}  // namespace Tessel::EndToEnd
