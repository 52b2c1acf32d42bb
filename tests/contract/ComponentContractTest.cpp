// What every backend's data-access component promises its caller, written
// once and run on every backend: one table of cases (kContract, at the end),
// each run against a fresh database of each backend through a component the
// factory makes from the backend context's connection string and table set.
//
// A behaviour belongs here when a caller may rely on it whatever the
// database; what only one database does (its types, its routine language,
// its caching, its ways of failing) stays in that backend's own suite
// (tests/sqlite, tests/postgres). Where the databases name the same failure
// differently, the context gives the name (BackendContext::FailureCode).
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <initializer_list>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "BackendContext.h"
#include "TesselWrapper/Errors.h"
#include "TesselWrapper/component/DbConnect.h"
#include "TesselWrapper/component/DbConnectFactory.h"
#include "support/ComponentHelpers.h"
#include "support/Contains.h"
#include "support/TableLookup.h"

namespace Tessel::Contract {
namespace {

using Data::DataType;
using Data::DbType;
using Data::ParameterDirection;
using Data::Value;
using EndToEnd::Backend;
using EndToEnd::BackendContext;
using EndToEnd::Failure;
using EndToEnd::RoutineDefinition;
using Testing::AddRow;
using Testing::Contains;
using Testing::ExpectLookups;
using Testing::Message;
using Parameters = std::vector<std::shared_ptr<Data::DbParameter>>;

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

// The unique rules of a table as (columns, is primary key), in no particular order.
using Constraints = std::vector<std::pair<std::vector<std::size_t>, bool>>;
Constraints ConstraintsOf(const Data::DataTable& table) {
  Constraints out;
  for (const auto& constraint : table.UniqueConstraints())
    out.emplace_back(constraint.Columns, constraint.IsPrimaryKey);
  std::sort(out.begin(), out.end());
  return out;
}

class ComponentContract;

struct ContractCase {
  const char* name;  // a part of the test's name: letters and digits only
  void (*run)(ComponentContract&);
};

// Where gtest prints a failed test's parameter: the case by its name.
void PrintTo(const ContractCase& c, std::ostream* out) { *out << c.name; }

class ComponentContract : public ::testing::TestWithParam<std::tuple<Backend, ContractCase>> {
 public:
  Backend backend() const { return std::get<0>(GetParam()); }
  BackendContext& db() { return *context_; }

  // A component as the bridge would make it for this database. With
  // `shortLockWait` it waits only db().ShortLockWaitMs() for another
  // connection's lock.
  std::shared_ptr<DbConnect> NewComponent(bool shortLockWait = false) {
    return DbConnectFactory::CreateDbConnect(db().ConnectionString(shortLockWait), db().TableSet());
  }
  // The component most cases need, made on first use.
  DbConnect& component() {
    if (!component_) component_ = NewComponent();
    return *component_;
  }

  // Runs a routine of the component; `output` is "before" going in.
  std::int32_t Run(const std::string& name, const Parameters& parameters = {}) {
    Parameters list = parameters;
    output = std::string("before");
    return component().ExecuteStoredProcedure(name, list, output);
  }
  std::shared_ptr<Data::DbParameter> Param(const std::string& name, DbType type, Value value) {
    return component().NewDbParameter(name, type, 0, ParameterDirection::Input, std::move(value));
  }

  ManagedText output;

 protected:
  void SetUp() override {
    EndToEnd::MakeContext(backend(), context_);
    if (IsSkipped() || HasFatalFailure()) return;
    ASSERT_NE(context_, nullptr);
    ASSERT_FALSE(HasFailure()) << "the database could not be set up";
  }
  void TearDown() override {
    // Components first: their connections close before the database goes.
    component_.reset();
    context_.reset();
  }

