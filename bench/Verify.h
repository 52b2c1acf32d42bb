// Checking what a road left in the database, so that a road that writes
// nothing, too little or wrong values cannot pass for a fast one.
//
// Each backend reads a TableSummary (one scan of aggregates) and a few rows
// found by their i1 value; the functions here compare them with the dataset
// and throw std::runtime_error naming the road, the row and the column that
// differ.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bench/Dataset.h"

namespace Tessel::Bench {

struct TableSummary {
  std::int64_t count = 0;
  std::int64_t sumI1 = 0, sumI2 = 0, sumI3 = 0;
  std::int64_t sumLengthT1 = 0, sumLengthT2 = 0;
};

// One row as read back, the date-time as milliseconds since 1970.
struct StoredRow {
  std::int64_t i2 = 0, i3 = 0;
  double d1 = 0, d2 = 0;
  std::int64_t dtMillis = 0;
  std::string t1, t2;
};

TableSummary Summarize(const Dataset& data);

// The positions checked value by value: first, last, middle and a few more
// spread over the rows (fixed for a given row count).
std::vector<std::size_t> SpotRows(const Dataset& data);

void CheckSummary(const std::string& road, const Dataset& data, const TableSummary& stored);
void CheckRow(const std::string& road, const Dataset& data, std::size_t row, const StoredRow& stored);

}  // namespace Tessel::Bench
