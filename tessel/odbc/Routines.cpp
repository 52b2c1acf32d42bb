#include "tessel/odbc/Routines.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <variant>

#include "TesselWrapper/Errors.h"
#include "TesselWrapper/data/DateTime.h"
#include "TesselWrapper/data/Text.h"
#include "data/NumberText.h"
#include "tessel/Catalogue.h"
#include "tessel/NameLookup.h"
#include "tessel/dialect/sqlite/ValueRules.h"
#include "tessel/odbc/Schema.h"
#include "tessel/odbc/TypeMap.h"

namespace Tessel::Odbc {
namespace {

using Data::DbType;
using Data::ParameterDirection;

bool IsDateType(DbType type) {
  return type == DbType::Date || type == DbType::DateTime || type == DbType::DateTime2 ||
         type == DbType::DateTimeOffset;
}

SQLSMALLINT IntegerSqlType(DbType type) {
  switch (type) {
    case DbType::Boolean:
      return SQL_BIT;
    case DbType::Byte:
    case DbType::SByte:
    case DbType::Int16:
      return SQL_SMALLINT;
    case DbType::UInt16:
    case DbType::Int32:
      return SQL_INTEGER;
    default:
      return SQL_BIGINT;
  }
}

// One argument's value in the form SQLBindParameter reads.
struct Argument {
  SQLSMALLINT cType = SQL_C_WCHAR;
  SQLSMALLINT sqlType = SQL_WVARCHAR;
  SQLULEN size = 1;
  SQLSMALLINT digits = 0;
  std::vector<unsigned char> data = std::vector<unsigned char>(sizeof(SQLWCHAR), 0);
  SQLLEN indicator = 0;