 private:
  std::unique_ptr<BackendContext> context_;
  std::shared_ptr<DbConnect> component_;
};

TEST_P(ComponentContract, Holds) { std::get<1>(GetParam()).run(*this); }

// ---------------------------------------------------------------------------
// Table lookup

// The name exactly first; failing that, the one table whose name matches
// without regard to case, also beyond ASCII. Two names that fold alike are
// distinct tables on both databases only beyond ASCII (SQLite folds ASCII
// letters in names itself), so the exact-over-folded rows use those.
void TableLookupIsExactThenTheOneFoldedMatch(ComponentContract& t) {
  t.db().Exec(R"(
    CREATE TABLE Orders (id {int});
    CREATE TABLE Units (unit {int});
    CREATE TABLE "Äpfel" (a {int});
    CREATE TABLE "äpfel" (b {int});
    CREATE TABLE "Ölfass" (c {int});)");
  ExpectLookups(t.component(), {
                                   {"Orders", "id"},
                                   {"orders", "id"},
                                   {"ORDERS", "id"},
                                   {"units", "unit"},
                                   {"UNITS", "unit"},
                                   {"Äpfel", "a"},
                                   {"äpfel", "b"},           // the exact name wins over a fold
                                   {"ÄPFEL", std::nullopt},  // two fold alike: the caller must spell it
                                   {"ölfass", "c"},
                                   {"ÖLFASS", "c"},
                                   {"Order", std::nullopt},
                                   {"nothing", std::nullopt},
                                   {"", std::nullopt},
                               });
}

// A view cannot take rows: it is never the answer, and it does not make a
// table's folded name ambiguous either.
void AViewIsNotATable(ComponentContract& t) {
  t.db().Exec(R"(
    CREATE TABLE "Äpfel" (a {int});
    CREATE VIEW "äpfel" AS SELECT 1 AS b;
    CREATE VIEW looks_like_a_table AS SELECT 1 AS x;)");
  ExpectLookups(t.component(), {
                                   {"looks_like_a_table", std::nullopt},
                                   {"LOOKS_LIKE_A_TABLE", std::nullopt},
                                   {"äpfel", "a"},  // the view's own name: the one table that folds alike
                                   {"ÄPFEL", "a"},
                               });
}

// Names that would break or subvert SQL text if they were pasted into it:
// table, column and catalogue names and the values in them.
void HostileNamesAreOnlyEverNames(ComponentContract& t) {
  const std::string hostile = R"(ta"ble'; DROP TABLE victims; --)";
  const std::string quote = "it's;a \"name\"";
  t.db().Exec(R"(
    CREATE TABLE victims (id {int});
    INSERT INTO victims VALUES (1);
    CREATE TABLE "ta""ble'; DROP TABLE victims; --" (
      "co""l 1" {int} PRIMARY KEY, "it's;a ""name""" {text} UNIQUE, "select" {text}, "ünï" {text});)");
  DbConnect& component = t.component();

  auto table = component.GetTable(hostile);
  ASSERT_NE(table, nullptr);
  ASSERT_EQ(table->ColumnCount(), 4u);
  EXPECT_EQ(table->Column(0).ColumnName, "co\"l 1");
  EXPECT_EQ(table->Column(1).ColumnName, quote);
  EXPECT_EQ(ConstraintsOf(*table), (Constraints{{{0}, true}, {{1}, false}}));
  EXPECT_EQ(component.GetTable(R"(victims"; --)"), nullptr);
  EXPECT_FALSE(component.IsEnumTable(hostile));

  Data::DataRow row = table->NewRow();
  row.Set("co\"l 1", 1);
  row.Set(quote, std::string_view("'); DROP TABLE victims; --"));
  row.Set("select", std::string_view("'; DROP TABLE victims; --"));
  row.Set("ÜNÏ", std::string_view("x"));
  table->Rows().Add(row);
  std::int64_t elapsed = 0;
  EXPECT_TRUE(component.BulkToTable(*table, elapsed)) << Message(component);
  EXPECT_EQ(
      t.db().Query(R"(SELECT "it's;a ""name""", "select", "ünï" FROM "ta""ble'; DROP TABLE victims; --")"),
      "'); DROP TABLE victims; --|'; DROP TABLE victims; --|x");

  t.db().Exec(
      "CREATE TABLE tessel_enum_tables (name {text} PRIMARY KEY); "
      "INSERT INTO tessel_enum_tables VALUES ('it''s')");
  EXPECT_TRUE(component.IsEnumTable("it's"));
  EXPECT_FALSE(component.IsEnumTable("' OR '1'='1"));
  EXPECT_FALSE(component.IsEnumTable(hostile));
  EXPECT_EQ(t.db().Query("SELECT count(*) FROM victims"), "1");
}

// GetTable hands out a new empty table every time, named as asked: what a
// caller does to one never shows in the next. A table the database gains
// later is found, even under a name that found nothing before; a script run
// through the component is seen at the next call.
void EachGetTableGivesAFreshTable(ComponentContract& t) {
  t.db().Exec("CREATE TABLE cases (id {int} PRIMARY KEY, name {text})");
  DbConnect& component = t.component();
  auto first = component.GetTable("cases");
  ASSERT_NE(first, nullptr);
  AddRow(*first, {{"id", 1}});

  auto second = component.GetTable("CASES");
  ASSERT_NE(second, nullptr);
  EXPECT_NE(first, second);
  EXPECT_EQ(second->Rows().Count(), 0u);
  EXPECT_EQ(second->TableName(), "CASES");
  EXPECT_EQ(first->TableName(), "cases");
  EXPECT_EQ(first->Rows().Count(), 1u);
  auto third = component.GetTable("cases");
  ASSERT_NE(third, nullptr);
  EXPECT_EQ(third->Rows().Count(), 0u);

  EXPECT_EQ(component.GetTable("later"), nullptr);
  t.db().Exec("CREATE TABLE later (x {int})");
  EXPECT_NE(component.GetTable("later"), nullptr) << "an absent table was remembered as absent";

  component.ExecuteScript("ALTER TABLE cases ADD COLUMN note TEXT");
  auto altered = component.GetTable("cases");
  ASSERT_NE(altered, nullptr);
  EXPECT_EQ(altered->ColumnCount(), 3u);
  EXPECT_THROW(component.ExecuteScript("ALTER TABLE no_such_table ADD COLUMN x INTEGER"), DatabaseError);
}

// ---------------------------------------------------------------------------
// The enumeration catalogue

// The names listed in tessel_enum_tables, found as tables are (exact, then
// the one folded match); no catalogue, no enumeration tables. The catalogue's
// name column is UNIQUE here rather than the key so that PostgreSQL too
// accepts the null entry, which must count for no name.
void EnumerationTablesComeFromTheCatalogue(ComponentContract& t) {
  DbConnect& component = t.component();
  EXPECT_FALSE(component.IsEnumTable("Colors")) << "no catalogue: nothing is an enumeration";

  t.db().Exec(R"(
    CREATE TABLE tessel_enum_tables (name {text} UNIQUE);
    INSERT INTO tessel_enum_tables VALUES ('Colors'), ('Status'), ('STATUS'), ('Units'), ('colours'), ('Colours'), (NULL);)");
  const std::pair<const char*, bool> cases[] = {
      {"Colors", true},   {"colors", true}, {"Status", true},  {"STATUS", true},
      {"status", false},  // two entries fold alike: the caller must spell it
      {"Units", true},    {"units", true},  {"colours", true}, {"Colours", true},
      {"COLOURS", false}, {"Sizes", false}, {"cases", false},  {"", false},
  };
  for (const auto& [name, expected] : cases) EXPECT_EQ(component.IsEnumTable(name), expected) << name;
}

// ---------------------------------------------------------------------------
// Writes

// Nothing to write: the write succeeds without a transaction, so that even
// another connection's lock on the table does not stand in its way.
void AnEmptyWriteSucceedsWithoutTouchingTheDatabase(ComponentContract& t) {
  t.db().Exec("CREATE TABLE cases (id {int} PRIMARY KEY)");
  auto component = t.NewComponent(/*shortLockWait=*/true);
  auto table = component->GetTable("cases");
  ASSERT_NE(table, nullptr);

  const auto lock = t.db().HoldWriteLock("cases");
  std::int64_t elapsed = 7;
  EXPECT_TRUE(component->BulkToTable(*table, elapsed)) << Message(*component);
  EXPECT_EQ(Message(*component), "0 rows written to table 'cases'");
  EXPECT_GE(elapsed, 7) << "the elapsed time is added, not assigned";
  lock->Release();
  EXPECT_EQ(t.db().Query("SELECT count(*) FROM cases"), "0");

  // A stream that gets no row (only empty batches) commits as well.
  {
    const auto held = t.db().HoldWriteLock("cases");
    const std::unique_ptr<BulkStream> stream = component->OpenBulkStream(*table);
    EXPECT_TRUE(stream->Append(*table)) << Message(*component);
    EXPECT_TRUE(stream->Commit()) << Message(*component);
    EXPECT_EQ(Message(*component), "0 rows written to table 'cases'");
    EXPECT_EQ(stream->Rows(), 0u);
  }
}

// A batch of `rows` rows of items(id, label) from id `first` on; `twin` of
// them (a position in the batch) takes the id `twinId` instead.
std::shared_ptr<Data::DataTable> ItemBatch(const Data::DataTable& shape, int first, int rows, int twin = -1,
                                           int twinId = 0) {
  auto batch = shape.CloneShape();
  for (int i = 0; i < rows; ++i) {
    const std::string label = "item " + std::to_string(first + i);
    AddRow(*batch, {{"id", i == twin ? twinId : first + i}, {"label", std::string_view(label)}});
  }
  return batch;
}

// A stream writes its batches, in order, in one transaction: nothing of them
// shows before Commit, every row after it; the component's message counts
// them all, and a second Commit changes nothing.
void AStreamWritesItsBatchesInOneTransaction(ComponentContract& t) {
  t.db().Exec("CREATE TABLE items (id {int} PRIMARY KEY, label {text})");
  DbConnect& component = t.component();
  auto shape = component.GetTable("items");
  ASSERT_NE(shape, nullptr);
  const std::unique_ptr<BulkStream> stream = component.OpenBulkStream(*shape);
  int next = 0;
  for (const int rows : {3, 0, 2000, 1}) {
    ASSERT_TRUE(stream->Append(*ItemBatch(*shape, next, rows))) << Message(component);
    next += rows;
  }
  EXPECT_EQ(stream->Rows(), 2004u);
  EXPECT_EQ(t.db().Query("SELECT count(*) FROM items"), "0") << "rows showed before the commit";
  ASSERT_TRUE(stream->Commit()) << Message(component);
  EXPECT_EQ(Message(component), "2004 rows written to table 'items'");
  EXPECT_EQ(t.db().Query("SELECT count(*), min(id), max(id), sum(id) FROM items"), "2004|0|2003|2007006");
  EXPECT_EQ(t.db().Query("SELECT label FROM items WHERE id = 1500"), "item 1500");
  EXPECT_TRUE(stream->Commit());
  EXPECT_THROW(stream->Append(*ItemBatch(*shape, next, 1)), ArgumentError) << "appended after the commit";
  EXPECT_EQ(t.db().Query("SELECT count(*) FROM items"), "2004");

  // A batch must have the table's columns.
  auto other = Data::DataTable::Create("items");
  Data::DataColumn textId;
  textId.ColumnName = "id";
  textId.Type = DataType::String;
  other->AddColumn(textId);
  const std::unique_ptr<BulkStream> wrong = component.OpenBulkStream(*shape);
  EXPECT_THROW(wrong->Append(*other), ArgumentError);
}

// A stream dropped without Commit rolls back every batch it wrote, and the
// component writes the next table as usual.
void AStreamDroppedWithoutCommitWritesNothing(ComponentContract& t) {
  t.db().Exec(
      "CREATE TABLE items (id {int} PRIMARY KEY, label {text}); INSERT INTO items VALUES (-1, 'kept')");
  DbConnect& component = t.component();
  auto shape = component.GetTable("items");
  ASSERT_NE(shape, nullptr);
  {
    const std::unique_ptr<BulkStream> stream = component.OpenBulkStream(*shape);
    ASSERT_TRUE(stream->Append(*ItemBatch(*shape, 0, 500))) << Message(component);
    ASSERT_TRUE(stream->Append(*ItemBatch(*shape, 500, 500))) << Message(component);
  }
  EXPECT_EQ(t.db().Query("SELECT count(*), min(id) FROM items"), "1|-1");

  auto table = ItemBatch(*shape, 7, 1);
  std::int64_t elapsed = 0;
  EXPECT_TRUE(component.BulkToTable(*table, elapsed)) << Message(component);
  EXPECT_EQ(t.db().Query("SELECT count(*) FROM items"), "2");
}

// A row refused in a later batch undoes the batches before it too. The
// failure (at the Append, or at the latest at Commit) names the row by its
// position among all the stream's rows, and the stream stays failed.
void ARowRefusedInALaterBatchUndoesEveryBatch(ComponentContract& t) {
  t.db().Exec("CREATE TABLE items (id {int} UNIQUE, label {text})");
  DbConnect& component = t.component();
  auto shape = component.GetTable("items");
  ASSERT_NE(shape, nullptr);
  const std::unique_ptr<BulkStream> stream = component.OpenBulkStream(*shape);
  ASSERT_TRUE(stream->Append(*ItemBatch(*shape, 0, 1000))) << Message(component);
  // The row at position 1000 + 250 repeats the id of the row at position 42.
  const bool written = stream->Append(*ItemBatch(*shape, 1000, 1000, 250, 42)) && stream->Commit();
  EXPECT_FALSE(written);
  const std::string message = Message(component);
  EXPECT_TRUE(Contains(message, t.db().FailureCode(Failure::UniqueViolation))) << message;
  EXPECT_TRUE(Contains(message, "the row at position 1250 (0-based)")) << message;
  EXPECT_TRUE(Contains(message, "'items'")) << message;
  EXPECT_TRUE(Contains(message, "Nothing of the table was written")) << message;
  EXPECT_FALSE(Contains(message, kRerunTransaction)) << message;
  EXPECT_EQ(stream->Category(), ErrorCategory::Refused);
  EXPECT_EQ(stream->FailedRow(), std::optional<std::uint64_t>(1250));

  EXPECT_FALSE(stream->Append(*ItemBatch(*shape, 5000, 1))) << "a failed stream took more rows";
  EXPECT_FALSE(stream->Commit()) << "a failed stream committed";
  EXPECT_EQ(t.db().Query("SELECT count(*) FROM items"), "0");
}

// Another connection holds the table: the component waits as long as it was
// told, then gives up asking for a rerun, with nothing written; the same
// table goes through once the lock is gone.
void ABusyTableAsksForARerunAndWritesNothing(ComponentContract& t) {
  t.db().Exec("CREATE TABLE cases (id {int} PRIMARY KEY, name {text})");
  auto component = t.NewComponent(/*shortLockWait=*/true);
  auto table = component->GetTable("cases");
  ASSERT_NE(table, nullptr);
  AddRow(*table, {{"id", 1}, {"name", "a"}});

  auto lock = t.db().HoldWriteLock("cases");
  std::int64_t elapsed = 0;
  EXPECT_FALSE(component->BulkToTable(*table, elapsed));
  const std::string message = Message(*component);
  EXPECT_TRUE(Contains(message, kRerunTransaction)) << message;
  EXPECT_TRUE(Contains(message, t.db().FailureCode(Failure::LockWait))) << message;
  EXPECT_FALSE(Contains(message, kSchemaChange)) << message;
  EXPECT_GE(elapsed, t.db().ShortLockWaitMs() * 4 / 5) << "the lock was not waited for";
  lock->Release();
  EXPECT_EQ(t.db().Query("SELECT count(*) FROM cases"), "0");

  EXPECT_TRUE(component->BulkToTable(*table, elapsed)) << Message(*component);
  EXPECT_EQ(t.db().Query("SELECT id, name FROM cases"), "1|a");
}

// A row the database refuses for good undoes the whole table, and the
// message says why without asking for a rerun; the component writes the
// next table as if nothing had happened.
void ARefusedRowUndoesTheWholeTable(ComponentContract& t) {
  t.db().Exec(
      "CREATE TABLE parts (code {text} UNIQUE, qty {int} CHECK (qty >= 0)); "
      "INSERT INTO parts VALUES ('taken', 1)");
  struct Case {
    const char* name;
    std::vector<std::pair<const char*, int>> rows;
    Failure refusal;
  } cases[] = {
      {"duplicate of a stored key", {{"a", 1}, {"b", 2}, {"taken", 3}}, Failure::UniqueViolation},
      {"check constraint", {{"c", 1}, {"d", -1}}, Failure::CheckViolation},
  };
  DbConnect& component = t.component();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto table = component.GetTable("parts");
    ASSERT_NE(table, nullptr);
    for (const auto& [code, qty] : c.rows) AddRow(*table, {{"code", code}, {"qty", qty}});

    std::int64_t elapsed = 0;
    EXPECT_FALSE(component.BulkToTable(*table, elapsed));
    const std::string message = Message(component);
    EXPECT_TRUE(Contains(message, t.db().FailureCode(c.refusal))) << message;
    EXPECT_TRUE(Contains(message, "'parts'")) << message;
    EXPECT_TRUE(Contains(message, "Nothing of the table was written")) << message;
    EXPECT_FALSE(Contains(message, kRerunTransaction)) << message;
    EXPECT_FALSE(Contains(message, kSchemaChange)) << message;
    EXPECT_EQ(t.db().Query("SELECT code FROM parts"), "taken");
  }
  auto table = component.GetTable("parts");
  ASSERT_NE(table, nullptr);
  AddRow(*table, {{"code", "fine"}, {"qty", 1}});
  std::int64_t elapsed = 0;
  EXPECT_TRUE(component.BulkToTable(*table, elapsed)) << Message(component);
  EXPECT_EQ(t.db().Query("SELECT count(*) FROM parts"), "2");
}

// The table changed in the database between GetTable and the write: the
// write fails naming a schema change (a rerun with a fresh shape may
// succeed), never asking to rerun the same table, and writes nothing.
void ATableChangedSinceGetTableIsASchemaChange(ComponentContract& t) {
  struct Case {
    const char* change;
    bool tableRemains;
  } cases[] = {
      {"ALTER TABLE cases DROP COLUMN note", true},
      {"ALTER TABLE cases RENAME COLUMN note TO remark", true},
      {"DROP TABLE cases; CREATE TABLE cases (id {int}, note {blob})", true},  // other kind of value
      {"DROP TABLE cases; CREATE TABLE cases (id {int}, note {int})", true},
      {"DROP TABLE cases; CREATE TABLE cases (id {int}, note {text}, required {int} NOT NULL)", true},
      {"DROP TABLE cases; CREATE TABLE cases (id {int}, note {text} GENERATED ALWAYS AS ('x') STORED)", true},
      {"ALTER TABLE cases RENAME TO renamed", false},
      {"DROP TABLE cases", false},
  };
  DbConnect& component = t.component();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.change);
    t.db().Exec(
        "DROP TABLE IF EXISTS renamed; DROP TABLE IF EXISTS cases; "
        "CREATE TABLE cases (id {int}, note {text})");
    auto table = component.GetTable("cases");
    ASSERT_NE(table, nullptr);
    ASSERT_EQ(table->ColumnCount(), 2u);
    AddRow(*table, {{"id", 1}, {"note", "n"}});

