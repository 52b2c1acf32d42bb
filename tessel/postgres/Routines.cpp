#include "tessel/postgres/Routines.h"

#include <map>
#include <variant>

#include "TesselWrapper/data/DateTime.h"
#include "tessel/Catalogue.h"
#include "tessel/NameLookup.h"
#include "tessel/dialect/postgres/CatalogueQueries.h"
#include "tessel/dialect/postgres/TypeMap.h"
#include "tessel/postgres/Schema.h"

namespace Tessel::Postgres {
namespace {

using Data::DbType;
using Data::ParameterDirection;

const char* CastFor(DbType type) {
  switch (type) {
    case DbType::Binary:
      return "bytea";
    case DbType::Byte:
    case DbType::SByte:
    case DbType::Int16:
      return "int2";
    case DbType::Boolean:
      return "bool";
    case DbType::Currency:
    case DbType::Decimal:
    case DbType::VarNumeric:
    case DbType::UInt64:
      return "numeric";
    case DbType::Date:
      return "date";
    case DbType::DateTime:
    case DbType::DateTime2:
      return "timestamp";
    case DbType::DateTimeOffset:
      return "timestamptz";
    case DbType::Time:
      return "time";
    case DbType::Double:
      return "float8";
    case DbType::Single:
      return "float4";
    case DbType::Guid:
      return "uuid";
    case DbType::UInt16:
    case DbType::Int32:
      return "int4";
    case DbType::UInt32:
    case DbType::Int64:
      return "int8";
    case DbType::Xml:
      return "xml";
    case DbType::Object:
      return nullptr;  // let the server infer it
    default:
      return "text";  // the string types, and numbers DbType does not name
  }
}

bool IsDateType(DbType type) {
  return type == DbType::Date || type == DbType::DateTime || type == DbType::DateTime2 ||
         type == DbType::DateTimeOffset || type == DbType::Time;
}

std::string Hex(const Data::Bytes& bytes) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string text = "\\x";
  for (std::uint8_t b : bytes) {
    text.push_back(kHex[b >> 4]);
    text.push_back(kHex[b & 15]);
  }
  return text;
}

// The parameter's value as the text the server parses for its cast; nullopt
// for DBNull.
std::optional<std::string> ArgumentText(const Data::DbParameter& parameter) {
  const Data::Value& value = parameter.ParamValue;
  const DbType type = parameter.Type;
  return std::visit(
      [&](const auto& v) -> std::optional<std::string> {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, Data::DBNullType>) {
          return std::nullopt;
        } else if constexpr (std::is_same_v<T, bool>) {
          return std::string(v ? "true" : "false");
        } else if constexpr (std::is_same_v<T, double>) {
          if (IsDateType(type)) return Data::DateTime::FromOADate(v).ToString();
          if (type == DbType::Boolean) return std::string(v != 0 ? "true" : "false");
          return value.ToString();
        } else if constexpr (std::is_same_v<T, std::int32_t> || std::is_same_v<T, std::int64_t>) {
          if (type == DbType::Boolean) return std::string(v != 0 ? "true" : "false");
          return value.ToString();
        } else if constexpr (std::is_same_v<T, Data::Bytes>) {
          return Hex(v);
        } else if constexpr (std::is_same_v<T, std::string>) {
          return v;
        } else {
          return value.ToString();  // DateTime
        }
      },
      value.Get());
}

bool IsPassed(const Data::DbParameter& parameter) {
  return parameter.Direction != ParameterDirection::ReturnValue;
}

bool IsInputMode(char mode) { return mode == 'i' || mode == 'b' || mode == 'v'; }

// The overload the call is for, when it can be told: the only one, or the
// only one whose input arguments match the number of input parameters.
const RoutineOverload* ChooseOverload(const Routine& routine, std::size_t inputCount) {
  if (routine.overloads.size() == 1) return &routine.overloads.front();
  const RoutineOverload* chosen = nullptr;
  for (const RoutineOverload& overload : routine.overloads) {
    std::size_t inputs = 0;
    for (const RoutineArgument& argument : overload.arguments) inputs += IsInputMode(argument.mode);
    if (inputs != inputCount) continue;
    if (chosen != nullptr) return nullptr;
    chosen = &overload;
  }
  return chosen;
}

}  // namespace

std::optional<Routine> FindRoutine(Session& session, const std::string& schema, std::string_view name) {
  ResultHandle rows =
      session.ExecParams(kRoutinesSql, {schema.c_str()}, "reading the routines of schema " + Quoted(schema));
  const PGresult* r = rows.get();
  std::vector<std::string> names;
  for (int i = 0; i < PQntuples(r); ++i) {
    std::string routineName = PQgetvalue(r, i, 1);
    if (names.empty() || names.back() != routineName) names.push_back(std::move(routineName));
  }
  const std::optional<std::string> picked = PickByName(name, names);
  if (!picked) return std::nullopt;

  Routine routine;
  routine.schema = schema;
  routine.name = *picked;
  std::string currentOid;
  for (int i = 0; i < PQntuples(r); ++i) {
    if (*picked != PQgetvalue(r, i, 1)) continue;
    if (currentOid != PQgetvalue(r, i, 0)) {
      currentOid = PQgetvalue(r, i, 0);
      routine.overloads.push_back({*PQgetvalue(r, i, 2) == 'p', {}});
    }
    if (!PQgetisnull(r, i, 4))
      routine.overloads.back().arguments.push_back({PQgetvalue(r, i, 3), *PQgetvalue(r, i, 4)});
  }
  return routine;
}

