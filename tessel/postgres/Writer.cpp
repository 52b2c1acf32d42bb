#include "tessel/postgres/Writer.h"

#include <algorithm>
#include <cstdint>
#include <map>

#include "data/TableImpl.h"
#include "tessel/NameLookup.h"
#include "tessel/StorableValues.h"
#include "tessel/dialect/postgres/TypeMap.h"
#include "tessel/dialect/postgres/ValueRules.h"
#include "tessel/postgres/Commit.h"
#include "tessel/postgres/CopyFormat.h"
#include "tessel/postgres/Handles.h"
#include "tessel/postgres/PostgresConnect.h"

namespace Tessel::Postgres {
namespace {

using Data::RecordId;

// PostgresConnect's writes take tables still being filled (CopyStream); the
// stream reads a table's row count only to see that it has one, so it is
// handed a table once that count is final or at least one (TableFeed).
[[maybe_unused]] const bool kTakesFeeds = (Data::detail::AcceptTableFeeds(typeid(PostgresConnect)), true);

// The first value of `records` the server cannot keep, as the write's
// failure.
std::optional<Failure> RefuseUnstorable(const Data::DataTable& batch, std::span<const RecordId> records,
                                        std::uint64_t first) {
  std::optional<WriteFailure> refused = Tessel::RefuseUnstorable(batch, records, first, kLimits);
  if (!refused) return std::nullopt;
  Failure failure = ClientFailure(std::move(refused->reason));
  failure.refused = true;
  failure.row = refused->row;
  return failure;
}

}  // namespace

// The statement in progress: which columns it leaves out, how its fields are
// written, and which position of the write each of its lines carries.
struct CopyStream::Open {
  struct Field {
    std::size_t column;  // the model column
    FieldCodec codec;
  };
  // Lines `line` to `line + count - 1` of the COPY (1-based) carry the rows
  // at positions `position` to `position + count - 1`.
  struct Run {
    std::uint64_t line;
    std::uint64_t position;
    std::uint64_t count;
  };

  Open(PGconn* conn, std::vector<bool> leftOut) : omitted(std::move(leftOut)), buffer(conn) {}

  bool IsCopy() const noexcept { return !fields.empty(); }
  void Count(std::uint64_t position) {
    ++lines;
    if (!runs.empty() && runs.back().position + runs.back().count == position) {
      ++runs.back().count;
    } else {
      runs.push_back({lines, position, 1});
    }
  }
  std::optional<std::uint64_t> PositionOf(std::uint64_t line) const {
    for (const Run& run : runs)
      if (line >= run.line && line < run.line + run.count) return run.position + (line - run.line);
    return std::nullopt;
  }