    t.db().Exec(c.change);
    std::int64_t elapsed = 0;
    EXPECT_FALSE(component.BulkToTable(*table, elapsed));
    const std::string message = Message(component);
    EXPECT_TRUE(Contains(message, kSchemaChange)) << message;
    EXPECT_FALSE(Contains(message, kRerunTransaction)) << message;
    if (c.tableRemains) {
      EXPECT_EQ(t.db().Query("SELECT count(*) FROM cases"), "0");
    }
  }
}

// The built-in probe writes through the same path as BulkToTable, into a
// table of its own that it leaves nowhere the caller would see it.
void BulkExampleWritesThroughTheSamePath(ComponentContract& t) {
  DbConnect& component = t.component();
  for (const std::int32_t iterations : {0, -3, 1, 2500}) {
    SCOPED_TRACE(iterations);
    std::int64_t micros = -1;
    ASSERT_NO_THROW(micros = component.BulkExample(iterations));
    if (iterations > 1) {
      EXPECT_GT(micros, 0);
    } else {
      EXPECT_GE(micros, 0);
    }
    const std::int32_t rows = std::max(iterations, 0);
    EXPECT_EQ(Message(component), std::to_string(rows) + (rows == 1 ? " row" : " rows") +
                                      " written to table 'tessel_bulk_example'");
  }
  EXPECT_EQ(component.GetTable("tessel_bulk_example"), nullptr)
      << "the example left its table in the table set";
}