  template <typename T>
  void SetFixed(SQLSMALLINT c, SQLSMALLINT sql, const T& value, SQLULEN columnSize = 0) {
    cType = c;
    sqlType = sql;
    size = columnSize;
    data.resize(sizeof value);
    std::memcpy(data.data(), &value, sizeof value);
    indicator = sizeof value;
  }
  void SetText(std::string_view utf8, SQLSMALLINT sql = SQL_WVARCHAR) {
    const Wide units = ToWide(utf8);
    cType = SQL_C_WCHAR;
    sqlType = sql;
    size = std::max<SQLULEN>(units.size(), 1);
    data.assign(reinterpret_cast<const unsigned char*>(units.c_str()),
                reinterpret_cast<const unsigned char*>(units.c_str() + units.size() + 1));
    indicator = static_cast<SQLLEN>(units.size() * sizeof(SQLWCHAR));
  }
  void SetDate(Data::DateTime value, Dbms dbms) {
    if (dbms == Dbms::SQLite) {  // as the SQLite backend writes a date
      char text[Sqlite::kIsoDateTimeCapacity];
      const std::size_t n = Sqlite::FormatIsoDateTime(value, text);
      SetText(std::string_view(text, n));
      return;
    }
    SQL_TIMESTAMP_STRUCT ts{};
    ts.year = static_cast<SQLSMALLINT>(value.Year());
    ts.month = static_cast<SQLUSMALLINT>(value.Month());
    ts.day = static_cast<SQLUSMALLINT>(value.Day());
    ts.hour = static_cast<SQLUSMALLINT>(value.Hour());
    ts.minute = static_cast<SQLUSMALLINT>(value.Minute());
    ts.second = static_cast<SQLUSMALLINT>(value.Second());
    ts.fraction = static_cast<SQLUINTEGER>(value.Ticks() % Data::DateTime::kTicksPerSecond * 100);
    SetFixed(SQL_C_TYPE_TIMESTAMP, SQL_TYPE_TIMESTAMP, ts, 29);
    digits = 7;
  }
};

Argument MakeArgument(const Data::Value& value, DbType type, Dbms dbms) {
  Argument argument;
  std::visit(
      [&](const auto& v) {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, Data::DBNullType>) {
          argument.sqlType = IsDateType(type) ? SQL_TYPE_TIMESTAMP : SQL_WVARCHAR;
          argument.indicator = SQL_NULL_DATA;
        } else if constexpr (std::is_same_v<T, bool>) {
          argument.SetFixed(SQL_C_SBIGINT, SQL_BIT, SQLBIGINT{v ? 1 : 0});
        } else if constexpr (std::is_same_v<T, std::int32_t> || std::is_same_v<T, std::int64_t>) {
          argument.SetFixed(SQL_C_SBIGINT, IntegerSqlType(type), static_cast<SQLBIGINT>(v));
        } else if constexpr (std::is_same_v<T, double>) {
          if (IsDateType(type)) {
            argument.SetDate(Data::DateTime::FromOADate(v), dbms);
          } else if (type == DbType::Decimal || type == DbType::Currency || type == DbType::VarNumeric) {
            const std::string text = Data::FormatDouble(v);
            argument.SetText(text, SQL_NUMERIC);
            argument.size = text.size();
            const std::size_t point = text.find('.');
            argument.digits =
                point == std::string::npos ? 0 : static_cast<SQLSMALLINT>(text.size() - point - 1);
          } else if (type == DbType::Boolean) {
            argument.SetFixed(SQL_C_SBIGINT, SQL_BIT, SQLBIGINT{v != 0});
          } else {
            argument.SetFixed(SQL_C_DOUBLE, type == DbType::Single ? SQL_REAL : SQL_DOUBLE, v, 15);
          }
        } else if constexpr (std::is_same_v<T, std::string>) {
          argument.SetText(v);
        } else if constexpr (std::is_same_v<T, Data::DateTime>) {
          argument.SetDate(v, dbms);
        } else {  // bytes
          argument.cType = SQL_C_BINARY;
          argument.sqlType = SQL_VARBINARY;
          argument.data.assign(v.begin(), v.end());
          if (argument.data.empty()) argument.data.push_back(0);
          argument.size = std::max<SQLULEN>(v.size(), 1);
          argument.indicator = static_cast<SQLLEN>(v.size());
        }
      },
      value.Get());
  return argument;
}

SQLRETURN Bind(SQLHSTMT stmt, SQLUSMALLINT number, Argument& argument) {
  return SQLBindParameter(stmt, number, SQL_PARAM_INPUT, argument.cType, argument.sqlType, argument.size,
                          argument.digits, argument.data.data(), static_cast<SQLLEN>(argument.data.size()),
                          &argument.indicator);
}

bool IsInput(SQLSMALLINT columnType) {
  return columnType == SQL_PARAM_INPUT || columnType == SQL_PARAM_INPUT_OUTPUT ||
         columnType == SQL_PARAM_TYPE_UNKNOWN;
}

// The procedure's name in column 3 of SQLProcedures and
// SQLProcedureColumns, without the ";1" (its number) some drivers add.
std::string ProcedureName(SQLHSTMT stmt) {
  std::string name = TextAt(stmt, 3).value_or(std::string());
  if (const std::size_t semicolon = name.rfind(';'); semicolon != std::string::npos) name.resize(semicolon);
  return name;
}

std::optional<Routine> FindProcedure(Session& session, std::string_view name) {
  const std::string context =
      "reading the procedures of " +
      (session.Schema().empty() ? std::string("the data source") : "schema " + Quoted(session.Schema()));
  std::vector<std::string> names;
  {
    StmtHandle stmt = session.Statement();
    const Wide every = ToWide("%");
    session.Check(
        stmt, SQLProceduresW(stmt.get(), nullptr, 0, session.SchemaPattern(), SQL_NTS, Arg(every), SQL_NTS),
        context);
    for (;;) {
      const SQLRETURN rc = SQLFetch(stmt.get());
      if (rc == SQL_NO_DATA) break;
      session.Check(stmt, rc, context);
      if (!InSchema(session, stmt.get(), 2)) continue;
      std::string procedure = ProcedureName(stmt.get());
      if (std::find(names.begin(), names.end(), procedure) == names.end())
        names.push_back(std::move(procedure));
    }
  }
  const std::optional<std::string> picked = PickByName(name, names);
  if (!picked) return std::nullopt;

  Routine routine;
  routine.kind = Routine::Kind::Procedure;
  routine.name = *picked;
  StmtHandle stmt = session.Statement();
  const Wide pattern = session.Pattern(routine.name);
  // Every parameter: a null column name (psqlODBC matches none for "%").
  session.Check(stmt,
                SQLProcedureColumnsW(stmt.get(), nullptr, 0, session.SchemaPattern(), SQL_NTS, Arg(pattern),
                                     SQL_NTS, nullptr, 0),
                context);
  // The parameters of each overload, in order: an ordinal that does not grow
  // starts the next overload.
  std::int64_t lastOrdinal = 0;
  for (;;) {
    const SQLRETURN rc = SQLFetch(stmt.get());
    if (rc == SQL_NO_DATA) break;
    session.Check(stmt, rc, context);
    if (!InSchema(session, stmt.get(), 2)) continue;
    if (ProcedureName(stmt.get()) != routine.name) continue;
    RoutineParameter parameter;
    parameter.name = TextAt(stmt.get(), 4).value_or(std::string());
    parameter.columnType = static_cast<SQLSMALLINT>(NumberAt(stmt.get(), 5).value_or(SQL_PARAM_INPUT));
    const std::int64_t ordinal = NumberAt(stmt.get(), 18).value_or(lastOrdinal + 1);
    if (routine.overloads.empty() || ordinal <= lastOrdinal) routine.overloads.emplace_back();
    lastOrdinal = ordinal;
    if (parameter.columnType == SQL_RESULT_COL || parameter.columnType == SQL_RETURN_VALUE) continue;
    routine.overloads.back().push_back(std::move(parameter));
  }
  if (routine.overloads.empty()) routine.overloads.emplace_back();  // no parameters at all
  return routine;
}

std::optional<Routine> FindCatalogueRoutine(Session& session, std::string_view name) {
  if (!TableExists(session, Catalogue::kProcedures)) return std::nullopt;
  const std::string context = "reading the routines of " + session.Qualified(Catalogue::kProcedures);
  StmtHandle stmt = session.Statement();
  const Wide sql = ToWide("SELECT name, body FROM " + session.Qualified(Catalogue::kProcedures) +
                          " WHERE name IS NOT NULL");
  session.Check(stmt, SQLExecDirectW(stmt.get(), Arg(sql), SQL_NTS), context);
  std::vector<std::pair<std::string, std::string>> rows;
  for (;;) {
    const SQLRETURN rc = SQLFetch(stmt.get());
    if (rc == SQL_NO_DATA) break;
    session.Check(stmt, rc, context);
    auto routineName = TextAt(stmt.get(), 1);
    auto body = TextAt(stmt.get(), 2);
    if (routineName) rows.emplace_back(std::move(*routineName), body.value_or(std::string()));
  }
  std::vector<std::string> names;
  for (const auto& row : rows) names.push_back(row.first);
  const std::optional<std::string> picked = PickByName(name, names);
  if (!picked) return std::nullopt;
  for (auto& row : rows)
    if (row.first == *picked) return Routine{Routine::Kind::Catalogue, row.first, {}, std::move(row.second)};
  return std::nullopt;
}

// Reads the results a statement left: the last result set with columns,
// its first row or all of them.
class ResultReader {
 public:
  ResultReader(Session& session, RoutineResult& result, bool allRows)
      : session_(session), result_(result), allRows_(allRows) {}

