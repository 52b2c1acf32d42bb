#include "tessel/sqlite/Binding.h"

#include <cstdint>
#include <string>
#include <variant>

#include "tessel/CivilDate.h"

namespace Tessel::Sqlite {
namespace {

// "00" to "99", two characters per value: a date is written two digits at a
// time, with 32-bit arithmetic, since the writer formats one per date cell.
constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

char* PutTwo(char* p, unsigned value) noexcept {
  p[0] = kDigitPairs[2 * value];
  p[1] = kDigitPairs[2 * value + 1];
  return p + 2;
}

const char kEmpty[] = "";

}  // namespace

std::size_t FormatIsoDateTime(Data::DateTime value, char (&out)[kIsoDateTimeCapacity]) noexcept {
  // A DateTime holds 0 to DateTime::kMaxTicks: years 1 to 9999.
  const std::int64_t ticks = value.Ticks();
  const std::int64_t days = ticks / Data::DateTime::kTicksPerDay;
  const std::int64_t dayTicks = ticks % Data::DateTime::kTicksPerDay;
  const auto seconds = static_cast<unsigned>(dayTicks / Data::DateTime::kTicksPerSecond);
  auto fraction = static_cast<unsigned>(dayTicks % Data::DateTime::kTicksPerSecond);  // 7 digits
  const CivilDate date = CivilFromDays(days);
  const auto year = static_cast<unsigned>(date.year);

  char* p = out;
  p = PutTwo(p, year / 100);
  p = PutTwo(p, year % 100);
  *p++ = '-';
  p = PutTwo(p, date.month);
  *p++ = '-';
  p = PutTwo(p, date.day);
  *p++ = ' ';
  p = PutTwo(p, seconds / 3600);
  *p++ = ':';
  p = PutTwo(p, seconds / 60 % 60);
  *p++ = ':';
  p = PutTwo(p, seconds % 60);
  if (fraction != 0) {
    // Seven digits, then the trailing zeros dropped, keeping at least three.
    *p++ = '.';
    char* digits = p;
    *p++ = static_cast<char>('0' + fraction / 1'000'000);
    fraction %= 1'000'000;
    p = PutTwo(p, fraction / 10'000);
    p = PutTwo(p, fraction / 100 % 100);
    p = PutTwo(p, fraction % 100);
    while (p > digits + 3 && p[-1] == '0') --p;
  }
  return static_cast<std::size_t>(p - out);
}

int BindArgument(sqlite3_stmt* stmt, int index, const Data::Value& value, Data::DbType type) {
  const auto& v = value.Get();
  if (std::holds_alternative<Data::DBNullType>(v)) return sqlite3_bind_null(stmt, index);
  if (const bool* b = std::get_if<bool>(&v)) return sqlite3_bind_int64(stmt, index, *b ? 1 : 0);
  if (const auto* i32 = std::get_if<std::int32_t>(&v)) return sqlite3_bind_int64(stmt, index, *i32);
  if (const auto* i64 = std::get_if<std::int64_t>(&v)) return sqlite3_bind_int64(stmt, index, *i64);
  if (const double* d = std::get_if<double>(&v)) {
    if (type == Data::DbType::Date || type == Data::DbType::DateTime || type == Data::DbType::DateTime2) {
      char text[kIsoDateTimeCapacity];
      const std::size_t n = FormatIsoDateTime(Data::DateTime::FromOADate(*d), text);
      return sqlite3_bind_text(stmt, index, text, static_cast<int>(n), SQLITE_TRANSIENT);
    }
    return sqlite3_bind_double(stmt, index, *d);
  }
  if (const auto* s = std::get_if<std::string>(&v))
    return sqlite3_bind_text64(stmt, index, s->empty() ? kEmpty : s->data(), s->size(), SQLITE_STATIC,
                               SQLITE_UTF8);
  if (const auto* date = std::get_if<Data::DateTime>(&v)) {
    char text[kIsoDateTimeCapacity];
    const std::size_t n = FormatIsoDateTime(*date, text);
    return sqlite3_bind_text(stmt, index, text, static_cast<int>(n), SQLITE_TRANSIENT);
  }
  const auto& bytes = std::get<Data::Bytes>(v);
  if (bytes.empty()) return sqlite3_bind_zeroblob(stmt, index, 0);
  return sqlite3_bind_blob64(stmt, index, bytes.data(), bytes.size(), SQLITE_STATIC);
}

Data::Value ColumnValue(sqlite3_stmt* stmt, int column) {
  switch (sqlite3_column_type(stmt, column)) {
    case SQLITE_INTEGER:
      return Data::Value(static_cast<std::int64_t>(sqlite3_column_int64(stmt, column)));
    case SQLITE_FLOAT:
      return Data::Value(sqlite3_column_double(stmt, column));
    case SQLITE_TEXT: {
      const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, column));
      return Data::Value(std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(stmt, column))));
    }
    case SQLITE_BLOB: {
      const auto* data = static_cast<const std::uint8_t*>(sqlite3_column_blob(stmt, column));
      const auto size = static_cast<std::size_t>(sqlite3_column_bytes(stmt, column));
      return Data::Value(data ? Data::Bytes(data, data + size) : Data::Bytes());
    }
    default:
      return Data::Value();
  }
}

}  // namespace Tessel::Sqlite
