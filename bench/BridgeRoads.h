// The two roads through the bridge (IConnectWrapper), the same for every
// backend: only the connection string differs.
//
// Both write every row of a Dataset into the table kTableName, which must
// exist, empty, before the call. A road that the bridge reports as failed
// (a false result, fewer rows written than staged) throws std::runtime_error
// with the bridge's message; a Tessel::Error from the bridge passes through.
#pragma once

#include <memory>
#include <queue>
#include <string>

#include "TesselWrapper/IConnectWrapper.h"
#include "TesselWrapper/SqlRow.h"
#include "bench/Dataset.h"
#include "bench/Measure.h"

namespace Tessel::Bench {

struct BridgeDeleter {
  void operator()(IConnectWrapper* bridge) const noexcept { IConnectWrapper::Destroy(bridge); }
};
using BridgePtr = std::unique_ptr<IConnectWrapper, BridgeDeleter>;

// A new bridge with the component for `connect` loaded (no connection yet:
// the component opens it at first use, inside the timed span).
BridgePtr LoadBridge(const std::string& connect);

// Staging road, split so that the memory probe can look between the steps:
// StageRows opens, fills and adds one row per dataset row; FlushStaged calls
// StartNewRow("") and checks that the bridge wrote every staged row.
void StageRows(IConnectWrapper& bridge, const Dataset& data);
void FlushStaged(IConnectWrapper& bridge, const Dataset& data);

// Staging road, timed from the first StartNewRow to the return of the flush.
Timing RunStagingRoad(const std::string& connect, const Dataset& data);

// The queue of the queued road, owning its records: whatever BulkToTable
// leaves in it (everything, when the write fails) is deleted with it.
struct OwnedQueue {
  std::queue<SqlRow*> rows;
  OwnedQueue() = default;
  OwnedQueue(const OwnedQueue&) = delete;
  OwnedQueue& operator=(const OwnedQueue&) = delete;
  ~OwnedQueue();
};

// Queued road, split as the staging road is: BuildRecords makes one SqlRow
// per dataset row, WriteQueued hands the queue to BulkToTable and checks that
// it came back empty.
void BuildRecords(OwnedQueue& queue, const Dataset& data);
void WriteQueued(IConnectWrapper& bridge, OwnedQueue& queue);

// Queued road, timed from building the first SqlRow to the return of
// BulkToTable (building the records is part of what a caller pays).
Timing RunQueuedRoad(const std::string& connect, const Dataset& data);

}  // namespace Tessel::Bench