  // Reads every result of the executed statement; the failure, if any.
  std::optional<Failure> ReadAll(SQLHSTMT stmt) {
    for (;;) {
      SQLSMALLINT count = 0;
      SQLRETURN rc = SQLNumResultCols(stmt, &count);
      if (!SQL_SUCCEEDED(rc)) return session_.Failure(SQL_HANDLE_STMT, stmt, rc);
      if (count > 0)
        if (auto failure = ReadSet(stmt, count)) return failure;
      rc = SQLMoreResults(stmt);
      if (rc == SQL_NO_DATA) return std::nullopt;
      if (!SQL_SUCCEEDED(rc)) return session_.Failure(SQL_HANDLE_STMT, stmt, rc);
    }
  }

 private:
  std::optional<Failure> ReadSet(SQLHSTMT stmt, SQLSMALLINT count) {
    std::vector<std::string> columns;
    std::vector<Data::DataType> types;
    for (SQLSMALLINT c = 1; c <= count; ++c) {
      SQLWCHAR name[256] = {};
      SQLSMALLINT nameLength = 0, sqlType = 0, digits = 0, nullable = 0;
      SQLULEN size = 0;
      const SQLRETURN rc = SQLDescribeColW(stmt, static_cast<SQLUSMALLINT>(c), name, 256, &nameLength,
                                           &sqlType, &size, &digits, &nullable);
      if (!SQL_SUCCEEDED(rc)) return session_.Failure(SQL_HANDLE_STMT, stmt, rc);
      columns.push_back(
          FromWide(name, static_cast<std::size_t>(std::clamp<SQLSMALLINT>(nameLength, 0, 255))));
      types.push_back(ResultDataTypeOf(sqlType));
    }
    // A PostgreSQL function that returns void still gives a row of one
    // empty column: no result.
    if (count == 1 && session_.Traits().dbms == Dbms::PostgreSQL) {
      SQLWCHAR typeName[64] = {};
      SQLSMALLINT bytes = 0;
      if (SQL_SUCCEEDED(
              SQLColAttributeW(stmt, 1, SQL_DESC_TYPE_NAME, typeName, sizeof typeName, &bytes, nullptr)) &&
          FromWide(typeName, std::min<std::size_t>(
                                 static_cast<std::size_t>(std::max<SQLSMALLINT>(bytes, 0)) / sizeof(SQLWCHAR),
                                 63)) == "void") {
        result_.columns.clear();
        result_.rows.clear();
        SQLCloseCursor(stmt);
        return std::nullopt;
      }
    }
    result_.columns = std::move(columns);
    result_.rows.clear();
    for (;;) {
      const SQLRETURN rc = SQLFetch(stmt);
      if (rc == SQL_NO_DATA) break;
      if (!SQL_SUCCEEDED(rc)) return session_.Failure(SQL_HANDLE_STMT, stmt, rc);
      std::vector<Data::Value> row(static_cast<std::size_t>(count));
      for (SQLSMALLINT c = 0; c < count; ++c) {
        const SQLRETURN got = ReadCell(stmt, static_cast<SQLUSMALLINT>(c + 1), types[c], row[c]);
        if (!SQL_SUCCEEDED(got)) return session_.Failure(SQL_HANDLE_STMT, stmt, got);
      }
      result_.rows.push_back(std::move(row));
      if (!allRows_) break;
    }
    SQLCloseCursor(stmt);
    return std::nullopt;
  }

