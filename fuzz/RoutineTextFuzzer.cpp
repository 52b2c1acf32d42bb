// Routine arguments as text (NAME=TYPE:VALUE), ISO dates as OLE Automation
// days, routine output text ("name=value;" per column) both ways, and the
// integer result of a routine's row.
//
// Oracle:
//   - ParseRoutineArgument throws nothing but ArgumentError; what it takes
//     it takes as written: the name before the first '=', the type word
//     before the next ':' (any letter case), and the value after it: a string
//     byte for byte, an integer that is the value's own number, a double that
//     strtod reads from the value too (numbers may have ASCII blanks around
//     them, as everywhere in the library), a date either the day number
//     itself or the ISO date's day; ParseRoutineArguments agrees with it one
//     by one;
//   - OaDateFromIsoText takes exactly the texts DateTime::Parse takes, and
//     its day turns back into that date within 1 ms;
//   - ParseRoutineOutput splits any text into the ';'-separated pieces it
//     holds, each at its first '=', and FindOutputColumn finds the first
//     column of a name in any ASCII letter case;
//   - a row formatted as output text parses back into its names and the text
//     of its values, when no name holds '=' or ';' and no value ';';
//   - the result code is the first value when it is an integer within 32
//     bits (or the text of one), else 0.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "OaDate.h"
#include "TesselWrapper/Errors.h"
#include "TesselWrapper/data/DateTime.h"
#include "TesselWrapper/data/Value.h"
#include "TesselWrapper/jobs/RoutineText.h"
#include "tessel/RoutineOutput.h"

namespace {

using Tessel::Data::DateTime;
using Tessel::Fuzz::Check;
using Tessel::Fuzz::Violation;

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

// `text` without the ASCII white space around it, which the library's
// number reading allows (data/NumberText.h).
std::string Trimmed(const std::string& text) {
  const char* space = " \t\n\v\f\r";
  const std::size_t first = text.find_first_not_of(space);
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(space) - first + 1);
}

// The integer a decimal text stands for: an optional sign, digits; nullopt
// for anything else or beyond 64 bits.
std::optional<long long> DecimalInteger(std::string text) {
  if (!text.empty() && text[0] == '+') {
    text.erase(0, 1);
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) return std::nullopt;  // one sign only
  }
  if (text.empty()) return std::nullopt;
  for (std::size_t i = text[0] == '-' ? 1 : 0; i < text.size(); ++i)
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
  if (text == "-") return std::nullopt;
  errno = 0;
  char* end = nullptr;
  const long long value = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0') return std::nullopt;
  return value;
}

bool SameDouble(double a, double b) {
  return (std::isnan(a) && std::isnan(b)) || std::memcmp(&a, &b, sizeof a) == 0;
}

void CheckIsoDay(const std::string& text, double day, const std::string& where) {
  std::optional<DateTime> parsed;
  try {
    parsed = DateTime::Parse(text);
  } catch (const Tessel::Error&) {
  }
  Check(parsed.has_value(), "a date DateTime::Parse refuses gave day " + std::to_string(day) + where);
  const std::int64_t epoch = DateTime(1899, 12, 30).Ticks();
  const std::int64_t ticks = epoch + Tessel::Fuzz::OaDateMilliseconds(day) * DateTime::kTicksPerMillisecond;
  Check(
      std::llabs(ticks - parsed->Ticks()) <= DateTime::kTicksPerMillisecond,
      "day " + Tessel::Data::Value(day).ToString() + " is not within 1 ms of " + parsed->ToString() + where);
}

