// Connection strings: the factory (which backend a string picks, the
// component it makes, providers registered for schemes) and the SQLite and
// PostgreSQL backends' tests of the forms they take, on arbitrary text and
// on schemes a caller might register.
//
// Oracle:
//   - nothing but a Tessel::Error leaves CreateDbConnect or RegisterProvider;
//     BackendName and the backends' tests throw nothing at all;
//   - BackendName names the backend CreateDbConnect uses: empty exactly when
//     CreateDbConnect refuses the form; a component it makes has the string
//     as its ConnectionString, unchanged;
//   - BackendName is the first built-in backend (in the factory's order)
//     whose test takes the string, and "sqlite" for every SQLite form;
//   - an SQLite string that parses keeps its meaning when written back as
//     "sqlite:" PATH "?busy_timeout=" MS;
//   - the verdicts do not depend on the locale (a Latin-1 and a Turkish one);
//   - a scheme of letters, digits, '+', '-' and '.' registers and then takes
//     its strings, before any built-in form, and lets go of them when
//     unregistered; any other scheme is refused and changes nothing.
#include <fuzzer/FuzzedDataProvider.h>
#include <locale.h>
#include <sanitizer/lsan_interface.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "TesselWrapper/Errors.h"
#include "TesselWrapper/component/DbConnectFactory.h"
#include "support/TestLocale.h"
#include "tessel/Backends.h"
#include "tessel/sqlite/Session.h"

