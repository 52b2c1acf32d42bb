// ConnectWrapper: the one implementation of IConnectWrapper (the bridge
// object). Its only state is the handle to the component, a shared owner:
//
//   - default construction: no component;
//   - copy and move construction: a new handle to the same component (the
//     source of a move is not emptied);
//   - copy and move assignment: re-point this handle at the source's
//     component (or at none); self-assignment changes nothing;
//   - destruction: this bridge stops keeping the component alive; it never
//     closes it.
//
// It also carries the seven field type names of the row record.
//
// Thread safety: as IConnectWrapper's. A copy is not a second caller: it
// drives the same component, connection and staging state as its source, so
// copies are used by one thread at a time between them. A bridge for another
// thread is a ConnectWrapper of its own with its own LoadObject.
#pragma once

#include <memory>

#include "TesselWrapper/Export.h"
#include "TesselWrapper/IConnectWrapper.h"

namespace Tessel {
class DbConnect;
}

class TESSELWRAPPER_API ConnectWrapper : public IConnectWrapper {
 public:
  ConnectWrapper();
  ConnectWrapper(const ConnectWrapper& other);
  ConnectWrapper(ConnectWrapper&& other);
  ConnectWrapper& operator=(const ConnectWrapper& other);
  ConnectWrapper& operator=(ConnectWrapper&& other);
  ~ConnectWrapper();

  bool Test() override;
  void LoadObject(std::string Connect, std::string TypedTableSet) override;
  void SetMessage(std::string message) override;
  std::string GetMessage() override;
  void SetConnectionString(std::string ConnectionString) override;
  std::string GetConnectionString() override;
  long BulkExample(int iterations) override;
  bool BulkToTable(std::string table, std::queue<SqlRow*>* m_sqlRowQueue, long* executionTime) override;
  int ExecuteStoredProcedure(std::string procName, std::vector<SimpleDbParameter> paramList,
                             std::string* output) override;
  std::string GetMaxSolnIdCaseId(std::string modelDir) override;
  bool StartNewRow(const char* tablename, int* rowsStoredCount, int* rowsWrittenCount,
                   long* executionTime) override;
  bool AddCurRow() override;
  bool AddFieldData(const char* fieldName, const char* data) override;
  bool AddFieldData(const char* fieldName, int data) override;
  bool AddFieldData(const char* fieldName, long data) override;
  bool AddFieldData(const char* fieldName, double data) override;
  bool AddFieldDateTimeData(const char* fieldName, double data) override;

  // The field type names of SqlRow, matched without regard to ASCII case.
  static const char* const m_lpszDOUBLE;        // "Double"
  static const char* const m_lpszLONGINTEGER;   // "LongInteger"
  static const char* const m_lpszSHORTINTEGER;  // "ShortInteger"
  static const char* const m_lpszDATE;          // "Date"
  static const char* const m_lpszDATETIME;      // "DateTime"
  static const char* const m_lpszTEXT;          // "Text"
  static const char* const m_lpszMEMO;          // "Memo"

 private:
  // The component, or throws MissingComponentError.
  Tessel::DbConnect& Component() const;

  std::shared_ptr<Tessel::DbConnect> component_;
};
