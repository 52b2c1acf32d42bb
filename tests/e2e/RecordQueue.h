// A queue of heap SqlRow records as a native caller keeps one for
// BulkToTable: it owns whatever the library leaves in it.
#pragma once

#include <queue>

#include "TesselWrapper/SqlRow.h"

namespace Tessel::EndToEnd {

struct RecordQueue {
  RecordQueue() = default;
  RecordQueue(const RecordQueue&) = delete;
  RecordQueue& operator=(const RecordQueue&) = delete;
  ~RecordQueue() {
    while (!records.empty()) {
      delete records.front();
      records.pop();
    }
  }
  SqlRow* Add() {
    records.push(new SqlRow);
    return records.back();
  }
  std::queue<SqlRow*> records;
};

}  // namespace Tessel::EndToEnd
