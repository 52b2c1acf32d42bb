// Names and values quoted in messages never read as a retry text: callers
// rerun when a failed write's message holds one, so only the library's own
// sentence for a failure that asks for a rerun may.
#include <gtest/gtest.h>

#include <string>

#include "data/Quoted.h"

namespace Tessel {
namespace {

TEST(DefuseRetryTexts, BreaksEveryRetryTextInAnyCaseAndKeepsTheRest) {
  struct Case {
    const char* text;
    const char* defused;
  };
  const Case cases[] = {
      {"no retry text here", "no retry text here"},
      {"Rerun the transaction log", "Rerun_the_transaction log"},
      {"schema change", "schema_change"},
      {"RERUN THE TRANSACTION and rerun the transaction", "RERUN_THE_TRANSACTION and rerun_the_transaction"},
      {"Key (w)=(Schema Change, Rerun the transaction.)", "Key (w)=(Schema_Change, Rerun_the_transaction.)"},
      {"Rerun the  transaction", "Rerun the  transaction"},  // not the words a caller looks for
      {"", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(DefuseRetryTexts(c.text), c.defused);
    EXPECT_EQ(DefuseRetryTexts(c.defused), c.defused) << "defusing twice changes nothing more";
  }
  EXPECT_EQ(Quoted("schema change log"), "'schema_change log'");
}

}  // namespace
}  // namespace Tessel
