// The staging road (StartNewRow, AddFieldData, AddFieldDateTimeData,
// AddCurRow) driven by arbitrary call sequences over real tables, an
// enumeration table of the catalogue tessel_enum_tables, a name no table has,
// a table named in another letter case and the empty name, while another
// connection may take and release the file's lock between calls.
//
// The harness keeps a model of what the interface promises: which table is
// current, how many rows it holds and whether a row is open. Oracle:
//   - rows in the database equal the rows reported written: after every
//     change of table the database holds exactly the rows that the
//     *rowsWrittenCount values added up to, and a table written reports
//     every row its AddCurRow calls took;
//   - a write asked to be rerun writes nothing, reports 0 and keeps the table
//     current with its rows and its open row, so the next change of table
//     writes them; once the lock is gone that write is not asked to be rerun
//     again;
//   - a write refused for good writes nothing, reports 0 and says how many
//     rows were discarded;
//   - an error while the next table is chosen comes after the previous table
//     was written or discarded (never kept to be written twice);
//   - *rowsStoredCount is the open row's position in its table (0 for a
//     table just chosen, -1 for an enumeration table chosen first);
//   - field stores return false exactly when no row is open, AddCurRow
//     returns true when no table is current; nothing but Tessel::Error
//     leaves any call.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstring>
#include <iterator>
#include <limits>
#include <map>
#include <optional>
#include <string>

#include "FuzzSupport.h"
#include "TesselWrapper/ConnectWrapper.h"
#include "TesselWrapper/Errors.h"
#include "TesselWrapper/component/DbConnect.h"

namespace {

using Tessel::Fuzz::Check;
using Tessel::Fuzz::Contains;
using Tessel::Fuzz::Violation;

// The names a caller may pass, and the database table each stands for
// ("" for none: the enumeration table, the missing one, the empty name).
struct Name {
  const char* requested;
  const char* table;
  bool isEnum;
  bool exists;
};
constexpr Name kNames[] = {
    {"cases", "cases", false, true}, {"plain", "plain", false, true}, {"uniq", "uniq", false, true},
    {"PLAIN", "plain", false, true}, {"status", "", true, true},      {"absent", "", false, false},
    {"", "", false, true},
};
constexpr const char* kDbTables[] = {"cases", "plain", "uniq", "status"};
constexpr const char* kFields[] = {"id", "name", "w", "created", "n", "s", "d", "x", "k", "ID", "zz", ""};

// One component for every input: each input ends with a change of table
// that leaves no table current, which the oracle checks, so the next input
// starts as on a fresh component (and without a new connection).
struct World : Tessel::Fuzz::RowWorld {
  World()
      : RowWorld("staging",
                 "CREATE TABLE cases (id INTEGER PRIMARY KEY, name TEXT NOT NULL DEFAULT 'unnamed', w REAL,"
                 "  created DATETIME);"
                 "CREATE TABLE plain (n INTEGER, s TEXT, d DATETIME, x REAL);"
                 "CREATE TABLE uniq (k INTEGER NOT NULL UNIQUE, s TEXT);"
                 "CREATE TABLE status (id INTEGER PRIMARY KEY, label TEXT);"
                 "CREATE TABLE tessel_enum_tables (name TEXT PRIMARY KEY);"
                 "INSERT INTO tessel_enum_tables VALUES ('status')",
                 "?busy_timeout=0") {
    std::string sql = "SELECT ";
    for (const char* table : kDbTables)
      sql += std::string(sql.size() > 7 ? ", " : "") + "(SELECT count(*) FROM " + table + ")";
    counts = checker.Prepare(sql);
  }