  std::vector<bool> omitted;  // per plan column
  std::vector<Field> fields;  // none: every column left to the server (rows of defaults, no COPY)
  CopyBuffer buffer;
  std::uint64_t lines = 0;  // rows sent
  std::vector<Run> runs;
};

CopyStream::CopyStream(PGconn* conn, const CopyPlan& plan) : conn_(conn), plan_(plan) {
  for (std::size_t c = 0; c < plan.columns.size(); ++c)
    if (plan.columns[c].generated) generated_.push_back(c);
}

CopyStream::~CopyStream() {
  if (open_ && open_->IsCopy()) {
    PQputCopyEnd(conn_, "abandoned by the client");
    DrainResults(conn_);
  }
}

std::optional<Failure> CopyStream::Start(const std::vector<bool>& omitted) {
  if (auto failure = Finish()) return failure;
  auto open = std::make_unique<Open>(conn_, omitted);
  std::string sql = "COPY " + plan_.target + " (";
  for (std::size_t c = 0; c < plan_.columns.size(); ++c) {
    if (omitted[c]) continue;
    const CopyColumn& column = plan_.columns[c];
    const FieldCodec codec = plan_.binary ? *BinaryCodecFor(column.serverType, column.modelType)
                                          : TextCodecFor(column.serverType, column.modelType);
    if (open->IsCopy()) sql += ", ";
    sql += QuoteIdentifier(column.serverName);
    open->fields.push_back({column.modelIndex, codec});
  }
  if (open->IsCopy()) {
    sql += plan_.binary ? ") FROM STDIN WITH (FORMAT binary)" : ") FROM STDIN";
    ResultHandle start(PQexec(conn_, sql.c_str()));
    if (!start || PQresultStatus(start.get()) != PGRES_COPY_IN) return FailureOf(conn_, start.get());
    if (plan_.binary) AppendBinaryHeader(open->buffer);
  }
  open_ = std::move(open);
  return std::nullopt;
}

std::optional<Failure> CopyStream::Send(const Data::DataTable& batch, std::uint64_t first,
                                        std::span<const RecordId> records,
                                        const std::vector<std::size_t>* indexes) {
  Open& open = *open_;
  const std::size_t count = indexes != nullptr ? indexes->size() : records.size();
  if (!open.IsCopy()) {
    // Every column left to the server: COPY needs at least one column, so
    // rows of defaults are inserted instead.
    const std::string insert = "INSERT INTO " + plan_.target + " DEFAULT VALUES";
    for (std::size_t k = 0; k < count; ++k) {
      ResultHandle result(PQexec(conn_, insert.c_str()));
      if (!result || PQresultStatus(result.get()) != PGRES_COMMAND_OK) {
        Failure failure = FailureOf(conn_, result.get());
        if (BlamesTheRows(CategoryOf(failure))) {
          failure.row = first + (indexes != nullptr ? (*indexes)[k] : k);
          failure.text = RowAtPosition(*failure.row) + ": " + failure.text;
        }
        return failure;
      }
    }
    return std::nullopt;
  }

  struct Field {
    FieldCodec codec;
    Data::detail::ColumnStore::View cells;  // read directly, cell by cell
  };
  const std::vector<Data::detail::ColumnStore>& stores = Data::detail::TableAccess::Stores(batch);
  std::vector<Field> fields;
  fields.reserve(open.fields.size());
  for (const Open::Field& field : open.fields) fields.push_back({field.codec, stores[field.column].Cells()});
  const auto fieldCount = static_cast<std::uint16_t>(fields.size());
  CopyBuffer& buffer = open.buffer;
  for (std::size_t k = 0; k < count && !buffer.Failed(); ++k) {
    const std::size_t index = indexes != nullptr ? (*indexes)[k] : k;
    const RecordId record = records[index];
    if (plan_.binary) AppendBinaryFieldCount(buffer, fieldCount);
    for (std::size_t f = 0; f < fields.size(); ++f) {
      if (!plan_.binary && f != 0) buffer.Append('\t');
      if (!AppendCell(buffer, fields[f].codec, fields[f].cells, record)) {
        const Data::DataColumn& column = batch.Column(open.fields[f].column);
        // A decimal that is no number, or a value longer than a field's
        // length word can say (the check before the write refuses it first).
        Failure failure =
            fields[f].codec == FieldCodec::kBinaryNumeric
                ? ClientFailure(RowAtPosition(first + index) + ": the value '" +
                                std::string(fields[f].cells.Text(record)) + "' in column " +
                                Quoted(column.ColumnName) + " of table " + Quoted(plan_.displayName) +
                                " is no " + std::string(Data::DataTypeName(column.Type)))
                : ClientFailure(RowAtPosition(first + index) + ", column " + Quoted(column.ColumnName) +
                                ": a value too long for one field of COPY");
        failure.refused = fields[f].codec != FieldCodec::kBinaryNumeric;
        failure.row = first + index;
        End("abandoned by the client");
        return failure;
      }
    }
    if (!plan_.binary) buffer.Append('\n');
    open.Count(first + index);
    buffer.EndRow();
  }
  // The server has stopped the COPY: its result says why.
  if (buffer.Failed()) return End("abandoned by the client");
  return std::nullopt;
}

std::optional<Failure> CopyStream::End(const char* error) {
  const std::unique_ptr<Open> open = std::move(open_);
  if (!open || !open->IsCopy()) return std::nullopt;
  if (error == nullptr && !open->buffer.Failed()) {
    if (plan_.binary) AppendBinaryTrailer(open->buffer);
    open->buffer.Send();
  }
  // Ending with an error message makes the server abandon what it received.
  PQputCopyEnd(conn_, error != nullptr || open->buffer.Failed() ? "abandoned by the client" : nullptr);

  std::optional<Failure> failure;
  while (PGresult* raw = PQgetResult(conn_)) {
    ResultHandle result(raw);
    const ExecStatusType status = PQresultStatus(raw);
    if (status == PGRES_COPY_IN) {
      // Still in COPY: the end could not be sent, the connection is gone.
      PQputCopyEnd(conn_, "abandoned by the client");
      if (PQstatus(conn_) != CONNECTION_OK) {
        if (!failure) failure = FailureOf(conn_, nullptr);
        break;
      }
      continue;
    }
    if (status != PGRES_COMMAND_OK && !failure) failure = FailureOf(conn_, raw);
  }
  if (!failure && (open->buffer.Failed() || PQstatus(conn_) != CONNECTION_OK))
    failure = FailureOf(conn_, nullptr);
  // The server names the line it was reading whatever the failure; only a
  // refusal of that row's values is the row's fault (a terminated session
  // is not).
  if (failure && failure->copyLine && BlamesTheRows(CategoryOf(*failure))) {
    if (const std::optional<std::uint64_t> position = open->PositionOf(*failure->copyLine)) {
      failure->row = *position;
      failure->text = RowAtPosition(*position) + ": " + failure->text;
    }
  }
  return failure;
}

std::optional<Failure> CopyStream::Finish() { return End(nullptr); }

std::optional<Failure> CopyStream::SendAsMade(const Data::DataTable& batch, std::uint64_t first,
                                              Data::detail::RowsToWrite& source) {
  constexpr std::size_t kChunkRows = 4096;
  std::span<const RecordId> records;
  for (std::size_t sent = 0;;) {
    if (!source.Upto(sent + kChunkRows, records)) {
      End("abandoned by the client");
      return ClientFailure("the rows to write could not all be made");
    }
    if (sent >= records.size()) return std::nullopt;
    const std::size_t end = std::min(records.size(), sent + kChunkRows);
    // The cells stay where they are while the chunk is read.
    const auto lease = source.Lease();
    const std::span<const RecordId> chunk = records.subspan(sent, end - sent);
    if (auto refused = RefuseUnstorable(batch, chunk, first + sent)) {
      End("abandoned by the client");
      return refused;
    }
    if (auto failure = Send(batch, first + sent, chunk, nullptr)) return failure;
    sent = end;
  }
}

std::optional<Failure> CopyStream::Write(const Data::DataTable& batch, std::uint64_t first) {
  Data::detail::RowsToWrite source(batch);
  std::span<const RecordId> records;
  if (!source.Upto(1, records)) return ClientFailure("the rows to write could not all be made");
  if (records.empty()) return std::nullopt;
  std::vector<bool> omitted(plan_.columns.size(), false);
  if (source.Streamed() && generated_.empty()) {
    if (!open_ || open_->omitted != omitted)
      if (auto failure = Start(omitted)) return failure;
    return SendAsMade(batch, first, source);
  }
  // Grouping by the columns left to the server needs every row.
  if (!source.Upto(SIZE_MAX, records)) return ClientFailure("the rows to write could not all be made");
  if (auto refused = RefuseUnstorable(batch, records, first)) return refused;
  auto omittedBy = [&](RecordId record, std::vector<bool>& out) {
    for (std::size_t c : generated_) out[c] = batch.IsNull(record, plan_.columns[c].modelIndex);
  };
  // The usual case is one group (no Generated column, or every row fills
  // them, or none does): checked first, without a list of rows.
  bool uniform = true;
  if (!generated_.empty()) {
    omittedBy(records.front(), omitted);
    std::vector<bool> mask = omitted;
    for (RecordId record : records) {
      omittedBy(record, mask);
      if (mask != omitted) {
        uniform = false;
        break;
      }
    }
  }
  if (uniform) {
    if (!open_ || open_->omitted != omitted)
      if (auto failure = Start(omitted)) return failure;
    return Send(batch, first, records, nullptr);
  }

  // Groups in the order of their first row; rows keep their order in a
  // group. The group of the COPY in progress goes first.
  std::map<std::vector<bool>, std::size_t> groupOf;
  std::vector<std::pair<std::vector<bool>, std::vector<std::size_t>>> groups;
  if (open_) {
    groupOf.emplace(open_->omitted, 0);
    groups.emplace_back(open_->omitted, std::vector<std::size_t>());
  }
  for (std::size_t i = 0; i < records.size(); ++i) {
    omittedBy(records[i], omitted);
    auto [it, added] = groupOf.try_emplace(omitted, groups.size());
    if (added) groups.emplace_back(omitted, std::vector<std::size_t>());
    groups[it->second].second.push_back(i);
  }
  for (const auto& [mask, indexes] : groups) {
    if (indexes.empty()) continue;
    if (!open_ || open_->omitted != mask)
      if (auto failure = Start(mask)) return failure;
    if (auto failure = Send(batch, first, records, &indexes)) return failure;
  }
  return std::nullopt;
}

std::optional<Failure> PlanCopy(const Data::DataTable& table, const TableShape& shape, CopyPlan& plan) {
  plan.target = QualifiedName(shape.schema, shape.name);
  plan.displayName = table.TableName();
  plan.columns.clear();
  plan.binary = true;

  std::vector<std::string> serverNames;
  serverNames.reserve(shape.columns.size());
  for (const ServerColumn& column : shape.columns) serverNames.push_back(column.name);
  std::vector<bool> matched(shape.columns.size(), false);
  const std::string tableText = "table " + Quoted(table.TableName());

  for (std::size_t i = 0; i < table.ColumnCount(); ++i) {
    const Data::DataColumn& model = table.Column(i);
    const std::optional<std::string> picked = PickByName(model.ColumnName, serverNames);
    std::size_t s = 0;
    while (picked && serverNames[s] != *picked) ++s;
    if (!picked || shape.columns[s].storedGenerated || matched[s])
      return ClientFailure("column " + Quoted(model.ColumnName) + " of " + tableText +
                               " is no longer a writable column in the database",
                           true);
    const ServerColumn& server = shape.columns[s];
    if (DataTypeOf(server.type) != model.Type)
      return ClientFailure("column " + Quoted(model.ColumnName) + " of " + tableText + " is " +
                               server.declaredType + " in the database, which does not hold " +
                               std::string(Data::DataTypeName(model.Type)),
                           true);
    matched[s] = true;
    plan.columns.push_back({i, model.Type, server.name, server.type, model.Generated});
    if (!BinaryCodecFor(server.type, model.Type)) plan.binary = false;
  }
  for (std::size_t s = 0; s < shape.columns.size(); ++s) {
    const ServerColumn& server = shape.columns[s];
    if (!matched[s] && server.notNull && !server.defaultExpression && !server.identity &&
        !server.storedGenerated)
      return ClientFailure(
          "the database's " + tableText + " has a new required column " + Quoted(server.name), true);
  }
  return std::nullopt;
}

TableWriter::TableWriter(Session& session, std::string schema, const Data::DataTable& table)
    : session_(session), schema_(std::move(schema)), table_(table) {}

TableWriter::~TableWriter() {
  copy_.reset();
  transaction_.reset();
}

std::optional<Failure> TableWriter::Begin() {
  conn_ = session_.Connection();
  transaction_.emplace(conn_);
  if (ResultHandle begin = transaction_->Begin(); !begin || PQresultStatus(begin.get()) != PGRES_COMMAND_OK)
    return FailureOf(conn_, begin.get());
  // The check runs in the transaction, just before the COPY, so that it sees
  // the table as the write will (a concurrent change still fails the COPY
  // with a schema SQLSTATE).
  const std::optional<TableShape> shape = ReadTableShape(session_, schema_, table_.TableName(), false);
  if (!shape)
    return ClientFailure("table " + Quoted(table_.TableName()) + " is no longer in schema " + Quoted(schema_),
                         true);
  if (auto mismatch = PlanCopy(table_, *shape, plan_)) return mismatch;
  reachesOtherServers_ = shape->reachesOtherServers;
  copy_.emplace(conn_, plan_);
  return std::nullopt;
}

std::optional<Failure> TableWriter::Write(const Data::DataTable& batch, std::uint64_t first) {
  return copy_->Write(batch, first);
}

std::optional<Failure> TableWriter::Commit() {
  std::optional<Failure> failure = copy_->Finish();
  copy_.reset();
  if (failure) return failure;
  // Known before COMMIT, so that the server can be asked about this
  // transaction should the answer to COMMIT be lost (Commit.h).
  std::string transactionId;
  if (auto failure = ReadTransactionId(conn_, transactionId)) return failure;
  failure = CommitWrite(session_, conn_, *transaction_, transactionId);
  if (failure && reachesOtherServers_ && !failure->outcomeUnknown) {
    // The other servers commit their part while this one commits; one that
    // fails does not undo the parts others committed already. Neither
    // "nothing written" nor a rerun (which could write rows twice) is true.
    failure->outcomeUnknown = true;
    failure->row.reset();
    failure->text = "the rows of table " + Quoted(table_.TableName()) +
                    " go to other servers (a foreign table or foreign partitions), and COMMIT failed after "
                    "some of them may have committed their part: " +
                    failure->text;
  }
  return failure;
}

}  // namespace Tessel::Postgres
