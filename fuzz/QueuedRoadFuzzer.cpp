// The queued road (IConnectWrapper::BulkToTable) with arbitrary SqlRow
// records: names and type names right, wrong, in other letter case or padded
// with NULs; counts that match their lists, exceed them, or are zero or
// negative; NaN, infinities, huge and out-of-range dates; texts that are no
// UTF-8; null records; a table that is missing, named in another case, or
// empty. Another connection may hold the file's lock during the call, so
// that the write is asked to be rerun.
//
// Oracle, checked after every call:
//   true       the queue is empty; the table gained exactly the N rows that
//              the message reports ("N rows written"), and N is the number of
//              non-empty records (a record the table refuses makes the call
//              fail, never one left out); in table `free` the rows read
//              back in queue order equal the records: integers and doubles
//              exactly, dates within 1 ms, valid UTF-8 text byte for byte;
//              no row holding a NaN was written (SQLite would keep a NULL).
//   false or   the table gained nothing, and the queue holds the very same
//   exception  records in the same order, each unchanged; records the table
//              refused never come with a retry text.
//   rerun      once the other connection has let go, the same call with the
//              same queue is not asked to be rerun again (the cause passed),
//              and its outcome obeys the rules above.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <queue>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "OaDate.h"
#include "TesselWrapper/ConnectWrapper.h"
#include "TesselWrapper/Errors.h"
#include "TesselWrapper/SqlRow.h"
#include "TesselWrapper/component/DbConnect.h"
#include "Utf8.h"

