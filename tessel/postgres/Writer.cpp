#include "tessel/postgres/Writer.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <span>

#include "data/TableImpl.h"
#include "data/TableLoad.h"
#include "tessel/NameLookup.h"
#include "tessel/postgres/CopyFormat.h"
#include "tessel/postgres/Handles.h"
#include "tessel/postgres/PostgresConnect.h"
#include "tessel/postgres/TypeMap.h"

namespace Tessel::Postgres {
namespace {

using Data::RecordId;

// Which Generated columns a row leaves out: bit k of word k / 64 for the k-th
// Generated column of the plan.
using OmissionMask = std::vector<std::uint64_t>;

void MaskOf(const Data::DataTable& table, const CopyPlan& plan, const std::vector<std::size_t>& generated,
            RecordId record, OmissionMask& mask) {
  std::fill(mask.begin(), mask.end(), 0);
  for (std::size_t k = 0; k < generated.size(); ++k)
    if (table.IsNull(record, plan.columns[generated[k]].modelIndex))
      mask[k / 64] |= std::uint64_t{1} << (k % 64);
}

// One COPY statement over the plan's columns less those the mask leaves out.
std::optional<Failure> CopyOneGroup(PGconn* conn, const CopyPlan& plan, const Data::DataTable& table,
                                    const std::vector<std::size_t>& generated, const OmissionMask& mask,
                                    std::span<const RecordId> records, Data::detail::RowsToWrite* stream) {
  std::vector<bool> omitted(plan.columns.size(), false);
  for (std::size_t k = 0; k < generated.size(); ++k)
    if (mask[k / 64] & (std::uint64_t{1} << (k % 64))) omitted[generated[k]] = true;

  struct Field {
    std::size_t column;
    FieldCodec codec;
    const Data::detail::ColumnStore* store;  // read directly, cell by cell
  };
  const std::vector<Data::detail::ColumnStore>& stores = Data::detail::TableAccess::Stores(table);
  std::vector<Field> fields;
  std::string sql = "COPY " + plan.target + " (";
  for (std::size_t c = 0; c < plan.columns.size(); ++c) {
    if (omitted[c]) continue;
    const CopyColumn& column = plan.columns[c];
    const Data::DataType modelType = table.Column(column.modelIndex).Type;
    const FieldCodec codec = plan.binary ? *BinaryCodecFor(column.serverType, modelType)
                                         : TextCodecFor(column.serverType, modelType);
    if (!fields.empty()) sql += ", ";
    sql += QuoteIdentifier(column.serverName);
    fields.push_back({column.modelIndex, codec, &stores[column.modelIndex]});
  }
  if (fields.empty()) {
    // Every column left to the server: COPY needs at least one column, so
    // insert default rows instead.
    const std::string insert = "INSERT INTO " + plan.target + " DEFAULT VALUES";
    for (std::size_t n = 0; n < records.size(); ++n) {
      ResultHandle result(PQexec(conn, insert.c_str()));
      if (!result || PQresultStatus(result.get()) != PGRES_COMMAND_OK) return FailureOf(conn, result.get());
    }
    return std::nullopt;
  }
  sql += plan.binary ? ") FROM STDIN WITH (FORMAT binary)" : ") FROM STDIN";

  ResultHandle start(PQexec(conn, sql.c_str()));
  if (!start || PQresultStatus(start.get()) != PGRES_COPY_IN) return FailureOf(conn, start.get());
  start.reset();

  CopyBuffer buffer(conn);
  std::optional<Failure> clientFailure;
  if (plan.binary) AppendBinaryHeader(buffer);
  const auto fieldCount = static_cast<std::uint16_t>(fields.size());
  // Rows still being made are sent a chunk at a time as they come, so that
  // the server takes in one chunk while the next is made.
  constexpr std::size_t kChunkRows = 4096;
  std::size_t position = 0;
  while (!clientFailure && !buffer.Failed()) {
    if (stream != nullptr && !stream->Upto(position + kChunkRows, records)) {
      clientFailure = ClientFailure("the rows to write could not all be made");
      break;
    }
    if (position >= records.size()) break;
    const auto lease = stream != nullptr ? stream->Lease() : std::shared_lock<std::shared_mutex>();
    const std::size_t end =
        stream != nullptr ? std::min(records.size(), position + kChunkRows) : records.size();
    for (; position < end; ++position) {
      const RecordId record = records[position];
      if (plan.binary) AppendBinaryFieldCount(buffer, fieldCount);
      for (std::size_t f = 0; f < fields.size(); ++f) {
        if (!plan.binary && f != 0) buffer.Append('\t');
        if (!AppendCell(buffer, fields[f].codec, *fields[f].store, record)) {
          const Data::DataColumn& column = table.Column(fields[f].column);
          clientFailure =
              ClientFailure("the value '" + std::string(fields[f].store->Text(record)) + "' in column " +
                            Quoted(column.ColumnName) + " of table " + Quoted(plan.displayName) + " is no " +
                            std::string(Data::DataTypeName(column.Type)));
          break;
        }
      }
      if (clientFailure) break;
      if (!plan.binary) buffer.Append('\n');
      buffer.EndRow();
      if (buffer.Failed()) break;  // the server has stopped the COPY; its result says why
    }
  }
  if (!clientFailure && !buffer.Failed()) {
    if (plan.binary) AppendBinaryTrailer(buffer);
    buffer.Send();
  }
  // Ending with an error message makes the server abandon what it received.
  PQputCopyEnd(conn, clientFailure ? "abandoned by the client" : nullptr);

  std::optional<Failure> failure;
  while (PGresult* raw = PQgetResult(conn)) {
    ResultHandle result(raw);
    const ExecStatusType status = PQresultStatus(raw);
    if (status == PGRES_COPY_IN) {
      // Still in COPY: the end could not be sent, the connection is gone.
      PQputCopyEnd(conn, "abandoned by the client");
      if (PQstatus(conn) != CONNECTION_OK) {
        if (!failure) failure = FailureOf(conn, nullptr);
        break;
      }
      continue;
    }
    if (status != PGRES_COMMAND_OK && !failure) failure = FailureOf(conn, raw);
  }
  if (clientFailure) return clientFailure;
  if (!failure && (buffer.Failed() || PQstatus(conn) != CONNECTION_OK)) failure = FailureOf(conn, nullptr);
  return failure;
}

// PostgresConnect writes its tables through CopyRows, which takes tables
// still being filled; it asks for the rows only after reading the count of
// those already there, so it is handed a table once that count is final or
// at least one (TableFeed).
[[maybe_unused]] const bool kTakesFeeds = (Data::detail::AcceptTableFeeds(typeid(PostgresConnect)), true);

}  // namespace

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
    plan.columns.push_back({i, server.name, server.type, model.Generated});
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

std::optional<Failure> CopyRows(PGconn* conn, const CopyPlan& plan, const Data::DataTable& table) {
  Data::detail::RowsToWrite source(table);
  std::span<const RecordId> records;
  if (!source.Upto(1, records)) return ClientFailure("the rows to write could not all be made");
  if (records.empty()) return std::nullopt;

  std::vector<std::size_t> generated;  // plan columns that are Generated
  for (std::size_t c = 0; c < plan.columns.size(); ++c)
    if (plan.columns[c].generated) generated.push_back(c);
  OmissionMask mask((generated.size() + 63) / 64, 0);
  if (generated.empty() && !plan.columns.empty())
    return CopyOneGroup(conn, plan, table, generated, mask, records, source.Streamed() ? &source : nullptr);
  // Rows are grouped by the columns they leave to the server, which takes
  // them all: rows still being made are waited for.
  if (!source.Upto(SIZE_MAX, records)) return ClientFailure("the rows to write could not all be made");
  if (generated.empty()) return CopyOneGroup(conn, plan, table, generated, mask, records, nullptr);

  // The usual case is one group (every row fills the Generated columns, or
  // none does): check that first, without building a list of records.
  OmissionMask firstMask = mask;
  MaskOf(table, plan, generated, records.front(), firstMask);
  bool uniform = true;
  for (RecordId record : records) {
    MaskOf(table, plan, generated, record, mask);
    if (mask != firstMask) {
      uniform = false;
      break;
    }
  }
  if (uniform) return CopyOneGroup(conn, plan, table, generated, firstMask, records, nullptr);

  // Groups in the order of their first row; rows keep their order in a group.
  std::map<OmissionMask, std::size_t> groupOfMask;
  std::vector<std::pair<OmissionMask, std::vector<RecordId>>> groups;
  for (RecordId record : records) {
    MaskOf(table, plan, generated, record, mask);
    auto [it, added] = groupOfMask.try_emplace(mask, groups.size());
    if (added) groups.emplace_back(mask, std::vector<RecordId>());
    groups[it->second].second.push_back(record);
  }
  for (const auto& [groupMask, groupRecords] : groups)
    if (auto failure = CopyOneGroup(conn, plan, table, generated, groupMask, groupRecords, nullptr))
      return failure;
  return std::nullopt;
}

}  // namespace Tessel::Postgres
