// The column stores' cells in their narrow and wide forms: every value reads
// back as written whichever form holds it, a column stays narrow while its
// values allow and widens once, whole, when one does not, and the null
// bitmaps keep each record's bit wherever it falls in a word.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "TesselWrapper/Errors.h"
#include "TesselWrapper/data/DataTable.h"
#include "data/ColumnStore.h"

namespace Tessel::Data {
namespace {

using detail::Cell;
using detail::ColumnStore;

Cell TextCell(std::string_view text) {
  Cell cell;
  cell.null = false;
  cell.bytes = text;
  return cell;
}

Cell WordCell(std::uint64_t word) {
  Cell cell;
  cell.null = false;
  cell.word = word;
  return cell;
}

void Append(ColumnStore& store) {
  store.ReserveRecords(store.Records() + 1);
  store.AppendRecord();
}

// A text column driven through appends, stores, nulls, copies of its own
// cells and rewrites of old records, checked against a plain model after
// every step.
class TextModel {
 public:
  explicit TextModel(std::optional<std::string> defaultText) : default_(std::move(defaultText)) {
    if (default_) store_.SetDefault(TextCell(*default_));
  }

  void Append() {
    Tessel::Data::Append(store_);
    model_.push_back(default_);
  }
  void Set(RecordId r, const std::string& text) {
    store_.StoreText(r, text);
    model_[r] = text;
  }
  void SetNull(RecordId r) {
    store_.Store(r, Cell{}, false);
    model_[r].reset();
  }
  // The text of one of its own cells, viewed where the column keeps it.
  void Copy(RecordId to, RecordId from) {
    if (store_.IsNull(from)) return SetNull(to);
    store_.StoreText(to, store_.Text(from));
    model_[to] = model_[from];
  }
  void Check(const std::string& step) const {
    ASSERT_EQ(store_.Records(), model_.size()) << step;
    for (RecordId r = 0; r < model_.size(); ++r) {
      ASSERT_EQ(store_.IsNull(r), !model_[r].has_value()) << step << ", record " << r;
      if (model_[r]) {
        ASSERT_EQ(store_.Text(r), *model_[r]) << step << ", record " << r;
      }
    }
  }
  const ColumnStore& Store() const { return store_; }
  std::size_t Size() const { return model_.size(); }

