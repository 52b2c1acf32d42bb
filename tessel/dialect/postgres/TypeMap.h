// PostgreSQL types as the table model sees them: which DataType a server type
// maps to, and how a value the server returns in text form becomes a Value.
#pragma once

#include <string_view>

#include "TesselWrapper/data/DataColumn.h"
#include "TesselWrapper/data/Value.h"

namespace Tessel::Postgres {

// A catalogue object's number as the server gives it: an unsigned 32-bit
// integer (the same type as libpq's Oid, which the driver checks).
using Oid = unsigned int;

// The built-in type OIDs this backend knows by number (they never change).
namespace TypeOid {
inline constexpr Oid kBool = 16;
inline constexpr Oid kBytea = 17;
inline constexpr Oid kName = 19;
inline constexpr Oid kInt8 = 20;
inline constexpr Oid kInt2 = 21;
inline constexpr Oid kInt4 = 23;
inline constexpr Oid kText = 25;
inline constexpr Oid kFloat4 = 700;
inline constexpr Oid kFloat8 = 701;
inline constexpr Oid kMoney = 790;
inline constexpr Oid kBpchar = 1042;
inline constexpr Oid kVarchar = 1043;
inline constexpr Oid kDate = 1082;
inline constexpr Oid kTimestamp = 1114;
inline constexpr Oid kTimestampTz = 1184;
inline constexpr Oid kNumeric = 1700;
inline constexpr Oid kVoid = 2278;
}  // namespace TypeOid

// int2 Int16, int4 Int32, int8 Int64, float4/float8 Double, numeric/money
// Decimal, date/timestamp/timestamptz DateTime, bool Boolean, bytea Binary;
// every other type (text, varchar, uuid, json, enums, arrays, ...) String.
Data::DataType DataTypeOf(Oid type) noexcept;

// As DataTypeOf for columns of a result that is read back: money is String
// here, since the server prints it with the currency symbol of its locale.
Data::DataType ResultDataTypeOf(Oid type) noexcept;

// One result cell in text form (as libpq gives it) as a Value: integers as
// int32 (int2, int4) or int64, floating point as double, bool as bool, bytea
// as bytes, dates and timestamps as DateTime (a time zone suffix is dropped:
// the value is the session's local time), everything else, and anything
// these readings refuse (infinity, a date BC), as the server's text.
Data::Value ValueFromText(Oid type, std::string_view text);

}  // namespace Tessel::Postgres
