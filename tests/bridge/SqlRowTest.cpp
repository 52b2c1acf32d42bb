// The row record: Copy, Reset, IsEmpty and the whole-field conveniences.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "TesselWrapper/ConnectWrapper.h"
#include "TesselWrapper/SqlRow.h"

namespace {

NUMERICDATA Number(double value) {
  NUMERICDATA number{};
  number.doubleValue = value;
  return number;
}

// A record with `entries` entries in each list and the given count.
std::unique_ptr<SqlRow> Filled(int entries, std::int32_t count) {
  auto row = std::make_unique<SqlRow>();
  for (int i = 0; i < entries; ++i) {
    const std::string n = std::to_string(i);
    row->AddFieldName(("name" + n).c_str());
    row->AddFieldType(ConnectWrapper::m_lpszTEXT);
    row->AddFieldValue(("value" + n).c_str());
    row->numericValues.push_back(Number(i + 0.5));
  }
  row->fieldCount = count;
  row->SetTableName("cases");
  row->tag = 42;
  return row;
}

void ExpectEmpty(const SqlRow& row) {
  EXPECT_TRUE(row.fieldNames.empty());
  EXPECT_TRUE(row.fieldTypes.empty());
  EXPECT_TRUE(row.fieldValues.empty());
  EXPECT_TRUE(row.numericValues.empty());
  EXPECT_EQ(row.fieldCount, 0);
  EXPECT_EQ(row.tableName, "");
  EXPECT_EQ(row.tag, 0);
}

TEST(SqlRow, ANewRecordAndItsCopyAreEmpty) {
  const SqlRow row;
  EXPECT_TRUE(row.IsEmpty());
  ExpectEmpty(row);
  const std::unique_ptr<SqlRow> copy(row.Copy());
  ExpectEmpty(*copy);
}

TEST(SqlRow, IsEmptyLooksOnlyAtTheCount) {
  const struct {
    int entries;
    std::int32_t count;
    bool empty;
  } cases[] = {{0, 0, true}, {3, 0, true}, {3, -1, true}, {0, 1, false}, {2, 2, false}};
  for (const auto& c : cases) {
    EXPECT_EQ(Filled(c.entries, c.count)->IsEmpty(), c.empty) << c.entries << " entries, count " << c.count;
  }
}

TEST(SqlRow, CopyTakesTheFirstCountEntriesAndTheCountTagAndTableName) {
  const struct {
    int entries;
    std::int32_t count;
    std::size_t copied;
  } cases[] = {
      {3, 2, 2},  {3, 3, 3}, {3, 0, 0},
      {3, -3, 0}, {1, 3, 1},  // a count beyond the lists copies what there is, never past their end
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.entries << " entries, count " << c.count);
    const std::unique_ptr<SqlRow> source = Filled(c.entries, c.count);
    const std::unique_ptr<SqlRow> copy(source->Copy());
    EXPECT_EQ(copy->fieldCount, c.count);
    EXPECT_EQ(copy->tag, 42);
    EXPECT_EQ(copy->tableName, "cases");
    ASSERT_EQ(copy->fieldNames.size(), c.copied);
    ASSERT_EQ(copy->fieldTypes.size(), c.copied);
    ASSERT_EQ(copy->fieldValues.size(), c.copied);
    ASSERT_EQ(copy->numericValues.size(), c.copied);
    for (std::size_t i = 0; i < c.copied; ++i) {
      EXPECT_EQ(copy->fieldNames[i], source->fieldNames[i]);
      EXPECT_EQ(copy->fieldValues[i], source->fieldValues[i]);
      EXPECT_EQ(copy->numericValues[i].doubleValue, source->numericValues[i].doubleValue);
    }
    EXPECT_EQ(source->fieldNames.size(), static_cast<std::size_t>(c.entries)) << "source changed";
  }
}

