// An in-memory table: a shape (columns and unique constraints) and rows.
//
// Storage is columnar: each column keeps one typed array, and a row is an index
// (a "record") into those arrays, so a million staged rows cost little more
// than their values. Text lives in one arena per column.
//
// Usage:
//   auto table = DataTable::Create("cases");
//   table->AddColumn({.ColumnName = "id", .Type = DataType::Int64, .AllowDBNull = false});
//   DataRow row = table->NewRow();        // detached, filled with defaults
//   row.Set("id", std::int64_t{7});       // converted or refused at once
//   table->Rows().Add(row);               // AllowDBNull, then unique rules
//   for (DataRow r : table->Rows()) r.Get("id").ToString();
//
// Column lookup by name (Set, Get, ColumnIndex): a column with exactly that
// name first; failing that the one column whose name matches without regard to
// case (Unicode simple folding); none, or several, throws ArgumentError.
//
// Writing a value (DataRow::Set) converts it to the column's type: text is
// parsed in the invariant culture ("12" into an integer column, "1.5" into a
// double column, ISO dates into a date column); a double into an integer column
// is rounded half to even; out of range throws OverflowError; anything without a
// conversion throws InvalidCastError. The old value stays on failure. DBNull
// goes into any column; a null char pointer is no value at all (see Set). The
// rules of a row still detached are checked when it is added; a row already
// in the table keeps them at every write.
//
// Adding a row (Rows().Add) checks, in this order: a null row
// (ArgumentNullError); the row belongs to another table, or already to this
// one (ArgumentError); each column's AllowDBNull in
// column order (NoNullAllowedError; Generated columns excepted); each unique
// constraint (ConstraintError naming the columns and the value). DBNull never
// collides in a unique constraint, and text is compared case-sensitively
// (without regard to ASCII case in a column marked IgnoreCase), as the
// database compares it. A refused row stays detached with its values and can
// be mended and added again.
//
// Tables are always owned by std::shared_ptr (a row keeps its table alive), so
// they are made with Create. A table and its rows are not thread-safe: one
// thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "TesselWrapper/Export.h"
#include "TesselWrapper/data/DataColumn.h"
#include "TesselWrapper/data/Value.h"

namespace Tessel::Data {

class DataTable;
class DataRowCollection;

using RecordId = std::uint32_t;

enum class DataRowState : std::uint8_t { Detached, Added };

namespace detail {
// What DataRow::Set takes as a char pointer. Only pointers match, so that a
// literal 0 stays an integer.
template <class T>
concept CharPointer =
    std::is_same_v<T, std::nullptr_t> || std::is_same_v<T, const char*> || std::is_same_v<T, char*>;
// The library's own way into a table's storage (its writers and bulk loads).
struct TableAccess;
}  // namespace detail

// A handle to one row of a table. Copies refer to the same row. A row keeps
// its table alive.
class TESSELWRAPPER_API DataRow {
 public:
  DataRow(std::shared_ptr<DataTable> table, RecordId record) noexcept
      : table_(std::move(table)), record_(record) {}

  DataTable& Table() const noexcept { return *table_; }
  const std::shared_ptr<DataTable>& TablePtr() const noexcept { return table_; }
  RecordId Record() const noexcept { return record_; }
  DataRowState RowState() const noexcept;

  // The item setter by column name (or index). See the file comment.
  void Set(std::string_view column, ValueView value);
  void Set(std::size_t column, ValueView value);
  // Text given as a char pointer. A null pointer (or nullptr) is an absent
  // value, which is not DBNull: a String or Binary column stores it as DBNull,
  // a column of any other type refuses it with ArgumentError (write DBNull to
  // empty such a cell). Text that is not null is written as above.
  template <detail::CharPointer Text>
  void Set(std::string_view column, Text text) {
    if (const char* p = text) {
      Set(column, ValueView(std::string_view(p)));
    } else {
      SetAbsent(column);
    }
  }
  template <detail::CharPointer Text>
  void Set(std::size_t column, Text text) {
    if (const char* p = text) {
      Set(column, ValueView(std::string_view(p)));
    } else {
      SetAbsent(column);
    }
  }
  // The item getter: the stored value (DBNull for an empty cell).
  Value Get(std::string_view column) const;
  Value Get(std::size_t column) const;
  Value operator[](std::string_view column) const { return Get(column); }

  friend bool operator==(const DataRow& a, const DataRow& b) noexcept {
    return a.table_ == b.table_ && a.record_ == b.record_;
  }

 private:
  void SetAbsent(std::string_view column);
  void SetAbsent(std::size_t column);

