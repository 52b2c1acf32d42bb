#include "tessel/odbc/TypeMap.h"

#include <clocale>
#include <cstdint>
#include <vector>

#include "TesselWrapper/Errors.h"
#include "TesselWrapper/data/DateTime.h"
#include "tessel/dialect/sqlite/TypeMap.h"

namespace Tessel::Odbc {
namespace {

using Data::DataType;

// Reads a character or binary cell whole, in as many pieces as the driver
// hands out. `unit` is the size of a character of `cType` (0 for bytes,
// which end in no terminator).
template <typename Unit>
SQLRETURN ReadPieces(SQLHSTMT stmt, SQLUSMALLINT column, SQLSMALLINT cType, std::vector<Unit>& out,
                     bool& isNull) {
  constexpr std::size_t kPiece = 4096;
  const std::size_t terminator = cType == SQL_C_BINARY ? 0 : 1;
  out.clear();
  isNull = false;
  for (;;) {
    const std::size_t used = out.size();
    out.resize(used + kPiece);
    SQLLEN indicator = 0;
    const SQLRETURN rc = SQLGetData(stmt, column, cType, out.data() + used,
                                    static_cast<SQLLEN>(kPiece * sizeof(Unit)), &indicator);
    if (rc == SQL_NO_DATA) {
      out.resize(used);
      return SQL_SUCCESS;
    }
    if (!SQL_SUCCEEDED(rc)) return rc;
    if (indicator == SQL_NULL_DATA) {
      isNull = true;
      out.clear();
      return SQL_SUCCESS;
    }
    // Truncated (01004): the buffer is full but for the terminator; the
    // indicator holds the length left or SQL_NO_TOTAL.
    const bool more = rc == SQL_SUCCESS_WITH_INFO &&
                      (indicator == SQL_NO_TOTAL ||
                       static_cast<std::size_t>(indicator) > (kPiece - terminator) * sizeof(Unit));
    if (more) {
      out.resize(used + kPiece - terminator);
      continue;
    }
    out.resize(used + static_cast<std::size_t>(indicator) / sizeof(Unit));
    return SQL_SUCCESS;
  }
}

// "2024-01-02 03:04:05.123456+01" keeps its local part.
std::string_view WithoutZone(std::string_view text) {
  for (std::size_t i = 10; i < text.size(); ++i)
    if (text[i] == '+' || text[i] == '-') return text.substr(0, i);
  return text;
}

}  // namespace

DataType DataTypeOf(SQLSMALLINT sqlType, std::string_view typeName, Dbms dbms) noexcept {
  if (dbms == Dbms::SQLite) return Sqlite::MapDeclaredType(typeName);
  // psqlODBC reports booleans as characters unless told otherwise (its
  // BoolsAsChar setting); the type's name says what the column holds.
  if (dbms == Dbms::PostgreSQL && typeName == "bool") return DataType::Boolean;
  switch (sqlType) {
    case SQL_BIT:
      return DataType::Boolean;
    case SQL_TINYINT:
    case SQL_SMALLINT:
      return DataType::Int16;
    case SQL_INTEGER:
      return DataType::Int32;
    case SQL_BIGINT:
      return DataType::Int64;
    case SQL_REAL:
    case SQL_FLOAT:
    case SQL_DOUBLE:
      return DataType::Double;
    case SQL_DECIMAL:
    case SQL_NUMERIC:
      return DataType::Decimal;
    case SQL_TYPE_DATE:
    case SQL_TYPE_TIMESTAMP:
    case SQL_DATE:
    case SQL_TIMESTAMP:
      return DataType::DateTime;
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY:
      return DataType::Binary;
    default:
      return DataType::String;
  }
}

DataType ResultDataTypeOf(SQLSMALLINT sqlType) noexcept {
  switch (sqlType) {
    case SQL_TINYINT:
    case SQL_SMALLINT:
    case SQL_INTEGER:
    case SQL_BIGINT:
      return DataType::Int64;
    default:
      return DataTypeOf(sqlType, {}, Dbms::Other);
  }
}

SQLRETURN ReadCell(SQLHSTMT stmt, SQLUSMALLINT column, DataType type, Data::Value& out) {
  SQLLEN indicator = 0;
  switch (type) {
    case DataType::Boolean:
    case DataType::Int16:
    case DataType::Int32:
    case DataType::Int64: {
      SQLBIGINT value = 0;
      const SQLRETURN rc = SQLGetData(stmt, column, SQL_C_SBIGINT, &value, sizeof value, &indicator);
      if (!SQL_SUCCEEDED(rc)) return rc;
      if (indicator == SQL_NULL_DATA) {
        out = Data::Value();
      } else if (type == DataType::Boolean) {
        out = Data::Value(value != 0);
      } else {
        out = Data::Value(static_cast<std::int64_t>(value));
      }
      return SQL_SUCCESS;
    }
    case DataType::Double: {
      double value = 0;
      const SQLRETURN rc = SQLGetData(stmt, column, SQL_C_DOUBLE, &value, sizeof value, &indicator);
      if (!SQL_SUCCEEDED(rc)) return rc;
      out = indicator == SQL_NULL_DATA ? Data::Value() : Data::Value(value);
      return SQL_SUCCESS;
    }
    case DataType::Binary: {
      std::vector<std::uint8_t> bytes;
      bool isNull = false;
      const SQLRETURN rc = ReadPieces(stmt, column, SQL_C_BINARY, bytes, isNull);
      if (!SQL_SUCCEEDED(rc)) return rc;
      out = isNull ? Data::Value() : Data::Value(Data::Bytes(std::move(bytes)));
      return SQL_SUCCESS;
    }
    case DataType::Decimal:
    case DataType::String:
    case DataType::DateTime: {
      std::vector<SQLWCHAR> units;
      bool isNull = false;
      const SQLRETURN rc = ReadPieces(stmt, column, SQL_C_WCHAR, units, isNull);
      if (!SQL_SUCCEEDED(rc)) return rc;
      if (isNull) {
        out = Data::Value();
        return SQL_SUCCESS;
      }
      std::string text = FromWide(units.data(), units.size());
      if (type == DataType::Decimal) {
        // A driver may write the number with the C library's decimal point
        // (psqlODBC does): "12,5" under a German locale. Number text here
        // has no other use for it.
        const char point = *std::localeconv()->decimal_point;
        if (point != '.' && point != '\0')
          for (char& c : text)
            if (c == point) c = '.';
      }
      if (type == DataType::DateTime) {
        try {
          out = Data::Value(Data::DateTime::Parse(WithoutZone(text)));
          return SQL_SUCCESS;
        } catch (const Error&) {
          // infinity, a date before year 1, text that is no date: kept as text
        }
      }
      out = Data::Value(std::move(text));
      return SQL_SUCCESS;
    }
  }
  return SQL_ERROR;
}

}  // namespace Tessel::Odbc
