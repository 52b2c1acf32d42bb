#include "tessel/sqlite/Binding.h"

#include <cstdint>
#include <string>
#include <variant>

namespace Tessel::Sqlite {
namespace {

const char kEmpty[] = "";

}  // namespace

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
