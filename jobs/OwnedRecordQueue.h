// A queue of heap row records for IConnectWrapper::BulkToTable that owns
// them: BulkToTable deletes the records once their rows are written, and
// whatever is left when the owner goes (a job ended early, a write that
// failed) is deleted here.
#pragma once

#include <queue>

#include "TesselWrapper/SqlRow.h"

namespace Tessel::Jobs {

struct OwnedRecordQueue {
  OwnedRecordQueue() = default;
  OwnedRecordQueue(const OwnedRecordQueue&) = delete;
  OwnedRecordQueue& operator=(const OwnedRecordQueue&) = delete;
  ~OwnedRecordQueue() {
    while (!records.empty()) DropFront();
  }
  void DropFront() {
    delete records.front();
    records.pop();
  }
  std::queue<SqlRow*> records;
};

}  // namespace Tessel::Jobs
