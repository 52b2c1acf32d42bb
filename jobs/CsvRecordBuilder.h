// Turning CSV records into SqlRow records typed from a table's shape, and the
// checks that must happen before the write because the table would otherwise
// drop a record without a word (a missing required value, a repeated key).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "TesselWrapper/SqlRow.h"
#include "TesselWrapper/data/DataTable.h"
#include "TesselWrapper/jobs/CsvLoad.h"
#include "jobs/CsvReader.h"

namespace Tessel::Jobs {

class CsvRecordBuilder {
 public:
  // Matches the header's names to the table's columns. Throws CsvLoadError
  // (at `headerLine`) for an empty or repeated name, a name the table lacks,
  // or a column that needs a value and is missing from the header.
  CsvRecordBuilder(std::shared_ptr<const Data::DataTable> shape, std::span<const CsvField> header,
                   std::uint64_t headerLine);

  // The record for one data line; the caller owns it. Throws CsvLoadError for
  // a wrong number of fields, a missing required value or a key already seen.
  std::unique_ptr<SqlRow> Build(std::uint64_t line, std::span<const CsvField> fields);

  // The header's name for field `index`, for messages.
  std::string FieldLabel(std::size_t index) const;

  // After the table refused `record` (read from `line`): which of its fields
  // the table's conversion refuses, as the error to report; nullopt when every
  // field converts (the refusal had another cause).
  std::optional<CsvLoadError> Explain(const SqlRow& record, std::uint64_t line) const;

 private:
  enum class Kind { Integer, Boolean, Double, Text };

  struct ColumnPlan {
    std::size_t column;   // index in the shape
    CStringA name;        // the shape's exact spelling, so the bridge's lookup is exact
    Kind kind;
    bool keepsEmptyText;  // a quoted "" is a value (String columns)
  };

  struct KeyRule {
    std::vector<std::size_t> fields;  // CSV field of each key column
    std::string description;          // "(SolutionId, Name)"
    std::unordered_map<std::string, std::uint64_t> firstLine;
  };

  bool HasValue(const ColumnPlan& plan, const CsvField& field) const noexcept {
    return field.present && (!field.text.empty() || plan.keepsEmptyText);
  }
  void CheckKeys(std::uint64_t line, std::span<const CsvField> fields);

  std::shared_ptr<const Data::DataTable> shape_;
  std::vector<ColumnPlan> plans_;       // one per CSV field
  std::vector<std::size_t> required_;   // CSV fields that must hold a value
  std::vector<KeyRule> keys_;
  std::string keyScratch_;
};

}  // namespace Tessel::Jobs
