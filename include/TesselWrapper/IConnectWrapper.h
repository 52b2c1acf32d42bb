// IConnectWrapper: the one interface through which a native application uses
// TesselWrapper.
//
//   IConnectWrapper* db = IConnectWrapper::CreateInstance();
//   db->LoadObject("sqlite:cases.db", "");      // pick the component
//   if (!db->Test()) puts(db->GetMessage().c_str());
//   ...                                          // stage rows, run routines
//   IConnectWrapper::Destroy(db);
//
// The interface declares exactly seventeen pure virtual operations, in a fixed
// order that is part of the binary interface, and no virtual destructor:
// release an instance with Destroy, never with delete.
//
// Errors: an operation that fails for a reason of its own reports it as its
// result (false, -1) with the reason in GetMessage(); every other error leaves
// the operation as a Tessel::Error (TesselWrapper/Errors.h). An operation other
// than LoadObject on a bridge with no component loaded throws
// Tessel::MissingComponentError. A null pointer where an operation needs a
// counter, a queue or an output string throws Tessel::ArgumentNullError before
// anything changes.
//
// Text is narrow and in the character set of the process's locale; text taken
// as std::string ends at its first NUL byte. `long` arguments carry 32-bit
// values: executionTime passes its low 32 bits, sign-extended, in and out.
//
// Thread safety: one bridge object serves one caller at a time. It holds no
// lock: calls on one bridge from two threads at once must be serialized by
// the caller, and its staging state (the current table and row) belongs to
// whoever calls. Copies of a ConnectWrapper share one component, with its
// connection and its staging state, so all copies are one caller. Separate
// bridges, each with a component of its own (its own LoadObject), may be used
// from separate threads at the same time, also on one database: each has its
// own connection, and the database's locking decides who waits (a write that
// waits longer than the busy or lock time-out fails asking for a rerun). The
// factory behind LoadObject may be called from any thread
// (component/DbConnectFactory.h).
#pragma once

#include <queue>
#include <string>
#include <vector>

#include "TesselWrapper/Export.h"
#include "TesselWrapper/SimpleDbParameter.h"
#include "TesselWrapper/SqlRow.h"

class TESSELWRAPPER_API IConnectWrapper {
 public:
  // There is no state to copy; defined in the library so that they are
  // exported with the rest of the face. The assignments return *this.
  IConnectWrapper();
  IConnectWrapper(const IConnectWrapper&);
  IConnectWrapper(IConnectWrapper&&);
  IConnectWrapper& operator=(const IConnectWrapper&);
  IConnectWrapper& operator=(IConnectWrapper&&);

  // A new bridge object with no component loaded, owned by the caller until
  // it is passed to Destroy.
  static IConnectWrapper* CreateInstance();
  // Ends the life of an object made by CreateInstance; null does nothing.
  static void Destroy(IConnectWrapper* instance);

  // True when the component's database answers; false with the reason in
  // GetMessage() when it cannot be reached.
  virtual bool Test() = 0;
  // Makes a component for the connection string `Connect` and the table set
  // `TypedTableSet` (see DbConnectFactory.h) and keeps it, replacing any
  // earlier one (which is dropped, not closed). Throws when the form of
  // `Connect` is unknown; the bridge then keeps what it had.
  virtual void LoadObject(std::string Connect, std::string TypedTableSet) = 0;
  virtual void SetMessage(std::string message) = 0;
  virtual std::string GetMessage() = 0;
  // Setting the connection string closes the component's connection; the
  // next operation opens the new one.
  virtual void SetConnectionString(std::string ConnectionString) = 0;
  virtual std::string GetConnectionString() = 0;
  // The component's probe: writes `iterations` generated rows into a
  // temporary table; returns the elapsed microseconds, cut to 32 bits.
  virtual long BulkExample(int iterations) = 0;

  // Queued road: turns every record of the queue into a row of `table` and
  // writes them in one call, in one transaction.
  //   true   every row is written; the queue is empty and every record
  //          deleted.
  //   false  nothing is written (the reason in GetMessage(); it contains
  //          "Rerun the transaction" or "schema change" when the same call
  //          may succeed later); the queue holds every record it held, in
  //          the same order, none deleted.
  //   throws nothing is written and the queue is as it was: a record that
  //          cannot be converted (the error names its position, column and
  //          value), a null record, a table the database does not have, or
  //          an error of the component.
  // Rows the table refuses (a key repeated inside the queue, a missing
  // required value) are left out of the write and deleted with the rest on
  // success; GetMessage() then says how many of how many, and the first
  // reason. *executionTime gains the write's milliseconds. The records and
  // the table built from them are both in memory until the write ends.
  virtual bool BulkToTable(std::string table, std::queue<SqlRow*>* m_sqlRowQueue, long* executionTime) = 0;

  // Runs a routine with typed parameters. *output goes in as text and comes
  // back as the routine's result row, "name=value;" per column. Returns the
  // routine's integer result; -1 with the reason in GetMessage() on failure.
  virtual int ExecuteStoredProcedure(std::string procName, std::vector<SimpleDbParameter> paramList,
                                     std::string* output) = 0;

  // "Caseid:SolutionId;" for each row that the table set's GetMaxSolnIdCaseId
  // routine gives for `modelDir`, in row order; empty when there are none.
  virtual std::string GetMaxSolnIdCaseId(std::string modelDir) = 0;

  // Staging road. StartNewRow opens a row of `tablename`. When another table
  // was current (or the empty name is requested again), that table's rows
  // are written first, in one transaction, and:
  //   written     *rowsWrittenCount = its rows; the table is let go at once,
  //               and the requested table is selected; true.
  //   rerun       nothing written ("Rerun the transaction" or "schema change"
  //               in GetMessage()): false, *rowsWrittenCount = 0, and the
  //               table with its rows (and the open row) stays current, so
  //               the next change of table writes them once more.
  //   refused     nothing written, and writing the same rows again cannot
  //               succeed (a key already in the database, a check): false,
  //               *rowsWrittenCount = 0, GetMessage() names the table, the
  //               number of rows discarded and the database's reason; the
  //               rows are dropped and the requested table is selected as
  //               after a success, so a caller that goes on loses nothing
  //               more.
  // *executionTime receives the write's figure in every case. A non-empty
  // name that is neither a table of the database nor an enumeration table
  // throws Tessel::ArgumentError (the empty name selects no table). Errors
  // while the next table is chosen (a busy database: its text says "Rerun
  // the transaction") throw after the written table was let go, so calling
  // again never writes it twice. All three pointers must be valid.
  virtual bool StartNewRow(const char* tablename, int* rowsStoredCount, int* rowsWrittenCount,
                           long* executionTime) = 0;
  // Adds the open row to the current table; false with the reason in
  // GetMessage() when the table refuses it (the row stays open).
  virtual bool AddCurRow() = 0;
  // Store one field of the open row by column name; false when no row is
  // open. A column the table lacks or a value the column cannot hold throws.
  virtual bool AddFieldData(const char* fieldName, const char* data) = 0;
  virtual bool AddFieldData(const char* fieldName, int data) = 0;
  // Stores the same 32-bit integer as the int form; a value beyond 32 bits
  // is stored whole, for its column to take or refuse, never cut.
  virtual bool AddFieldData(const char* fieldName, long data) = 0;
  virtual bool AddFieldData(const char* fieldName, double data) = 0;
  // `data` is an OLE Automation date; 0.0 stores an absent value (null).
  virtual bool AddFieldDateTimeData(const char* fieldName, double data) = 0;

 protected:
  // Not virtual and not public: release bridge objects with Destroy.
  ~IConnectWrapper() = default;
};