// ---------------------------------------------------------------------------
// Routines

void NewDbParameterHoldsExactlyWhatWasGiven(ComponentContract& t) {
  auto parameter = t.component().NewDbParameter("@when", DbType::DateTime, 17,
                                                static_cast<ParameterDirection>(0), Value(1.5));
  EXPECT_EQ(parameter->ParameterName, "@when");
  EXPECT_EQ(parameter->Type, DbType::DateTime);
  EXPECT_EQ(parameter->Size, 17);
  EXPECT_EQ(static_cast<int>(parameter->Direction), 0);
  EXPECT_EQ(parameter->ParamValue, Value(1.5));
}

// Routines are found as tables are: the exact name, else the one that folds
// alike. A routine that is not there gives -1, names itself in the message
// and leaves the output alone.
void AnUnknownRoutineGivesMinusOneWithTheReason(ComponentContract& t) {
  EXPECT_EQ(t.Run("Nothing"), -1) << "no routines at all";
  EXPECT_EQ(t.output, "before");

  RoutineDefinition lower{"Report", {}, "SELECT 1 AS n", {{"n", "{int}"}}};
  RoutineDefinition upper{"REPORT", {}, "SELECT 2 AS n", {{"n", "{int}"}}};
  lower.exactName = upper.exactName = true;
  t.db().DefineRoutine(lower);
  t.db().DefineRoutine(upper);
  EXPECT_EQ(t.Run("REPORT"), 2) << Message(t.component()) << ": the exact name wins";
  EXPECT_EQ(t.output, "n=2;");
  EXPECT_EQ(t.Run("Report"), 1) << Message(t.component());
  EXPECT_EQ(t.Run("report"), -1) << "two routines fold alike";
  EXPECT_EQ(t.output, "before");

  EXPECT_EQ(t.Run("Nothing"), -1);
  EXPECT_EQ(t.output, "before");
  EXPECT_TRUE(Contains(Message(t.component()), "'Nothing'")) << Message(t.component());
}