  Session& session_;
  RoutineResult& result_;
  bool allRows_;
};

// The value and type of each argument as the routine's parameters take them.
struct Passed {
  const Data::Value* value = nullptr;  // null: NULL
  DbType type = DbType::String;
};

class ProcedureCall {
 public:
  ProcedureCall(Session& session, const Routine& routine, const RoutineArguments& arguments, bool allRows)
      : session_(session), routine_(routine), arguments_(arguments), allRows_(allRows) {}

  RoutineResult Run() {
    const std::vector<const Data::DbParameter*> passed = PassedParameters();
    const bool named =
        !passed.empty() && std::all_of(passed.begin(), passed.end(), [](const Data::DbParameter* p) {
          return !Catalogue::ArgumentName(p->ParameterName).empty();
        });
    const std::vector<RoutineParameter>& overload = ChooseOverload(passed.size());
    std::vector<std::optional<Passed>> values;  // one per input parameter of the overload
    std::vector<const RoutineParameter*> inputs;
    for (const RoutineParameter& parameter : overload)
      if (IsInput(parameter.columnType)) inputs.push_back(&parameter);
    values.resize(inputs.size());

    if (arguments_.every != nullptr) {
      for (auto& value : values) value = Passed{arguments_.every, DbType::String};
    } else if (named) {
      std::vector<std::string> names;
      for (const RoutineParameter* input : inputs) names.push_back(input->name);
      for (const Data::DbParameter* parameter : passed) {
        const std::string_view given = Catalogue::ArgumentName(parameter->ParameterName);
        const std::optional<std::string> picked = PickByName(given, names);
        if (!picked) {
          result_.failure =
              ClientFailure("routine " + Quoted(routine_.name) + " has no parameter " + Quoted(given));
          return std::move(result_);
        }
        const auto at =
            static_cast<std::size_t>(std::find(names.begin(), names.end(), *picked) - names.begin());
        values[at] = Passed{&parameter->ParamValue, parameter->Type};
      }
    } else {
      if (passed.size() > values.size() && !inputs.empty()) {
        result_.failure =
            ClientFailure("routine " + Quoted(routine_.name) + " takes " + std::to_string(values.size()) +
                          " arguments, not " + std::to_string(passed.size()));
        return std::move(result_);
      }
      values.resize(std::max(values.size(), passed.size()));
      for (std::size_t i = 0; i < passed.size(); ++i)
        values[i] = Passed{&passed[i]->ParamValue, passed[i]->Type};
    }
    // Parameters after the last one given keep their defaults.
    while (!values.empty() && !values.back()) values.pop_back();

    std::vector<std::string> markers(values.size(), "?");
    std::optional<Failure> failure =
        Call("{CALL " + session_.Qualified(routine_.name) + "(" + Join(markers) + ")}", values);
    if (failure && session_.Traits().dbms == Dbms::PostgreSQL && failure->sqlState == "42809") {
      // A procedure, which PostgreSQL runs only with CALL: every parameter of
      // the overload in order, OUT ones as NULL.
      markers.clear();
      std::size_t next = 0;
      for (const RoutineParameter& parameter : overload) {
        if (IsInput(parameter.columnType)) {
          if (next < values.size()) markers.push_back("?"), ++next;
        } else {
          markers.push_back("NULL");
        }
      }
      result_ = RoutineResult();
      failure = Call("CALL " + session_.Qualified(routine_.name) + "(" + Join(markers) + ")", values);
    }
    result_.failure = std::move(failure);
    return std::move(result_);
  }

