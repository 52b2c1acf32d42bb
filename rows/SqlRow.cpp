// The row record of the queued road.
#include "TesselWrapper/SqlRow.h"

#include <algorithm>
#include <cstddef>
#include <memory>
#include <string_view>

#include "TesselWrapper/ConnectWrapper.h"

namespace {

// The first `count` entries of `from` appended to `to`; never reads past the
// end of `from`, so a record whose count exceeds its lists is copied as far
// as its lists go rather than read out of bounds.
template <typename T>
void AppendFirst(std::vector<T>& to, const std::vector<T>& from, std::int32_t count) {
  if (count <= 0) return;
  const std::size_t n = std::min(static_cast<std::size_t>(count), from.size());
  to.insert(to.end(), from.begin(), from.begin() + static_cast<std::ptrdiff_t>(n));
}

}  // namespace

SqlRow::SqlRow() : fieldCount(0), tag(0) { Reset(); }

// Members are released in the reverse order of their declaration.
SqlRow::~SqlRow() = default;

void SqlRow::Reset() {
  fieldNames.clear();
  fieldTypes.clear();
  fieldValues.clear();
  numericValues.clear();
  fieldCount = 0;
  tableName = CStringA();
  tag = 0;
}

bool SqlRow::IsEmpty() const { return fieldCount <= 0; }

SqlRow* SqlRow::Copy() const {
  auto copy = std::make_unique<SqlRow>();
  AppendFirst(copy->fieldNames, fieldNames, fieldCount);
  AppendFirst(copy->fieldTypes, fieldTypes, fieldCount);
  AppendFirst(copy->fieldValues, fieldValues, fieldCount);
  AppendFirst(copy->numericValues, numericValues, fieldCount);
  copy->fieldCount = fieldCount;
  copy->tag = tag;
  copy->tableName = tableName;
  return copy.release();
}

void SqlRow::SetTableName(CStringA tablename) { tableName = std::move(tablename); }
void SqlRow::AddFieldName(CStringA fieldname) { fieldNames.push_back(std::move(fieldname)); }
void SqlRow::AddFieldType(CStringA fieldType) { fieldTypes.push_back(std::move(fieldType)); }
void SqlRow::AddFieldValue(CStringA fieldValue) { fieldValues.push_back(std::move(fieldValue)); }

namespace {

// Room for one more entry. A list starts with room for kInitialFields
// entries, then doubles: a record of up to eight fields is allocated once per
// list instead of growing through 1, 2, 4 and 8 entries, which made building
// a record cost four allocations and three copies per list.
constexpr std::size_t kInitialFields = 8;

template <typename T>
void Grow(std::vector<T>& list) {
  list.reserve(std::max(kInitialFields, 2 * list.capacity()));
}

// Room for one more field in all four lists, so that a failed allocation
// leaves the record unchanged and the appends that follow cannot fail. The
// lists of a record filled by whole fields fill up together; the check that
// they have room is the only work for all but the first of every eight
// fields.
void ReserveField(SqlRow& row) {
  if (row.fieldNames.size() < row.fieldNames.capacity() &&
      row.fieldTypes.size() < row.fieldTypes.capacity() &&
      row.fieldValues.size() < row.fieldValues.capacity() &&
      row.numericValues.size() < row.numericValues.capacity()) [[likely]]
    return;
  if (row.fieldNames.size() == row.fieldNames.capacity()) Grow(row.fieldNames);
  if (row.fieldTypes.size() == row.fieldTypes.capacity()) Grow(row.fieldTypes);
  if (row.fieldValues.size() == row.fieldValues.capacity()) Grow(row.fieldValues);
  if (row.numericValues.size() == row.numericValues.capacity()) Grow(row.numericValues);
}

// One field of a known type: the type name is built in its list straight
// from the constant (its length measured once per type, not per field), and
// a field that is not text gets its empty text entry built in place.
void AppendField(SqlRow& row, CStringA&& name, std::string_view type, CStringA* text, NUMERICDATA number) {
  ReserveField(row);
  row.fieldNames.push_back(std::move(name));
  row.fieldTypes.emplace_back(type);
  if (text != nullptr) {
    row.fieldValues.push_back(std::move(*text));
  } else {
    row.fieldValues.emplace_back();
  }
  row.numericValues.push_back(number);
  ++row.fieldCount;
}

NUMERICDATA Number(double value) {
  NUMERICDATA number{};
  number.doubleValue = value;
  return number;
}

}  // namespace

void SqlRow::AddField(CStringA name, CStringA type, CStringA text, NUMERICDATA number) {
  ReserveField(*this);
  fieldNames.push_back(std::move(name));
  fieldTypes.push_back(std::move(type));
  fieldValues.push_back(std::move(text));
  numericValues.push_back(number);
  ++fieldCount;
}

void SqlRow::AddDoubleField(CStringA name, double value) {
  static const std::string_view type = ConnectWrapper::m_lpszDOUBLE;
  AppendField(*this, std::move(name), type, nullptr, Number(value));
}

void SqlRow::AddLongField(CStringA name, std::int32_t value) {
  static const std::string_view type = ConnectWrapper::m_lpszLONGINTEGER;
  NUMERICDATA number{};  // the bytes beyond the integer stay zero
  number.longValue = value;
  AppendField(*this, std::move(name), type, nullptr, number);
}

void SqlRow::AddShortField(CStringA name, std::int16_t value) {
  static const std::string_view type = ConnectWrapper::m_lpszSHORTINTEGER;
  NUMERICDATA number{};
  number.shortValue = value;
  AppendField(*this, std::move(name), type, nullptr, number);
}

void SqlRow::AddDateField(CStringA name, double oaDate) {
  static const std::string_view type = ConnectWrapper::m_lpszDATE;
  AppendField(*this, std::move(name), type, nullptr, Number(oaDate));
}

void SqlRow::AddDateTimeField(CStringA name, double oaDate) {
  static const std::string_view type = ConnectWrapper::m_lpszDATETIME;
  AppendField(*this, std::move(name), type, nullptr, Number(oaDate));
}

void SqlRow::AddTextField(CStringA name, CStringA value) {
  static const std::string_view type = ConnectWrapper::m_lpszTEXT;
  AppendField(*this, std::move(name), type, &value, Number(0.0));
}

void SqlRow::AddMemoField(CStringA name, CStringA value) {
  static const std::string_view type = ConnectWrapper::m_lpszMEMO;
  AppendField(*this, std::move(name), type, &value, Number(0.0));
}
