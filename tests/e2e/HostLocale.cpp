// The end-to-end suite runs as a host program does: it takes the locale its
// environment names (LC_ALL, LC_*, LANG) with setlocale(LC_ALL, ""), and the
// library then reads the native character set and everything else
// locale-dependent from it. CI runs the suite once more under de_DE.UTF-8
// and de_DE.ISO-8859-1 (.ci/run).
#include <gtest/gtest.h>
#include <langinfo.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>

namespace {

class HostLocale : public ::testing::Environment {
 public:
  void SetUp() override {
    const char* chosen = std::setlocale(LC_ALL, "");
    if (chosen == nullptr) {
      // A locale asked for by name must be the one tested, not "C" in its
      // place; an unusable default (LANG) only falls back.
      const char* all = std::getenv("LC_ALL");
      if (all != nullptr && *all != '\0') FAIL() << "LC_ALL=" << all << " names no locale on this machine";
      std::printf("[  LOCALE  ] the environment names no usable locale; running under C\n");
      return;
    }
    std::printf("[  LOCALE  ] %s (%s)\n", chosen, nl_langinfo(CODESET));
  }
  void TearDown() override { std::setlocale(LC_ALL, "C"); }
};

[[maybe_unused]] ::testing::Environment* const kHostLocale =
    ::testing::AddGlobalTestEnvironment(new HostLocale);

}  // namespace
