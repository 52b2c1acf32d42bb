#include "bench/PostgresBench.h"

#include <libpq-fe.h>

#include <bit>
#include <charconv>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include "bench/Verify.h"
#include "tessel/postgres/Handles.h"

namespace Tessel::Bench::PostgresBench {
namespace {

using Postgres::ConnHandle;
using Postgres::ResultHandle;

constexpr const char* kColumns = "(\"i1\", \"i2\", \"i3\", \"d1\", \"d2\", \"dt\", \"t1\", \"t2\")";

[[noreturn]] void Throw(PGconn* conn, const std::string& what) {
  throw std::runtime_error("postgres: " + what + ": " + (conn ? PQerrorMessage(conn) : "out of memory"));
}

ConnHandle Connect(const std::string& uri) {
  ConnHandle conn(PQconnectdb(uri.c_str()));
  if (!conn || PQstatus(conn.get()) != CONNECTION_OK) Throw(conn.get(), "connecting");
  return conn;
}

ResultHandle Run(PGconn* conn, const std::string& sql, ExecStatusType expected) {
  ResultHandle result(PQexec(conn, sql.c_str()));
  if (PQresultStatus(result.get()) != expected) Throw(conn, sql);
  return result;
}

// Appends the row's fields to a COPY text line (tab-separated, newline at
// the end). Texts are escaped as COPY's text format requires, though the
// generated ones never need it: the check is part of what a loader pays.
void AppendCopyLine(std::string& out, const Dataset& data, std::size_t r) {
  char buffer[40];
  auto number = [&](auto value) {
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
    out.append(buffer, end);
    out.push_back('\t');
  };
  auto text = [&](std::string_view value) {
    for (char c : value) {
      switch (c) {
        case '\\':
          out.append("\\\\");
          break;
        case '\t':
          out.append("\\t");
          break;
        case '\n':
          out.append("\\n");
          break;
        case '\r':
          out.append("\\r");
          break;
        default:
          out.push_back(c);
      }
    }
  };
  number(data.I1(r));
  number(data.I2(r));
  number(data.I3(r));
  number(data.D1(r));
  number(data.D2(r));
  out.append(buffer, FormatIsoMillis(data.UnixMillis(r), buffer));
  out.push_back('\t');
  text(data.T1View(r));
  out.push_back('\t');
  text(data.T2View(r));
  out.push_back('\n');
}

// Ends the COPY under way and commits, as both COPY roads do.
void EndCopyAndCommit(PGconn* conn) {
  if (PQputCopyEnd(conn, nullptr) != 1) Throw(conn, "ending COPY");
  ResultHandle end(PQgetResult(conn));
  if (PQresultStatus(end.get()) != PGRES_COMMAND_OK) Throw(conn, "COPY");
  while (ResultHandle more{PQgetResult(conn)}) {
  }
  Run(conn, "COMMIT", PGRES_COMMAND_OK);
}

// A number as the server printed it; empty for a NULL (the sum of no rows),
// read as zero. from_chars, unlike strtod, takes no decimal point from the
// locale.
template <typename Number>
Number CellNumber(const char* text) {
  const std::string_view cell(text);
  Number value{};
  if (cell.empty()) return value;
  const auto [end, ec] = std::from_chars(cell.data(), cell.data() + cell.size(), value);
  if (ec != std::errc() || end != cell.data() + cell.size())
    throw std::runtime_error("postgres: \"" + std::string(cell) + "\" is not the number expected");
  return value;
}

std::int64_t ToInt64(const char* text) { return CellNumber<std::int64_t>(text); }

}  // namespace

std::string Describe(const std::string& uri) {
  ConnHandle conn = Connect(uri);
  ResultHandle r = Run(conn.get(),
                       "SELECT current_setting('server_version'), current_setting('fsync'), "
                       "current_setting('synchronous_commit'), current_setting('full_page_writes'), "
                       "current_setting('shared_buffers'), current_setting('max_wal_size')",
                       PGRES_TUPLES_OK);
  return std::string("PostgreSQL ") + PQgetvalue(r.get(), 0, 0) +
         "; server settings fsync=" + PQgetvalue(r.get(), 0, 1) +
         ", synchronous_commit=" + PQgetvalue(r.get(), 0, 2) +
         ", full_page_writes=" + PQgetvalue(r.get(), 0, 3) + ", shared_buffers=" + PQgetvalue(r.get(), 0, 4) +
         ", max_wal_size=" + PQgetvalue(r.get(), 0, 5);
}

void CreateFreshTable(const std::string& uri) {
  ConnHandle conn = Connect(uri);
  Run(conn.get(), "SET client_min_messages = warning", PGRES_COMMAND_OK);
  Run(conn.get(), "DROP TABLE IF EXISTS bench_rows", PGRES_COMMAND_OK);
  Run(conn.get(),
      "CREATE TABLE bench_rows (i1 integer NOT NULL, i2 integer NOT NULL, i3 integer NOT NULL, "
      "d1 double precision NOT NULL, d2 double precision NOT NULL, dt timestamp NOT NULL, "
      "t1 varchar(20) NOT NULL, t2 varchar(20) NOT NULL)",
      PGRES_COMMAND_OK);
  ResultHandle checkpoint(PQexec(conn.get(), "CHECKPOINT"));  // needs a privileged role; optional
}

void DropTable(const std::string& uri) {
  ConnHandle conn(PQconnectdb(uri.c_str()));
  if (PQstatus(conn.get()) == CONNECTION_OK)
    ResultHandle(PQexec(conn.get(), "DROP TABLE IF EXISTS bench_rows"));
}

Timing RunCopyBaseline(const std::string& uri, const Dataset& data) {
  Stopwatch clock;
  ConnHandle conn = Connect(uri);
  Run(conn.get(), "BEGIN", PGRES_COMMAND_OK);
  Run(conn.get(), std::string("COPY \"bench_rows\" ") + kColumns + " FROM STDIN", PGRES_COPY_IN);
  constexpr std::size_t kChunk = 1 << 18;
  std::string buffer;
  buffer.reserve(kChunk + 512);
  const auto n = data.Rows();
  for (std::size_t r = 0; r < n; ++r) {
    AppendCopyLine(buffer, data, r);
    if (buffer.size() >= kChunk) {
      if (PQputCopyData(conn.get(), buffer.data(), static_cast<int>(buffer.size())) != 1) {
        Throw(conn.get(), "sending COPY data");
      }
      buffer.clear();
    }
  }
  if (!buffer.empty() && PQputCopyData(conn.get(), buffer.data(), static_cast<int>(buffer.size())) != 1) {
    Throw(conn.get(), "sending COPY data");
  }
  EndCopyAndCommit(conn.get());
  return {clock.WallSeconds(), clock.CpuSeconds(), {}};
}

Timing RunCopyBinary(const std::string& uri, const Dataset& data) {
  // Microseconds from 1970-01-01 to 2000-01-01, the server's epoch.
  constexpr std::int64_t kEpochShift = 946'684'800'000'000;
  Stopwatch clock;
  ConnHandle conn = Connect(uri);
  Run(conn.get(), "BEGIN", PGRES_COMMAND_OK);
  Run(conn.get(), std::string("COPY \"bench_rows\" ") + kColumns + " FROM STDIN WITH (FORMAT binary)",
      PGRES_COPY_IN);
  constexpr std::size_t kChunk = 1 << 18;
  std::string buffer;
  buffer.reserve(kChunk + 512);
  auto big = [&buffer](auto value) {
    char bytes[sizeof value];
    for (std::size_t i = 0; i < sizeof value; ++i)
      bytes[i] = static_cast<char>(static_cast<std::uint64_t>(value) >> (8 * (sizeof value - 1 - i)));
    buffer.append(bytes, sizeof bytes);
  };
  auto field = [&](auto value) {
    big(static_cast<std::int32_t>(sizeof value));
    big(value);
  };
  auto text = [&](std::string_view value) {
    big(static_cast<std::int32_t>(value.size()));
    buffer.append(value);
  };
  auto send = [&] {
    if (PQputCopyData(conn.get(), buffer.data(), static_cast<int>(buffer.size())) != 1) {
      Throw(conn.get(), "sending COPY data");
    }
    buffer.clear();
  };
  buffer.append("PGCOPY\n\377\r\n\0", 11);
  big(std::int32_t{0});  // flags
  big(std::int32_t{0});  // header extension
  const auto n = data.Rows();
  for (std::size_t r = 0; r < n; ++r) {
    big(std::int16_t{8});
    field(data.I1(r));
    field(data.I2(r));
    field(data.I3(r));
    field(std::bit_cast<std::uint64_t>(data.D1(r)));
    field(std::bit_cast<std::uint64_t>(data.D2(r)));
    field(data.UnixMillis(r) * 1000 - kEpochShift);
    text(data.T1View(r));
    text(data.T2View(r));
    if (buffer.size() >= kChunk) send();
  }
  big(std::int16_t{-1});
  send();
  EndCopyAndCommit(conn.get());
  return {clock.WallSeconds(), clock.CpuSeconds(), {}};
}

Timing RunInsertRoad(const std::string& uri, const Dataset& data) {
  Stopwatch clock;
  ConnHandle conn = Connect(uri);
  ResultHandle prepared(PQprepare(
      conn.get(), "bench_insert",
      (std::string("INSERT INTO \"bench_rows\" ") + kColumns + " VALUES ($1, $2, $3, $4, $5, $6, $7, $8)")
          .c_str(),
      8, nullptr));
  if (PQresultStatus(prepared.get()) != PGRES_COMMAND_OK) Throw(conn.get(), "PREPARE");
  Run(conn.get(), "BEGIN", PGRES_COMMAND_OK);
  char numbers[6][40];
  const char* values[8];
  const auto n = data.Rows();
  for (std::size_t r = 0; r < n; ++r) {
    auto put = [&](int slot, auto value) {
      *std::to_chars(numbers[slot], numbers[slot] + 39, value).ptr = '\0';
      values[slot] = numbers[slot];
    };
    put(0, data.I1(r));
    put(1, data.I2(r));
    put(2, data.I3(r));
    put(3, data.D1(r));
    put(4, data.D2(r));
    numbers[5][FormatIsoMillis(data.UnixMillis(r), numbers[5])] = '\0';
    values[5] = numbers[5];
    values[6] = data.T1(r);
    values[7] = data.T2(r);
    ResultHandle done(PQexecPrepared(conn.get(), "bench_insert", 8, values, nullptr, nullptr, 0));
    if (PQresultStatus(done.get()) != PGRES_COMMAND_OK)
      Throw(conn.get(), "insert at row " + std::to_string(r));
  }
  Run(conn.get(), "COMMIT", PGRES_COMMAND_OK);
  return {clock.WallSeconds(), clock.CpuSeconds(), {}};
}

void Verify(const std::string& road, const std::string& uri, const Dataset& data) {
  ConnHandle conn = Connect(uri);
  {
    ResultHandle r = Run(conn.get(),
                         "SELECT count(*), sum(i1::bigint), sum(i2::bigint), sum(i3::bigint), "
                         "sum(length(t1)), sum(length(t2)) FROM bench_rows",
                         PGRES_TUPLES_OK);
    TableSummary stored;
    stored.count = ToInt64(PQgetvalue(r.get(), 0, 0));
    stored.sumI1 = ToInt64(PQgetvalue(r.get(), 0, 1));
    stored.sumI2 = ToInt64(PQgetvalue(r.get(), 0, 2));
    stored.sumI3 = ToInt64(PQgetvalue(r.get(), 0, 3));
    stored.sumLengthT1 = ToInt64(PQgetvalue(r.get(), 0, 4));
    stored.sumLengthT2 = ToInt64(PQgetvalue(r.get(), 0, 5));
    CheckSummary(road, data, stored);
  }
  for (std::size_t row : SpotRows(data)) {
    const std::string key = std::to_string(data.I1(row));
    const char* params[1] = {key.c_str()};
    ResultHandle r(PQexecParams(conn.get(),
                                "SELECT i2, i3, d1, d2, (extract(epoch FROM dt) * 1000)::bigint, t1, t2 "
                                "FROM bench_rows WHERE i1 = $1",
                                1, nullptr, params, nullptr, nullptr, 0));
    if (PQresultStatus(r.get()) != PGRES_TUPLES_OK) Throw(conn.get(), "reading row i1=" + key);
    if (PQntuples(r.get()) != 1) {
      throw std::runtime_error(road + ": " + std::to_string(PQntuples(r.get())) + " rows with i1=" + key +
                               ", expected one");
    }
    StoredRow stored;
    stored.i2 = ToInt64(PQgetvalue(r.get(), 0, 0));
    stored.i3 = ToInt64(PQgetvalue(r.get(), 0, 1));
    stored.d1 = CellNumber<double>(PQgetvalue(r.get(), 0, 2));
    stored.d2 = CellNumber<double>(PQgetvalue(r.get(), 0, 3));
    stored.dtMillis = ToInt64(PQgetvalue(r.get(), 0, 4));
    stored.t1 = PQgetvalue(r.get(), 0, 5);
    stored.t2 = PQgetvalue(r.get(), 0, 6);
    CheckRow(road, data, row, stored);
  }
}

}  // namespace Tessel::Bench::PostgresBench
