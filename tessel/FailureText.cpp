#include "tessel/FailureText.h"

#include "TesselWrapper/component/DbConnect.h"
#include "data/Quoted.h"
#include "tessel/NameLookup.h"

namespace Tessel {

std::string OneLine(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  bool space = false;
  for (char c : text) {
    if (c == '\n' || c == '\r' || c == '\t' || c == ' ') {
      space = !out.empty();
      continue;
    }
    if (space) out.push_back(' ');
    space = false;
    out.push_back(c);
  }
  return out;
}

void AppendSentence(std::string& message, std::string_view sentence) {
  if (!message.empty()) {
    const char last = message.back();
    message += last == '.' || last == '?' || last == '!' ? " " : ". ";
  }
  message += sentence;
}

namespace {

std::string CategorySentence(ErrorCategory category) {
  switch (category) {
    case ErrorCategory::Rerun:
    case ErrorCategory::Connection:
      return std::string(kRerunTransaction) + ".";
    case ErrorCategory::SchemaChange:
      return std::string("The table's shape changed in the database (") + kSchemaChange + ").";
    case ErrorCategory::OutcomeUnknown:
    case ErrorCategory::Refused:
    case ErrorCategory::Other:
      break;
  }
  return {};
}

}  // namespace

std::string WithCategorySentence(std::string text, ErrorCategory category) {
  const std::string sentence = CategorySentence(category);
  // A reason that carries a thrown error's text of the same category may
  // have said it already; any other retry text in it is a name's, a value's
  // or the database's, and is defused.
  if (!sentence.empty() && text.find(sentence) != std::string::npos) return text;
  text = DefuseRetryTexts(std::move(text));
  if (!sentence.empty()) AppendSentence(text, sentence);
  return text;
}

std::string WithRetrySentence(std::string text, ErrorCategory category) {
  return AsksForRerun(category) ? WithCategorySentence(std::move(text), category)
                                : DefuseRetryTexts(std::move(text));
}

std::string DescribeWriteFailure(std::string_view table, const WriteFailure& failure) {
  std::string message = DefuseRetryTexts("could not write table " + Quoted(table) + ": " + failure.reason);
  if (failure.category == ErrorCategory::OutcomeUnknown) {
    AppendSentence(message,
                   "Whether the rows of the table were written is unknown: look at the table before "
                   "writing them again.");
    return message;
  }
  message = WithCategorySentence(std::move(message), failure.category);
  AppendSentence(message, "Nothing of the table was written.");
  return message;
}

std::string RowAtPosition(std::uint64_t position) {
  return "the row at position " + std::to_string(position) + " (0-based)";
}

std::string RowsAtPositions(std::uint64_t first, std::uint64_t last) {
  return "the rows at positions " + std::to_string(first) + " to " + std::to_string(last) + " (0-based)";
}

std::string DescribeWrite(std::uint64_t rows, std::string_view table) {
  return std::to_string(rows) + (rows == 1 ? " row" : " rows") + " written to table " + Quoted(table);
}

bool ReportWrite(DbConnect& component, ShapeCache& shapes, const std::string& table, std::uint64_t rows,
                 const std::optional<WriteFailure>& failure) {
  if (!failure) {
    component.SetMessage(DescribeWrite(rows, table));
    component.SetFailureCategory(std::nullopt);
    return true;
  }
  if (failure->category == ErrorCategory::SchemaChange) shapes.Forget(table);
  component.SetMessage(DescribeWriteFailure(table, *failure));
  component.SetFailureCategory(failure->category);
  return false;
}

}  // namespace Tessel