  std::shared_ptr<DataTable> table_;
  RecordId record_;
};

// The rows of a table, in the order they were added.
class TESSELWRAPPER_API DataRowCollection {
 public:
  class Iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = DataRow;
    using difference_type = std::ptrdiff_t;
    using pointer = void;
    using reference = DataRow;
    Iterator() = default;
    Iterator(const DataRowCollection* rows, std::size_t i) : rows_(rows), i_(i) {}
    DataRow operator*() const { return (*rows_)[i_]; }
    Iterator& operator++() {
      ++i_;
      return *this;
    }
    Iterator operator++(int) {
      Iterator t = *this;
      ++i_;
      return t;
    }
    friend bool operator==(const Iterator& a, const Iterator& b) { return a.i_ == b.i_; }

   private:
    const DataRowCollection* rows_ = nullptr;
    std::size_t i_ = 0;
  };

  explicit DataRowCollection(DataTable& table) noexcept : table_(table) {}
  DataRowCollection(const DataRowCollection&) = delete;
  DataRowCollection& operator=(const DataRowCollection&) = delete;

  // Adds a detached row of this table. Throws as the file comment says; the
  // row is left detached and unchanged on failure.
  void Add(const DataRow& row);
  std::size_t Count() const noexcept { return records_.size(); }
  DataRow operator[](std::size_t index) const;
  Iterator begin() const { return {this, 0}; }
  Iterator end() const { return {this, records_.size()}; }
  // The record of each row, in row order: what writers walk.
  std::span<const RecordId> Records() const noexcept { return records_; }

 private:
  friend class DataTable;
  friend struct detail::TableAccess;
  DataTable& table_;
  std::vector<RecordId> records_;
};

class TESSELWRAPPER_API DataTable : public std::enable_shared_from_this<DataTable> {
  struct Token {};

 public:
  static std::shared_ptr<DataTable> Create(std::string tableName = {});
  DataTable(Token, std::string tableName);
  ~DataTable();
  DataTable(const DataTable&) = delete;
  DataTable& operator=(const DataTable&) = delete;

  const std::string& TableName() const noexcept { return tableName_; }
  void SetTableName(std::string name) { tableName_ = std::move(name); }

  // --- shape (set before the first NewRow) --------------------------------
  // Adds a column; throws ArgumentError when a column of exactly that name
  // exists or when rows were already made. Returns the column's index.
  std::size_t AddColumn(DataColumn column);
  // Adds a unique rule over the given columns (by index). A primary key also
  // makes its columns non-nullable (unless Generated).
  void AddUniqueConstraint(std::vector<std::size_t> columns, bool isPrimaryKey = false);
  struct UniqueConstraint {
    std::vector<std::size_t> Columns;
    bool IsPrimaryKey = false;
  };
  const std::vector<UniqueConstraint>& UniqueConstraints() const noexcept;
  std::size_t ColumnCount() const noexcept;
  const DataColumn& Column(std::size_t index) const;
  // Lookup as the file comment says; throws ArgumentError.
  std::size_t ColumnIndex(std::string_view name) const;
  // The same lookup, giving nullopt when there is no such column (still
  // throws when the name is ambiguous).
  std::optional<std::size_t> FindColumn(std::string_view name) const;
  // A new empty table with the same name, columns and constraints.
  std::shared_ptr<DataTable> CloneShape() const;

  // --- rows ---------------------------------------------------------------
  DataRow NewRow();
  DataRowCollection& Rows() noexcept { return rows_; }
  const DataRowCollection& Rows() const noexcept { return rows_; }

  // --- typed cell reads, for writers (no conversion; the caller picks the
  // accessor that matches Column(column).Type) ------------------------------
  bool IsNull(RecordId record, std::size_t column) const noexcept;
  std::int64_t GetInt64(RecordId record, std::size_t column) const noexcept;     // Boolean, Int16/32/64
  double GetDouble(RecordId record, std::size_t column) const noexcept;          // Double
  std::string_view GetText(RecordId record, std::size_t column) const noexcept;  // String, Decimal
  DateTime GetDateTime(RecordId record, std::size_t column) const noexcept;      // DateTime
  std::span<const std::uint8_t> GetBytes(RecordId record, std::size_t column) const noexcept;  // Binary

 private:
  friend class DataRow;
  friend class DataRowCollection;
  friend struct detail::TableAccess;
  struct Impl;
  std::string tableName_;
  std::unique_ptr<Impl> impl_;
  DataRowCollection rows_;
};

}  // namespace Tessel::Data
