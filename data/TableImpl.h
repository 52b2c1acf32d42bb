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
#include "data/Convert.h"
#include "data/TableLoad.h"

namespace Tessel::Data {
namespace detail {

// Finds a column by name: the column of exactly that name, else the one whose
// name matches without regard to case. Callers set the fields of row after
// row in the same order, so the lookup remembers, per column, the spelling by
// which it was last found and which column was found last, and tries the
// column after that one first, by a plain byte comparison; then a hash map
// of names; only then a case-insensitive scan. A spelling that the scan
// resolves is remembered in the map, so a caller that writes "ID" for the
// column "Id" pays for the scan once. What is remembered only ever shortens
// the way to the answer the rules give: the caches are reset whenever a
// column is added, since a new column can change what a spelling resolves to.
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
    const std::size_t next = Next();
    if (next >= spellings_.size()) return false;  // no columns
    const std::string& spelling = spellings_[next].text;
    if (spelling.size() != name.size() ||
        (!name.empty() && std::memcmp(spelling.data(), name.data(), name.size()) != 0))
      return false;
    column = hint_ = next;
    return true;
  }
  // The same try for a name still in native text (NUL-terminated): a name
  // that is byte for byte a spelling of the portable character set, or
  // under a UTF-8 locale a spelling that is well-formed UTF-8 without NULs,
  // would come out of the conversion to managed text unchanged, so it is
  // compared as it is.
  bool FindNextNative(const char* native, NativeCharset& charset, std::size_t& column) const {
    const std::size_t next = Next();
    if (next >= spellings_.size()) return false;
    const Spelling& spelling = spellings_[next];
    if (!spelling.plain) return false;
    const std::size_t n = spelling.text.size();
    const char* expected = spelling.text.data();
    // Stops at the native text's NUL, which the spelling does not hold.
    for (std::size_t i = 0; i < n; ++i)
      if (native[i] != expected[i]) return false;
    if (native[n] != '\0') return false;
    if (!spelling.portable && !charset.IsUtf8()) return false;
    column = hint_ = next;
    return true;
  }

 private:
  struct Hash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const noexcept { return std::hash<std::string_view>{}(s); }
  };
  using Map = std::unordered_map<std::string, std::size_t, Hash, std::equal_to<>>;
  struct Spelling {
    Spelling(std::string_view spelling);
    std::string text;
    bool plain;     // well-formed UTF-8 without NULs
    bool portable;  // IsPortableText
  };
  std::size_t Next() const noexcept { return hint_ + 1 == spellings_.size() ? 0 : hint_ + 1; }
  std::size_t Hit(std::size_t column, std::string_view spelling) const;

  // Bounds the spellings remembered, should a caller invent endless ones.
  static constexpr std::size_t kMaxLearned = 256;
  std::vector<std::string> names_;
  Map exact_;
  // Spellings resolved by a case-insensitive scan.
  mutable Map learned_;
  // The spelling by which each column was last found, and the last column.
  mutable std::vector<Spelling> spellings_;
  mutable std::size_t hint_ = 0;
};

// The text of a value for an error message, cut short when long.
std::string MessageText(const ValueView& value);

}  // namespace detail

struct TESSELWRAPPER_LOCAL DataTable::Impl {
  static constexpr std::size_t kMaxRecords = 0xFFFF'FFFEu;  // a slot holds record + 1

  std::vector<DataColumn> columns;
  std::vector<detail::ColumnStore> stores;
  // For each column, the unique rules it takes part in.
  std::vector<std::vector<std::size_t>> constraintsOf;
  std::vector<UniqueConstraint> constraints;
  std::vector<detail::UniqueIndex> indexes;
  bool hasPrimaryKey = false;

  std::size_t records = 0;   // made by NewRow, added or not
  std::size_t reserved = 0;  // records every column has room for
  detail::BitArray added;    // the records in Rows()

  detail::ColumnNames names;
  detail::TableFeed* feed = nullptr;  // while a producer still fills the table
  std::string scratch;                // text made by conversions, reused from write to write

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
  // The common case of Write, inline for the per-field paths: a value of
  // the column's own kind into a detached record. False, with nothing done,
  // when Write must decide.
  bool WriteExact(RecordId record, std::size_t column, const ValueView& value) {
    detail::ColumnStore& store = stores[column];
    detail::Cell cell;
    if (!detail::ExactCell(store.Type(), value, cell) || added.Test(record)) return false;
    store.Store(record, cell, false);
    return true;
  }
  // A new record holding every column's default (DataTable::NewRow).
  RecordId NewRecord(const DataTable& table);
  // Room in every column for `count` records.
  void ReserveRecords(std::size_t count);
  // Adds a detached record to the table's rows under the table's rules, as
  // Rows().Add adds a row: the same checks in the same order, the same
  // errors, and nothing changed when one fails.
  void AddRecord(RecordId record, std::vector<RecordId>& rows, const DataTable& table);
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

namespace detail {

// The friend that DataTable and DataRowCollection name for the library's own
// code: the writers read the column stores directly, the bulk loads append
// records without a DataRow each.
struct TableAccess {
  using Impl = DataTable::Impl;
  static DataTable::Impl& Of(DataTable& table) noexcept { return *table.impl_; }
  static const DataTable::Impl& Of(const DataTable& table) noexcept { return *table.impl_; }
  static std::vector<RecordId>& Rows(DataTable& table) noexcept { return table.rows_.records_; }
  static const std::vector<ColumnStore>& Stores(const DataTable& table) noexcept {
    return table.impl_->stores;
  }
};

}  // namespace detail
}  // namespace Tessel::Data
