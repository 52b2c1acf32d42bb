// SqlRow: the native row record of the queued road of row transfer.
//
// The caller creates records with `new`, fills them field by field, and queues
// pointers to them for IConnectWrapper::BulkToTable, which turns each record
// into a row of the named table and deletes it. The members, their order and
// their types are part of the binary interface shared with callers.
//
// The four lists are parallel: entry i of each belongs to field i, for i below
// fieldCount. A field has both a text entry (fieldValues, read for "Text" and
// "Memo") and a numeric entry (numericValues, read for "Double",
// "LongInteger", "ShortInteger", "Date" and "DateTime"); the other is a
// placeholder. Entries beyond fieldCount are ignored. The field type names are
// the constants ConnectWrapper::m_lpszDOUBLE and its siblings.
//
// The Add...Field conveniences add one whole field (all four entries and the
// count) at once:
//
//   SqlRow* row = new SqlRow;
//   row->AddLongField("id", 7);
//   row->AddTextField("name", "first");
//   row->AddDateField("created", 45000.5);   // an OLE Automation date
//   queue.push(row);
//
// Not thread-safe; a record is used by one thread at a time.
#pragma once

#include <cstdint>
#include <vector>

#include "TesselWrapper/CStringA.h"
#include "TesselWrapper/Export.h"

// The numeric value of one field; which member is meaningful follows from the
// field's type name. Always copied whole.
union NUMERICDATA {
  double doubleValue;       // "Double"; "Date" and "DateTime" as an OLE Automation date
  std::int32_t longValue;   // "LongInteger"
  std::int16_t shortValue;  // "ShortInteger"
};

class TESSELWRAPPER_API SqlRow {
 public:
  SqlRow();
  ~SqlRow();
  SqlRow(const SqlRow&) = default;
  SqlRow& operator=(const SqlRow&) = default;

  // Empties the lists, sets fieldCount and tag to 0 and tableName to "".
  void Reset();
  // True when fieldCount is 0 or negative; the lists are not looked at.
  bool IsEmpty() const;
  // A new heap record holding this record's first fieldCount fields, its
  // fieldCount, tag and tableName. The caller owns the result. A list shorter
  // than fieldCount is copied as far as it goes (never read past its end); the
  // copy then keeps the same fault and BulkToTable refuses it.
  SqlRow* Copy() const;

  void SetTableName(CStringA tablename);
  // Append to one list; fieldCount is not changed.
  void AddFieldName(CStringA fieldname);
  void AddFieldType(CStringA fieldType);
  void AddFieldValue(CStringA fieldValue);

  // Conveniences: append a whole field (name, type, text, number) and raise
  // fieldCount by one. They assume that each list holds exactly fieldCount
  // entries, as it does when only these fill the record. The entry a field's
  // type does not read is a placeholder (empty text, zero number). The lists
  // start with room for eight fields; a failed allocation (std::bad_alloc)
  // leaves the record unchanged.
  void AddField(CStringA name, CStringA type, CStringA text, NUMERICDATA number);
  void AddDoubleField(CStringA name, double value);
  void AddLongField(CStringA name, std::int32_t value);
  void AddShortField(CStringA name, std::int16_t value);
  void AddDateField(CStringA name, double oaDate);      // type "Date"
  void AddDateTimeField(CStringA name, double oaDate);  // type "DateTime"
  void AddTextField(CStringA name, CStringA value);     // type "Text"
  void AddMemoField(CStringA name, CStringA value);     // type "Memo"

  std::vector<CStringA> fieldNames;
  std::vector<CStringA> fieldTypes;
  std::vector<CStringA> fieldValues;
  std::vector<NUMERICDATA> numericValues;
  std::int32_t fieldCount;
  CStringA tableName;
  std::int32_t tag;
};
