// ScopedEnv must give the variable back however its scope is left: a test
// that stops at a failed ASSERT or an exception would otherwise leave its
// setting to every test after it in the process.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <optional>
#include <stdexcept>
#include <string>

#include "support/ScopedEnv.h"

namespace Tessel::Testing {
namespace {

constexpr const char* kName = "TESSEL_SCOPED_ENV_TEST";

std::optional<std::string> Current() {
  const char* value = std::getenv(kName);
  return value ? std::optional<std::string>(value) : std::nullopt;
}

void SetDirectly(const std::optional<std::string>& value) {
  if (value) {
    ::setenv(kName, value->c_str(), 1);
  } else {
    ::unsetenv(kName);
  }
}

TEST(ScopedEnv, GivesTheVariableBackHoweverTheScopeIsLeft) {
  struct Case {
    const char* label;
    std::optional<std::string> before;
    std::optional<std::string> during;
  } cases[] = {
      {"set over set", "outer", "inner"},        {"set over unset", std::nullopt, "inner"},
      {"unset over set", "outer", std::nullopt}, {"empty over set", "outer", ""},
      {"empty over unset", std::nullopt, ""},
  };
  for (const Case& c : cases) {
    for (const bool throws : {false, true}) {
      SCOPED_TRACE(std::string(c.label) + (throws ? ", left by an exception" : ", left normally"));
      SetDirectly(c.before);
      try {
        const ScopedEnv scoped(kName, c.during);
        EXPECT_EQ(Current(), c.during);
        if (throws) throw std::runtime_error("leaving the scope");
      } catch (const std::runtime_error&) {
      }
      EXPECT_EQ(Current(), c.before);
    }
  }
  ::unsetenv(kName);
}

}  // namespace
}  // namespace Tessel::Testing