namespace {

using Tessel::Fuzz::Check;
using Tessel::Fuzz::Contains;
using Tessel::Fuzz::Violation;

constexpr const char* kTables[] = {"free", "keyed", "strict"};
// Columns of all tables, so that a record may name one its table lacks.
constexpr const char* kColumns[] = {"n", "x", "s", "d", "b", "m", "id", "code", "qty", "born", "a", "t"};

struct World : Tessel::Fuzz::RowWorld {
  // No waiting: a held lock fails the write at once, as a lock time-out would.
  World()
      : RowWorld("queued",
                 "CREATE TABLE free (n INTEGER, x REAL, s TEXT, d DATETIME, b BOOLEAN, m NUMERIC);"
                 "CREATE TABLE keyed (id INTEGER PRIMARY KEY, code TEXT COLLATE NOCASE UNIQUE,"
                 "  qty INTEGER NOT NULL DEFAULT 7, born DATETIME);"
                 "CREATE TABLE strict (a INTEGER NOT NULL, t TEXT NOT NULL, x REAL NOT NULL)",
                 "?busy_timeout=0") {}
  Tessel::Fuzz::Sqlite locker{path};
};

World& TheWorld() {
  static World* world = new World;  // lives to the end of the process
  return *world;
}

// One record as it was handed over, to compare the queue with afterwards.
struct RecordImage {
  const SqlRow* pointer = nullptr;
  std::vector<std::string> names, types, texts;
  std::vector<std::uint64_t> numbers;
  std::int32_t fieldCount = 0;
  std::int32_t tag = 0;
  std::string tableName;
};

RecordImage ImageOf(const SqlRow* record) {
  RecordImage image;
  image.pointer = record;
  if (record == nullptr) return image;
  for (const CStringA& s : record->fieldNames) image.names.push_back(s.str());
  for (const CStringA& s : record->fieldTypes) image.types.push_back(s.str());
  for (const CStringA& s : record->fieldValues) image.texts.push_back(s.str());
  for (const NUMERICDATA& d : record->numericValues) {
    std::uint64_t bits;
    std::memcpy(&bits, &d, sizeof bits);
    image.numbers.push_back(bits);
  }
  image.fieldCount = record->fieldCount;
  image.tag = record->tag;
  image.tableName = record->tableName.str();
  return image;
}

bool SameImage(const RecordImage& a, const RecordImage& b) {
  return a.pointer == b.pointer && a.names == b.names && a.types == b.types && a.texts == b.texts &&
         a.numbers == b.numbers && a.fieldCount == b.fieldCount && a.tag == b.tag &&
         a.tableName == b.tableName;
}

std::vector<RecordImage> ImagesOf(std::queue<SqlRow*> queue) {  // a copy: read front to back
  std::vector<RecordImage> images;
  for (; !queue.empty(); queue.pop()) images.push_back(ImageOf(queue.front()));
  return images;
}

void FreeQueue(std::queue<SqlRow*>& queue) {
  for (; !queue.empty(); queue.pop()) delete queue.front();
}

double FuzzDouble(FuzzedDataProvider& in) {
  static constexpr double kSpecial[] = {
      std::numeric_limits<double>::quiet_NaN(),
      std::numeric_limits<double>::infinity(),
      -std::numeric_limits<double>::infinity(),
      0.0,
      -0.0,
      std::numeric_limits<double>::max(),
      std::numeric_limits<double>::lowest(),
      std::numeric_limits<double>::denorm_min(),
      1e15,
      -657435.0,  // just outside the date range, on both ends
      2958466.0,
      -657434.999,
      2958465.99999999,
      45000.5,
      -1.5,
      0.5,
      9007199254740993.0,
  };
  switch (in.ConsumeIntegralInRange(0, 3)) {
    case 0:
      return in.PickValueInArray(kSpecial);
    case 1: {
      const auto bits = in.ConsumeIntegral<std::uint64_t>();
      double d;
      std::memcpy(&d, &bits, sizeof d);
      return d;
    }
    case 2:
      return in.ConsumeIntegralInRange<std::int64_t>(-700000000, 3000000000) / 1000.0;
    default:
      return static_cast<double>(in.ConsumeIntegral<std::int32_t>());
  }
}

std::string FuzzName(FuzzedDataProvider& in) {
  switch (in.ConsumeIntegralInRange(0, 9)) {
    case 0: {
      std::string upper = in.PickValueInArray(kColumns);
      for (char& c : upper) c = static_cast<char>(c - 'a' + 'A');
      return upper;
    }
    case 1:
      return in.ConsumeRandomLengthString(8);
    case 2:
      return std::string(in.PickValueInArray(kColumns)) + std::string("\0pad", 4);
    default:
      return in.PickValueInArray(kColumns);
  }
}

std::string FuzzTypeName(FuzzedDataProvider& in) {
  static const char* const kTypes[] = {ConnectWrapper::m_lpszDOUBLE,       ConnectWrapper::m_lpszLONGINTEGER,
                                       ConnectWrapper::m_lpszSHORTINTEGER, ConnectWrapper::m_lpszDATE,
                                       ConnectWrapper::m_lpszDATETIME,     ConnectWrapper::m_lpszTEXT,
                                       ConnectWrapper::m_lpszMEMO};
  switch (in.ConsumeIntegralInRange(0, 11)) {
    case 0:
      return "TEXT";
    case 1:
      return "longinteger";
    case 2:
      return "Integer";
    case 3:
      return std::string("Text\0\0\0", 7);
    case 4:
      return in.ConsumeRandomLengthString(12);
    default:
      return in.PickValueInArray(kTypes);
  }
}

SqlRow* FuzzRecord(FuzzedDataProvider& in) {
  auto* record = new SqlRow;
  const int fields = in.ConsumeIntegralInRange(0, 7);
  for (int i = 0; i < fields; ++i) {
    const std::string name = FuzzName(in);
    const std::string type = FuzzTypeName(in);
    NUMERICDATA number;
    std::memset(&number, 0, sizeof number);
    std::string text;
    switch (in.ConsumeIntegralInRange(0, 2)) {
      case 0:
        number.doubleValue = FuzzDouble(in);
        break;
      case 1:
        number.longValue = in.ConsumeIntegral<std::int32_t>();
        break;
      default:
        text = in.ConsumeRandomLengthString(24);
        number.doubleValue = FuzzDouble(in);
        break;
    }
    record->AddField(CStringA(name), CStringA(type), CStringA(text), number);
  }
  switch (in.ConsumeIntegralInRange(0, 15)) {
    case 0:  // claims more fields than its lists hold
      record->fieldCount += in.ConsumeIntegralInRange(1, 3);
      break;
    case 1:  // one list shorter than the rest
      if (!record->numericValues.empty()) record->numericValues.pop_back();
      break;
    case 2:
      record->fieldCount = in.ConsumeIntegralInRange(-3, 0);
      break;
    default:
      break;
  }
  record->tag = in.ConsumeIntegral<std::int32_t>();
  return record;
}

enum class Lock { None, Immediate, Exclusive };

struct Outcome {
  enum { Written, Failed, Threw } kind = Failed;
  std::string message;
  bool rerun = false;  // a false with retry text, or a DatabaseError of category Rerun
};

Outcome Call(World& world, const std::string& table, std::queue<SqlRow*>& queue) {
  Outcome outcome;
  long ms = 0;
  try {
    const bool written = world.bridge.BulkToTable(table, &queue, &ms);
    outcome.kind = written ? Outcome::Written : Outcome::Failed;
    outcome.message = world.bridge.GetMessage();
    outcome.rerun = !written && (Contains(outcome.message, Tessel::kRerunTransaction) ||
                                 Contains(outcome.message, Tessel::kSchemaChange));
  } catch (const Tessel::DatabaseError& e) {
    outcome.kind = Outcome::Threw;
    outcome.message = e.what();
    outcome.rerun = e.Category() == Tessel::ErrorCategory::Rerun;
  } catch (const Tessel::Error& e) {
    outcome.kind = Outcome::Threw;
    outcome.message = e.what();
  }
  return outcome;
}

// The records whose rows the write is about: non-null with a positive count.
long long NonEmpty(const std::vector<RecordImage>& images) {
  long long n = 0;
  for (const RecordImage& image : images)
    if (image.pointer != nullptr && image.fieldCount > 0) ++n;
  return n;
}

// Whether the message says the bridge's table refused records of the queue
// (which then writes nothing).
bool SaysRecordsWereRefused(const std::string& message) {
  return message.find("refused by the table, so nothing was written") != std::string::npos;
}

// What a column of `free` must read back as, from the record's fields.
struct Expected {
  enum { Null, Integer, Real, NaN, Text, Date, Unknown } kind = Null;
  long long integer = 0;
  double real = 0;
  std::string text;
};

void ExpectField(Expected (&columns)[6], const RecordImage& record, std::size_t i) {
  // The harness names columns exactly, in upper case or NUL-padded; the
  // library reads the name up to its NUL and finds it ignoring case.
  std::string name = record.names[i].c_str();
  for (char& c : name) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  std::string type = record.types[i].c_str();
  for (char& c : type) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  double d;
  std::memcpy(&d, &record.numbers[i], sizeof d);
  std::int32_t l;
  std::memcpy(&l, &record.numbers[i], sizeof l);
  std::int16_t s;
  std::memcpy(&s, &record.numbers[i], sizeof s);
  const bool isLong = type == "longinteger", isShort = type == "shortinteger";
  const bool isDouble = type == "double", isDate = type == "date" || type == "datetime";
  const bool isText = type == "text" || type == "memo";
  if (!isLong && !isShort && !isDouble && !isDate && !isText) return;  // unknown type: column untouched
  static constexpr const char* kFree[] = {"n", "x", "s", "d", "b", "m"};
  int column = -1;
  for (int c = 0; c < 6; ++c)
    if (name == kFree[c]) column = c;
  if (column < 0) Violation("a record naming column '" + name + "' was written into table 'free'");

  Expected& e = columns[column];
  e = Expected{};
  e.kind = Expected::Unknown;
  switch (column) {
    case 0:  // n INTEGER
      if (isLong || isShort) {
        e.kind = Expected::Integer;
        e.integer = isLong ? l : s;
      }
      break;
    case 1:  // x REAL
      if (isDouble) {
        e.kind = std::isnan(d) ? Expected::NaN : Expected::Real;
        e.real = d;
      } else if (isLong || isShort) {
        e.kind = Expected::Real;
        e.real = isLong ? l : s;
      }
      break;
    case 2:  // s TEXT
      if (isText) {
        const std::string text = record.texts[i].c_str();  // native text ends at its NUL
        if (Tessel::Fuzz::IsValidUtf8(text)) {
          e.kind = Expected::Text;
          e.text = text;
        }
      }
      break;
    case 3:  // d DATETIME
      if (isDate) {
        e.kind = Expected::Date;
        e.real = Tessel::Fuzz::OaDateJulianDay(d);
      }
      break;
    case 4:  // b BOOLEAN
      if (isLong || isShort) {
        e.kind = Expected::Integer;
        e.integer = (isLong ? l : s) != 0 ? 1 : 0;
      }
      break;
    default:  // m NUMERIC: decimal text, which SQLite's affinity may turn into a number
      break;
  }
}

void CheckFreeRows(World& world, const std::vector<RecordImage>& images, long long before) {
  sqlite3_stmt* stmt = world.checker.Prepare(
      "SELECT n, typeof(n), x, typeof(x), s, typeof(s), julianday(d), d, b, typeof(b) FROM free "
      "ORDER BY rowid LIMIT -1 OFFSET " +
      std::to_string(before));
  std::size_t row = 0;
  for (const RecordImage& record : images) {
    if (record.pointer == nullptr || record.fieldCount <= 0) continue;
    Expected columns[6];
    for (std::size_t i = 0; i < static_cast<std::size_t>(record.fieldCount); ++i)
      ExpectField(columns, record, i);
    Check(sqlite3_step(stmt) == SQLITE_ROW, "fewer rows in 'free' than records written");
    const std::string where = "row " + std::to_string(row) + " of 'free': ";
    const auto text = [&](int c) {
      const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt, c));
      return p ? std::string(p, static_cast<std::size_t>(sqlite3_column_bytes(stmt, c)))
               : std::string("NULL");
    };
    for (int c : {0, 4}) {
      const Expected& e = columns[c == 0 ? 0 : 4];
      const int typeColumn = c == 0 ? 1 : 9;
      const int valueColumn = c == 0 ? 0 : 8;
      if (e.kind == Expected::Null)
        Check(text(typeColumn) == "null", where + "column left unset holds " + text(valueColumn));
      if (e.kind == Expected::Integer)
        Check(text(typeColumn) == "integer" && sqlite3_column_int64(stmt, valueColumn) == e.integer,
              where + "expected integer " + std::to_string(e.integer) + ", read " + text(valueColumn) + " (" +
                  text(typeColumn) + ")");
    }
    if (columns[1].kind == Expected::Real) {
      const bool isNumber = text(3) == "real" || text(3) == "integer";
      Check(isNumber && sqlite3_column_double(stmt, 2) == columns[1].real,
            where + "expected double " + std::to_string(columns[1].real) + ", read " + text(2) + " (" +
                text(3) + ")");
    }
    // SQLite has no NaN (it would store NULL): a table holding one is refused.
    Check(columns[1].kind != Expected::NaN,
          where + "a NaN was reported written; it reads back as " + text(2));
    if (columns[2].kind == Expected::Text)
      Check(text(5) == "text" && text(4) == columns[2].text,
            where + "expected text '" + columns[2].text + "', read '" + text(4) + "'");
    if (columns[2].kind == Expected::Null)
      Check(text(5) == "null", where + "text left unset holds " + text(4));
    if (columns[3].kind == Expected::Date) {
      const double julian = sqlite3_column_double(stmt, 6);
      const double expected = columns[3].real;
      Check(sqlite3_column_type(stmt, 6) != SQLITE_NULL &&
                std::fabs(julian - expected) * 86400000.0 <= 1.0 + 1e-6,
            where + "date " + text(7) + " is not within 1 ms of OA date " + std::to_string(columns[3].real));
    }
    ++row;
  }
  Check(sqlite3_step(stmt) == SQLITE_DONE, "more rows in 'free' than records written");
  sqlite3_finalize(stmt);
}

