// Rows: writing a value into a row (conversion, and for a row already in the
// table its rules), reading it back, and adding a row to the table.
#include <algorithm>
#include <string>
#include <vector>

#include "TesselWrapper/Errors.h"
#include "TesselWrapper/data/DataTable.h"
#include "data/Convert.h"
#include "data/TableImpl.h"

namespace Tessel::Data {
namespace detail {

std::string MessageText(const ValueView& value) {
  constexpr std::size_t kMaxBytes = 100;
  std::string text;
  if (const auto* bytes = std::get_if<std::span<const std::uint8_t>>(&value);
      bytes && bytes->size() > kMaxBytes / 2) {
    text = ToString(ValueView(bytes->first(kMaxBytes / 2)));
  } else {
    text = ToString(value);
  }
  if (text.size() > kMaxBytes) {
    std::size_t cut = kMaxBytes;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;  // whole characters
    text.resize(cut);
    text += "...";
  }
  // what() ends at the first NUL: spell it out, or the rest of the message is lost.
  for (std::size_t nul = text.find('\0'); nul != std::string::npos; nul = text.find('\0', nul + 2))
    text.replace(nul, 1, "\\0");
  return text;
}

}  // namespace detail

namespace {

[[noreturn]] void ThrowRefused(detail::ConvertFault fault, const ValueView& value, const DataColumn& column,
                               const DataTable& table) {
  const std::string message = "cannot store '" + detail::MessageText(value) + "' (" +
                              std::string(detail::ValueKindName(value)) + ") in column '" +
                              column.ColumnName + "' of table '" + table.TableName() + "': ";
  const std::string type(DataTypeName(column.Type));
  if (fault == detail::ConvertFault::Overflow)
    throw OverflowError(message + "the value is outside the range of " + type);
  throw InvalidCastError(message + "expected " + type);
}

[[noreturn]] void ThrowNoNull(const DataColumn& column, const DataTable& table) {
  throw NoNullAllowedError("column '" + column.ColumnName + "' of table '" + table.TableName() +
                           "' does not allow DBNull");
}

}  // namespace

std::string DataTable::Impl::UniqueMessage(std::size_t constraint, RecordId record,
                                           const DataTable& table) const {
  const DataTable::Impl& t = *this;
  const detail::UniqueIndex& index = t.indexes[constraint];
  const bool several = index.Columns().size() > 1;
  std::string message = several ? "columns '" : "column '";
  message += t.ColumnList(index);
  message += "' of table '" + table.TableName() + "' ";
  if (t.constraints[constraint].IsPrimaryKey) {
    message += several ? "form the primary key" : "is the primary key";
  } else {
    message += several ? "are constrained to be unique" : "is constrained to be unique";
  }
  message += several ? ": values '" : ": value '";
  message += t.KeyText(index, record);
  message += several ? "' are already present" : "' is already present";
  return message;
}

// --- Impl: cells ------------------------------------------------------------------

void DataTable::Impl::Write(RecordId record, std::size_t column, const ValueView& value,
                            const DataTable& table) {
  detail::ColumnStore& store = stores[column];
  detail::Cell cell;
  if (!detail::ExactCell(store.Type(), value, cell)) {
    const detail::ConvertFault fault = detail::ToCell(store.Type(), value, cell, scratch);
    if (fault != detail::ConvertFault::None) [[unlikely]]
      ThrowRefused(fault, value, columns[column], table);
  }
  if (!added.Test(record)) [[likely]] {
    // A detached row: its rules are checked when it is added.
    store.Store(record, cell, false);
    return;
  }
  WriteAdded(record, column, cell, table);
}

// A row already in the table must keep its rules: nulls where allowed, and
// its keys unique and correctly indexed.
void DataTable::Impl::WriteAdded(RecordId record, std::size_t column, const detail::Cell& cell,
                                 const DataTable& table) {
  if (cell.null && !AllowsNull(column)) ThrowNoNull(columns[column], table);
  detail::ColumnStore& store = stores[column];
  const std::vector<std::size_t>& involved = constraintsOf[column];
  if (involved.empty()) {
    store.Store(record, cell, false);
    return;
  }
  for (std::size_t k : involved) indexes[k].ReserveOneMore(stores);
  // Take the record out of the indexes under its old key, write, look for a
  // clash under the new key; on a clash, undo all of it. A key with a null
  // cell is not indexed, so once the old cell is restored, the same HasNull
  // test tells which indexes to put the record back into.
  for (std::size_t k : involved)
    if (!indexes[k].HasNull(stores, record)) indexes[k].Erase(stores, record);
  const detail::ColumnStore::Saved saved = store.Save(record);
  auto putBack = [&]() noexcept {
    store.Restore(record, saved);
    for (std::size_t k : involved)
      if (!indexes[k].HasNull(stores, record)) indexes[k].Insert(stores, record);
  };
  try {
    store.Store(record, cell, true);  // keeps the old bytes for putBack
  } catch (...) {
    putBack();
    throw;
  }
  for (std::size_t k : involved) {
    const detail::UniqueIndex& index = indexes[k];
    if (index.HasNull(stores, record) || !index.FindDuplicate(stores, record)) continue;
    std::string message;
    try {
      message = UniqueMessage(k, record, table);
    } catch (...) {
      message = "a unique rule of table '" + table.TableName() + "' is violated";
    }
    putBack();
    throw ConstraintError(message);
  }
  for (std::size_t k : involved)
    if (!indexes[k].HasNull(stores, record)) indexes[k].Insert(stores, record);
}

Value DataTable::Impl::CellValue(RecordId record, std::size_t column) const {
  const detail::ColumnStore& store = stores[column];
  if (store.IsNull(record)) return Value();
  switch (store.Type()) {
    case DataType::Boolean:
      return Value(store.Int(record) != 0);
    case DataType::Int16:
    case DataType::Int32:
      return Value(static_cast<std::int32_t>(store.Int(record)));
    case DataType::Int64:
      return Value(std::int64_t{store.Int(record)});
    case DataType::Double:
      return Value(store.Real(record));
    case DataType::Decimal:
    case DataType::String:
      return Value(std::string(store.Text(record)));
    case DataType::DateTime:
      return Value(DateTime(store.Int(record)));
    case DataType::Binary: {
      const auto bytes = store.Bytes(record);
      return Value(Bytes(bytes.begin(), bytes.end()));
    }
  }
  return Value();
}

std::string DataTable::Impl::KeyText(const detail::UniqueIndex& index, RecordId record) const {
  std::string text;
  for (std::size_t c : index.Columns()) {
    if (!text.empty()) text += ", ";
    text += detail::MessageText(CellValue(record, c).View());
  }
  return text;
}

std::string DataTable::Impl::ColumnList(const detail::UniqueIndex& index) const {
  std::string text;
  for (std::size_t c : index.Columns()) {
    if (!text.empty()) text += ", ";
    text += columns[c].ColumnName;
  }
  return text;
}

// --- DataRow ----------------------------------------------------------------------

namespace {

DataTable& TableOf(const std::shared_ptr<DataTable>& table) {
  if (!table) [[unlikely]]
    throw ArgumentNullError("the row belongs to no table");
  return *table;
}

}  // namespace

DataRowState DataRow::RowState() const noexcept {
  if (!table_) return DataRowState::Detached;
  const DataTable::Impl& t = *table_->impl_;
  return record_ < t.records && t.added.Test(record_) ? DataRowState::Added : DataRowState::Detached;
}

void DataRow::Set(std::string_view column, ValueView value) {
  DataTable& table = TableOf(table_);
  DataTable::Impl& t = *table.impl_;
  const std::size_t index = t.Resolve(column, table);
  t.CheckRecord(record_, table);
  t.Write(record_, index, value, table);
}

void DataRow::Set(std::size_t column, ValueView value) {
  DataTable& table = TableOf(table_);
  DataTable::Impl& t = *table.impl_;
  t.CheckColumnIndex(column, table);
  t.CheckRecord(record_, table);
  t.Write(record_, column, value, table);
}

// An absent value, unlike DBNull, is refused by a column whose values are
// not references (text and bytes are).
void DataRow::SetAbsent(std::string_view column) {
  DataTable& table = TableOf(table_);
  SetAbsent(table.impl_->Resolve(column, table));
}

void DataRow::SetAbsent(std::size_t column) {
  DataTable& table = TableOf(table_);
  DataTable::Impl& t = *table.impl_;
  t.CheckColumnIndex(column, table);
  t.CheckRecord(record_, table);
  const DataColumn& c = t.columns[column];
  if (c.Type != DataType::String && c.Type != DataType::Binary)
    throw ArgumentError("cannot set column '" + c.ColumnName + "' of table '" + table.TableName() +
                        "' to null: an absent " + std::string(DataTypeName(c.Type)) +
                        " is written as DBNull");
  t.Write(record_, column, DBNull, table);
}

Value DataRow::Get(std::string_view column) const {
  const DataTable& table = TableOf(table_);
  const DataTable::Impl& t = *table.impl_;
  const std::size_t index = t.Resolve(column, table);
  t.CheckRecord(record_, table);
  return t.CellValue(record_, index);
}

Value DataRow::Get(std::size_t column) const {
  const DataTable& table = TableOf(table_);
  const DataTable::Impl& t = *table.impl_;
  t.CheckColumnIndex(column, table);
  t.CheckRecord(record_, table);
  return t.CellValue(record_, column);
}

// --- DataRowCollection --------------------------------------------------------------

void DataTable::Impl::AddRecord(RecordId record, std::vector<RecordId>& rows, const DataTable& table) {
  for (std::size_t c = 0; c < columns.size(); ++c)
    if (stores[c].IsNull(record) && !AllowsNull(c)) ThrowNoNull(columns[c], table);
  for (std::size_t k = 0; k < indexes.size(); ++k) {
    const detail::UniqueIndex& index = indexes[k];
    if (!index.HasNull(stores, record) && index.FindDuplicate(stores, record))
      throw ConstraintError(UniqueMessage(k, record, table));
  }

  // Room everywhere first, so that the row is added to everything or to nothing.
  if (rows.size() == rows.capacity()) rows.reserve(std::max<std::size_t>(16, rows.size() * 2));
  for (detail::UniqueIndex& index : indexes) index.ReserveOneMore(stores);
  for (detail::UniqueIndex& index : indexes)
    if (!index.HasNull(stores, record)) index.Insert(stores, record);
  rows.push_back(record);
  added.Set(record);
}

void DataRowCollection::Add(const DataRow& row) {
  DataTable& table = table_;
  if (!row.TablePtr()) throw ArgumentNullError("cannot add a null row to table '" + table.TableName() + "'");
  if (&row.Table() != &table)
    throw ArgumentError("the row already belongs to another table ('" + row.Table().TableName() +
                        "'), so it cannot be added to table '" + table.TableName() + "'");
  DataTable::Impl& t = *table.impl_;
  const RecordId record = row.Record();
  t.CheckRecord(record, table);
  if (t.added.Test(record))
    throw ArgumentError("the row already belongs to this table ('" + table.TableName() + "')");
  t.AddRecord(record, records_, table);
}

DataRow DataRowCollection::operator[](std::size_t index) const {
  if (index >= records_.size())
    throw ArgumentError("row " + std::to_string(index) + " is out of range: table '" + table_.TableName() +
                        "' holds " + std::to_string(records_.size()) + " rows");
  return DataRow(table_.shared_from_this(), records_[index]);
}

}  // namespace Tessel::Data