 private:
  std::vector<const Data::DbParameter*> PassedParameters() const {
    std::vector<const Data::DbParameter*> passed;
    if (arguments_.parameters == nullptr) return passed;
    for (const auto& parameter : *arguments_.parameters)
      if (parameter && parameter->Direction != ParameterDirection::ReturnValue &&
          parameter->Direction != ParameterDirection::Output)
        passed.push_back(parameter.get());
    return passed;
  }

  // The only overload, or the only one with as many inputs as were passed.
  const std::vector<RoutineParameter>& ChooseOverload(std::size_t inputCount) const {
    if (routine_.overloads.size() == 1) return routine_.overloads.front();
    const std::vector<RoutineParameter>* chosen = nullptr;
    for (const auto& overload : routine_.overloads) {
      const auto inputs = static_cast<std::size_t>(std::count_if(
          overload.begin(), overload.end(), [](const RoutineParameter& p) { return IsInput(p.columnType); }));
      if (inputs != inputCount) continue;
      if (chosen != nullptr) return routine_.overloads.front();
      chosen = &overload;
    }
    return chosen != nullptr ? *chosen : routine_.overloads.front();
  }

  static std::string Join(const std::vector<std::string>& parts) {
    std::string out;
    for (const std::string& part : parts) out += (out.empty() ? "" : ", ") + part;
    return out;
  }

