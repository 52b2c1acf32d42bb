// The inside of a DataTable (private to the data library): its columns, their
// stores, the unique indexes, the state of each record, and the column-name
// lookup. DataTable.cpp keeps the shape, the lookup and NewRow; DataRow.cpp
// keeps writing, reading and adding rows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "TesselWrapper/data/DataColumn.h"
#include "TesselWrapper/data/DataTable.h"
#include "data/ColumnStore.h"

namespace Tessel::Data {
namespace detail {

// Finds a column by name: the column of exactly that name, else the one whose
// name matches without regard to case. Callers set the fields of row after
// row in the same order, so the column after the last one found is tried
// first, by a plain byte comparison; then a hash map of names; only then a
// case-insensitive scan. A spelling that the scan resolves is remembered in
// the map, so a caller that writes "ID" for the column "Id" pays for the scan
// once. The caches are reset whenever a column is added, since a new column
// can change what a spelling resolves to.
class ColumnNames {
 public:
  // Throws std::bad_alloc; unchanged then.
  void Add(const std::string& name);
  bool ContainsExact(std::string_view name) const { return exact_.find(name) != exact_.end(); }
  // The column that `name` picks; nullopt when none does. Sets `ambiguous`
  // when several columns match without regard to case and none exactly.
  std::optional<std::size_t> Find(std::string_view name, bool& ambiguous) const;
  // The cheap first try of Find, inline for the per-field path: whether
  // `name` is the spelling by which the column after the last one found was
  // last found. Sets `column` when it is.
  bool FindNext(std::string_view name, std::size_t& column) const noexcept {
    const std::size_t next = hint_ + 1 == lastSpelling_.size() ? 0 : hint_ + 1;
    if (next >= lastSpelling_.size()) return false;  // no columns
    const std::string& spelling = lastSpelling_[next];
    if (spelling.size() != name.size() || (!name.empty() && std::memcmp(spelling.data(), name.data(), name.size()) != 0))
      return false;
    column = hint_ = next;
    return true;
  }

 private:
  struct Hash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const noexcept { return std::hash<std::string_view>{}(s); }
  };
  using Map = std::unordered_map<std::string, std::size_t, Hash, std::equal_to<>>;
  std::size_t Hit(std::size_t column, std::string_view spelling) const;

  // Bounds the spellings remembered, should a caller invent endless ones.
  static constexpr std::size_t kMaxLearned = 256;
  std::vector<std::string> names_;
  Map exact_;
  // Spellings resolved by a case-insensitive scan.
  mutable Map learned_;
  // The spelling by which each column was last found, and the last column.
  mutable std::vector<std::string> lastSpelling_;
  mutable std::size_t hint_ = 0;
};

// The text of a value for an error message, cut short when long.
std::string MessageText(const ValueView& value);

}  // namespace detail

struct DataTable::Impl {
  static constexpr std::size_t kMaxRecords = 0xFFFF'FFFEu;  // a slot holds record + 1

  std::vector<DataColumn> columns;
  std::vector<detail::ColumnStore> stores;
  // For each column, the unique rules it takes part in.
  std::vector<std::vector<std::size_t>> constraintsOf;
  std::vector<UniqueConstraint> constraints;
  std::vector<detail::UniqueIndex> indexes;
  bool hasPrimaryKey = false;

  std::size_t records = 0;  // made by NewRow, added or not
  detail::BitArray added;   // the records in Rows()

  detail::ColumnNames names;
  std::string scratch;  // text made by conversions, reused from write to write

  // Name lookup that throws ArgumentError naming `table`.
  std::size_t Resolve(std::string_view name, const DataTable& table) const {
    std::size_t column;
    if (names.FindNext(name, column)) [[likely]]
      return column;
    return ResolveSlow(name, table);
  }
  std::size_t ResolveSlow(std::string_view name, const DataTable& table) const;
  // Inline: they run for every field written; the throwing parts are not.
  void CheckColumnIndex(std::size_t column, const DataTable& table) const {
    if (column >= columns.size()) [[unlikely]]
      ThrowColumnIndex(column, table);
  }
  void CheckRecord(RecordId record, const DataTable& table) const {
    if (record >= records) [[unlikely]]
      ThrowRecord(record, table);
  }
  [[noreturn]] void ThrowColumnIndex(std::size_t column, const DataTable& table) const;
  [[noreturn]] void ThrowRecord(RecordId record, const DataTable& table) const;
  bool AllowsNull(std::size_t column) const noexcept {
    return columns[column].AllowDBNull || columns[column].Generated;
  }

  // Converts and stores one value (DataRow::Set).
  void Write(RecordId record, std::size_t column, const ValueView& value, const DataTable& table);
  // The cell as an owning value of the column's natural kind.
  Value CellValue(RecordId record, std::size_t column) const;
  // The values of a unique rule's columns in a record, for messages.
  std::string KeyText(const detail::UniqueIndex& index, RecordId record) const;
  std::string ColumnList(const detail::UniqueIndex& index) const;
  // The message of a clash with unique rule `constraint`.
  std::string UniqueMessage(std::size_t constraint, RecordId record, const DataTable& table) const;

 private:
  void WriteAdded(RecordId record, std::size_t column, const detail::Cell& cell, const DataTable& table);
};

}  // namespace Tessel::Data