// A routine that fails half-way gives -1 with the database's reason, and
// leaves neither output nor any of its work; the component runs the next
// routine as usual.
void AFailingRoutineLeavesNothingBehind(ComponentContract& t) {
  t.db().Exec("CREATE TABLE log (id {int}, note {text} NOT NULL)");
  t.db().DefineRoutine(
      {"AddTwo",
       {{"p_note", "{text}"}},
       "INSERT INTO log (id, note) VALUES (1, :p_note); INSERT INTO log (id, note) VALUES (2, NULL)",
       {}});
  t.db().DefineRoutine({"CountLog", {}, "SELECT count(*) AS n FROM log", {{"n", "{bigint}"}}});

  EXPECT_EQ(t.Run("AddTwo", {t.Param("p_note", DbType::String, Value("first"))}), -1);
  const std::string message = Message(t.component());
  EXPECT_TRUE(Contains(message, t.db().FailureCode(Failure::NotNullViolation))) << message;
  EXPECT_TRUE(Contains(Lower(message), "'addtwo'")) << message;
  EXPECT_EQ(t.output, "before");
  EXPECT_EQ(t.db().Query("SELECT count(*) FROM log"), "0");

  EXPECT_EQ(t.Run("CountLog"), 0) << Message(t.component());
  EXPECT_EQ(t.output, "n=0;");
}

