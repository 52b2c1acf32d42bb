#include "tessel/BackendStream.h"

#include <chrono>
#include <exception>
#include <new>

#include "TesselWrapper/Errors.h"
#include "data/Quoted.h"

namespace Tessel {
namespace {

using Clock = std::chrono::steady_clock;

}  // namespace

void CheckBatch(const Data::DataTable& shape, const Data::DataTable& batch) {
  bool same = batch.ColumnCount() == shape.ColumnCount();
  for (std::size_t c = 0; same && c < shape.ColumnCount(); ++c)
    same = batch.Column(c).ColumnName == shape.Column(c).ColumnName &&
           batch.Column(c).Type == shape.Column(c).Type;
  if (!same)
    throw ArgumentError("a batch for table " + Quoted(shape.TableName()) +
                        " must have the table's columns, in its order, with its types");
}

BackendStream::BackendStream(DbConnect& component, ShapeCache& shapes, const Data::DataTable& table)
    : component_(component), shapes_(shapes), shape_(Data::DataTable::Create(table.TableName())) {
  for (std::size_t c = 0; c < table.ColumnCount(); ++c) shape_->AddColumn(table.Column(c));
}

template <class Step>
bool BackendStream::Run(Step&& step, bool committing) {
  const Clock::time_point start = Clock::now();
  std::optional<WriteFailure> failure;
  try {
    failure = step();
  } catch (const DatabaseError& e) {
    failure = WriteFailure{e.Category(), e.what(), std::nullopt};
  } catch (const std::bad_alloc&) {
    // No row is at fault, and the transaction is rolled back below: nothing
    // was written, and the same write may succeed with memory to spare.
    // While committing, the commit itself may already have gone through.
    failure = committing ? WriteFailure{ErrorCategory::OutcomeUnknown,
                                        "out of memory while committing the transaction", std::nullopt}
                         : WriteFailure{ErrorCategory::Rerun, "out of memory", std::nullopt};
  } catch (...) {
    state_ = State::Failed;
    Abandon();
    AddMilliseconds(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
    throw;
  }
  if (failure) Fail(*failure);
  AddMilliseconds(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
  return !failure;
}

void BackendStream::Fail(const WriteFailure& failure) {
  state_ = State::Failed;
  Abandon();
  SetFailure(failure.category, failure.row);
  ReportWrite(component_, shapes_, shape_->TableName(), Rows(), failure);
  AfterFailure();
}

bool BackendStream::Append(const Data::DataTable& batch) {
  if (state_ == State::Failed) return false;
  if (state_ == State::Committed)
    throw ArgumentError("the stream into table " + Quoted(shape_->TableName()) + " is already committed");
  CheckBatch(*shape_, batch);
  if (batch.Rows().Count() == 0) return true;
  return Run([&]() -> std::optional<WriteFailure> {
    if (state_ == State::Idle) {
      if (auto failure = Begin()) return failure;
      state_ = State::Writing;
    }
    if (auto failure = Write(batch, Rows())) return failure;
    // Counted after the write: a batch still being filled has its final
    // count only once its rows are all written.
    AddRows(batch.Rows().Count());
    return std::nullopt;
  });
}

bool BackendStream::Commit() {
  if (state_ == State::Failed) return false;
  if (state_ == State::Committed) return true;
  if (state_ == State::Writing && !Run(
                                      [&]() -> std::optional<WriteFailure> {
                                        // Whatever End's outcome, nothing is open afterwards.
                                        state_ = State::Committed;
                                        return End();
                                      },
                                      /*committing=*/true)) {
    return false;
  }
  state_ = State::Committed;
  ReportWrite(component_, shapes_, shape_->TableName(), Rows(), std::nullopt);
  return true;
}

bool WriteWholeTable(DbConnect& component, const Data::DataTable& table, std::int64_t& executionTime) {
  const std::unique_ptr<BulkStream> stream = component.OpenBulkStream(table);
  const bool written = stream->Append(table) && stream->Commit();
  executionTime += stream->Milliseconds();
  return written;
}

}  // namespace Tessel