namespace {

using Tessel::DbConnectFactory;
using Tessel::Fuzz::Check;
using Tessel::Fuzz::Violation;

locale_t g_latin1 = static_cast<locale_t>(nullptr);
locale_t g_turkish = static_cast<locale_t>(nullptr);

struct Verdicts {
  std::string backend;
  std::vector<bool> accepts;  // per built-in backend, in the factory's order
  bool operator==(const Verdicts&) const = default;
};

Verdicts Judge(const std::string& connect) {
  Verdicts v;
  v.backend = DbConnectFactory::BackendName(connect);
  for (const Tessel::BuiltinBackend& backend : Tessel::BuiltinBackends())
    v.accepts.push_back(backend.accepts(connect));
  return v;
}

void CheckFactory(const std::string& connect, const std::string& tableSet) {
  const std::string where = " for connection string '" + Tessel::Fuzz::Shown(connect) + "'";
  const Verdicts v = Judge(connect);
  // The first built-in backend that takes the string is the one named.
  std::string first;
  for (std::size_t i = 0; i < v.accepts.size() && first.empty(); ++i)
    if (v.accepts[i]) first = Tessel::BuiltinBackends()[i].name;
  Check(v.backend == first,
        "BackendName says '" + v.backend + "', the first backend that takes it is '" + first + "'" + where);
  const bool sqlite = Tessel::Sqlite::IsSqliteConnectionString(connect);
  if (sqlite) Check(v.backend == "sqlite", "the SQLite form is taken by '" + v.backend + "'" + where);

  for (locale_t locale : {g_latin1, g_turkish}) {
    if (locale == static_cast<locale_t>(nullptr)) continue;
    const locale_t previous = uselocale(locale);
    const Verdicts there = Judge(connect);
    uselocale(previous);
    Check(there == v, "the verdicts change with the locale" + where);
  }

  std::shared_ptr<Tessel::DbConnect> component;
  std::optional<std::string> refused;
  try {
    component = DbConnectFactory::CreateDbConnect(connect, tableSet);
  } catch (const Tessel::ArgumentError& e) {
    refused = e.what();
  } catch (const Tessel::Error& e) {
    Violation(std::string("CreateDbConnect threw other than ArgumentError: ") + e.what() + where);
  }
  if (v.backend.empty()) Check(refused.has_value(), "CreateDbConnect took a form no backend takes" + where);
  if (component) {
    Check(component->ConnectionString().value_or("<null>") == connect,
          "the component holds connection string '" + component->ConnectionString().value_or("<null>") + "'" +
              where);
  } else {
    Check(refused.has_value(), "CreateDbConnect returned no component and threw nothing" + where);
  }

  if (!sqlite) return;
  std::optional<Tessel::Sqlite::SqliteTarget> target;
  try {
    target = Tessel::Sqlite::ParseConnectionString(connect);
  } catch (const Tessel::ArgumentError&) {
  }
  // The component refuses exactly the strings the parser refuses.
  Check(target.has_value() == (component != nullptr), "the parser and the factory disagree" + where);
  if (!target) return;
  const std::string again =
      "sqlite:" + target->path + "?busy_timeout=" + std::to_string(target->busyTimeoutMs);
  const Tessel::Sqlite::SqliteTarget reread = Tessel::Sqlite::ParseConnectionString(again);
  Check(reread.path == target->path && reread.busyTimeoutMs == target->busyTimeoutMs,
        "'" + again + "' does not mean what it was written from" + where);
}

void CheckRegistration(const std::string& scheme, const std::string& rest) {
  bool valid = !scheme.empty();
  for (char c : scheme) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '+' ||
                    c == '-' || c == '.';
    if (!ok) valid = false;
  }
  const std::string connect = scheme + ":" + rest;
  const std::string before = DbConnectFactory::BackendName(connect);
  int calls = 0;
  std::string seen;
  try {
    DbConnectFactory::RegisterProvider(scheme, [&](const std::string& c, const std::string& t) {
      ++calls;
      seen = c + "|" + t;
      return std::shared_ptr<Tessel::DbConnect>();
    });
  } catch (const Tessel::ArgumentError&) {
    Check(!valid, "scheme '" + Tessel::Fuzz::Shown(scheme) + "' was refused");
    Check(DbConnectFactory::BackendName(connect) == before,
          "a refused scheme changed what '" + Tessel::Fuzz::Shown(connect) + "' picks");
    return;
  } catch (const Tessel::Error& e) {
    Violation("RegisterProvider threw other than ArgumentError: " + std::string(e.what()));
  }
  Check(valid, "scheme '" + Tessel::Fuzz::Shown(scheme) + "' was registered, though no string can name it");
  Check(DbConnectFactory::BackendName(connect) == scheme,
        "'" + Tessel::Fuzz::Shown(connect) +
            "' does not pick the registered scheme: " + DbConnectFactory::BackendName(connect));
  try {
    DbConnectFactory::CreateDbConnect(connect, "set");
  } catch (const Tessel::Error& e) {
    Violation("the registered provider's string threw: " + std::string(e.what()));
  }
  Check(calls == 1 && seen == connect + "|set",
        "the provider was not asked exactly once with the caller's text");
  DbConnectFactory::UnregisterProvider(scheme);
  Check(DbConnectFactory::BackendName(connect) == before,
        "unregistering '" + Tessel::Fuzz::Shown(scheme) + "' did not restore '" +
            Tessel::Fuzz::Shown(connect) + "' to '" + before + "'");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  __lsan_disable();  // glibc keeps copies of locale paths it never frees
  g_latin1 = Tessel::Testing::TestLocale("de_DE", "ISO-8859-1");
  g_turkish = Tessel::Testing::TestLocale("tr_TR", "UTF-8");
  __lsan_enable();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  static const char* const kPrefixes[] = {
      "",      "sqlite:",      "sqlite::memory:", "postgresql://", "postgres://",
      "host=", " dbname = x ", "SQLITE:",         "script:",       "?busy_timeout="};
  switch (in.ConsumeIntegralInRange(0, 3)) {
    case 0: {
      const std::string scheme = in.ConsumeRandomLengthString(12);
      CheckRegistration(scheme, in.ConsumeRemainingBytesAsString());
      break;
    }
    case 1: {
      std::string connect = in.PickValueInArray(kPrefixes);
      connect += in.ConsumeRandomLengthString(64);
      if (in.ConsumeBool()) connect += "?busy_timeout=" + in.ConsumeRandomLengthString(12);
      CheckFactory(connect, in.ConsumeRemainingBytesAsString());
      break;
    }
    default: {
      const std::string tableSet = in.ConsumeRandomLengthString(16);
      CheckFactory(in.ConsumeRemainingBytesAsString(), tableSet);
      break;
    }
  }
  return 0;
}