// GetMaxSolnIdCaseId runs the table set's routine of that name with the
// model directory and hands back its rows; no routine, no table; a failing
// routine is an error naming it with the database's reason.
void TheSolutionLookupGivesTheRoutinesRows(ComponentContract& t) {
  DbConnect& component = t.component();
  EXPECT_EQ(component.GetMaxSolnIdCaseId("/models/a"), nullptr) << "no such routine";

  t.db().Exec(R"(
    CREATE TABLE solutions (ModelDir {text}, SolutionId {int}, Caseid {int}, score {real});
    INSERT INTO solutions VALUES ('/models/a', 12, 3, 1), ('/models/a', 15, 4, 2.5),
                                 ('/models/b', 20, 5, 2), ('/models/a', NULL, 6, NULL);)");
  t.db().DefineRoutine(
      {"getmaxsolnidcaseid",
       {{"p_dir", "{text}"}},
       "SELECT SolutionId, Caseid, score FROM solutions WHERE ModelDir = :p_dir ORDER BY Caseid",
       {{"SolutionId", "{int}"}, {"Caseid", "{int}"}, {"score", "{real}"}}});
  auto table = component.GetMaxSolnIdCaseId("/models/a");
  ASSERT_NE(table, nullptr);
  ASSERT_EQ(table->ColumnCount(), 3u);
  EXPECT_EQ(table->Column(0).ColumnName, "SolutionId");
  EXPECT_EQ(table->Column(1).ColumnName, "Caseid");
  // SQLite's integers are all 64-bit; PostgreSQL's int4 stays 32-bit.
  EXPECT_EQ(table->Column(0).Type, t.backend() == Backend::Sqlite ? DataType::Int64 : DataType::Int32);
  EXPECT_EQ(table->Column(2).Type, DataType::Double);
  std::string rows;
  for (Data::DataRow row : table->Rows())
    rows += row.Get("Caseid").ToString() + ":" + row.Get("SolutionId").ToString() + ";";
  EXPECT_EQ(rows, "3:12;4:15;6:;");

  auto none = component.GetMaxSolnIdCaseId("/models/none");
  ASSERT_NE(none, nullptr);
  EXPECT_EQ(none->Rows().Count(), 0u);

  t.db().Exec("DROP TABLE solutions");
  try {
    component.GetMaxSolnIdCaseId("/models/a");
    ADD_FAILURE() << "a failing routine gave no error";
  } catch (const DatabaseError& e) {
    EXPECT_TRUE(Contains(e.what(), "'getmaxsolnidcaseid'")) << e.what();
    EXPECT_TRUE(Contains(e.what(), "solutions")) << e.what();
    EXPECT_TRUE(Contains(e.what(), t.db().FailureCode(Failure::MissingTable))) << e.what();
  }
}

