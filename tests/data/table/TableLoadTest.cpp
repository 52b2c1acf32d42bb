// The bridge's ways into a table (data/TableLoad.h) against the public ones
// they stand in for: the same column found, the same value stored, the same
// error thrown, whatever order the names come in and whatever the locale.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <typeinfo>
#include <vector>

#include "TesselWrapper/Errors.h"
#include "TesselWrapper/data/DataTable.h"
#include "TesselWrapper/data/Text.h"
#include "data/TableLoad.h"
#include "support/TestLocale.h"

namespace Tessel::Data {
namespace {

using detail::NativeCharset;

std::string ErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const std::exception& e) {
    return std::string(typeid(e).name()) + ": " + e.what();
  }
  return "";
}

TEST(TableLoadTest, PortableTextIsExactlyPrintableAsciiTabAndLineEnds) {
  const auto reference = [](std::string_view text) {
    for (unsigned char c : text)
      if ((c < 0x20 || c > 0x7E) && c != '\t' && c != '\n' && c != '\r') return false;
    return true;
  };
  std::vector<std::string> texts = {"", "i1", "Name", "a b~c", "tab\there", "line\r\n", "0123456789abcdef"};
  // Every odd byte at every place of texts 1 to 17 bytes long: before, on
  // and after the 8-byte steps.
  for (std::size_t length = 1; length <= 17; ++length) {
    for (std::size_t at = 0; at < length; ++at) {
      for (const char odd : {'\0', '\x01', '\x1f', '\x7f', '\x80', '\xc3', '\xff', ' ', '~', '\x0b'}) {
        std::string text(length, 'x');
        text[at] = odd;
        texts.push_back(text);
      }
    }
  }
  for (const std::string& text : texts) EXPECT_EQ(detail::IsPortableText(text), reference(text)) << text;
}

std::shared_ptr<DataTable> Orders() {
  auto table = DataTable::Create("Orders");
  for (const char* name : {"Name", "name", "Qty", "Äpfel", "Σήμα"}) table->AddColumn({.ColumnName = name});
  return table;
}

// The native-name path of SetField against DataRow::Set with the managed
// name, over a sequence that makes the remembered next column right, wrong,
// ambiguous and unknown by turns.
TEST(TableLoadTest, SetFieldFindsWhatTheRowSetterFindsInAnyOrder) {
  const std::vector<const char*> names = {"Name", "name", "Qty",  "Äpfel", "Σήμα", "Name",
                                          "NAME", "qty",  "name", "Price", "Name", "äPFEL",
                                          "Qty",  "",     "Σήμα", "Name",  "name", "Qty"};
  auto viaField = Orders();
  auto viaSet = Orders();
  DataRow fieldRow = viaField->NewRow();
  DataRow setRow = viaSet->NewRow();
  for (int round = 0; round < 3; ++round) {
    for (std::size_t i = 0; i < names.size(); ++i) {
      SCOPED_TRACE(names[i]);
      const std::string value = std::to_string(round) + "/" + std::to_string(i);
      NativeCharset charset;
      const std::string fieldError =
          ErrorOf([&] { detail::SetField(fieldRow, names[i], charset, ValueView(std::string_view(value))); });
      const std::string setError = ErrorOf([&] { setRow.Set(names[i], std::string_view(value)); });
      EXPECT_EQ(fieldError, setError);
      for (std::size_t c = 0; c < viaSet->ColumnCount(); ++c) ASSERT_EQ(fieldRow.Get(c), setRow.Get(c)) << c;
    }
  }
}

// What the lookup remembers must give way when the table's columns change
// under it: a spelling remembered for one column (by case) becomes another
// column's exact name, and a third spelling becomes ambiguous.
TEST(TableLoadTest, ARememberedSpellingGivesWayToANewColumn) {
  auto table = DataTable::Create("T");
  table->AddColumn({.ColumnName = "Code"});
  EXPECT_EQ(table->ColumnIndex("code"), 0u);  // remembered for column 0, next in line too
  table->AddColumn({.ColumnName = "code"});
  DataRow row = table->NewRow();
  NativeCharset charset;
  detail::SetField(row, "code", charset, ValueView(std::string_view("exact")));
  EXPECT_EQ(row.Get(std::size_t{1}), Value("exact"));
  EXPECT_TRUE(row.Get(std::size_t{0}).IsDBNull());
  detail::SetField(row, "Code", charset, ValueView(std::string_view("first")));
  EXPECT_EQ(row.Get(std::size_t{0}), Value("first"));
  const std::string error = ErrorOf([&] { detail::SetField(row, "cOdE", charset, ValueView(1)); });
  EXPECT_NE(error.find("matches several columns"), std::string::npos) << error;
}

