#include "tessel/odbc/Writer.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <numeric>
#include <span>

#include "tessel/CivilDate.h"
#include "tessel/NameLookup.h"
#include "tessel/StorableValues.h"
#include "tessel/dialect/postgres/ValueRules.h"
#include "tessel/dialect/sqlite/TypeMap.h"
#include "tessel/dialect/sqlite/ValueRules.h"
#include "tessel/odbc/TypeMap.h"

namespace Tessel::Odbc {
namespace {

using Data::DataType;
using Data::RecordId;

constexpr std::size_t kChunkRows = 1024;
constexpr std::size_t kChunkBytes = std::size_t{16} << 20;
constexpr SQLUSMALLINT kStatusUnset = 0xFFFF;

// How one column's values travel.
enum class Carrier { Integer, Bit, Double, DecimalText, WideText, Bytes, Timestamp, Date, IsoText, IsoDay };

Carrier CarrierFor(DataType type, const InsertColumn& column, Dbms dbms) {
  switch (type) {
    case DataType::Boolean:
      return Carrier::Bit;
    case DataType::Int16:
    case DataType::Int32:
    case DataType::Int64:
      return Carrier::Integer;
    case DataType::Double:
      return Carrier::Double;
    case DataType::Decimal:
      return Carrier::DecimalText;
    case DataType::String:
      return Carrier::WideText;
    case DataType::Binary:
      return Carrier::Bytes;
    case DataType::DateTime:
      if (dbms == Dbms::SQLite)
        return Sqlite::DeclaresDay(column.typeName) ? Carrier::IsoDay : Carrier::IsoText;
      return column.sqlType == SQL_TYPE_DATE || column.sqlType == SQL_DATE ? Carrier::Date
                                                                           : Carrier::Timestamp;
  }
  return Carrier::WideText;
}

// One parameter: a column's values for the rows of a chunk, laid out as the
// driver reads a column-wise array.
struct Parameter {
  const InsertColumn* column = nullptr;
  Carrier carrier = Carrier::WideText;
  std::size_t width = 0;  // bytes per element
  std::vector<unsigned char> buffer;
  std::vector<SQLLEN> indicators;
};

// The bytes per element `parameter` needs for the chunk's rows: fixed for
// fixed-size values, the longest value (and its terminator) for the others.
std::size_t WidthFor(const Parameter& parameter, const Data::DataTable& table,
                     std::span<const RecordId> records) {
  const std::size_t column = parameter.column->modelIndex;
  switch (parameter.carrier) {
    case Carrier::Integer:
      return sizeof(SQLBIGINT);
    case Carrier::Bit:
      return sizeof(unsigned char);
    case Carrier::Double:
      return sizeof(double);
    case Carrier::Timestamp:
      return sizeof(SQL_TIMESTAMP_STRUCT);
    case Carrier::Date:
      return sizeof(SQL_DATE_STRUCT);
    case Carrier::IsoText:
    case Carrier::IsoDay:
      return Sqlite::kIsoDateTimeCapacity;
    case Carrier::DecimalText:
    case Carrier::WideText:
    case Carrier::Bytes:
      break;
  }
  std::size_t longest = 0;
  for (RecordId record : records) {
    if (table.IsNull(record, column)) continue;
    longest = std::max(longest, parameter.carrier == Carrier::Bytes ? table.GetBytes(record, column).size()
                                                                    : table.GetText(record, column).size());
  }
  // UTF-16 never takes more units than UTF-8 takes bytes.
  if (parameter.carrier == Carrier::WideText) return (longest + 1) * sizeof(SQLWCHAR);
  if (parameter.carrier == Carrier::DecimalText) return longest + 1;
  return std::max<std::size_t>(longest, 1);
}

// The fraction of a second in nanoseconds, cut to the digits the column keeps.
SQLUINTEGER Fraction(std::int64_t ticksOfSecond, SQLSMALLINT digits) {
  std::int64_t nanoseconds = ticksOfSecond * 100;
  if (digits >= 0 && digits < 9) {
    std::int64_t unit = 1;
    for (int d = digits; d < 9; ++d) unit *= 10;
    nanoseconds -= nanoseconds % unit;
  }
  return static_cast<SQLUINTEGER>(nanoseconds);
}

void Fill(Parameter& p, const Data::DataTable& table, std::span<const RecordId> records) {
  const std::size_t column = p.column->modelIndex;
  p.buffer.resize(p.width * records.size());
  p.indicators.resize(records.size());
  for (std::size_t i = 0; i < records.size(); ++i) {
    const RecordId record = records[i];
    unsigned char* cell = p.buffer.data() + i * p.width;
    SQLLEN& indicator = p.indicators[i];
    if (table.IsNull(record, column)) {
      indicator = SQL_NULL_DATA;
      continue;
    }
    switch (p.carrier) {
      case Carrier::Integer: {
        const SQLBIGINT value = table.GetInt64(record, column);
        std::memcpy(cell, &value, sizeof value);
        indicator = sizeof value;
        break;
      }
      case Carrier::Bit:
        *cell = table.GetInt64(record, column) != 0 ? 1 : 0;
        indicator = 1;
        break;
      case Carrier::Double: {
        const double value = table.GetDouble(record, column);
        std::memcpy(cell, &value, sizeof value);
        indicator = sizeof value;
        break;
      }
      case Carrier::DecimalText: {
        const std::string_view text = table.GetText(record, column);
        std::memcpy(cell, text.data(), text.size());
        cell[text.size()] = 0;
        indicator = static_cast<SQLLEN>(text.size());
        break;
      }
      case Carrier::WideText: {
        auto* units = reinterpret_cast<SQLWCHAR*>(cell);
        const std::size_t n = PutWide(table.GetText(record, column), units);
        units[n] = 0;
        indicator = static_cast<SQLLEN>(n * sizeof(SQLWCHAR));
        break;
      }
      case Carrier::Bytes: {
        const auto bytes = table.GetBytes(record, column);
        if (!bytes.empty()) std::memcpy(cell, bytes.data(), bytes.size());
        indicator = static_cast<SQLLEN>(bytes.size());
        break;
      }
      case Carrier::Timestamp:
      case Carrier::Date: {
        const std::int64_t ticks = table.GetDateTime(record, column).Ticks();
        const CivilDate date = CivilFromDays(ticks / Data::DateTime::kTicksPerDay);
        const std::int64_t ofDay = ticks % Data::DateTime::kTicksPerDay;
        if (p.carrier == Carrier::Date) {
          SQL_DATE_STRUCT value{static_cast<SQLSMALLINT>(date.year), static_cast<SQLUSMALLINT>(date.month),
                                static_cast<SQLUSMALLINT>(date.day)};
          std::memcpy(cell, &value, sizeof value);
          indicator = sizeof value;
          break;
        }
        const auto seconds = static_cast<unsigned>(ofDay / Data::DateTime::kTicksPerSecond);
        SQL_TIMESTAMP_STRUCT value{};
        value.year = static_cast<SQLSMALLINT>(date.year);
        value.month = static_cast<SQLUSMALLINT>(date.month);
        value.day = static_cast<SQLUSMALLINT>(date.day);
        value.hour = static_cast<SQLUSMALLINT>(seconds / 3600);
        value.minute = static_cast<SQLUSMALLINT>(seconds / 60 % 60);
        value.second = static_cast<SQLUSMALLINT>(seconds % 60);
        value.fraction = Fraction(ofDay % Data::DateTime::kTicksPerSecond, p.column->decimalDigits);
        std::memcpy(cell, &value, sizeof value);
        indicator = sizeof value;
        break;
      }
      case Carrier::IsoText:
      case Carrier::IsoDay: {
        char text[Sqlite::kIsoDateTimeCapacity];
        const std::size_t n =
            Sqlite::FormatStoredDate(table.GetDateTime(record, column), p.carrier == Carrier::IsoDay, text);
        std::memcpy(cell, text, n);
        cell[n] = 0;
        indicator = static_cast<SQLLEN>(n);
        break;
      }
    }
  }
}

struct CTypes {
  SQLSMALLINT cType;
  SQLSMALLINT sqlType;
  SQLULEN columnSize;
  SQLSMALLINT digits;
};

CTypes TypesFor(const Parameter& p) {
  const InsertColumn& c = *p.column;
  const SQLSMALLINT own = c.sqlType == SQL_UNKNOWN_TYPE ? SQL_WVARCHAR : c.sqlType;
  const auto chars = static_cast<SQLULEN>(std::max<std::size_t>(p.width, 2) - 1);
  switch (p.carrier) {
    case Carrier::Integer:
      return {SQL_C_SBIGINT, own, 0, 0};
    case Carrier::Bit:
      return {SQL_C_BIT, SQL_BIT, 1, 0};
    case Carrier::Double:
      return {SQL_C_DOUBLE, own, 15, 0};
    case Carrier::DecimalText:
      return {SQL_C_CHAR, own, c.columnSize > 0 ? static_cast<SQLULEN>(c.columnSize) : chars,
              c.decimalDigits};
    case Carrier::WideText:
      return {SQL_C_WCHAR, own, std::max<SQLULEN>(p.width / sizeof(SQLWCHAR) - 1, 1), 0};
    case Carrier::Bytes:
      return {SQL_C_BINARY, own, static_cast<SQLULEN>(p.width), 0};
    case Carrier::Timestamp: {
      const SQLSMALLINT digits = std::clamp<SQLSMALLINT>(c.decimalDigits, 0, 9);
      return {SQL_C_TYPE_TIMESTAMP, SQL_TYPE_TIMESTAMP,
              static_cast<SQLULEN>(19 + (digits > 0 ? digits + 1 : 0)), digits};
    }
    case Carrier::Date:
      return {SQL_C_TYPE_DATE, SQL_TYPE_DATE, 10, 0};
    case Carrier::IsoText:
    case Carrier::IsoDay:
      return {SQL_C_CHAR, SQL_VARCHAR, Sqlite::kIsoDateTimeCapacity - 1, 0};
  }
  return {SQL_C_WCHAR, own, chars, 0};
}

// The records of one group: which Generated columns their rows leave out,
// and each record's position in the table (for messages).
struct Group {
  std::vector<bool> omitted;  // per plan column
  std::vector<RecordId> records;
  std::vector<std::size_t> positions;
};

std::vector<Group> GroupRows(const InsertPlan& plan, const Data::DataTable& table) {
  const std::span<const RecordId> records = table.Rows().Records();
  std::vector<Group> groups;
  const bool anyGenerated = std::any_of(plan.columns.begin(), plan.columns.end(),
                                        [](const InsertColumn& c) { return c.generated; });
  if (!anyGenerated) {  // the usual case: one group, in table order
    Group all{std::vector<bool>(plan.columns.size(), false), {records.begin(), records.end()}, {}};
    all.positions.resize(records.size());
    std::iota(all.positions.begin(), all.positions.end(), std::size_t{0});
    groups.push_back(std::move(all));
    return groups;
  }
  std::map<std::vector<bool>, std::size_t> groupOf;
  std::vector<bool> omitted(plan.columns.size(), false);
  for (std::size_t i = 0; i < records.size(); ++i) {
    for (std::size_t c = 0; c < plan.columns.size(); ++c)
      omitted[c] = plan.columns[c].generated && table.IsNull(records[i], plan.columns[c].modelIndex);
    auto [it, added] = groupOf.try_emplace(omitted, groups.size());
    if (added) groups.push_back(Group{omitted, {}, {}});
    groups[it->second].records.push_back(records[i]);
    groups[it->second].positions.push_back(i);
  }
  return groups;
}

class GroupWriter {
 public:
  GroupWriter(Session& session, const InsertPlan& plan, const Data::DataTable& table, const Group& group,
              std::uint64_t first)
      : session_(session), plan_(plan), table_(table), group_(group), first_(first) {}

