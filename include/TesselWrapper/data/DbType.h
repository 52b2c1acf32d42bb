// The parameter-type and parameter-direction enumerations, with the numbers
// that the platform publishes for them (callers and stored data rely on the
// numbers, so they never change).
#pragma once

#include <cstdint>

namespace Tessel::Data {

enum class DbType : std::int32_t {
  AnsiString = 0,
  Binary = 1,
  Byte = 2,
  Boolean = 3,
  Currency = 4,
  Date = 5,
  DateTime = 6,
  Decimal = 7,
  Double = 8,
  Guid = 9,
  Int16 = 10,
  Int32 = 11,
  Int64 = 12,
  Object = 13,
  SByte = 14,
  Single = 15,
  String = 16,
  Time = 17,
  UInt16 = 18,
  UInt32 = 19,
  UInt64 = 20,
  VarNumeric = 21,
  AnsiStringFixedLength = 22,
  StringFixedLength = 23,
  Xml = 25,
  DateTime2 = 26,
  DateTimeOffset = 27,
};

enum class ParameterDirection : std::int32_t {
  Input = 1,
  Output = 2,
  InputOutput = 3,
  ReturnValue = 6,
};

}  // namespace Tessel::Data