// Under a single-byte locale the UTF-8 bytes of a column's name are not that
// name: only portable names may be compared before the conversion.
TEST(TableLoadTest, NonPortableNamesAreComparedOnlyUnderUtf8) {
  Testing::LocaleScope latin1("de_DE", "ISO-8859-1");
  TESSEL_REQUIRE_LOCALE(latin1);
  auto table = Orders();
  DataRow row = table->NewRow();
  NativeCharset charset;
  ASSERT_FALSE(charset.IsUtf8());
  detail::SetField(row, "Qty", charset, ValueView(std::string_view("3")));
  detail::SetField(row, "\xC4pfel", charset, ValueView(std::string_view("Latin-1 name")));  // "Äpfel"
  EXPECT_EQ(row.Get("Äpfel"), Value("Latin-1 name"));
  // Next in line is "Σήμα", then "Name"; the UTF-8 bytes of "Äpfel" read as
  // Latin-1 are another name, which no column has.
  detail::SetField(row, "Qty", charset, ValueView(std::string_view("4")));
  const std::string error =
      ErrorOf([&] { detail::SetField(row, "\xC3\x84pfel", charset, ValueView(std::string_view("x"))); });
  EXPECT_NE(error.find("does not belong"), std::string::npos) << error;
  EXPECT_EQ(row.Get("Äpfel"), Value("Latin-1 name"));
}

// The loader's typed stores against DataRow::Set: same cell, same error.
TEST(TableLoadTest, LoaderStoresAsTheRowSetterDoes) {
  const std::vector<DataType> types = {DataType::Boolean, DataType::Int16,    DataType::Int32,
                                       DataType::Int64,   DataType::Double,   DataType::Decimal,
                                       DataType::String,  DataType::DateTime, DataType::Binary};
  struct Input {
    const char* label;
    std::function<void(detail::RecordLoader&, RecordId, std::size_t)> load;
    ValueView value;
  };
  const DateTime when(2001, 2, 3, 4, 5, 6, 7);
  const std::vector<Input> inputs = {
      {"int32 7", [](auto& l, RecordId r, std::size_t c) { l.SetInt32(r, c, 7); },
       ValueView(std::int32_t{7})},
      {"int32 -40000", [](auto& l, RecordId r, std::size_t c) { l.SetInt32(r, c, -40000); },
       ValueView(std::int32_t{-40000})},
      {"double 2.5", [](auto& l, RecordId r, std::size_t c) { l.SetDouble(r, c, 2.5); }, ValueView(2.5)},
      {"double 1e300", [](auto& l, RecordId r, std::size_t c) { l.SetDouble(r, c, 1e300); },
       ValueView(1e300)},
      {"date", [when](auto& l, RecordId r, std::size_t c) { l.SetDateTime(r, c, when); }, ValueView(when)},
      {"text 12", [](auto& l, RecordId r, std::size_t c) { l.SetText(r, c, "12"); },
       ValueView(std::string_view("12"))},
      {"text true", [](auto& l, RecordId r, std::size_t c) { l.SetText(r, c, " true "); },
       ValueView(std::string_view(" true "))},
      {"text with NUL",
       [](auto& l, RecordId r, std::size_t c) { l.SetText(r, c, std::string_view("a\0b", 3)); },
       ValueView(std::string_view("a\0b", 3))},
  };
  for (const DataType type : types) {
    for (const Input& input : inputs) {
      SCOPED_TRACE(std::string(DataTypeName(type)) + " <- " + input.label);
      auto loaded = DataTable::Create("t");
      auto set = DataTable::Create("t");
      for (auto* table : {&loaded, &set})
        (*table)->AddColumn({.ColumnName = "c", .Type = type, .AllowDBNull = false});
      detail::RecordLoader loader(*loaded);
      const RecordId record = loader.NewRecord();
      DataRow row = set->NewRow();
      EXPECT_EQ(ErrorOf([&] { input.load(loader, record, 0); }),
                ErrorOf([&] { row.Set(std::size_t{0}, input.value); }));
      EXPECT_EQ(ErrorOf([&] { loader.Add(record); }), ErrorOf([&] { set->Rows().Add(row); }));
      ASSERT_EQ(loaded->Rows().Count(), set->Rows().Count());
      EXPECT_EQ(DataRow(loaded, record).Get(std::size_t{0}), row.Get(std::size_t{0}));
    }
  }
}

