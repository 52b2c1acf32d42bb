#include "TesselWrapper/jobs/RoutineText.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>

#include "TesselWrapper/Errors.h"
#include "TesselWrapper/data/DateTime.h"
#include "TesselWrapper/data/Text.h"
#include "data/NumberText.h"
#include "data/Quoted.h"

namespace Tessel::Jobs {
namespace {

struct TypeWord {
  std::string_view word;
  SimpleDbType type;
};

constexpr TypeWord kTypeWords[] = {
    {"string", SimpleDbType::String},     {"int", SimpleDbType::Int32},
    {"double", SimpleDbType::Double},     {"decimal", SimpleDbType::Decimal},
    {"currency", SimpleDbType::Currency}, {"datetime", SimpleDbType::DateTime},
    {"binary", SimpleDbType::Binary},
};

[[noreturn]] void Refuse(std::string_view argument, const std::string& why) {
  throw ArgumentError("routine argument " + Quoted(argument) + ": " + why);
}

}  // namespace

std::string_view RoutineArgumentTypeWords() noexcept {
  return "string, int, double, decimal, currency, datetime, binary";
}

double OaDateFromIsoText(std::string_view text) {
  const Data::DateTime when = Data::DateTime::Parse(text);
  try {
    return when.ToOADate();
  } catch (const ArgumentError&) {
    // The bridge would refuse the day number later, naming a number the
    // caller never wrote; say it here with the caller's own text.
    throw InvalidCastError(QuotedExcerpt(text) +
                           " lies outside the dates the bridge can carry (0100-01-01 to "
                           "9999-12-31 23:59:59.999)");
  }
}

SimpleDbParameter ParseRoutineArgument(std::string_view text) {
  const std::size_t equals = text.find('=');
  if (equals == std::string_view::npos) Refuse(text, "expected NAME=TYPE:VALUE");
  const std::string_view name = text.substr(0, equals);
  if (name.empty()) Refuse(text, "the name before '=' is empty");
  const std::string_view rest = text.substr(equals + 1);
  const std::size_t colon = rest.find(':');
  if (colon == std::string_view::npos)
    Refuse(text, "expected TYPE:VALUE after '=' (types: " + std::string(RoutineArgumentTypeWords()) + ")");
  const std::string_view word = rest.substr(0, colon);
  const std::string_view value = rest.substr(colon + 1);

  const TypeWord* found = nullptr;
  for (const TypeWord& candidate : kTypeWords)
    if (Text::EqualsIgnoreAsciiCase(candidate.word, word)) found = &candidate;
  if (found == nullptr)
    Refuse(text,
           "unknown type " + Quoted(word) + " (types: " + std::string(RoutineArgumentTypeWords()) + ")");

  ParamValue paramValue;
  paramValue.valueType = found->type;
  paramValue.numericValue.intValue = 0;
  switch (found->type) {
    case SimpleDbType::String:
      paramValue.stringValue = std::string(value);
      break;
    case SimpleDbType::Int32:
    case SimpleDbType::Binary:
      if (!Data::ParseInteger<std::int32_t>(value, paramValue.numericValue.intValue))
        Refuse(text, Quoted(value) + " is not an integer from -2147483648 to 2147483647");
      break;
    case SimpleDbType::Double:
    case SimpleDbType::Decimal:
    case SimpleDbType::Currency:
      if (!Data::ParseDouble(value, paramValue.numericValue.doubleValue))
        Refuse(text, Quoted(value) + " is not a number");
      break;
    case SimpleDbType::DateTime: {
      double day = 0;
      if (Data::ParseDouble(value, day)) {
        try {
          Data::DateTime::FromOADate(day);
        } catch (const Error&) {
          Refuse(text, Quoted(value) +
                           " is no day number the bridge can carry (from -657434 for 0100-01-01 "
                           "to below 2958466 for 10000-01-01)");
        }
        paramValue.numericValue.doubleValue = day;
        break;
      }
      try {
        Data::DateTime::Parse(value);
      } catch (const Error&) {
        Refuse(text, Quoted(value) + " is neither a date YYYY-MM-DD[ HH:MM[:SS[.fff]]] nor a day number");
      }
      try {
        paramValue.numericValue.doubleValue = OaDateFromIsoText(value);
      } catch (const Error&) {
        Refuse(text, Quoted(value) +
                         " lies outside the dates the bridge can carry (0100-01-01 to "
                         "9999-12-31 23:59:59.999)");
      }
      break;
    }
  }
  return SimpleDbParameter(std::string(name), paramValue, SimpleParameterDirection::Input);
}

std::vector<SimpleDbParameter> ParseRoutineArguments(std::span<const std::string> texts) {
  std::vector<SimpleDbParameter> parameters;
  parameters.reserve(texts.size());
  for (const std::string& text : texts) parameters.push_back(ParseRoutineArgument(text));
  return parameters;
}

std::vector<RoutineOutputColumn> ParseRoutineOutput(std::string_view output) {
  std::vector<RoutineOutputColumn> columns;
  std::size_t pos = 0;
  while (pos < output.size()) {
    std::size_t end = output.find(';', pos);
    if (end == std::string_view::npos) end = output.size();
    const std::string_view piece = output.substr(pos, end - pos);
    const std::size_t equals = piece.find('=');
    if (equals == std::string_view::npos)
      columns.push_back({std::string(piece), {}});
    else
      columns.push_back({std::string(piece.substr(0, equals)), std::string(piece.substr(equals + 1))});
    pos = end + 1;
  }
  return columns;
}

const std::string* FindOutputColumn(const std::vector<RoutineOutputColumn>& columns,
                                    std::string_view name) noexcept {
  for (const RoutineOutputColumn& column : columns)
    if (Text::EqualsIgnoreAsciiCase(column.name, name)) return &column.value;
  return nullptr;
}

}  // namespace Tessel::Jobs