  Tessel::Fuzz::Sqlite locker{path};
  // Every table's rows in one statement, prepared once (checked after each
  // change of table).
  sqlite3_stmt* counts = nullptr;
};

World& TheWorld() {
  static World* world = new World;
  return *world;
}

enum class Lock { None, Immediate, Exclusive };

// What the interface says the bridge holds.
struct Model {
  const Name* current = nullptr;              // the current table; null when none
  int rows = 0;                               // rows AddCurRow added to it
  bool open = false;                          // a row is open
  std::map<std::string, long long> expected;  // rows each database table must hold
};

class Run {
 public:
  Run(World& world, FuzzedDataProvider& in) : world_(world), in_(in) {}

  void Go() {
    world_.Reset("DELETE FROM cases; DELETE FROM plain; DELETE FROM uniq; DELETE FROM status");
    if (in_.ConsumeBool()) {
      world_.checker.Exec("INSERT INTO uniq VALUES (1, 'stored'), (2, 'stored')");
      world_.dirty = true;
      model_.expected["uniq"] = 2;
    }
    for (int step = 0; step < 48 && in_.remaining_bytes() > 0; ++step) Step();
    Finish();
  }

 private:
  void Step() {
    switch (in_.ConsumeIntegralInRange(0, 10)) {
      case 0:
      case 1:
        StartNewRow(&kNames[in_.ConsumeIntegralInRange<std::size_t>(0, std::size(kNames) - 1)]);
        break;
      case 2:
        Store([&](const char* field) {
          const std::string text = in_.ConsumeRandomLengthString(16);
          return world_.bridge.AddFieldData(field, text.c_str());
        });
        break;
      case 3:
        Store(
            [&](const char* field) { return world_.bridge.AddFieldData(field, in_.ConsumeIntegral<int>()); });
        break;
      case 4:
        Store([&](const char* field) {
          return world_.bridge.AddFieldData(field, in_.ConsumeIntegral<long>());
        });
        break;
      case 5:
        Store([&](const char* field) { return world_.bridge.AddFieldData(field, Double()); });
        break;
      case 6:
        Store([&](const char* field) { return world_.bridge.AddFieldDateTimeData(field, Double()); });
        break;
      case 7:
      case 8:
        AddCurRow();
        break;
      case 9:
        SetLock(static_cast<Lock>(in_.ConsumeIntegralInRange(0, 2)));
        break;
      default:
        // A row of the current table as a caller fills it, so that writes
        // carry rows often.
        Store(
            [&](const char* field) { return world_.bridge.AddFieldData(field, in_.ConsumeIntegral<int>()); });
        AddCurRow();
        break;
    }
  }

  double Double() {
    static constexpr double kSpecial[] = {0.0,
                                          -0.0,
                                          std::numeric_limits<double>::quiet_NaN(),
                                          std::numeric_limits<double>::infinity(),
                                          1e300,
                                          -657435.0,
                                          2958466.0,
                                          45000.25,
                                          -1.5,
                                          1.0};
    if (in_.ConsumeBool()) return in_.PickValueInArray(kSpecial);
    return in_.ConsumeIntegralInRange<std::int64_t>(-700000000, 3000000000) / 1000.0;
  }

  template <class F>
  void Store(F store) {
    const char* field = in_.PickValueInArray(kFields);
    Tessel::Fuzz::Trace(std::string("store into '") + field + "'");
    bool stored = false;
    try {
      stored = store(field);
    } catch (const Tessel::Error& e) {
      // A column the table lacks or a value it cannot hold: only with a row open.
      Check(model_.open, std::string("a field store threw with no row open (field '") + field +
                             "'): " + e.what() + Where());
      return;
    }
    Check(stored == model_.open, std::string("a field store into '") + field + "' returned " +
                                     (stored ? "true" : "false") + " while " +
                                     (model_.open ? "a row is open" : "no row is open") + Where());
  }