// ---------------------------------------------------------------------------
// Connection strings

// A connection string of another backend's form (or of none) set on the
// component is refused, never taken for something else (libpq, for one,
// would take any text without "=" for a database name on its default server,
// and "" for that server's default database): Test answers false saying so,
// the operations that need the database throw, and setting the component's
// own string again brings it back.
void AConnectionStringOfAnotherFormIsRefused(ComponentContract& t) {
  t.db().Exec("CREATE TABLE cases (id {int})");
  DbConnect& component = t.component();
  const std::string own = t.db().ConnectionString();
  const std::string ownBackend = DbConnectFactory::BackendName(own);
  ASSERT_FALSE(ownBackend.empty()) << own;
  int refused = 0;
  for (const std::string connect : {"postgresql://localhost/db", "host=localhost dbname=db",
                                    "sqlite::memory:", "sqlite:other.db", "", "tessel_test"}) {
    if (DbConnectFactory::BackendName(connect) == ownBackend) continue;
    SCOPED_TRACE(connect);
    ++refused;
    component.SetConnectionString(connect);
    bool answered = true;
    EXPECT_NO_THROW(answered = component.Test());
    EXPECT_FALSE(answered);
    EXPECT_TRUE(Contains(Message(component), "'" + connect + "' is not a")) << Message(component);
    EXPECT_THROW(component.GetTable("cases"), ArgumentError);
  }
  EXPECT_GE(refused, 3);
  component.SetConnectionString(own);
  EXPECT_TRUE(component.Test()) << Message(component);
  EXPECT_NE(component.GetTable("cases"), nullptr);
}