  std::optional<Failure> Write() {
    std::string sql = "INSERT INTO " + plan_.target;
    std::string values;
    for (std::size_t c = 0; c < plan_.columns.size(); ++c) {
      if (group_.omitted[c]) continue;
      const InsertColumn& column = plan_.columns[c];
      sql += parameters_.empty() ? " (" : ", ";
      sql += session_.QuoteName(column.serverName);
      values += parameters_.empty() ? "?" : ", ?";
      Parameter parameter;
      parameter.column = &column;
      parameter.carrier = CarrierFor(table_.Column(column.modelIndex).Type, column, session_.Traits().dbms);
      parameters_.push_back(std::move(parameter));
    }
    // Every column left to the database: one row of its defaults per record.
    sql += parameters_.empty() ? " DEFAULT VALUES" : ") VALUES (" + values + ")";

    stmt_ = session_.Statement();
    const Wide text = ToWide(sql);
    SQLRETURN rc = SQLPrepareW(stmt_.get(), Arg(text), SQL_NTS);
    if (!SQL_SUCCEEDED(rc)) return session_.Failure(SQL_HANDLE_STMT, stmt_.get(), rc);
    const std::size_t limit = parameters_.empty() ? 1 : ArraySize();

    const std::size_t total = group_.records.size();
    for (std::size_t at = 0; at < total;) {
      std::size_t rows = std::min(limit, total - at);
      rows = FitChunk(at, rows);
      if (auto failure = ExecuteChunk(at, rows, limit > 1)) return failure;
      at += rows;
    }
    return std::nullopt;
  }

