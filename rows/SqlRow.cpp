// The row record of the queued road.
#include "TesselWrapper/SqlRow.h"

#include <algorithm>
#include <cstddef>
#include <memory>

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

void SqlRow::AddField(CStringA name, CStringA type, CStringA text, NUMERICDATA number) {
  fieldNames.push_back(std::move(name));
  fieldTypes.push_back(std::move(type));
  fieldValues.push_back(std::move(text));
  numericValues.push_back(number);
  ++fieldCount;
}

namespace {

NUMERICDATA Number(double value) {
  NUMERICDATA number{};
  number.doubleValue = value;
  return number;
}

}  // namespace

void SqlRow::AddDoubleField(CStringA name, double value) {
  AddField(std::move(name), ConnectWrapper::m_lpszDOUBLE, CStringA(), Number(value));
}

void SqlRow::AddLongField(CStringA name, std::int32_t value) {
  NUMERICDATA number{};  // the bytes beyond the integer stay zero
  number.longValue = value;
  AddField(std::move(name), ConnectWrapper::m_lpszLONGINTEGER, CStringA(), number);
}

void SqlRow::AddShortField(CStringA name, std::int16_t value) {
  NUMERICDATA number{};
  number.shortValue = value;
  AddField(std::move(name), ConnectWrapper::m_lpszSHORTINTEGER, CStringA(), number);
}

void SqlRow::AddDateField(CStringA name, double oaDate) {
  AddField(std::move(name), ConnectWrapper::m_lpszDATE, CStringA(), Number(oaDate));
}

void SqlRow::AddDateTimeField(CStringA name, double oaDate) {
  AddField(std::move(name), ConnectWrapper::m_lpszDATETIME, CStringA(), Number(oaDate));
}

void SqlRow::AddTextField(CStringA name, CStringA value) {
  AddField(std::move(name), ConnectWrapper::m_lpszTEXT, std::move(value), Number(0.0));
}

void SqlRow::AddMemoField(CStringA name, CStringA value) {
  AddField(std::move(name), ConnectWrapper::m_lpszMEMO, std::move(value), Number(0.0));
}