// ---------------------------------------------------------------------------

const ContractCase kContract[] = {
    {"TableLookupIsExactThenTheOneFoldedMatch", TableLookupIsExactThenTheOneFoldedMatch},
    {"AViewIsNotATable", AViewIsNotATable},
    {"HostileNamesAreOnlyEverNames", HostileNamesAreOnlyEverNames},
    {"EachGetTableGivesAFreshTable", EachGetTableGivesAFreshTable},
    {"EnumerationTablesComeFromTheCatalogue", EnumerationTablesComeFromTheCatalogue},
    {"AnEmptyWriteSucceedsWithoutTouchingTheDatabase", AnEmptyWriteSucceedsWithoutTouchingTheDatabase},
    {"ABusyTableAsksForARerunAndWritesNothing", ABusyTableAsksForARerunAndWritesNothing},
    {"ARefusedRowUndoesTheWholeTable", ARefusedRowUndoesTheWholeTable},
    {"ATableChangedSinceGetTableIsASchemaChange", ATableChangedSinceGetTableIsASchemaChange},
    {"AStreamWritesItsBatchesInOneTransaction", AStreamWritesItsBatchesInOneTransaction},
    {"AStreamDroppedWithoutCommitWritesNothing", AStreamDroppedWithoutCommitWritesNothing},
    {"ARowRefusedInALaterBatchUndoesEveryBatch", ARowRefusedInALaterBatchUndoesEveryBatch},
    {"BulkExampleWritesThroughTheSamePath", BulkExampleWritesThroughTheSamePath},
    {"NewDbParameterHoldsExactlyWhatWasGiven", NewDbParameterHoldsExactlyWhatWasGiven},
    {"AnUnknownRoutineGivesMinusOneWithTheReason", AnUnknownRoutineGivesMinusOneWithTheReason},
    {"AFailingRoutineLeavesNothingBehind", AFailingRoutineLeavesNothingBehind},
    {"TheSolutionLookupGivesTheRoutinesRows", TheSolutionLookupGivesTheRoutinesRows},
    {"AConnectionStringOfAnotherFormIsRefused", AConnectionStringOfAnotherFormIsRefused},
};

std::string CaseName(const ::testing::TestParamInfo<ComponentContract::ParamType>& info) {
  return std::string(std::get<1>(info.param).name) + "_" + EndToEnd::NameOf(std::get<0>(info.param));
}

INSTANTIATE_TEST_SUITE_P(Backends, ComponentContract,
                         ::testing::Combine(::testing::ValuesIn(EndToEnd::BuiltBackends()),
                                            ::testing::ValuesIn(kContract)),
                         CaseName);

}  // namespace
}  // namespace Tessel::Contract
