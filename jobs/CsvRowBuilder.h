// Turning CSV records into rows of a table shaped like the load's target, a
// batch at a time, and the checks that must happen before a row is written
// because the database would otherwise take it differently from what the
// file says (a line without any value, a missing required value).
//
// Each field is typed from its column (CsvLoad.h says how) and stored with
// the table model's own conversions, so that a value its column cannot hold
// is refused with its line, column and value before anything is written.
// A batch has the target's columns but not its unique rules: whether a key
// repeats, in the file or in the table, is the database's verdict, within
// the load's one transaction (see CsvLoad.cpp for how the lines of a
// repeated key are then found). The key rules are kept here for that
// search.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "TesselWrapper/data/DataTable.h"
#include "TesselWrapper/jobs/CsvLoad.h"
#include "jobs/CsvReader.h"

namespace Tessel::Jobs {

class CsvRowBuilder {
 public:
  // A unique rule of the table: its columns (indexes in the shape), the
  // CSV field of each (SIZE_MAX when the file has none) and "(a, b)".
  struct KeyRule {
    std::vector<std::size_t> columns;
    std::vector<std::size_t> fields;
    std::string description;
  };

  // Matches the column names (the header at `headerLine`, or with line 0 the
  // names given instead of one) to the table's columns. Throws CsvLoadError
  // for an empty or repeated name, a name the table lacks, or a column that
  // needs a value and is missing.
  CsvRowBuilder(std::shared_ptr<const Data::DataTable> shape, std::span<const CsvField> names,
                std::uint64_t headerLine);

  // An empty table for a batch: the shape's name and columns, no unique
  // rules.
  std::shared_ptr<Data::DataTable> NewBatch() const;

  // Adds the row of one data line to `batch` (a table of NewBatch). Throws
  // CsvLoadError for a wrong number of fields, a line without any value, a
  // missing required value or a value its column cannot hold.
  void AddRow(Data::DataTable& batch, std::uint64_t line, std::span<const CsvField> fields);

  // Stores the line's values into `row` (a new detached row of a NewBatch
  // table, holding the defaults) as AddRow does, without adding it; false
  // when some value cannot be stored or the line has not the header's
  // number of fields.
  bool Fill(Data::DataRow& row, std::span<const CsvField> fields);
  // Stores `text`, read as a field of the file for `column` (a shape column
  // the file has), into `row`; false when it cannot be stored.
  bool FillColumn(Data::DataRow& row, std::size_t column, std::string_view text);

  const std::vector<KeyRule>& KeyRules() const noexcept { return rules_; }
  // The CSV field of a shape column, SIZE_MAX when the file has none; the
  // shape column of a field name as the database prints it (any case).
  std::size_t FieldOf(std::size_t column) const noexcept { return fieldOf_[column]; }
  std::optional<std::size_t> ColumnNamed(std::string_view name) const;
  const Data::DataTable& Shape() const noexcept { return *shape_; }

  // The name of field `index`, for messages.
  std::string FieldLabel(std::size_t index) const;

 private:
  enum class Kind { Integer, Boolean, Double, DateTime, Text };

  struct ColumnPlan {
    std::size_t column;  // index in the shape
    std::string name;    // the shape's spelling
    Kind kind;
    bool keepsEmptyText;  // a present empty field is a value (String columns)
  };

  // A field as the value it is stored as.
  struct Typed {
    enum { None, Integer, Double, Text } kind = None;
    std::int64_t integer = 0;
    double number = 0;
    std::string_view text;
    std::string owned;  // text made here (a time converted to UTC)
  };

  bool HasValue(const ColumnPlan& plan, const CsvField& field) const noexcept {
    return field.present && (!field.text.empty() || plan.keepsEmptyText);
  }
  // Throws ArgumentError for a time that leaves the range in UTC.
  void TypeField(const ColumnPlan& plan, const CsvField& field, Typed& typed) const;
  static Data::ValueView ViewOf(const Typed& typed) noexcept;

  std::shared_ptr<const Data::DataTable> shape_;
  std::vector<ColumnPlan> plans_;      // one per CSV field
  std::vector<std::size_t> required_;  // CSV fields that must hold a value
  std::vector<std::size_t> fieldOf_;   // per shape column
  std::vector<KeyRule> rules_;
  Typed typed_;
};

}  // namespace Tessel::Jobs
