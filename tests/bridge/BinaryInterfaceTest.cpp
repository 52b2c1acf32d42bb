// The binary interface shared with callers that were built apart from this
// library: the layout of the record and parameter types a caller fills in,
// and the order of IConnectWrapper's seventeen slots. A change that moves
// any of these breaks every caller compiled against an earlier header, so
// the figures are pinned here per data model (64-bit, 32-bit Linux, 32-bit
// Windows, each with the GNU C++ library; other toolchains lay std::string
// out differently and are not pinned).
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "TesselWrapper/TesselWrapper.h"

namespace {

template <typename T, typename M>
std::ptrdiff_t OffsetOf(const T& object, const M& member) {
  return reinterpret_cast<const char*>(&member) - reinterpret_cast<const char*>(&object);
}

static_assert(sizeof(NUMERICDATA) == 8);

#if defined(__GLIBCXX__)
struct Layout {
  std::size_t sqlRow;
  std::ptrdiff_t fieldNames, fieldTypes, fieldValues, numericValues, fieldCount, tableName, tag;
  std::size_t paramValue;
  std::ptrdiff_t valueType, stringValue, numericValue;
  std::size_t parameter;
  std::ptrdiff_t parameterName, parameterDirection, paramValueMember;
};

constexpr Layout Expected() {
  if constexpr (sizeof(void*) == 8) {
    return {144, 0, 24, 48, 72, 96, 104, 136, 48, 0, 8, 40, 88, 0, 32, 40};
  } else {
#if defined(_WIN32)
    // A double inside a class is aligned to 8 bytes on 32-bit Windows.
    return {80, 0, 12, 24, 36, 48, 52, 76, 40, 0, 4, 32, 72, 0, 24, 32};
#else
    // ...and to 4 bytes on 32-bit Linux.
    return {80, 0, 12, 24, 36, 48, 52, 76, 36, 0, 4, 28, 64, 0, 24, 28};
#endif
  }
}

TEST(BinaryInterface, RecordAndParameterLayoutsStayPut) {
  constexpr Layout expected = Expected();
  SqlRow row;
  EXPECT_EQ(sizeof(SqlRow), expected.sqlRow);
  EXPECT_EQ(OffsetOf(row, row.fieldNames), expected.fieldNames);
  EXPECT_EQ(OffsetOf(row, row.fieldTypes), expected.fieldTypes);
  EXPECT_EQ(OffsetOf(row, row.fieldValues), expected.fieldValues);
  EXPECT_EQ(OffsetOf(row, row.numericValues), expected.numericValues);
  EXPECT_EQ(OffsetOf(row, row.fieldCount), expected.fieldCount);
  EXPECT_EQ(OffsetOf(row, row.tableName), expected.tableName);
  EXPECT_EQ(OffsetOf(row, row.tag), expected.tag);

  ParamValue value;
  EXPECT_EQ(sizeof(ParamValue), expected.paramValue);
  EXPECT_EQ(OffsetOf(value, value.valueType), expected.valueType);
  EXPECT_EQ(OffsetOf(value, value.stringValue), expected.stringValue);
  EXPECT_EQ(OffsetOf(value, value.numericValue), expected.numericValue);

  const SimpleDbParameter parameter("p", value, SimpleParameterDirection::Input);
  EXPECT_EQ(sizeof(SimpleDbParameter), expected.parameter);
  EXPECT_EQ(OffsetOf(parameter, parameter.parameterName), expected.parameterName);
  EXPECT_EQ(OffsetOf(parameter, parameter.parameterDirection), expected.parameterDirection);
  EXPECT_EQ(OffsetOf(parameter, parameter.paramValue), expected.paramValueMember);
}
#endif

#if defined(__GNUC__)
// Under the Itanium C++ ABI (GCC and Clang, MinGW included) a pointer to a
// virtual member function holds 1 + the byte offset of its slot in the
// virtual table; reading that tells each operation's slot.
template <typename F>
std::ptrdiff_t SlotOf(F member) {
  static_assert(sizeof(F) == 2 * sizeof(std::ptrdiff_t));
  std::ptrdiff_t words[2];
  std::memcpy(words, &member, sizeof words);
  return (words[0] - 1) / static_cast<std::ptrdiff_t>(sizeof(void*));
}

TEST(BinaryInterface, TheSeventeenOperationsKeepTheirSlots) {
  using W = IConnectWrapper;
  struct Slot {
    const char* name;
    std::ptrdiff_t slot;
  };
  const Slot slots[] = {
      {"Test", SlotOf(&W::Test)},
      {"LoadObject", SlotOf(&W::LoadObject)},
      {"SetMessage", SlotOf(&W::SetMessage)},
      {"GetMessage", SlotOf(&W::GetMessage)},
      {"SetConnectionString", SlotOf(&W::SetConnectionString)},
      {"GetConnectionString", SlotOf(&W::GetConnectionString)},
      {"BulkExample", SlotOf(&W::BulkExample)},
      {"BulkToTable", SlotOf(&W::BulkToTable)},
      {"ExecuteStoredProcedure", SlotOf(&W::ExecuteStoredProcedure)},
      {"GetMaxSolnIdCaseId", SlotOf(&W::GetMaxSolnIdCaseId)},
      {"StartNewRow", SlotOf(&W::StartNewRow)},
      {"AddCurRow", SlotOf(&W::AddCurRow)},
      {"AddFieldData(const char*)",
       SlotOf(static_cast<bool (W::*)(const char*, const char*)>(&W::AddFieldData))},
      {"AddFieldData(int)", SlotOf(static_cast<bool (W::*)(const char*, int)>(&W::AddFieldData))},
      {"AddFieldData(long)", SlotOf(static_cast<bool (W::*)(const char*, long)>(&W::AddFieldData))},
      {"AddFieldData(double)", SlotOf(static_cast<bool (W::*)(const char*, double)>(&W::AddFieldData))},
      {"AddFieldDateTimeData", SlotOf(&W::AddFieldDateTimeData)},
  };
  for (std::size_t i = 0; i < std::size(slots); ++i) {
    EXPECT_EQ(slots[i].slot, static_cast<std::ptrdiff_t>(i)) << slots[i].name;
  }
}
#endif

// The sharp edges of the public value types: input a caller can hand over by
// mistake is taken as empty or absent, never read out of bounds.
TEST(PublicTypes, AbsentOrNegativeInputIsEmptyNotUndefined) {
  EXPECT_EQ(CStringA("abc", -1).GetLength(), 0);
  EXPECT_EQ(CStringA(nullptr, 5).GetLength(), 0);
  EXPECT_EQ(CStringA("abcdef", 3), CStringA("abc"));
  EXPECT_TRUE(Tessel::Data::Value(static_cast<const char*>(nullptr)).IsDBNull());
  EXPECT_EQ(Tessel::Data::Value("x"), Tessel::Data::Value(std::string("x")));
}

}  // namespace