TEST(TableLoadTest, LoaderAddsUnderTheTablesRules) {
  auto table = DataTable::Create("people");
  table->AddColumn({.ColumnName = "id", .Type = DataType::Int64});
  table->AddColumn({.ColumnName = "name", .Type = DataType::String, .AllowDBNull = false});
  table->AddUniqueConstraint({0}, true);
  detail::RecordLoader loader(*table);
  loader.Reserve(3);
  auto person = [&](std::int32_t id, std::optional<std::string_view> name) {
    const RecordId r = loader.NewRecord();
    loader.SetInt32(r, 0, id);
    if (name) loader.SetText(r, 1, *name);
    return r;
  };
  loader.Add(person(1, "Ann"));
  const RecordId duplicate = person(1, "Bob");
  const RecordId nameless = person(2, std::nullopt);
  EXPECT_NE(ErrorOf([&] { loader.Add(duplicate); }).find("is the primary key: value '1'"), std::string::npos);
  EXPECT_NE(
      ErrorOf([&] { loader.Add(nameless); }).find("column 'name' of table 'people' does not allow DBNull"),
      std::string::npos);
  loader.SetText(nameless, 1, "Cy");
  loader.Add(nameless);
  EXPECT_NE(ErrorOf([&] { loader.Add(nameless); }).find("already belongs to this table"), std::string::npos);
  ASSERT_EQ(table->Rows().Count(), 2u);
  EXPECT_EQ(table->Rows()[1].Get("name"), Value("Cy"));
  EXPECT_EQ(DataRow(table, duplicate).RowState(), DataRowState::Detached);
}

// A writer reading rows while the producer still makes them sees every row
// as made, through the text arena's growth and a column's widening, and
// learns of the producer's failure instead of an end.
TEST(TableLoadTest, AFeedShowsRowsAsMadeThroughEveryMove) {
  constexpr std::int32_t kRows = 20'000;
  const auto text = [](std::int32_t i) {
    // Long enough at one row to widen the column; growing the arena often.
    return i == kRows / 2 ? std::string(300, 'w') : "row " + std::to_string(i) + std::string(i % 40, '.');
  };
  for (const bool fail : {false, true}) {
    SCOPED_TRACE(fail ? "the producer fails" : "the producer ends");
    auto table = DataTable::Create("t");
    table->AddColumn({.ColumnName = "id", .Type = DataType::Int64});
    table->AddColumn({.ColumnName = "text"});
    detail::RecordLoader loader(*table);
    loader.Reserve(kRows);
    detail::TableFeed feed(*table);
    std::thread producer([&] {
      for (std::int32_t i = 0; i < kRows; ++i) {
        const RecordId r = loader.NewRecord();
        loader.SetInt32(r, 0, i);
        loader.SetText(r, 1, text(i));
        loader.Add(r);
        if (fail && i == kRows - 100) break;
        if (i % 100 == 0) feed.Publish(table->Rows().Count());
      }
      if (!fail) feed.Publish(table->Rows().Count());
      feed.Finish(fail);
    });
    ASSERT_FALSE(feed.WaitForFirstRow());
    std::size_t checked = 0;
    bool failed = false;
    for (;;) {
      std::span<const RecordId> rows = feed.Rows(checked + 64, failed);
      if (failed || checked == rows.size()) break;
      const auto lease = feed.Lease();
      for (; checked < rows.size(); ++checked) {
        const RecordId r = rows[checked];
        ASSERT_EQ(table->GetInt64(r, 0), static_cast<std::int64_t>(checked));
        ASSERT_EQ(table->GetText(r, 1), text(static_cast<std::int32_t>(checked)));
      }
    }
    producer.join();
    EXPECT_EQ(failed, fail);
    if (!fail) {
      EXPECT_EQ(checked, static_cast<std::size_t>(kRows));
    }
  }
}

}  // namespace
}  // namespace Tessel::Data