  std::optional<Failure> Call(const std::string& sql, const std::vector<std::optional<Passed>>& values) {
    StmtHandle stmt = session_.Statement();
    std::vector<Argument> bound;
    bound.reserve(values.size());
    const Data::Value null;
    for (const auto& value : values)
      bound.push_back(value ? MakeArgument(*value->value, value->type, session_.Traits().dbms)
                            : MakeArgument(null, DbType::String, session_.Traits().dbms));
    for (std::size_t i = 0; i < bound.size(); ++i) {
      const SQLRETURN rc = Bind(stmt.get(), static_cast<SQLUSMALLINT>(i + 1), bound[i]);
      if (!SQL_SUCCEEDED(rc)) return session_.Failure(SQL_HANDLE_STMT, stmt.get(), rc);
    }
    const Wide text = ToWide(sql);
    const SQLRETURN rc = SQLExecDirectW(stmt.get(), Arg(text), SQL_NTS);
    if (rc == SQL_NO_DATA) return std::nullopt;
    if (!SQL_SUCCEEDED(rc)) return session_.Failure(SQL_HANDLE_STMT, stmt.get(), rc);
    return ResultReader(session_, result_, allRows_).ReadAll(stmt.get());
  }

  Session& session_;
  const Routine& routine_;
  const RoutineArguments& arguments_;
  bool allRows_;
  RoutineResult result_;
};

class CatalogueRun {
 public:
  CatalogueRun(Session& session, const Routine& routine, const RoutineArguments& arguments, bool allRows)
      : session_(session), routine_(routine), arguments_(arguments), allRows_(allRows) {
    if (arguments_.parameters != nullptr)
      for (const auto& parameter : *arguments_.parameters)
        names_.emplace_back(parameter ? std::string(Catalogue::ArgumentName(parameter->ParameterName))
                                      : std::string());
  }

  RoutineResult Run() {
    SQLHDBC conn = session_.Connection();
    Transaction transaction(conn, session_.TransactionStyle(), Session::kBeginStatement);
    SQLRETURN rc = transaction.Begin();
    if (!SQL_SUCCEEDED(rc))
      return Fail(session_.Failure(transaction.DiagnosticsType(), transaction.DiagnosticsHandle(), rc));
    int number = 0;
    for (std::string_view statement : SplitStatements(routine_.body, session_.Traits().dbms)) {
      ++number;
      if (auto failure = RunStatement(statement, number)) return Fail(std::move(*failure));
    }
    rc = transaction.Commit();
    if (!SQL_SUCCEEDED(rc))
      return Fail(CommitFailure(
          session_.Failure(transaction.DiagnosticsType(), transaction.DiagnosticsHandle(), rc)));
    return std::move(result_);
  }

 private:
  RoutineResult Fail(Failure failure) {
    result_.failure = std::move(failure);
    return std::move(result_);
  }

  // The argument a marker stands for, or nullptr when there is none.
  const Data::DbParameter* ArgumentFor(const std::string& name, int position) const {
    if (arguments_.parameters == nullptr) return nullptr;
    const auto& parameters = *arguments_.parameters;
    if (name.empty()) {
      if (position < 1 || static_cast<std::size_t>(position) > parameters.size()) return nullptr;
      return parameters[static_cast<std::size_t>(position - 1)].get();
    }
    const std::optional<std::string> picked = PickByName(name, names_);
    if (!picked) return nullptr;
    for (std::size_t i = 0; i < names_.size(); ++i)
      if (names_[i] == *picked) return parameters[i].get();
    return nullptr;
  }

