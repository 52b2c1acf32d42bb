// DataTable: its shape (columns, unique rules), the column-name lookup, NewRow
// and the typed cell reads. Writing, reading and adding rows: DataRow.cpp.
#include "TesselWrapper/data/DataTable.h"

#include <algorithm>
#include <string>
#include <utility>

#include "TesselWrapper/Errors.h"
#include "TesselWrapper/data/Text.h"
#include "data/Convert.h"
#include "data/TableImpl.h"
#include "data/Utf8.h"

namespace Tessel::Data {
namespace detail {

// --- ColumnNames --------------------------------------------------------------

ColumnNames::Spelling::Spelling(std::string_view spelling)
    : text(spelling),
      plain(spelling.find('\0') == std::string_view::npos &&
            Text::detail::ValidUtf8Length(spelling) == spelling.size()),
      portable(IsPortableText(spelling)) {}

void ColumnNames::Add(const std::string& name) {
  std::vector<std::string> names = names_;
  names.push_back(name);
  std::vector<Spelling> spellings(names.begin(), names.end());
  exact_.emplace(name, names_.size());  // the only step that changes state and may fail
  names_.swap(names);
  spellings_.swap(spellings);
  learned_.clear();
  hint_ = names_.size() - 1;  // so that the first column is tried first
}

std::size_t ColumnNames::Hit(std::size_t column, std::string_view spelling) const {
  hint_ = column;
  if (spellings_[column].text != spelling) spellings_[column] = Spelling(spelling);
  return column;
}

std::optional<std::size_t> ColumnNames::Find(std::string_view name, bool& ambiguous) const {
  ambiguous = false;
  const std::size_t n = names_.size();
  if (n == 0) return std::nullopt;
  if (std::size_t next; FindNext(name, next)) return next;
  if (auto it = exact_.find(name); it != exact_.end()) return Hit(it->second, name);
  if (auto it = learned_.find(name); it != learned_.end()) return Hit(it->second, name);

  std::optional<std::size_t> found;
  for (std::size_t i = 0; i < n; ++i) {
    if (!Text::EqualsIgnoreCase(names_[i], name)) continue;
    if (found) {
      ambiguous = true;
      return std::nullopt;
    }
    found = i;
  }
  if (!found) return std::nullopt;
  if (learned_.size() < kMaxLearned) learned_.emplace(std::string(name), *found);
  return Hit(*found, name);
}

}  // namespace detail

// --- Impl: lookup and checks ----------------------------------------------------

std::size_t DataTable::Impl::ResolveSlow(std::string_view name, const DataTable& table) const {
  bool ambiguous = false;
  if (auto column = names.Find(name, ambiguous)) return *column;
  if (ambiguous)
    throw ArgumentError("column name '" + std::string(name) + "' matches several columns of table '" +
                        table.TableName() + "' by case but none exactly");
  throw ArgumentError("column '" + std::string(name) + "' does not belong to table '" + table.TableName() +
                      "'");
}

void DataTable::Impl::ThrowColumnIndex(std::size_t column, const DataTable& table) const {
  throw ArgumentError("column index " + std::to_string(column) + " is out of range: table '" +
                      table.TableName() + "' has " + std::to_string(columns.size()) + " columns");
}

void DataTable::Impl::ThrowRecord(RecordId record, const DataTable& table) const {
  throw ArgumentError("record " + std::to_string(record) + " is not a row of table '" + table.TableName() +
                      "'");
}

// --- DataTable ------------------------------------------------------------------

std::shared_ptr<DataTable> DataTable::Create(std::string tableName) {
  return std::make_shared<DataTable>(Token{}, std::move(tableName));
}

DataTable::DataTable(Token, std::string tableName)
    : tableName_(std::move(tableName)), impl_(std::make_unique<Impl>()), rows_(*this) {}

DataTable::~DataTable() = default;

std::size_t DataTable::AddColumn(DataColumn column) {
  Impl& t = *impl_;
  if (t.records != 0)
    throw ArgumentError("cannot add column '" + column.ColumnName + "' to table '" + tableName_ +
                        "': rows have already been made");
  if (t.names.ContainsExact(column.ColumnName))
    throw ArgumentError("table '" + tableName_ + "' already has a column named '" + column.ColumnName + "'");

  const ValueView defaultValue = column.DefaultValue.View();
  detail::Cell cell;
  const detail::ConvertFault fault = detail::ToCell(column.Type, defaultValue, cell, t.scratch);
  if (fault != detail::ConvertFault::None) {
    std::string message = "the default value '" + detail::MessageText(defaultValue) + "' (" +
                          std::string(detail::ValueKindName(defaultValue)) + ") of column '" +
                          column.ColumnName + "' of table '" + tableName_ + "' ";
    const std::string type(DataTypeName(column.Type));
    if (fault == detail::ConvertFault::Overflow)
      throw OverflowError(message + "is outside the range of " + type);
    throw InvalidCastError(message + "cannot be stored as " + type);
  }
  detail::ColumnStore store(column.Type);
  store.SetDefault(cell);
  store.ReserveRecords(t.reserved);  // the room the other columns were given

  // Room first, so that the column is added to all the lists or to none.
  const std::size_t index = t.columns.size();
  t.columns.reserve(index + 1);
  t.stores.reserve(index + 1);
  t.constraintsOf.reserve(index + 1);
  t.names.Add(column.ColumnName);
  t.columns.push_back(std::move(column));
  t.stores.push_back(std::move(store));
  t.constraintsOf.emplace_back();
  return index;
}

void DataTable::AddUniqueConstraint(std::vector<std::size_t> columns, bool isPrimaryKey) {
  Impl& t = *impl_;
  const std::string what = isPrimaryKey ? "primary key" : "unique constraint";
  if (t.records != 0)
    throw ArgumentError("cannot add a " + what + " to table '" + tableName_ +
                        "': rows have already been made");
  if (columns.empty())
    throw ArgumentError("a " + what + " of table '" + tableName_ + "' needs at least one column");
  for (std::size_t i = 0; i < columns.size(); ++i) {
    t.CheckColumnIndex(columns[i], *this);
    if (std::find(columns.begin(), columns.begin() + static_cast<std::ptrdiff_t>(i), columns[i]) !=
        columns.begin() + static_cast<std::ptrdiff_t>(i))
      throw ArgumentError("a " + what + " of table '" + tableName_ + "' names column '" +
                          t.columns[columns[i]].ColumnName + "' twice");
  }
  if (isPrimaryKey && t.hasPrimaryKey)
    throw ArgumentError("table '" + tableName_ + "' already has a primary key");

  const std::size_t index = t.constraints.size();
  t.constraints.reserve(index + 1);
  t.indexes.reserve(index + 1);
  for (std::size_t c : columns) t.constraintsOf[c].reserve(t.constraintsOf[c].size() + 1);
  std::vector<bool> ignoreCase;
  for (std::size_t c : columns) ignoreCase.push_back(t.columns[c].IgnoreCase);
  detail::UniqueIndex uniqueIndex(columns, std::move(ignoreCase));
  t.constraints.push_back(UniqueConstraint{std::move(columns), isPrimaryKey});
  t.indexes.push_back(std::move(uniqueIndex));
  for (std::size_t c : t.constraints.back().Columns) {
    t.constraintsOf[c].push_back(index);
    // A key column takes no null, except one the database fills.
    if (isPrimaryKey && !t.columns[c].Generated) t.columns[c].AllowDBNull = false;
  }
  if (isPrimaryKey) t.hasPrimaryKey = true;
}

const std::vector<DataTable::UniqueConstraint>& DataTable::UniqueConstraints() const noexcept {
  return impl_->constraints;
}

std::size_t DataTable::ColumnCount() const noexcept { return impl_->columns.size(); }

const DataColumn& DataTable::Column(std::size_t index) const {
  impl_->CheckColumnIndex(index, *this);
  return impl_->columns[index];
}

std::size_t DataTable::ColumnIndex(std::string_view name) const { return impl_->Resolve(name, *this); }

std::optional<std::size_t> DataTable::FindColumn(std::string_view name) const {
  bool ambiguous = false;
  if (auto column = impl_->names.Find(name, ambiguous)) return column;
  if (ambiguous) impl_->ResolveSlow(name, *this);  // throws the ambiguity
  return std::nullopt;
}

std::shared_ptr<DataTable> DataTable::CloneShape() const {
  auto clone = Create(tableName_);
  for (const DataColumn& column : impl_->columns) clone->AddColumn(column);
  for (const UniqueConstraint& constraint : impl_->constraints)
    clone->AddUniqueConstraint(constraint.Columns, constraint.IsPrimaryKey);
  return clone;
}

void DataTable::Impl::ReserveRecords(std::size_t count) {
  if (count <= reserved) return;
  for (detail::ColumnStore& store : stores) store.ReserveRecords(count);
  added.Cover(count);
  reserved = count;
}

RecordId DataTable::Impl::NewRecord(const DataTable& table) {
  if (records >= kMaxRecords)
    throw Error("table '" + table.TableName() + "' cannot make more than " + std::to_string(kMaxRecords) +
                " rows");
  // Room in every column first: a record exists in all columns or in none.
  // Made ahead, doubling, so that most records only check for it; untouched
  // room costs no memory.
  if (records == reserved) ReserveRecords(std::max<std::size_t>({records + 1, 2 * reserved, 16}));
  for (detail::ColumnStore& store : stores) store.AppendRecord();
  return static_cast<RecordId>(records++);
}

DataRow DataTable::NewRow() {
  const RecordId record = impl_->NewRecord(*this);
  return DataRow(shared_from_this(), record);
}

// --- typed reads ------------------------------------------------------------------

bool DataTable::IsNull(RecordId record, std::size_t column) const noexcept {
  assert(column < impl_->stores.size() && record < impl_->records);
  return impl_->stores[column].IsNull(record);
}

std::int64_t DataTable::GetInt64(RecordId record, std::size_t column) const noexcept {
  assert(column < impl_->stores.size() && record < impl_->records);
  return impl_->stores[column].Int(record);
}

double DataTable::GetDouble(RecordId record, std::size_t column) const noexcept {
  assert(column < impl_->stores.size() && record < impl_->records);
  return impl_->stores[column].Real(record);
}

std::string_view DataTable::GetText(RecordId record, std::size_t column) const noexcept {
  assert(column < impl_->stores.size() && record < impl_->records);
  return impl_->stores[column].Text(record);
}

DateTime DataTable::GetDateTime(RecordId record, std::size_t column) const noexcept {
  assert(column < impl_->stores.size() && record < impl_->records);
  // Stored ticks were checked when written; a null cell holds 0.
  return DateTime(impl_->stores[column].Int(record));
}

std::span<const std::uint8_t> DataTable::GetBytes(RecordId record, std::size_t column) const noexcept {
  assert(column < impl_->stores.size() && record < impl_->records);
  return impl_->stores[column].Bytes(record);
}

}  // namespace Tessel::Data