ResultHandle CallRoutine(Session& session, const Routine& routine,
                         const std::vector<std::shared_ptr<Data::DbParameter>>& parameters) {
  std::vector<const Data::DbParameter*> passed;
  bool named = true;
  std::size_t inputCount = 0;
  for (const auto& parameter : parameters) {
    if (!parameter || !IsPassed(*parameter)) continue;
    passed.push_back(parameter.get());
    named = named && !Catalogue::ArgumentName(parameter->ParameterName).empty();
    inputCount += parameter->Direction != ParameterDirection::Output;
  }
  named = named && !passed.empty();
  const RoutineOverload* overload = ChooseOverload(routine, inputCount);
  const bool isProcedure = overload ? overload->isProcedure : routine.overloads.front().isProcedure;

  std::vector<std::string> argumentNames;  // the routine's own spellings
  for (const RoutineOverload& candidate : routine.overloads)
    if (overload == nullptr || overload == &candidate)
      for (const RoutineArgument& argument : candidate.arguments)
        if (!argument.name.empty()) argumentNames.push_back(argument.name);

  std::vector<std::optional<std::string>> texts;
  std::vector<std::string> arguments;  // SQL text of each argument
  std::vector<std::string> namesUsed;
  for (const Data::DbParameter* parameter : passed) {
    const bool output = parameter->Direction == ParameterDirection::Output;
    if (output && !isProcedure) continue;  // a function's OUT arguments are its result columns
    const char* cast = CastFor(parameter->Type);
    std::string argument;
    if (named) {
      const std::string_view given = Catalogue::ArgumentName(parameter->ParameterName);
      const std::string spelled = PickByName(given, argumentNames).value_or(std::string(given));
      namesUsed.push_back(spelled);
      argument = QuoteIdentifier(spelled) + " => ";
    }
    if (output) {
      argument += "NULL";
    } else {
      texts.push_back(ArgumentText(*parameter));
      argument += "$" + std::to_string(texts.size());
    }
    if (cast != nullptr) argument += std::string("::") + cast;
    arguments.push_back(std::move(argument));
  }

  // CALL wants a placeholder for every OUT argument. Add the ones the caller
  // left out: by name, or in order when the caller passed exactly the inputs.
  if (isProcedure && overload != nullptr) {
    if (named) {
      for (const RoutineArgument& argument : overload->arguments) {
        if (argument.mode != 'o' || argument.name.empty()) continue;
        bool given = false;
        for (const std::string& used : namesUsed) given = given || used == argument.name;
        if (!given) arguments.push_back(QuoteIdentifier(argument.name) + " => NULL");
      }
    } else if (arguments.size() == inputCount && arguments.size() < overload->arguments.size()) {
      std::vector<std::string> laidOut;
      std::size_t next = 0;
      for (const RoutineArgument& argument : overload->arguments) {
        if (argument.mode == 'o') {
          laidOut.push_back("NULL");
        } else if (next < arguments.size()) {
          laidOut.push_back(arguments[next++]);
        }
      }
      if (next == arguments.size()) arguments = std::move(laidOut);
    }
  }

  std::string sql = isProcedure ? "CALL " : "SELECT * FROM ";
  sql += QualifiedName(routine.schema, routine.name) + "(";
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    if (i != 0) sql += ", ";
    sql += arguments[i];
  }
  sql += ")";

  std::vector<const char*> values;
  values.reserve(texts.size());
  for (const auto& text : texts) values.push_back(text ? text->c_str() : nullptr);
  return session.ExecParams(sql, values, "routine " + Quoted(routine.name));
}

RoutineRow FirstRow(const PGresult* result) {
  RoutineRow row;
  if (result == nullptr || PQntuples(result) == 0) return row;
  const int columns = PQnfields(result);
  if (columns == 1 && PQftype(result, 0) == TypeOid::kVoid) return row;
  for (int c = 0; c < columns; ++c) {
    row.names.emplace_back(PQfname(result, c));
    if (PQgetisnull(result, 0, c)) {
      row.values.emplace_back();
    } else {
      row.values.push_back(
          ValueFromText(PQftype(result, c),
                        {PQgetvalue(result, 0, c), static_cast<std::size_t>(PQgetlength(result, 0, c))}));
    }
  }
  return row;
}

std::shared_ptr<Data::DataTable> ResultTable(const PGresult* result, std::string tableName) {
  auto table = Data::DataTable::Create(std::move(tableName));
  const int columns = PQnfields(result);
  std::map<std::string, int> seen;
  for (int c = 0; c < columns; ++c) {
    Data::DataColumn column;
    column.ColumnName = PQfname(result, c);
    // Two result columns may share a name; the table needs distinct ones.
    if (int n = seen[column.ColumnName]++; n > 0) column.ColumnName += "_" + std::to_string(n + 1);
    column.Type = ResultDataTypeOf(PQftype(result, c));
    table->AddColumn(std::move(column));
  }
  for (int r = 0; r < PQntuples(result); ++r) {
    Data::DataRow row = table->NewRow();
    for (int c = 0; c < columns; ++c) {
      if (PQgetisnull(result, r, c)) continue;
      const Data::Value value =
          ValueFromText(PQftype(result, c),
                        {PQgetvalue(result, r, c), static_cast<std::size_t>(PQgetlength(result, r, c))});
      row.Set(static_cast<std::size_t>(c), value.View());
    }
    table->Rows().Add(row);
  }
  return table;
}

}  // namespace Tessel::Postgres