void CheckArgument(const std::string& text) {
  const std::string where = " for argument '" + Tessel::Fuzz::Shown(text) + "'";
  std::optional<SimpleDbParameter> parameter;
  try {
    parameter = Tessel::Jobs::ParseRoutineArgument(text);
  } catch (const Tessel::ArgumentError&) {
  } catch (const Tessel::Error& e) {
    Violation(std::string("ParseRoutineArgument threw other than ArgumentError: ") + e.what() + where);
  }
  // The list form takes the same, one by one.
  bool listTook = true;
  try {
    const std::string texts[] = {"first=int:1", text};
    const auto list = Tessel::Jobs::ParseRoutineArguments(texts);
    Check(list.size() == 2 && list[1].parameterName == (parameter ? parameter->parameterName : ""),
          "ParseRoutineArguments disagrees" + where);
  } catch (const Tessel::ArgumentError&) {
    listTook = false;
  }
  Check(listTook == parameter.has_value(), "ParseRoutineArguments and ParseRoutineArgument disagree" + where);
  if (!parameter) return;

  const std::size_t equals = text.find('=');
  Check(equals != std::string::npos && equals > 0, "an argument without a name was taken" + where);
  const std::size_t colon = text.find(':', equals + 1);
  Check(colon != std::string::npos, "an argument without a type was taken" + where);
  const std::string name = text.substr(0, equals);
  const std::string word = Lower(text.substr(equals + 1, colon - equals - 1));
  const std::string value = text.substr(colon + 1);
  Check(parameter->parameterName == name, "the name became '" + parameter->parameterName + "'" + where);
  Check(parameter->parameterDirection == SimpleParameterDirection::Input, "not an input" + where);
  const ParamValue& v = parameter->paramValue;
  static const std::pair<const char*, SimpleDbType> kWords[] = {
      {"string", SimpleDbType::String},     {"int", SimpleDbType::Int32},
      {"double", SimpleDbType::Double},     {"decimal", SimpleDbType::Decimal},
      {"currency", SimpleDbType::Currency}, {"datetime", SimpleDbType::DateTime},
      {"binary", SimpleDbType::Binary}};
  std::optional<SimpleDbType> type;
  for (const auto& [w, t] : kWords)
    if (word == w) type = t;
  Check(type.has_value() && v.valueType == *type, "type word '" + word + "' gave another type" + where);
  switch (*type) {
    case SimpleDbType::String:
      Check(v.stringValue == value, "the string became '" + v.stringValue + "'" + where);
      return;
    case SimpleDbType::Int32:
    case SimpleDbType::Binary: {
      const std::optional<long long> expected = DecimalInteger(Trimmed(value));
      Check(expected && *expected == v.numericValue.intValue,
            "the integer became " + std::to_string(v.numericValue.intValue) + where);
      Check(v.stringValue.empty(), "a number carries a string" + where);
      return;
    }
    case SimpleDbType::Double:
    case SimpleDbType::Decimal:
    case SimpleDbType::Currency: {
      std::string plain = Trimmed(value);
      if (plain.size() > 1 && plain[0] == '+' && plain[1] != '-' && plain[1] != '+') plain.erase(0, 1);
      char* end = nullptr;
      const double expected = std::strtod(plain.c_str(), &end);
      Check(end == plain.c_str() + plain.size() && SameDouble(expected, v.numericValue.doubleValue),
            "the number became " + Tessel::Data::Value(v.numericValue.doubleValue).ToString() + where);
      return;
    }
    case SimpleDbType::DateTime: {
      // A day number, else an ISO date.
      std::string plain = Trimmed(value);
      if (plain.size() > 1 && plain[0] == '+' && plain[1] != '-' && plain[1] != '+') plain.erase(0, 1);
      char* end = nullptr;
      const double day = std::strtod(plain.c_str(), &end);
      if (!plain.empty() && end == plain.c_str() + plain.size() &&
          plain.find_first_of("xX") == std::string::npos) {
        Check(SameDouble(day, v.numericValue.doubleValue), "the day number changed" + where);
        return;
      }
      CheckIsoDay(value, v.numericValue.doubleValue, where);
      return;
    }
  }
}

void CheckIsoText(const std::string& text) {
  const std::string where = " for date text '" + Tessel::Fuzz::Shown(text) + "'";
  std::optional<double> day;
  try {
    day = Tessel::Jobs::OaDateFromIsoText(text);
  } catch (const Tessel::InvalidCastError&) {
  } catch (const Tessel::Error& e) {
    Violation(std::string("OaDateFromIsoText threw other than InvalidCastError: ") + e.what() + where);
  }
  if (day) {
    CheckIsoDay(text, *day, where);
    return;
  }
  bool parses = true;
  try {
    DateTime::Parse(text);
  } catch (const Tessel::Error&) {
    parses = false;
  }
  Check(!parses, "a date DateTime::Parse takes was refused" + where);
}

