// Locales to run the library under, as a host program's setlocale would.
//
// A locale the system lacks is built with localedef from the C library's
// locale sources (Debian's locales package) into a temporary folder of the
// process; a machine without those sources cannot offer it, and tests that
// need it skip. With TESSEL_REQUIRE_LOCALES=1 in the environment (CI, which
// installs the sources) such a test fails instead.
#pragma once

#include <locale.h>

#include <string>

namespace Tessel::Testing {

// The locale `input`.`charmap` ("de_DE", "ISO-8859-1"): the system's own when
// it has one by that name, else one built once per process and kept until
// exit. Null when this machine can do neither.
locale_t TestLocale(const std::string& input, const std::string& charmap);

// True when TESSEL_REQUIRE_LOCALES asks for a missing locale to fail a test.
bool LocalesRequired();

// The locale's name as a part of a test's name ("de_DE_ISO_8859_1").
std::string LocaleTestName(const std::string& input, const std::string& charmap);

// Runs the calling thread under a TestLocale (uselocale) for the scope's
// lifetime, then gives it back the locale it had. The C library reads the
// decimal point, character classes and character set through the thread's
// locale, so the library sees exactly what a host's setlocale would give it.
class LocaleScope {
 public:
  LocaleScope(const std::string& input, const std::string& charmap);
  ~LocaleScope();
  LocaleScope(const LocaleScope&) = delete;
  LocaleScope& operator=(const LocaleScope&) = delete;

  // False when the locale could not be had; the thread's locale is unchanged.
  bool Active() const { return previous_ != static_cast<locale_t>(nullptr); }
  const std::string& Name() const { return name_; }
  // Why a test is skipped (or failed) without it.
  std::string MissingReason() const;

 private:
  std::string name_;
  locale_t previous_ = static_cast<locale_t>(nullptr);
};

}  // namespace Tessel::Testing

// In a test's SetUp or body: skips the test when `scope` (a LocaleScope) is not
// active, or fails it when TESSEL_REQUIRE_LOCALES is set.
#define TESSEL_REQUIRE_LOCALE(scope)                                                     \
  do {                                                                                   \
    if (!(scope).Active()) {                                                             \
      if (::Tessel::Testing::LocalesRequired()) GTEST_FAIL() << (scope).MissingReason(); \
      GTEST_SKIP() << (scope).MissingReason();                                           \
    }                                                                                    \
  } while (false)