 private:
  std::optional<std::string> default_;
  ColumnStore store_{DataType::String};
  std::vector<std::optional<std::string>> model_;
};

// Text with NULs, bytes above 0x7F and the lengths at the edges of the
// narrow form (254 fits, 255 does not).
std::string SomeText(std::mt19937& random) {
  static const std::size_t lengths[] = {0, 1, 7, 15, 20, 254, 255, 256, 300};
  const std::size_t length = random() % 4 == 0 ? lengths[random() % std::size(lengths)] : random() % 24;
  std::string text(length, '\0');
  for (char& c : text) c = static_cast<char>(random() % 5 == 0 ? 0 : random() % 256);
  return text;
}

TEST(NarrowCellsTest, RowByRowTextStaysNarrowAndReadsBack) {
  // The way rows are staged: each record filled once, fields set twice now
  // and then, short text; the column never needs its wide form.
  TextModel column(std::nullopt);
  std::mt19937 random(7);
  for (RecordId r = 0; r < 5000; ++r) {
    column.Append();
    std::string text(random() % 21, 'a');
    for (char& c : text) c = static_cast<char>('a' + random() % 26);
    if (r % 97 == 5) text.insert(text.size() / 2, 1, '\0');
    if (r % 13 == 0) column.Set(r, "first value of this row");  // then rewritten, shorter or longer
    if (r % 11 == 3) {
      column.SetNull(r);
    } else {
      column.Set(r, text);
    }
  }
  column.Check("after the rows");
  EXPECT_FALSE(column.Store().IsWide());
}

TEST(NarrowCellsTest, AnyOrderOfWritesReadsBackThroughTheWidening) {
  struct Run {
    const char* label;
    std::optional<std::string> defaultText;
  };
  for (const Run& run :
       {Run{"no default", std::nullopt}, Run{"empty default", ""}, Run{"shared default", "shared default"}}) {
    SCOPED_TRACE(run.label);
    TextModel column(run.defaultText);
    std::mt19937 random(20240601);
    for (int step = 0; step < 4000; ++step) {
      const unsigned what = random() % 10;
      if (column.Size() == 0 || what < 3) {
        column.Append();
      } else {
        const auto r = static_cast<RecordId>(random() % column.Size());
        if (what < 7) {
          column.Set(r, SomeText(random));
        } else if (what < 8) {
          column.SetNull(r);
        } else {
          column.Copy(r, static_cast<RecordId>(random() % column.Size()));
        }
      }
      if (step % 97 == 0) column.Check("step " + std::to_string(step));
    }
    column.Check("the end");
    EXPECT_TRUE(column.Store().IsWide()) << "texts of 255 bytes and more need the wide form";
  }
}

TEST(NarrowCellsTest, AnOldRecordRewrittenFarFromItsBlockWidensTheColumn) {
  TextModel column(std::nullopt);
  for (RecordId r = 0; r < 10; ++r) {
    column.Append();
    column.Set(r, "row " + std::to_string(r));
  }
  // Far more text than the 16-bit offset of a narrow cell reaches.
  for (RecordId r = 10; r < 600; ++r) {
    column.Append();
    column.Set(r, std::string(200, static_cast<char>('a' + r % 26)));
  }
  EXPECT_FALSE(column.Store().IsWide());
  column.Set(3, "longer than row 3 was");  // goes to the arena's end, 100 KiB from its block
  EXPECT_TRUE(column.Store().IsWide());
  column.Check("after the rewrite");
  column.Append();
  column.Set(600, std::string("a\0b", 3));
  column.Check("after another row");
}

TEST(NarrowCellsTest, SavedCellsComeBackInEitherForm) {
  struct Case {
    const char* label;
    std::optional<std::string> before;  // nullopt: DBNull
    bool widenBetween;                  // the store that is undone widened the column
  };
  const std::vector<Case> cases = {
      {"text", "old text", false},
      {"empty", "", false},
      {"null", std::nullopt, false},
      {"the default", "<default>", false},
      {"text, widened", "old text", true},
      {"null, widened", std::nullopt, true},
      {"the default, widened", "<default>", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    ColumnStore store(DataType::String);
    store.SetDefault(TextCell("the default"));
    for (int i = 0; i < 3; ++i) Append(store);
    const std::string before = c.before && *c.before == "<default>" ? "the default" : c.before.value_or("");
    if (!c.before) {
      store.Store(1, Cell{}, false);
    } else if (*c.before != "<default>") {
      store.StoreText(1, before);
    }
    store.StoreText(2, "neighbour");

    const ColumnStore::Saved saved = store.Save(1);
    const std::string next = c.widenBetween ? std::string(400, 'w') : "new";
    store.Store(1, TextCell(next), true);
    EXPECT_EQ(store.IsWide(), c.widenBetween);
    EXPECT_EQ(store.Text(1), next);
    store.Restore(1, saved);
    EXPECT_EQ(store.IsNull(1), !c.before.has_value());
    if (c.before) {
      EXPECT_EQ(store.Text(1), before);
    }
    EXPECT_EQ(store.Text(0), "the default");
    EXPECT_EQ(store.Text(2), "neighbour");
  }
}

TEST(NarrowCellsTest, IntegersWidenOnceForAValueBeyond32Bits) {
  const std::vector<std::int64_t> values = {0, -1, 1, std::numeric_limits<std::int32_t>::min(),
                                            std::numeric_limits<std::int32_t>::max()};
  ColumnStore int64(DataType::Int64);
  ColumnStore int32(DataType::Int32);
  for (std::size_t i = 0; i < 300; ++i) {
    for (ColumnStore* store : {&int64, &int32}) {
      Append(*store);
      if (i % 7 == 0) continue;  // stays DBNull
      store->Store(static_cast<RecordId>(i), WordCell(static_cast<std::uint64_t>(values[i % values.size()])),
                   false);
    }
  }
  EXPECT_FALSE(int64.IsWide());
  const std::int64_t big = std::int64_t{1} << 40;
  int64.Store(299, WordCell(static_cast<std::uint64_t>(big)), false);
  int64.Store(298, WordCell(static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::min())), false);
  EXPECT_TRUE(int64.IsWide());
  EXPECT_FALSE(int32.IsWide());
  for (RecordId r = 0; r < 298; ++r) {
    for (const ColumnStore* store : {&int64, &int32}) {
      ASSERT_EQ(store->IsNull(r), r % 7 == 0) << r;
      if (r % 7 != 0) {
        ASSERT_EQ(store->Int(r), values[r % values.size()]) << r;
      }
    }
  }
  EXPECT_EQ(int64.Int(299), big);
  EXPECT_EQ(int64.Int(298), std::numeric_limits<std::int64_t>::min());
}

TEST(NarrowCellsTest, NullBitsAtWordEdgesSurviveGrowth) {
  // Enough records for the bitmap to move from the heap to a mapping.
  constexpr RecordId kRecords = 2'200'000;
  const std::vector<RecordId> nullAt = {0,    62,   63,     64,     65,        127,       128,         129,
                                        4095, 4096, 262143, 262144, 2'097'151, 2'097'152, kRecords - 1};
  ColumnStore store(DataType::Int32);
  EXPECT_FALSE(store.AnyNull());
  std::size_t next = 0;
  for (RecordId r = 0; r < kRecords; ++r) {
    Append(store);  // DBNull, the default
    if (next < nullAt.size() && nullAt[next] == r) {
      ++next;
    } else {
      store.Store(r, WordCell(r), false);
    }
  }
  next = 0;
  for (RecordId r = 0; r < kRecords; ++r) {
    const bool expectNull = next < nullAt.size() && nullAt[next] == r;
    if (expectNull) ++next;
    ASSERT_EQ(store.IsNull(r), expectNull) << r;
    if (!expectNull) {
      ASSERT_EQ(store.Int(r), r) << r;
    }
  }
  EXPECT_TRUE(store.AnyNull());
  for (RecordId r : nullAt) store.Store(r, WordCell(1), false);
  EXPECT_FALSE(store.AnyNull());
}

// Unique rules see a key as equal whatever form its cells were in when each
// row was added, and a refused write leaves the row's old key in place.
TEST(NarrowCellsTest, UniqueKeysHoldAcrossTheWidening) {
  auto table = DataTable::Create("t");
  table->AddColumn({.ColumnName = "id", .Type = DataType::Int64});
  table->AddColumn({.ColumnName = "code", .Type = DataType::String});
  table->AddUniqueConstraint({0}, true);
  table->AddUniqueConstraint({1});
  auto add = [&](std::int64_t id, std::string_view code) {
    DataRow row = table->NewRow();
    row.Set("id", id);
    row.Set("code", code);
    table->Rows().Add(row);
    return row;
  };
  DataRow first = add(5, "five");
  DataRow second = add(6, "six");
  add(std::int64_t{1} << 40, std::string(300, 'x'));  // widens both columns
  EXPECT_THROW(add(5, "other"), ConstraintError);
  EXPECT_THROW(add(7, "five"), ConstraintError);
  EXPECT_THROW(add(std::int64_t{1} << 40, "again"), ConstraintError);
  EXPECT_THROW(second.Set("code", "five"), ConstraintError);
  EXPECT_THROW(second.Set("id", std::int64_t{5}), ConstraintError);
  EXPECT_EQ(second.Get("code"), Value("six"));
  EXPECT_EQ(second.Get("id"), Value(std::int64_t{6}));
  first.Set("code", "changed");
  add(8, "five");  // free again
  EXPECT_EQ(table->Rows().Count(), 4u);
}

}  // namespace
}  // namespace Tessel::Data
