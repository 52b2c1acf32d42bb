// A queue of heap row records for IConnectWrapper::BulkToTable that owns
// them: BulkToTable deletes each record it takes, and whatever is left when
// the owner goes (a job ended early, a record the bridge refused) is deleted
// here.
#pragma once

#include <queue>

#include "TesselWrapper/SqlRow.h"

namespace Tessel::Jobs {

struct OwnedRecordQueue {
  OwnedRecordQueue() = default;
  OwnedRecordQueue(const OwnedRecordQueue&) = delete;
  OwnedRecordQueue& operator=(const OwnedRecordQueue&) = delete;
  ~OwnedRecordQueue() {
    for (; !records.empty(); records.pop()) delete records.front();
  }
  std::queue<SqlRow*> records;
};

}  // namespace Tessel::Jobs
