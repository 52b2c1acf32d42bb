#include "bench/Verify.h"

#include <algorithm>
#include <sstream>
#include <stdexcept>

namespace Tessel::Bench {
namespace {

template <typename T>
void Expect(const std::string& road, const std::string& what, const T& expected, const T& stored) {
  if (expected == stored) return;
  std::ostringstream message;
  message.precision(17);
  message << road << ": " << what << " is " << stored << " in the database, expected " << expected;
  throw std::runtime_error(message.str());
}

}  // namespace

TableSummary Summarize(const Dataset& data) {
  TableSummary s;
  s.count = static_cast<std::int64_t>(data.Rows());
  for (std::size_t r = 0; r < data.Rows(); ++r) {
    s.sumI1 += data.I1(r);
    s.sumI2 += data.I2(r);
    s.sumI3 += data.I3(r);
    s.sumLengthT1 += static_cast<std::int64_t>(data.T1View(r).size());
    s.sumLengthT2 += static_cast<std::int64_t>(data.T2View(r).size());
  }
  return s;
}

std::vector<std::size_t> SpotRows(const Dataset& data) {
  const std::size_t n = data.Rows();
  std::vector<std::size_t> rows = {0, n / 7, n / 3, n / 2, 2 * n / 3, n - 2, n - 1};
  for (auto& r : rows) r = std::min(r, n - 1);
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  return rows;
}

void CheckSummary(const std::string& road, const Dataset& data, const TableSummary& stored) {
  const TableSummary expected = Summarize(data);
  Expect(road, std::string("the row count"), expected.count, stored.count);
  Expect(road, std::string("sum(i1)"), expected.sumI1, stored.sumI1);
  Expect(road, std::string("sum(i2)"), expected.sumI2, stored.sumI2);
  Expect(road, std::string("sum(i3)"), expected.sumI3, stored.sumI3);
  Expect(road, std::string("sum(length(t1))"), expected.sumLengthT1, stored.sumLengthT1);
  Expect(road, std::string("sum(length(t2))"), expected.sumLengthT2, stored.sumLengthT2);
}

void CheckRow(const std::string& road, const Dataset& data, std::size_t row, const StoredRow& stored) {
  const std::string at = "row i1=" + std::to_string(row) + ", column ";
  Expect(road, at + "i2", static_cast<std::int64_t>(data.I2(row)), stored.i2);
  Expect(road, at + "i3", static_cast<std::int64_t>(data.I3(row)), stored.i3);
  Expect(road, at + "d1", data.D1(row), stored.d1);
  Expect(road, at + "d2", data.D2(row), stored.d2);
  Expect(road, at + "dt (ms since 1970)", data.UnixMillis(row), stored.dtMillis);
  Expect(road, at + "t1", std::string(data.T1View(row)), stored.t1);
  Expect(road, at + "t2", std::string(data.T2View(row)), stored.t2);
}

}  // namespace Tessel::Bench