 private:
  // The largest parameter array the driver takes, up to kChunkRows; 1 when it
  // takes none (it refuses the attribute, or puts another size in its place).
  std::size_t ArraySize() {
    SQLRETURN rc =
        SQLSetStmtAttrW(stmt_.get(), SQL_ATTR_PARAM_BIND_TYPE,
                        reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(SQL_PARAM_BIND_BY_COLUMN)), 0);
    if (!SQL_SUCCEEDED(rc)) return 1;
    rc = SQLSetStmtAttrW(stmt_.get(), SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(kChunkRows), 0);
    if (!SQL_SUCCEEDED(rc)) return 1;
    SQLULEN size = 0;
    if (!SQL_SUCCEEDED(SQLGetStmtAttrW(stmt_.get(), SQL_ATTR_PARAMSET_SIZE, &size, 0, nullptr)) || size < 1)
      return 1;
    status_.assign(std::min<std::size_t>(size, kChunkRows), kStatusUnset);
    SQLSetStmtAttrW(stmt_.get(), SQL_ATTR_PARAM_STATUS_PTR, status_.data(), 0);
    SQLSetStmtAttrW(stmt_.get(), SQL_ATTR_PARAMS_PROCESSED_PTR, &processed_, 0);
    return status_.size();
  }

  // Fewer rows than `rows` when their values would need more than
  // kChunkBytes of buffers (never fewer than one).
  std::size_t FitChunk(std::size_t at, std::size_t rows) {
    for (;;) {
      const std::span<const RecordId> records(group_.records.data() + at, rows);
      std::size_t bytes = 0;
      for (Parameter& parameter : parameters_) {
        parameter.width = WidthFor(parameter, table_, records);
        bytes += parameter.width * rows;
      }
      if (bytes <= kChunkBytes || rows == 1) return rows;
      rows = std::max<std::size_t>(rows / 2, 1);
    }
  }