void CheckOutput(const std::string& text, const std::string& probe) {
  const std::string where = " for output text '" + Tessel::Fuzz::Shown(text) + "'";
  const std::vector<Tessel::Jobs::RoutineOutputColumn> columns = Tessel::Jobs::ParseRoutineOutput(text);
  std::vector<std::string> pieces;
  for (std::size_t pos = 0; pos < text.size();) {
    const std::size_t end = std::min(text.find(';', pos), text.size());
    pieces.push_back(text.substr(pos, end - pos));
    pos = end + 1;
  }
  Check(columns.size() == pieces.size(), std::to_string(columns.size()) + " columns from " +
                                             std::to_string(pieces.size()) + " pieces" + where);
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    const std::size_t equals = pieces[i].find('=');
    const std::string name = pieces[i].substr(0, equals);
    const std::string value = equals == std::string::npos ? "" : pieces[i].substr(equals + 1);
    Check(columns[i].name == name && columns[i].value == value, "piece " + std::to_string(i) + " became '" +
                                                                    columns[i].name + "'='" +
                                                                    columns[i].value + "'" + where);
  }
  const std::string* found = Tessel::Jobs::FindOutputColumn(columns, probe);
  const Tessel::Jobs::RoutineOutputColumn* expected = nullptr;
  for (const auto& column : columns)
    if (expected == nullptr && Lower(column.name) == Lower(probe)) expected = &column;
  Check(found == (expected ? &expected->value : nullptr),
        "FindOutputColumn('" + probe + "') found another" + where);
}

Tessel::Data::Value FuzzValue(FuzzedDataProvider& in) {
  switch (in.ConsumeIntegralInRange(0, 6)) {
    case 0:
      return {};
    case 1:
      return in.ConsumeIntegral<std::int32_t>();
    case 2:
      return in.ConsumeIntegral<std::int64_t>();
    case 3:
      return in.ConsumeFloatingPoint<double>();
    case 4:
      return in.ConsumeBool();
    case 5:
      return DateTime(in.ConsumeIntegralInRange<std::int64_t>(0, DateTime::kMaxTicks));
    default:
      return std::string(in.ConsumeRandomLengthString(12));
  }
}

void CheckRow(FuzzedDataProvider& in) {
  Tessel::RoutineRow row;
  const int n = in.ConsumeIntegralInRange(0, 5);
  bool plain = true;
  for (int i = 0; i < n; ++i) {
    row.names.push_back(in.ConsumeRandomLengthString(8));
    row.values.push_back(FuzzValue(in));
    if (row.names.back().find_first_of("=;") != std::string::npos) plain = false;
    if (row.values.back().ToString().find(';') != std::string::npos) plain = false;
  }
  const std::string text = Tessel::FormatRoutineOutput(row);
  if (plain) {
    const auto columns = Tessel::Jobs::ParseRoutineOutput(text);
    Check(columns.size() == row.names.size(), "a row of " + std::to_string(n) + " columns came back with " +
                                                  std::to_string(columns.size()) + ": '" +
                                                  Tessel::Fuzz::Shown(text) + "'");
    for (std::size_t i = 0; i < columns.size(); ++i)
      Check(columns[i].name == row.names[i] && columns[i].value == row.values[i].ToString(),
            "column " + std::to_string(i) + " did not come back from '" + Tessel::Fuzz::Shown(text) + "'");
  }

  std::int32_t expected = 0;
  if (!row.values.empty()) {
    const auto& first = row.values.front().Get();
    std::optional<long long> wide;
    if (const auto* i32 = std::get_if<std::int32_t>(&first)) wide = *i32;
    if (const auto* i64 = std::get_if<std::int64_t>(&first)) wide = *i64;
    if (const auto* s = std::get_if<std::string>(&first)) {
      wide = DecimalInteger(*s);  // digits with an optional sign, no blanks
    }
    if (wide && *wide >= INT32_MIN && *wide <= INT32_MAX) expected = static_cast<std::int32_t>(*wide);
  }
  Check(Tessel::RoutineResultCode(row) == expected,
        "the result code is " + std::to_string(Tessel::RoutineResultCode(row)) + ", not " +
            std::to_string(expected) + " for '" + Tessel::Fuzz::Shown(text) + "'");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  static const char* const kTypes[] = {"string", "int", "double",   "decimal", "currency", "datetime",
                                       "binary", "INT", "DateTime", "",        "float"};
  switch (in.ConsumeIntegralInRange(0, 4)) {
    case 0: {
      std::string text = in.ConsumeRandomLengthString(12) + "=" + in.PickValueInArray(kTypes) + ":";
      CheckArgument(text + in.ConsumeRemainingBytesAsString());
      break;
    }
    case 1:
      CheckArgument(in.ConsumeRemainingBytesAsString());
      break;
    case 2:
      CheckIsoText(in.ConsumeRemainingBytesAsString());
      break;
    case 3: {
      const std::string probe = in.ConsumeRandomLengthString(8);
      CheckOutput(in.ConsumeRemainingBytesAsString(), probe);
      break;
    }
    default:
      CheckRow(in);
      break;
  }
  return 0;
}
