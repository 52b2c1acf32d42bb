// An environment variable set (or unset) for one scope. The value it had is
// given back when the scope ends however it ends: a failed ASSERT or an
// exception must not leave a setting behind for the tests that run after.
#pragma once

#include <stdlib.h>

#include <cstdlib>
#include <optional>
#include <string>

namespace Tessel::Testing {

class ScopedEnv {
 public:
  // `value` nullopt: the variable is unset for the scope.
  ScopedEnv(std::string name, const std::optional<std::string>& value) : name_(std::move(name)) {
    if (const char* previous = std::getenv(name_.c_str())) previous_ = previous;
    Apply(value);
  }
  ~ScopedEnv() { Apply(previous_); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  void Apply(const std::optional<std::string>& value) const {
    if (value) {
      ::setenv(name_.c_str(), value->c_str(), 1);
    } else {
      ::unsetenv(name_.c_str());
    }
  }

  std::string name_;
  std::optional<std::string> previous_;
};

}  // namespace Tessel::Testing