  std::optional<Failure> ExecuteChunk(std::size_t at, std::size_t rows, bool arrays) {
    const std::span<const RecordId> records(group_.records.data() + at, rows);
    for (std::size_t p = 0; p < parameters_.size(); ++p) {
      Parameter& parameter = parameters_[p];
      Fill(parameter, table_, records);
      const CTypes types = TypesFor(parameter);
      const SQLRETURN rc =
          SQLBindParameter(stmt_.get(), static_cast<SQLUSMALLINT>(p + 1), SQL_PARAM_INPUT, types.cType,
                           types.sqlType, types.columnSize, types.digits, parameter.buffer.data(),
                           static_cast<SQLLEN>(parameter.width), parameter.indicators.data());
      if (!SQL_SUCCEEDED(rc)) return session_.Failure(SQL_HANDLE_STMT, stmt_.get(), rc);
    }
    if (arrays) {
      const SQLRETURN rc =
          SQLSetStmtAttrW(stmt_.get(), SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(rows), 0);
      if (!SQL_SUCCEEDED(rc)) return session_.Failure(SQL_HANDLE_STMT, stmt_.get(), rc);
      std::fill(status_.begin(), status_.end(), kStatusUnset);
      processed_ = static_cast<SQLULEN>(-1);
    }
    const SQLRETURN rc = SQLExecute(stmt_.get());
    if (!SQL_SUCCEEDED(rc) && rc != SQL_NO_DATA) {
      Failure failure = session_.Failure(SQL_HANDLE_STMT, stmt_.get(), rc);
      if (const auto row = FailedRow(rows, arrays)) Name(failure, at + *row);
      return failure;
    }
    if (!arrays) return std::nullopt;
    // The driver said it succeeded; what it reports of each set must agree.
    if (processed_ != static_cast<SQLULEN>(-1) && processed_ < rows)
      return ClientFailure("the ODBC driver processed " + std::to_string(processed_) + " of the " +
                           std::to_string(rows) + " rows it was given for table " +
                           Quoted(plan_.displayName));
    for (std::size_t i = 0; i < rows; ++i) {
      if (status_[i] == SQL_PARAM_ERROR || status_[i] == SQL_PARAM_UNUSED) {
        Failure failure = session_.Failure(SQL_HANDLE_STMT, stmt_.get(), rc);
        Name(failure, at + i);
        return failure;
      }
    }
    return std::nullopt;
  }

