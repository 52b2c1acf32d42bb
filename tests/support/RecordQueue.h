// A queue of heap SqlRow records as a native caller keeps one for
// BulkToTable: it owns whatever the library leaves in it. The ownership rule
// is the jobs' own (OwnedRecordQueue), so the tests' caller and the tool's
// cannot come to disagree about who deletes a record.
#pragma once

#include "TesselWrapper/SqlRow.h"
#include "jobs/OwnedRecordQueue.h"

namespace Tessel::Testing {

struct RecordQueue : Jobs::OwnedRecordQueue {
  // A new empty record at the back of the queue.
  SqlRow* Add() { return Push(new SqlRow); }
  // Takes `record` over, at the back of the queue.
  SqlRow* Push(SqlRow* record) {
    records.push(record);
    return record;
  }
  void Clear() {
    while (!records.empty()) DropFront();
  }
};

}  // namespace Tessel::Testing