  std::optional<Failure> RunStatement(std::string_view statement, int number) {
    const MarkedStatement marked = MarkParameters(statement, session_.Traits().dbms);
    StmtHandle stmt = session_.Statement();
    std::vector<Argument> bound;
    bound.reserve(marked.names.size());
    for (std::size_t i = 0; i < marked.names.size(); ++i) {
      if (arguments_.every != nullptr) {
        bound.push_back(MakeArgument(*arguments_.every, DbType::String, session_.Traits().dbms));
        continue;
      }
      const Data::DbParameter* argument = ArgumentFor(marked.names[i], marked.positions[i]);
      if (argument == nullptr) {
        const std::string shown =
            marked.names[i].empty() ? "?" + std::to_string(marked.positions[i]) : ":" + marked.names[i];
        return ClientFailure("statement " + std::to_string(number) + " uses parameter " + shown +
                             ", which no argument gives");
      }
      bound.push_back(MakeArgument(argument->ParamValue, argument->Type, session_.Traits().dbms));
    }
    for (std::size_t i = 0; i < bound.size(); ++i) {
      const SQLRETURN rc = Bind(stmt.get(), static_cast<SQLUSMALLINT>(i + 1), bound[i]);
      if (!SQL_SUCCEEDED(rc)) return session_.Failure(SQL_HANDLE_STMT, stmt.get(), rc);
    }
    const Wide text = ToWide(marked.sql);
    const SQLRETURN rc = SQLExecDirectW(stmt.get(), Arg(text), SQL_NTS);
    if (rc == SQL_NO_DATA) return std::nullopt;
    if (!SQL_SUCCEEDED(rc)) {
      Failure failure = session_.Failure(SQL_HANDLE_STMT, stmt.get(), rc);
      failure.text = "statement " + std::to_string(number) + ": " + failure.text;
      return failure;
    }
    return ResultReader(session_, result_, allRows_).ReadAll(stmt.get());
  }

  Session& session_;
  const Routine& routine_;
  const RoutineArguments& arguments_;
  bool allRows_;
  std::vector<std::string> names_;
  RoutineResult result_;
};

bool IsNameStart(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' ||
         static_cast<unsigned char>(c) >= 0x80;
}
bool IsNameCharacter(char c) { return IsNameStart(c) || (c >= '0' && c <= '9'); }

// The length of the quoted part, comment or dollar quote that starts at
// `at`, or 0 when none starts there.
std::size_t SkipQuoted(std::string_view sql, std::size_t at, Dbms dbms) {
  const char c = sql[at];
  if (c == '\'' || c == '"' || c == '`') {
    std::size_t i = at + 1;
    while (i < sql.size()) {
      if (sql[i] == c) {
        if (i + 1 < sql.size() && sql[i + 1] == c) {  // a doubled quote stays inside
          i += 2;
          continue;
        }
        return i + 1 - at;
      }
      ++i;
    }
    return sql.size() - at;
  }
  if (sql.compare(at, 2, "--") == 0) {
    const std::size_t end = sql.find('\n', at);
    return (end == std::string_view::npos ? sql.size() : end + 1) - at;
  }
  if (sql.compare(at, 2, "/*") == 0) {
    const std::size_t end = sql.find("*/", at + 2);
    return (end == std::string_view::npos ? sql.size() : end + 2) - at;
  }
  if (c == '$' && dbms == Dbms::PostgreSQL) {
    std::size_t i = at + 1;
    while (i < sql.size() && IsNameCharacter(sql[i])) ++i;
    if (i < sql.size() && sql[i] == '$' && (i == at + 1 || IsNameStart(sql[at + 1]))) {
      const std::string_view tag = sql.substr(at, i + 1 - at);
      const std::size_t end = sql.find(tag, i + 1);
      return (end == std::string_view::npos ? sql.size() : end + tag.size()) - at;
    }
  }
  return 0;
}

bool IsBlank(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; });
}

}  // namespace

