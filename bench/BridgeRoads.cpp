#include "bench/BridgeRoads.h"

#include <queue>
#include <stdexcept>

#include "TesselWrapper/SqlRow.h"

namespace Tessel::Bench {
namespace {

[[noreturn]] void Fail(IConnectWrapper& bridge, const std::string& what) {
  throw std::runtime_error(what + ": " + bridge.GetMessage());
}

}  // namespace

BridgePtr LoadBridge(const std::string& connect) {
  BridgePtr bridge(IConnectWrapper::CreateInstance());
  bridge->LoadObject(connect, "");
  return bridge;
}

void StageRows(IConnectWrapper& bridge, const Dataset& data) {
  int stored = 0, written = 0;
  long executionTime = 0;
  const auto n = data.Rows();
  for (std::size_t r = 0; r < n; ++r) {
    if (!bridge.StartNewRow(kTableName, &stored, &written, &executionTime)) {
      Fail(bridge, "StartNewRow at row " + std::to_string(r));
    }
    // Every store is checked: a store that silently did nothing must not
    // pass for a fast one.
    const bool ok = bridge.AddFieldData("i1", data.I1(r)) && bridge.AddFieldData("i2", data.I2(r)) &&
                    bridge.AddFieldData("i3", data.I3(r)) && bridge.AddFieldData("d1", data.D1(r)) &&
                    bridge.AddFieldData("d2", data.D2(r)) &&
                    bridge.AddFieldDateTimeData("dt", data.OaDate(r)) &&
                    bridge.AddFieldData("t1", data.T1(r)) && bridge.AddFieldData("t2", data.T2(r));
    if (!ok) Fail(bridge, "AddFieldData at row " + std::to_string(r));
    if (!bridge.AddCurRow()) Fail(bridge, "AddCurRow at row " + std::to_string(r));
  }
  if (static_cast<std::size_t>(stored) != n - 1) {
    throw std::runtime_error("StartNewRow reported " + std::to_string(stored) +
                             " rows already staged before the last row, expected " + std::to_string(n - 1));
  }
}

void FlushStaged(IConnectWrapper& bridge, const Dataset& data) {
  int stored = 0, written = -1;
  long executionTime = 0;
  if (!bridge.StartNewRow("", &stored, &written, &executionTime)) Fail(bridge, "the flush");
  if (written < 0 || static_cast<std::size_t>(written) != data.Rows()) {
    Fail(bridge, "the flush reported " + std::to_string(written) + " rows written, expected " +
                     std::to_string(data.Rows()));
  }
}

Timing RunStagingRoad(const std::string& connect, const Dataset& data) {
  BridgePtr bridge = LoadBridge(connect);
  Stopwatch clock;
  StageRows(*bridge, data);
  const double staged = clock.WallSeconds();
  FlushStaged(*bridge, data);
  Timing timing{clock.WallSeconds(), clock.CpuSeconds(), {}};
  timing.phases = {{"staging the rows", staged},
                   {"the flush (StartNewRow(\"\"))", timing.wallSeconds - staged}};
  return timing;
}

OwnedQueue::~OwnedQueue() {
  while (!rows.empty()) {
    delete rows.front();
    rows.pop();
  }
}

void BuildRecords(OwnedQueue& queue, const Dataset& data) {
  const auto n = data.Rows();
  for (std::size_t r = 0; r < n; ++r) {
    auto row = std::make_unique<SqlRow>();
    row->AddLongField("i1", data.I1(r));
    row->AddLongField("i2", data.I2(r));
    row->AddLongField("i3", data.I3(r));
    row->AddDoubleField("d1", data.D1(r));
    row->AddDoubleField("d2", data.D2(r));
    row->AddDateField("dt", data.OaDate(r));
    row->AddTextField("t1", data.T1(r));
    row->AddTextField("t2", data.T2(r));
    queue.rows.push(row.release());
  }
}

void WriteQueued(IConnectWrapper& bridge, OwnedQueue& queue) {
  long executionTime = 0;
  if (!bridge.BulkToTable(kTableName, &queue.rows, &executionTime)) Fail(bridge, "BulkToTable");
  if (!queue.rows.empty()) {
    throw std::runtime_error("BulkToTable left " + std::to_string(queue.rows.size()) +
                             " records in the queue");
  }
}

Timing RunQueuedRoad(const std::string& connect, const Dataset& data) {
  BridgePtr bridge = LoadBridge(connect);
  OwnedQueue queue;
  Stopwatch clock;
  BuildRecords(queue, data);
  const double built = clock.WallSeconds();
  WriteQueued(*bridge, queue);
  Timing timing{clock.WallSeconds(), clock.CpuSeconds(), {}};
  timing.phases = {{"building the records", built}, {"BulkToTable", timing.wallSeconds - built}};
  return timing;
}

}  // namespace Tessel::Bench
