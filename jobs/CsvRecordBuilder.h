// Turning CSV records into SqlRow records typed from a table's shape, and the
// checks that must happen before the write because the table would otherwise
// leave a record out of it (a repeated key, a missing value) or the bridge
// would skip it (a record without fields).
//
// Every record is tried on tables of the same shape as the write's, with the
// very values the bridge will store, before it is queued: so the verdict on a
// value, a null or a repeated key is the table's own, with its conversions
// and its comparison (a key column that ignores case, "1.10" and "1.1" as one
// decimal, two spellings of one date), and a record the table would refuse
// stops the load with its line instead of vanishing from the write.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <queue>
#include <span>
#include <string>
#include <vector>

#include "TesselWrapper/SqlRow.h"
#include "TesselWrapper/data/DataTable.h"
#include "TesselWrapper/jobs/CsvLoad.h"
#include "jobs/CsvReader.h"

namespace Tessel::Jobs {

class CsvRecordBuilder {
 public:
  // Matches the column names (the header at `headerLine`, or with line 0 the
  // names given instead of one) to the table's columns. Throws CsvLoadError
  // for an empty or repeated name, a name the table lacks, or a column that
  // needs a value and is missing.
  CsvRecordBuilder(std::shared_ptr<const Data::DataTable> shape, std::span<const CsvField> names,
                   std::uint64_t headerLine);
  ~CsvRecordBuilder();

  // The record for one data line; the caller owns it. Throws CsvLoadError for
  // a wrong number of fields, a line without any value, a value its column
  // cannot hold, a missing required value or a key already given.
  std::unique_ptr<SqlRow> Build(std::uint64_t line, std::span<const CsvField> fields);

  // The name of field `index`, for messages.
  std::string FieldLabel(std::size_t index) const;

  std::uint64_t Records() const noexcept { return lines_.size(); }

  // The database's refusal text with the rows it names by position (the
  // writer's "row at position 3 (0-based)") or by key (PostgreSQL's "Key
  // (id)=(7)") named by their lines of the file. `queued` holds the records
  // as built, in order.
  std::string WithFileLines(const std::string& message, const std::queue<SqlRow*>& queued) const;

 private:
  enum class Kind { Integer, Boolean, Double, DateTime, Text };

  struct ColumnPlan {
    std::size_t column;  // index in the shape
    std::string name;    // the shape's exact spelling, so that the bridge's lookup is exact
    CStringA nativeName;
    Kind kind;
    bool keepsEmptyText;  // a present empty field is a value (String columns)
  };

  // A field as it goes into the record and into the trial tables.
  struct Typed {
    enum { None, Integer, Double, Text } kind = None;
    std::int32_t integer = 0;
    double number = 0;
    std::string text;  // UTF-8
  };

  struct KeyRule {
    std::vector<std::size_t> columns;  // in the key table
    std::string description;           // "(SolutionId, Name)"
  };

  bool HasValue(const ColumnPlan& plan, const CsvField& field) const noexcept {
    return field.present && (!field.text.empty() || plan.keepsEmptyText);
  }
  void TypeField(std::uint64_t line, const ColumnPlan& plan, const CsvField& field, Typed& typed) const;
  void CheckKey(std::uint64_t line, std::span<const CsvField> fields);
  std::optional<std::size_t> FirstEqualKey(Data::RecordId record, const KeyRule& rule) const;

  std::shared_ptr<const Data::DataTable> shape_;
  std::vector<ColumnPlan> plans_;      // one per CSV field
  std::vector<std::size_t> required_;  // CSV fields that must hold a value
  bool nativeIsUtf8_ = true;

  // Rows are tried on a table of the shape's own that is renewed every few
  // thousand records, and their keys kept in a table of the key columns
  // alone, which holds every record's key for the whole load.
  std::shared_ptr<Data::DataTable> trial_;
  std::size_t trialRows_ = 0;
  std::shared_ptr<Data::DataTable> keys_;
  std::vector<std::size_t> keyColumnOf_;  // per shape column: its key-table column, or SIZE_MAX
  std::vector<KeyRule> rules_;

  std::vector<Typed> typed_;
  std::vector<std::uint64_t> lines_;  // the line of each record built
};

}  // namespace Tessel::Jobs