std::optional<Routine> FindRoutine(Session& session, std::string_view name) {
  session.Connection();
  if (session.Traits().procedures)
    if (auto routine = FindProcedure(session, name)) return routine;
  return FindCatalogueRoutine(session, name);
}

RoutineResult RunRoutine(Session& session, const Routine& routine, const RoutineArguments& arguments,
                         bool allRows) {
  if (routine.kind == Routine::Kind::Procedure)
    return ProcedureCall(session, routine, arguments, allRows).Run();
  return CatalogueRun(session, routine, arguments, allRows).Run();
}

std::vector<std::string_view> SplitStatements(std::string_view sql, Dbms dbms) {
  std::vector<std::string_view> statements;
  std::size_t start = 0;
  // Inside CREATE TRIGGER ... BEGIN ... END the ';' end the trigger's own
  // statements: count BEGIN (and CASE, which END also closes) against END.
  bool trigger = false;
  int depth = 0;
  std::size_t words = 0;
  for (std::size_t i = 0; i < sql.size();) {
    if (const std::size_t skip = SkipQuoted(sql, i, dbms)) {
      i += skip;
      continue;
    }
    if (IsNameStart(sql[i]) && (i == 0 || !IsNameCharacter(sql[i - 1]))) {
      std::size_t end = i;
      while (end < sql.size() && IsNameCharacter(sql[end])) ++end;
      const std::string_view word = sql.substr(i, end - i);
      if (words == 0) trigger = false;
      if (words == 0 && !Text::EqualsIgnoreAsciiCase(word, "CREATE")) words = 99;  // not a CREATE: no trigger
      if (words < 4 && Text::EqualsIgnoreAsciiCase(word, "TRIGGER")) trigger = true;
      if (trigger &&
          (Text::EqualsIgnoreAsciiCase(word, "BEGIN") || Text::EqualsIgnoreAsciiCase(word, "CASE")))
        ++depth;
      if (trigger && Text::EqualsIgnoreAsciiCase(word, "END") && depth > 0) --depth;
      ++words;
      i = end;
      continue;
    }
    if (sql[i] == ';' && depth == 0) {
      if (!IsBlank(sql.substr(start, i - start))) statements.push_back(sql.substr(start, i - start));
      start = i + 1;
      words = 0;
      trigger = false;
    }
    ++i;
  }
  if (start < sql.size() && !IsBlank(sql.substr(start))) statements.push_back(sql.substr(start));
  return statements;
}

MarkedStatement MarkParameters(std::string_view statement, Dbms dbms) {
  MarkedStatement marked;
  int lastPosition = 0;
  for (std::size_t i = 0; i < statement.size();) {
    if (const std::size_t skip = SkipQuoted(statement, i, dbms)) {
      marked.sql.append(statement.substr(i, skip));
      i += skip;
      continue;
    }
    const char c = statement[i];
    if (c == '?') {
      std::size_t j = i + 1;
      while (j < statement.size() && statement[j] >= '0' && statement[j] <= '9') ++j;
      int position = lastPosition + 1;
      if (j > i + 1) Data::ParseInteger(statement.substr(i + 1, j - i - 1), position);
      lastPosition = position;
      marked.sql.push_back('?');
      marked.names.emplace_back();
      marked.positions.push_back(position);
      i = j;
      continue;
    }
    // ":name", "@name", "$name"; "::" is a cast, not a parameter.
    const bool sign = c == ':' || c == '@' || c == '$';
    const bool afterColon = i > 0 && statement[i - 1] == ':';
    if (sign && !afterColon && i + 1 < statement.size() && IsNameStart(statement[i + 1])) {
      std::size_t j = i + 1;
      while (j < statement.size() && IsNameCharacter(statement[j])) ++j;
      marked.sql.push_back('?');
      marked.names.emplace_back(statement.substr(i + 1, j - i - 1));
      marked.positions.push_back(0);
      i = j;
      continue;
    }
    marked.sql.push_back(c);
    ++i;
  }
  return marked;
}

}  // namespace Tessel::Odbc
