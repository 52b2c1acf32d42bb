// One caller's rows on either road, as the fault tests write them: rows with
// ids first..first+count-1, each with a note and a number derived from its
// id, so that a check can tell every row's presence and content from SQL
// alone (RowsCheckSql).
//
// Write() is one attempt, as a caller makes it: the staging road changes to
// the empty name, which writes the staged table; the queued road hands its
// queue to BulkToTable. What the interface keeps for a rerun stays where it
// is (the staged table, the queue), so calling Write() again is the caller's
// rerun.
#pragma once

#include <cstdint>
#include <ostream>
#include <stdexcept>
#include <string>

#include "TesselWrapper/Errors.h"
#include "TesselWrapper/IConnectWrapper.h"
#include "TesselWrapper/component/DbConnect.h"
#include "support/RecordQueue.h"

namespace Tessel::Faults {

enum class Road { Staging, Queued };

inline const char* RoadName(Road road) { return road == Road::Staging ? "staging" : "queued"; }
// How gtest prints a Road parameter.
inline void PrintTo(Road road, std::ostream* out) { *out << RoadName(road); }

// True when a failed write's message asks for the same call again.
inline bool AsksForRerun(const std::string& message) {
  return message.find(kRerunTransaction) != std::string::npos ||
         message.find(kSchemaChange) != std::string::npos;
}

// The note of row `id`: its number, padded with a letter of its own to
// `length` bytes (never shorter than the number).
inline std::string Note(std::int64_t id, std::size_t length) {
  std::string note = "row " + std::to_string(id);
  if (note.size() < length) note.append(length - note.size(), static_cast<char>('a' + id % 26));
  return note;
}

// Counts of `table` that read "<rows>|<distinct ids>|<min id>|<max id>|<rows
// whose note or number is not their id's>" when every row is there once with
// its own content. Works on SQLite and PostgreSQL alike.
inline std::string RowsCheckSql(const std::string& table, const std::string& where = "1 = 1") {
  return "SELECT count(*), count(DISTINCT id), coalesce(min(id), 0), coalesce(max(id), 0), "
         "coalesce(sum(CASE WHEN x = id * 0.5 AND substr(note, 1, length('row ' || id)) = 'row ' || id "
         "THEN 0 ELSE 1 END), 0) FROM " +
         table + " WHERE " + where;
}
inline std::string RowsCheckExpected(std::int64_t first, std::int64_t count) {
  if (count == 0) return "0|0|0|0|0";
  return std::to_string(count) + "|" + std::to_string(count) + "|" + std::to_string(first) + "|" +
         std::to_string(first + count - 1) + "|0";
}

class RoadWriter {
 public:
  RoadWriter(IConnectWrapper& bridge, Road road, std::string table)
      : bridge_(bridge), road_(road), table_(std::move(table)) {}

  // Stages or queues the rows; a busy database while the table is chosen is
  // retried (and counted in reruns), since nothing changed then. A field
  // store or a row the table refuses throws std::runtime_error.
  void Prepare(std::int64_t first, std::int64_t count, std::size_t noteLength, std::int64_t writer = 0) {
    for (std::int64_t id = first; id < first + count; ++id) {
      const std::string note = Note(id, noteLength);
      if (road_ == Road::Queued) {
        SqlRow* record = queue_.Add();
        record->AddLongField("id", static_cast<std::int32_t>(id));
        record->AddLongField("writer", static_cast<std::int32_t>(writer));
        record->AddDoubleField("x", static_cast<double>(id) * 0.5);
        record->AddTextField("note", note.c_str());
        continue;
      }
      Choose(table_.c_str());
      const bool stored = bridge_.AddFieldData("id", static_cast<int>(id)) &&
                          bridge_.AddFieldData("writer", static_cast<int>(writer)) &&
                          bridge_.AddFieldData("x", static_cast<double>(id) * 0.5) &&
                          bridge_.AddFieldData("note", note.c_str()) && bridge_.AddCurRow();
      if (!stored)
        throw std::runtime_error("staging row " + std::to_string(id) + ": " + bridge_.GetMessage());
    }
  }

  // One attempt at writing what was prepared. `written` receives the rows the
  // attempt reports written (the staging road's counter; the queue's size
  // when BulkToTable succeeds), also when it throws after writing.
  bool Write() {
    written = 0;
    if (road_ == Road::Staging) return bridge_.StartNewRow("", &stored, &written, &time);
    const auto records = static_cast<int>(queue_.records.size());
    const bool ok = bridge_.BulkToTable(table_, &queue_.records, &time);
    if (ok) written = records;
    return ok;
  }

  std::size_t Queued() const { return queue_.records.size(); }
  std::string Message() { return bridge_.GetMessage(); }

  int stored = 0;
  int written = 0;
  long time = 0;
  int reruns = 0;  // table choices retried while preparing

 private:
  void Choose(const char* table) {
    for (;;) {
      try {
        if (!bridge_.StartNewRow(table, &stored, &written, &time))
          throw std::runtime_error(std::string("StartNewRow: ") + bridge_.GetMessage());
        return;
      } catch (const DatabaseError& e) {
        if (e.Category() != ErrorCategory::Rerun) throw;
        ++reruns;
      }
    }
  }

  IConnectWrapper& bridge_;
  Road road_;
  std::string table_;
  Testing::RecordQueue queue_;
};

}  // namespace Tessel::Faults
