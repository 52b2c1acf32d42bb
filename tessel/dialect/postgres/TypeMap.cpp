#include "tessel/dialect/postgres/TypeMap.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>

#include "TesselWrapper/Errors.h"
#include "TesselWrapper/data/DateTime.h"
#include "data/NumberText.h"

namespace Tessel::Postgres {
namespace {

using Data::DataType;

int HexDigit(char c) noexcept {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// bytea's text output is "\x" and hex digits (bytea_output = hex, the
// default); the older escape form is passed back as text.
bool ParseByteaHex(std::string_view text, Data::Bytes& out) {
  if (text.size() < 2 || text[0] != '\\' || text[1] != 'x' || text.size() % 2 != 0) return false;
  out.reserve((text.size() - 2) / 2);
  for (std::size_t i = 2; i < text.size(); i += 2) {
    const int hi = HexDigit(text[i]);
    const int lo = HexDigit(text[i + 1]);
    if (hi < 0 || lo < 0) return false;
    out.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
  }
  return true;
}

// "2024-01-02 03:04:05.123456+01" (timestamptz) keeps its local part.
std::string_view WithoutZone(std::string_view text) {
  for (std::size_t i = 10; i < text.size(); ++i)
    if (text[i] == '+' || text[i] == '-') return text.substr(0, i);
  return text;
}

}  // namespace

DataType DataTypeOf(Oid type) noexcept {
  switch (type) {
    case TypeOid::kBool:
      return DataType::Boolean;
    case TypeOid::kInt2:
      return DataType::Int16;
    case TypeOid::kInt4:
      return DataType::Int32;
    case TypeOid::kInt8:
      return DataType::Int64;
    case TypeOid::kFloat4:
    case TypeOid::kFloat8:
      return DataType::Double;
    case TypeOid::kNumeric:
    case TypeOid::kMoney:
      return DataType::Decimal;
    case TypeOid::kDate:
    case TypeOid::kTimestamp:
    case TypeOid::kTimestampTz:
      return DataType::DateTime;
    case TypeOid::kBytea:
      return DataType::Binary;
    default:
      return DataType::String;
  }
}

DataType ResultDataTypeOf(Oid type) noexcept {
  return type == TypeOid::kMoney ? DataType::String : DataTypeOf(type);
}

Data::Value ValueFromText(Oid type, std::string_view text) {
  switch (type) {
    case TypeOid::kBool:
      if (text == "t") return true;
      if (text == "f") return false;
      break;
    case TypeOid::kInt2:
    case TypeOid::kInt4: {
      std::int32_t v = 0;
      if (Data::ParseInteger(text, v, Data::kExact)) return v;
      break;
    }
    case TypeOid::kInt8: {
      std::int64_t v = 0;
      if (Data::ParseInteger(text, v, Data::kExact)) return v;
      break;
    }
    case TypeOid::kFloat4:
    case TypeOid::kFloat8: {
      double v = 0;
      if (Data::ParseDouble(text, v, Data::kExact)) return v;
      break;
    }
    case TypeOid::kBytea: {
      Data::Bytes bytes;
      if (ParseByteaHex(text, bytes)) return bytes;
      break;
    }
    case TypeOid::kDate:
    case TypeOid::kTimestamp:
    case TypeOid::kTimestampTz:
      try {
        return Data::DateTime::Parse(WithoutZone(text));
      } catch (const Error&) {
        // infinity, BC dates, years past 9999: no DateTime holds them
      }
      break;
    default:
      break;
  }
  return std::string(text);
}

}  // namespace Tessel::Postgres
