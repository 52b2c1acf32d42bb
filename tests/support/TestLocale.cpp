#include "support/TestLocale.h"

#include <stdlib.h>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>

#include "support/ScopedEnv.h"

namespace Tessel::Testing {
namespace {

#if defined(__SANITIZE_ADDRESS__)
struct LeakCheckPause {
  LeakCheckPause() { __lsan_disable(); }
  ~LeakCheckPause() { __lsan_enable(); }
};
#else
struct LeakCheckPause {
  LeakCheckPause() {}  // user-provided, so that an unused instance draws no warning
};
#endif

// Every locale asked for (null for one that could not be had, so that it is
// tried once), and the folder the built ones live in; both go at exit.
class LocaleCache {
 public:
  ~LocaleCache() {
    for (auto& [name, locale] : locales_)
      if (locale != static_cast<locale_t>(nullptr)) freelocale(locale);
    if (!dir_.empty()) {
      std::error_code ignored;
      std::filesystem::remove_all(dir_, ignored);
    }
  }

  locale_t Get(const std::string& input, const std::string& charmap) {
    const std::string name = input + "." + charmap;
    auto it = locales_.find(name);
    if (it == locales_.end()) {
      locale_t locale = newlocale(LC_ALL_MASK, name.c_str(), static_cast<locale_t>(nullptr));
      if (locale == static_cast<locale_t>(nullptr)) locale = Build(input, charmap, name);
      it = locales_.emplace(name, locale).first;
    }
    return it->second;
  }

 private:
  locale_t Build(const std::string& input, const std::string& charmap, const std::string& name) {
    if (dir_.empty()) {
      char pattern[] = "/tmp/tessel-locale-XXXXXX";
      if (mkdtemp(pattern) == nullptr) return static_cast<locale_t>(nullptr);
      dir_ = pattern;
    }
    // localedef exits non-zero for mere warnings; whether the locale loads
    // afterwards is what counts.
    const std::string command =
        "localedef -i '" + input + "' -f '" + charmap + "' '" + dir_ + "/" + name + "' >/dev/null 2>&1";
    if (std::system(command.c_str()) == -1) return static_cast<locale_t>(nullptr);
    const ScopedEnv path("LOCPATH", dir_);
    // glibc keeps (and never frees) a copy of the locale path it was given.
    LeakCheckPause pause;
    return newlocale(LC_ALL_MASK, name.c_str(), static_cast<locale_t>(nullptr));
  }

  std::map<std::string, locale_t> locales_;
  std::string dir_;
};

}  // namespace

locale_t TestLocale(const std::string& input, const std::string& charmap) {
  static LocaleCache cache;
  return cache.Get(input, charmap);
}

bool LocalesRequired() {
  const char* value = std::getenv("TESSEL_REQUIRE_LOCALES");
  return value != nullptr && *value != '\0' && std::strcmp(value, "0") != 0;
}

std::string LocaleTestName(const std::string& input, const std::string& charmap) {
  std::string name = input + "_" + charmap;
  for (char& c : name)
    if (c == '-' || c == '.') c = '_';
  return name;
}

LocaleScope::LocaleScope(const std::string& input, const std::string& charmap)
    : name_(input + "." + charmap) {
  if (locale_t locale = TestLocale(input, charmap); locale != static_cast<locale_t>(nullptr))
    previous_ = uselocale(locale);
}

LocaleScope::~LocaleScope() {
  if (Active()) uselocale(previous_);
}

std::string LocaleScope::MissingReason() const {
  return "the " + name_ +
         " locale is neither installed nor buildable here (localedef needs the locales package)";
}

}  // namespace Tessel::Testing