  void AddCurRow() {
    Tessel::Fuzz::Trace("AddCurRow()");
    bool added = false;
    try {
      added = world_.bridge.AddCurRow();
    } catch (const Tessel::Error& e) {
      Violation(std::string("AddCurRow threw: ") + e.what() + Where());
    }
    if (model_.current == nullptr || model_.current->table[0] == '\0') {
      Check(added, "AddCurRow with no table current returned false: " + world_.bridge.GetMessage() + Where());
      return;
    }
    if (!model_.open) {
      Check(!added, "AddCurRow with no open row returned true" + Where());
      return;
    }
    if (added) {
      ++model_.rows;
      model_.open = false;
    }
  }

  void SetLock(Lock lock) {
    Tessel::Fuzz::Trace("lock " + std::to_string(static_cast<int>(lock)));
    if (lock_ != Lock::None) world_.locker.Exec("ROLLBACK");
    lock_ = Lock::None;
    if (lock == Lock::None) return;
    if (!world_.locker.TryExec(lock == Lock::Immediate ? "BEGIN IMMEDIATE" : "BEGIN EXCLUSIVE"))
      Violation("the harness could not take the file's lock");
    lock_ = lock;
  }

  void StartNewRow(const Name* name) {
    constexpr int kUntouched = -77;
    int stored = kUntouched, written = kUntouched;
    long ms = 0;
    const bool flushes =
        model_.current != nullptr &&
        (std::strcmp(model_.current->requested, name->requested) != 0 || name->requested[0] == '\0');
    const std::string call = std::string("StartNewRow('") + name->requested + "')" + Where();
    bool result = false;
    std::optional<std::string> thrown;
    bool thrownRerun = false;
    try {
      result = world_.bridge.StartNewRow(name->requested, &stored, &written, &ms);
    } catch (const Tessel::DatabaseError& e) {
      thrown = e.what();
      thrownRerun = e.Category() == Tessel::ErrorCategory::Rerun;
    } catch (const Tessel::Error& e) {
      thrown = e.what();
    }
    const std::string message = thrown ? *thrown : world_.bridge.GetMessage();
    Tessel::Fuzz::Tally(
        std::string(flushes ? "flush " : "choose ") +
        (thrown   ? (thrownRerun ? "threw, rerun" : "threw")
         : result ? "true"
                  : "false") +
        (!thrown && !result && (Contains(message, Tessel::kRerunTransaction)) ? ", rerun asked" : ""));
    Tessel::Fuzz::Trace(call + " -> " +
                        (thrown   ? "threw"
                         : result ? "true"
                                  : "false") +
                        ", stored " + std::to_string(stored) + ", written " + std::to_string(written) + ": " +
                        message);

    if (!flushes) {
      Check(written == kUntouched, call + ": no table was written, yet the written count changed");
      if (thrown) {
        // Only choosing the table can fail here: a name no table has, or a
        // lock on the catalogue.
        Check(!name->exists || (thrownRerun && lock_ == Lock::Exclusive),
              call + " threw for a name that exists with nothing locked: " + message);
        if (model_.current == nullptr) return;
        Violation(call + " threw while opening another row of the current table: " + message);
      }
      Check(name->exists, call + " accepted a name that is neither a table nor an enumeration table");
      Check(result, call + " returned false: " + message);
      if (model_.current == nullptr) {
        Select(name);
        Check(stored == (name->isEnum ? -1 : 0),
              call + ": rowsStoredCount " + std::to_string(stored) + " on choosing the table");
      } else {
        Check(stored == model_.rows, call + ": rowsStoredCount " + std::to_string(stored) +
                                         ", the table holds " + std::to_string(model_.rows));
        model_.open = true;  // a new row replaces one left open
      }
      return;
    }

    // The current table is written first.
    const std::string table = model_.current->table;
    const int rows = model_.rows;
    const bool asksRerun =
        !thrown && !result &&
        (Contains(message, Tessel::kRerunTransaction) || Contains(message, Tessel::kSchemaChange));
    if (asksRerun) {
      Check(written == 0, call + ": a write asked to be rerun reported " + std::to_string(written) + " rows");
      Check(lock_ != Lock::None, call + ": a rerun was asked for with nothing locked: " + message);
      CheckCounts(call);  // nothing written; the model keeps the table, its rows and its open row
      return;
    }
    if (thrown) {
      // Choosing the next table failed after the write ended either way.
      Check(written == rows || written == 0, call + " threw (" + message + ") after reporting " +
                                                 std::to_string(written) + " of " + std::to_string(rows) +
                                                 " rows written");
      Check(!name->exists || (thrownRerun && lock_ == Lock::Exclusive),
            call + " threw for a name that exists with nothing locked: " + message);
      if (!table.empty()) model_.expected[table] += written;
      Release();
      CheckCounts(call);
      return;
    }
    Check(name->exists, call + " accepted a name that is neither a table nor an enumeration table");
    if (result) {
      Check(written == rows, call + ": " + std::to_string(rows) + " rows staged, " + std::to_string(written) +
                                 " reported written: " + message);
      if (!table.empty()) model_.expected[table] += written;
    } else {
      Check(written == 0, call + ": a refused write reported " + std::to_string(written) + " rows");
      Check(Contains(message, "the " + std::to_string(rows) + " staged row"),
            call + ": the refusal does not say how many rows were discarded: " + message);
    }
    Release();
    Select(name);
    if (model_.current != nullptr)
      Check(stored == 0, call + ": rowsStoredCount " + std::to_string(stored) + " for a table just chosen");
    CheckCounts(call);
  }

