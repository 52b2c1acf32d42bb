// Checks that a failure provoked for real is told truthfully on every road a
// caller meets it: a write that returns false, a read that throws
// Tessel::DatabaseError, and Test(). The retry sentence appears exactly when
// the same call may succeed later without anyone changing anything.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "TesselWrapper/Errors.h"
#include "TesselWrapper/component/DbConnect.h"
#include "support/ComponentHelpers.h"

namespace Tessel::Testing {

// One row of a backend's table of failures.
struct ProvokedFailure {
  const char* cause;
  // Sets the cause up and gives the component that meets it.
  std::function<std::shared_ptr<DbConnect>()> provoke;
  ErrorCategory expected;
  bool retry;      // whether the messages ask for a rerun
  bool readsFail;  // whether reading a table's shape fails too (a read-only
                   // database or a locked table may still be read)
};

inline bool HasRetryText(const std::string& text) {
  return text.find(kRerunTransaction) != std::string::npos;
}

// Writes one row to table `table` (a column `id` of Int32) and reads the
// table's shape, and checks what each road says.
inline void ExpectSorted(const ProvokedFailure& c, const std::string& table = "cases") {
  SCOPED_TRACE(c.cause);
  ASSERT_EQ(AsksForRerun(c.expected), c.retry) << "the case contradicts itself";
  const std::shared_ptr<DbConnect> component = c.provoke();
  ASSERT_NE(component, nullptr);

  auto rows = Data::DataTable::Create(table);
  Data::DataColumn id;
  id.ColumnName = "id";
  id.Type = Data::DataType::Int32;
  rows->AddColumn(id);
  AddRow(*rows, {{"id", 1}});
  std::int64_t elapsed = 0;
  bool written = true;
  try {
    written = component->BulkToTable(*rows, elapsed);
    EXPECT_EQ(HasRetryText(Message(*component)), c.retry) << "write: " << Message(*component);
    // None of these causes is the row's: none may be named.
    EXPECT_EQ(Message(*component).find("position"), std::string::npos) << "write: " << Message(*component);
  } catch (const DatabaseError& e) {
    written = false;
    EXPECT_EQ(e.Category(), c.expected) << "write: " << e.what();
    EXPECT_EQ(HasRetryText(e.what()), c.retry) << "write: " << e.what();
  }
  EXPECT_FALSE(written);

  bool readFailed = false;
  try {
    component->GetTable(table);
  } catch (const DatabaseError& e) {
    readFailed = true;
    EXPECT_EQ(e.Category(), c.expected) << "read: " << e.what();
    EXPECT_EQ(HasRetryText(e.what()), c.retry) << "read: " << e.what();
  }
  EXPECT_EQ(readFailed, c.readsFail);

  if (!component->Test())
    EXPECT_EQ(HasRetryText(Message(*component)), c.retry) << "Test: " << Message(*component);
}

}  // namespace Tessel::Testing