  // The row the driver marks as the one that failed, when it marks one and
  // not every row alike (a driver may mark the whole array).
  std::optional<std::size_t> FailedRow(std::size_t rows, bool arrays) const {
    if (!arrays) return rows == 1 ? std::optional<std::size_t>(0) : std::nullopt;
    std::optional<std::size_t> first;
    std::size_t errors = 0;
    for (std::size_t i = 0; i < rows; ++i) {
      if (status_[i] != SQL_PARAM_ERROR) continue;
      if (!first) first = i;
      ++errors;
    }
    return errors == 1 ? first : std::nullopt;
  }

  // Names the row at fault in the failure's text and keeps its position,
  // when the database refused the row itself (a lost connection, a busy
  // database is no row's fault).
  void Name(Failure& failure, std::size_t indexInGroup) const {
    if (!BlamesTheRows(CategoryOf(failure))) return;
    const std::uint64_t position = first_ + group_.positions[indexInGroup];
    failure.text = RowAtPosition(position) + ": " + failure.text;
    failure.row = position;
  }

  Session& session_;
  const InsertPlan& plan_;
  const Data::DataTable& table_;
  const Group& group_;
  const std::uint64_t first_;  // the write's position of the table's first row
  std::vector<Parameter> parameters_;
  StmtHandle stmt_;
  std::vector<SQLUSMALLINT> status_;
  SQLULEN processed_ = 0;
};

// What the database behind the driver keeps of a value, by its own rules;
// nothing is checked for a database without rules here.
ValueLimits LimitsOf(Dbms dbms) noexcept {
  switch (dbms) {
    case Dbms::SQLite:
      return Sqlite::Limits();
    case Dbms::PostgreSQL:
      return Postgres::kLimits;
    default:
      return ValueLimits{};
  }
}

}  // namespace