  void Select(const Name* name) {
    model_.current = name->isEnum || name->requested[0] == '\0' ? nullptr : name;
    model_.rows = 0;
    model_.open = model_.current != nullptr;
  }
  void Release() {
    model_.current = nullptr;
    model_.rows = 0;
    model_.open = false;
  }

  // The database against the model; skipped while the harness itself holds
  // the file so that nobody can read it.
  void CheckCounts(const std::string& call) {
    if (lock_ == Lock::Exclusive) return;
    sqlite3_stmt* counts = world_.counts;
    if (sqlite3_step(counts) != SQLITE_ROW)
      Violation("cannot count the rows: " + std::string(sqlite3_errmsg(world_.checker.get())));
    for (int i = 0; i < static_cast<int>(std::size(kDbTables)); ++i) {
      const char* table = kDbTables[i];
      const long long actual = sqlite3_column_int64(counts, i);
      Check(actual == model_.expected[table],
            call + ": table '" + table + "' holds " + std::to_string(actual) +
                " rows, the reported writes add up to " + std::to_string(model_.expected[table]));
    }
    sqlite3_reset(counts);
  }

  // The caller's last change of table, once nothing is locked: whatever is
  // staged is written or refused; a rerun asked for now (with nothing
  // locked) fails StartNewRow's own check.
  void Finish() {
    SetLock(Lock::None);
    StartNewRow(&kNames[6]);
    CheckCounts("the final flush");
    Check(model_.current == nullptr, "the final flush left table '" +
                                         std::string(model_.current ? model_.current->requested : "") +
                                         "' current");
    // Nor may a row be left open: the next input (and a caller's next
    // table) must start with none. A column no table has stores nothing
    // either way.
    bool probe = true;
    try {
      probe = world_.bridge.AddFieldData("no such column", 0);
    } catch (const Tessel::Error& e) {
      Violation(std::string("a row is still open after the final flush: ") + e.what());
    }
    Check(!probe, "a row is still open after the final flush");
    for (const auto& [table, rows] : model_.expected)
      if (rows != 0) world_.dirty = true;
  }

  std::string Where() const {
    return std::string(" [current: ") + (model_.current ? model_.current->requested : "none") + ", rows " +
           std::to_string(model_.rows) + (model_.open ? ", row open" : "") + "]";
  }

  World& world_;
  FuzzedDataProvider& in_;
  Model model_;
  Lock lock_ = Lock::None;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  Run(TheWorld(), in).Go();
  return 0;
}