// Checks one call's outcome against the oracle; `images` is the queue as it
// was handed over.
void CheckOutcome(World& world, const std::string& table, const std::string& dbTable,
                  std::queue<SqlRow*>& queue, const std::vector<RecordImage>& images, long long before,
                  const Outcome& outcome) {
  const long long after = dbTable.empty() ? 0 : world.checker.Count(dbTable);
  const std::string call = "BulkToTable('" + table + "') with " + std::to_string(images.size()) + " records";
  if (after != 0) world.dirty = true;
  if (outcome.kind == Outcome::Written) {
    Check(queue.empty(),
          call + " returned true but left " + std::to_string(queue.size()) + " records queued");
    Check(!dbTable.empty(), call + " returned true for a table the database lacks");
    const long long reported = Tessel::Fuzz::LeadingNumber(outcome.message);
    Check(reported >= 0, call + ": success without a row count: " + outcome.message);
    Check(after - before == reported, call + ": message reports " + std::to_string(reported) +
                                          " rows written, the table gained " +
                                          std::to_string(after - before) + "\n" + outcome.message);
    // A success writes every record with fields: none may be dropped.
    Check(!SaysRecordsWereRefused(outcome.message),
          call + ": a success that refused records\n" + outcome.message);
    Check(reported == NonEmpty(images), call + ": " + std::to_string(NonEmpty(images)) +
                                            " non-empty records, but " + std::to_string(reported) +
                                            " rows written\n" + outcome.message);
    if (dbTable == "free") CheckFreeRows(world, images, before);
    return;
  }
  if (SaysRecordsWereRefused(outcome.message))
    Check(!outcome.rerun, call + ": refused records but asks for a rerun\n" + outcome.message);
  Check(after == before, call + " failed (" + outcome.message + ") but the table went from " +
                             std::to_string(before) + " to " + std::to_string(after) + " rows");
  const std::vector<RecordImage> now = ImagesOf(queue);
  Check(now.size() == images.size(), call + " failed but the queue went from " +
                                         std::to_string(images.size()) + " to " + std::to_string(now.size()) +
                                         " records");
  for (std::size_t i = 0; i < now.size(); ++i)
    Check(SameImage(now[i], images[i]), call + " failed but changed record " + std::to_string(i));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  World& world = TheWorld();
  FuzzedDataProvider in(data, size);

  world.Reset("DELETE FROM free; DELETE FROM keyed; DELETE FROM strict");
  if (in.ConsumeBool()) {
    // Keys already in the database: a write repeating one is refused whole.
    world.checker.Exec("INSERT INTO keyed (id, code) VALUES (1, 'a'), (2, 'B'), (3, NULL)");
    world.dirty = true;
  }

  std::string table;
  std::string dbTable;  // the table the name resolves to, empty for none
  switch (in.ConsumeIntegralInRange(0, 9)) {
    case 0:
      table = "FREE";
      dbTable = "free";
      break;
    case 1:
      table = "absent";
      break;
    case 2:
      table = "";
      break;
    default:
      table = dbTable = in.PickValueInArray(kTables);
  }
  const Lock lock =
      static_cast<Lock>(in.ConsumeIntegralInRange(0, 7) < 6 ? 0 : in.ConsumeIntegralInRange(1, 2));

  std::queue<SqlRow*> queue;
  const int records = in.ConsumeIntegralInRange(0, 24);
  for (int r = 0; r < records; ++r)
    queue.push(in.ConsumeIntegralInRange(0, 40) == 0 ? nullptr : FuzzRecord(in));
  const std::vector<RecordImage> images = ImagesOf(queue);
  const long long before = dbTable.empty() ? 0 : world.checker.Count(dbTable);

  if (lock != Lock::None &&
      !world.locker.TryExec(lock == Lock::Immediate ? "BEGIN IMMEDIATE" : "BEGIN EXCLUSIVE"))
    Violation("the harness could not take the file's lock");
  const Outcome first = Call(world, table, queue);
  Tessel::Fuzz::Tally(std::string(first.kind == Outcome::Written  ? "written"
                                  : first.kind == Outcome::Failed ? "false"
                                                                  : "threw") +
                      (first.rerun ? ", rerun asked" : "") +
                      (dbTable == "free" && first.kind == Outcome::Written ? ", free table" : ""));
  if (lock != Lock::None) world.locker.Exec("ROLLBACK");
  CheckOutcome(world, table, dbTable, queue, images, before, first);

  if (first.rerun) {
    Check(lock != Lock::None,
          "a rerun was asked for with no other connection holding a lock: " + first.message);
    const Outcome second = Call(world, table, queue);
    Check(!second.rerun, "the lock was released, yet the rerun was asked to be rerun again: " +
                             second.message + "\n(first: " + first.message + ")");
    CheckOutcome(world, table, dbTable, queue, images, before, second);
  }
  FreeQueue(queue);
  return 0;
}