TEST(SqlRow, CopiedTextsAreIndependent) {
  const std::unique_ptr<SqlRow> source = Filled(1, 1);
  const std::unique_ptr<SqlRow> copy(source->Copy());
  source->fieldValues[0] = "changed";
  source->SetTableName("other");
  EXPECT_EQ(copy->fieldValues[0], "value0");
  EXPECT_EQ(copy->tableName, "cases");
}

TEST(SqlRow, FieldNamesAloneDoNotMakeAField) {
  SqlRow row;
  row.AddFieldName("a");
  row.AddFieldName("b");
  row.AddFieldName("c");
  EXPECT_TRUE(row.IsEmpty());
  const std::unique_ptr<SqlRow> copy(row.Copy());
  EXPECT_TRUE(copy->fieldNames.empty());
}

TEST(SqlRow, ResetEmptiesAFilledRecord) {
  const std::unique_ptr<SqlRow> row = Filled(3, 3);
  row->Reset();
  ExpectEmpty(*row);
  row->AddLongField("again", 1);
  EXPECT_EQ(row->fieldCount, 1);
}

TEST(SqlRow, CopyKeepsEveryByteOfTheNumericEntry) {
  SqlRow row;
  NUMERICDATA number;
  std::memset(&number, 0xA5, sizeof number);
  number.shortValue = -2;
  row.AddField("s", ConnectWrapper::m_lpszSHORTINTEGER, "", number);
  const std::unique_ptr<SqlRow> copy(row.Copy());
  EXPECT_EQ(std::memcmp(&copy->numericValues[0], &number, sizeof number), 0);
}

TEST(SqlRow, ConveniencesAppendAWholeFieldOfTheirType) {
  SqlRow row;
  row.AddDoubleField("d", 2.5);
  row.AddLongField("l", -70000);
  row.AddShortField("s", -1);
  row.AddDateField("day", 1.5);
  row.AddDateTimeField("at", 2.25);
  row.AddTextField("t", "text");
  row.AddMemoField("m", "memo");

  ASSERT_EQ(row.fieldCount, 7);
  for (const auto* list : {&row.fieldNames, &row.fieldTypes, &row.fieldValues}) {
    EXPECT_EQ(list->size(), 7u);
  }
  ASSERT_EQ(row.numericValues.size(), 7u);
  const char* const types[] = {ConnectWrapper::m_lpszDOUBLE,       ConnectWrapper::m_lpszLONGINTEGER,
                               ConnectWrapper::m_lpszSHORTINTEGER, ConnectWrapper::m_lpszDATE,
                               ConnectWrapper::m_lpszDATETIME,     ConnectWrapper::m_lpszTEXT,
                               ConnectWrapper::m_lpszMEMO};
  for (int i = 0; i < 7; ++i) EXPECT_EQ(row.fieldTypes[i], types[i]) << i;
  EXPECT_EQ(row.fieldNames[2], "s");
  EXPECT_EQ(row.numericValues[0].doubleValue, 2.5);
  EXPECT_EQ(row.numericValues[1].longValue, -70000);
  EXPECT_EQ(row.numericValues[2].shortValue, -1);
  EXPECT_EQ(row.numericValues[3].doubleValue, 1.5);
  EXPECT_EQ(row.numericValues[4].doubleValue, 2.25);
  EXPECT_EQ(row.fieldValues[5], "text");
  EXPECT_EQ(row.fieldValues[6], "memo");
}

TEST(FieldTypeNames, AreTheExportedWords) {
  EXPECT_STREQ(ConnectWrapper::m_lpszDOUBLE, "Double");
  EXPECT_STREQ(ConnectWrapper::m_lpszLONGINTEGER, "LongInteger");
  EXPECT_STREQ(ConnectWrapper::m_lpszSHORTINTEGER, "ShortInteger");
  EXPECT_STREQ(ConnectWrapper::m_lpszDATE, "Date");
  EXPECT_STREQ(ConnectWrapper::m_lpszDATETIME, "DateTime");
  EXPECT_STREQ(ConnectWrapper::m_lpszTEXT, "Text");
  EXPECT_STREQ(ConnectWrapper::m_lpszMEMO, "Memo");
}

}  // namespace
