// The text form of a routine's result row, shared by every backend:
// "name=value;" for each column in order, an empty value for a null; no row
// gives the empty text. The integer result is the first column when it holds
// an integer, else 0.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "TesselWrapper/data/Value.h"

namespace Tessel {

struct RoutineRow {
  std::vector<std::string> names;
  std::vector<Data::Value> values;
};

std::string FormatRoutineOutput(const RoutineRow& row);
// The first column as an integer when it is one (an int32 or int64 value
// within 32 bits, or integer text), else 0.
std::int32_t RoutineResultCode(const RoutineRow& row);

}  // namespace Tessel