std::optional<Failure> PlanInsert(const Session& session, const Data::DataTable& table,
                                  const TableShape& shape, InsertPlan& plan) {
  plan.target = session.Qualified(shape.name);
  plan.displayName = table.TableName();
  plan.columns.clear();
  const Dbms dbms = session.Traits().dbms;

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
    if (!picked || matched[s])
      return ClientFailure("column " + Quoted(model.ColumnName) + " of " + tableText +
                               " is no longer a writable column in the database",
                           true);
    const ServerColumn& server = shape.columns[s];
    // SQLite takes any value in a column declared without a type.
    const bool anything = dbms == Dbms::SQLite && server.typeName.empty();
    if (!anything && DataTypeOf(server.sqlType, server.typeName, dbms) != model.Type)
      return ClientFailure("column " + Quoted(model.ColumnName) + " of " + tableText + " is " +
                               server.typeName + " in the database, which does not hold " +
                               std::string(Data::DataTypeName(model.Type)),
                           true);
    matched[s] = true;
    plan.columns.push_back({i, server.name, server.sqlType, server.columnSize, server.decimalDigits,
                            model.Generated, server.typeName});
  }
  for (std::size_t s = 0; s < shape.columns.size(); ++s) {
    const ServerColumn& server = shape.columns[s];
    if (!matched[s] && server.notNull && !server.columnDefault && !server.autoUnique)
      return ClientFailure(
          "the database's " + tableText + " has a new required column " + Quoted(server.name), true);
  }
  return std::nullopt;
}

std::optional<Failure> InsertRows(Session& session, const InsertPlan& plan, const Data::DataTable& table,
                                  std::uint64_t first) {
  if (table.Rows().Count() == 0) return std::nullopt;
  if (auto refused =
          RefuseUnstorable(table, table.Rows().Records(), first, LimitsOf(session.Traits().dbms))) {
    Failure failure = ClientFailure(std::move(refused->reason));
    failure.refused = true;
    failure.row = refused->row;
    return failure;
  }
  for (const Group& group : GroupRows(plan, table))
    if (auto failure = GroupWriter(session, plan, table, group, first).Write()) return failure;
  return std::nullopt;
}

std::optional<Failure> TableWriter::Begin() {
  SQLHDBC conn = session_.Connection();
  transaction_.emplace(conn, session_.TransactionStyle(), Session::kBeginStatement);
  if (const SQLRETURN rc = transaction_->Begin(); !SQL_SUCCEEDED(rc))
    return session_.Failure(transaction_->DiagnosticsType(), transaction_->DiagnosticsHandle(), rc);
  // The check runs in the transaction, just before the insert, so that it
  // sees the table as the write will.
  const std::optional<TableShape> shape = ReadTableShape(session_, table_.TableName(), false);
  if (!shape)
    return ClientFailure("table " + Quoted(table_.TableName()) + " is no longer in " + session_.WhereText(),
                         true);
  return PlanInsert(session_, table_, *shape, plan_);
}

std::optional<Failure> TableWriter::Commit() {
  const SQLRETURN rc = transaction_->Commit();
  if (SQL_SUCCEEDED(rc)) return std::nullopt;
  Failure failure =
      CommitFailure(session_.Failure(transaction_->DiagnosticsType(), transaction_->DiagnosticsHandle(), rc));
  if (failure.outcomeUnknown) {
    // The connection is not to be trusted with a rollback any more.
    transaction_->Abandon();
    failure.text = "the COMMIT got no answer of the database's own: " + failure.text;
    session_.Close();
  }
  return failure;
}

}  // namespace Tessel::Odbc
