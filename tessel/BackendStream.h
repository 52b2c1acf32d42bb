// What the built-in backends' bulk streams (DbConnect::OpenBulkStream) share,
// so that each rule of a streamed write is kept once: the check of each batch
// against the stream's table, the counting of rows and milliseconds, the
// order of the steps, what a failure does to the stream, and the message the
// component is left with (ReportWrite). A backend supplies the steps:
//
//   Begin    before the first row: start the transaction, check the
//            database's table against Shape() inside it (a mismatch is a
//            SchemaChange failure), prepare what the writes need
//   Write    one batch of at least one row; `first` is the position of its
//            first row among all the stream's rows, for naming a row at fault
//   End      the commit; nothing is left open afterwards, whatever its outcome
//   Abandon  after a failure of Begin or Write: roll back what is open
//   AfterFailure  the component's upkeep once the failure is reported (a
//            connection to drop or renew)
//
// WriterStream makes these steps of a backend's TableWriter. A step reports
// a failure of the database as a WriteFailure; a DatabaseError
// it throws (a file that cannot be opened) is taken as one of its category;
// std::bad_alloc as "out of memory", a Rerun (in End, whose commit may have
// gone through, an OutcomeUnknown). Anything else it throws leaves the
// stream failed and rolled back and passes on. A stream that is dropped without a successful
// Commit rolls back in the backend's own destructor (its transaction is an
// RAII owner), never here.
//
// BulkToTable is WriteWholeTable: one stream, one batch, the commit.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "TesselWrapper/component/DbConnect.h"
#include "TesselWrapper/data/DataTable.h"
#include "tessel/FailureText.h"
#include "tessel/ShapeCache.h"

namespace Tessel {

// Throws ArgumentError unless `batch` has the columns of `shape`: the same
// names and types in the same order (its unique rules and defaults are its
// own business). Every stream checks each batch with it.
void CheckBatch(const Data::DataTable& shape, const Data::DataTable& batch);

class BackendStream : public BulkStream {
 public:
  bool Append(const Data::DataTable& batch) final;
  bool Commit() final;

 protected:
  // `table` gives the stream its name and columns (a copy is kept).
  BackendStream(DbConnect& component, ShapeCache& shapes, const Data::DataTable& table);

  virtual std::optional<WriteFailure> Begin() = 0;
  virtual std::optional<WriteFailure> Write(const Data::DataTable& batch, std::uint64_t first) = 0;
  virtual std::optional<WriteFailure> End() = 0;
  virtual void Abandon() noexcept = 0;
  virtual void AfterFailure() {}

  // The stream's table: its name and columns, no rows.
  const Data::DataTable& Shape() const noexcept { return *shape_; }

 private:
  enum class State { Idle, Writing, Failed, Committed };

  // Runs one step, timed; on failure reports it and leaves the stream failed.
  // `committing`: the step is End.
  template <class Step>
  bool Run(Step&& step, bool committing = false);
  void Fail(const WriteFailure& failure);

  DbConnect& component_;
  ShapeCache& shapes_;
  std::shared_ptr<Data::DataTable> shape_;
  State state_ = State::Idle;
};

// The stream of a backend whose writes go through a TableWriter of its own
// (Begin, Write, Commit, each giving its failure, if any; its destructor
// rolls back): `make` makes the writer (in the optional handed to it) when
// the first rows come; `guard` runs each step of it and gives what the step
// reports, or what the backend throws, as a WriteFailure; `upkeep` sees the
// end of every write, failed (true) or committed (false), after the writer
// has rolled back or committed: the component's connection to drop or renew.
template <class Writer, class Make, class Guard, class Upkeep>
class WriterStream final : public BackendStream {
 public:
  WriterStream(DbConnect& component, ShapeCache& shapes, const Data::DataTable& table, Make make, Guard guard,
               Upkeep upkeep)
      : BackendStream(component, shapes, table),
        make_(std::move(make)),
        guard_(std::move(guard)),
        upkeep_(std::move(upkeep)) {}

 private:
  std::optional<WriteFailure> Begin() override {
    make_(writer_, Shape());
    return guard_([&] { return writer_->Begin(); });
  }
  std::optional<WriteFailure> Write(const Data::DataTable& batch, std::uint64_t first) override {
    return guard_([&] { return writer_->Write(batch, first); });
  }
  std::optional<WriteFailure> End() override {
    std::optional<WriteFailure> failure = guard_([&] { return writer_->Commit(); });
    writer_.reset();
    if (!failure) upkeep_(false);
    return failure;
  }
  void Abandon() noexcept override { writer_.reset(); }
  void AfterFailure() override { upkeep_(true); }

  Make make_;
  Guard guard_;
  Upkeep upkeep_;
  std::optional<Writer> writer_;
};

template <class Writer, class Make, class Guard, class Upkeep>
std::unique_ptr<BulkStream> MakeWriterStream(DbConnect& component, ShapeCache& shapes,
                                             const Data::DataTable& table, Make make, Guard guard,
                                             Upkeep upkeep) {
  return std::make_unique<WriterStream<Writer, Make, Guard, Upkeep>>(
      component, shapes, table, std::move(make), std::move(guard), std::move(upkeep));
}

// A whole table through a backend's TableWriter, without a stream: Begin,
// one Write of every row, Commit; the first step's failure, if any (the
// writer rolls back when it goes).
template <class Writer>
auto WriteAtOnce(Writer& writer, const Data::DataTable& table) -> decltype(writer.Begin()) {
  if (auto failure = writer.Begin()) return failure;
  if (auto failure = writer.Write(table, 0)) return failure;
  return writer.Commit();
}

// BulkToTable by way of the component's own stream: every row of `table` in
// one batch, then the commit; the stream's milliseconds are added to
// `executionTime`.
bool WriteWholeTable(DbConnect& component, const Data::DataTable& table, std::int64_t& executionTime);

}  // namespace Tessel
