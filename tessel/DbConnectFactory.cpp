#include "TesselWrapper/component/DbConnectFactory.h"

#include <cctype>
#include <map>
#include <mutex>

#include "TesselWrapper/Errors.h"
#include "tessel/Backends.h"
#include "tessel/ConnectionString.h"

namespace Tessel {
namespace {

struct Registry {
  std::mutex mutex;
  std::map<std::string, DbConnectFactory::Provider, std::less<>> providers;
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

// True for a character that may appear in a scheme: an ASCII letter or digit,
// '+', '-' or '.'.
bool IsSchemeCharacter(char ch) {
  const unsigned char c = static_cast<unsigned char>(ch);
  return (c < 0x80 && std::isalnum(c)) || c == '+' || c == '-' || c == '.';
}

// The scheme of "scheme:rest", or empty when the text does not start with
// scheme characters followed by ':'.
std::string SchemeOf(const std::string& connect) {
  const auto colon = connect.find(':');
  if (colon == std::string::npos || colon == 0) return {};
  for (std::size_t i = 0; i < colon; ++i) {
    if (!IsSchemeCharacter(connect[i])) return {};
  }
  return connect.substr(0, colon);
}

}  // namespace

std::shared_ptr<DbConnect> DbConnectFactory::CreateDbConnect(const std::string& Connect,
                                                             const std::string& TypedTableSet) {
  const std::string scheme = SchemeOf(Connect);
  if (!scheme.empty()) {
    Provider provider;
    {
      Registry& registry = TheRegistry();
      std::lock_guard lock(registry.mutex);
      auto it = registry.providers.find(scheme);
      if (it != registry.providers.end()) provider = it->second;
    }
    if (provider) return provider(Connect, TypedTableSet);
  }
  switch (ClassifyConnectionString(Connect)) {
    case ConnectionKind::Sqlite:
      return Sqlite::CreateSqliteConnect(Connect, TypedTableSet);
    case ConnectionKind::Postgres:
#if defined(TESSEL_WITH_POSTGRES)
      return Postgres::CreatePostgresConnect(Connect, TypedTableSet);
#else
      throw ArgumentError("connection string '" + Connect +
                          "' names a PostgreSQL server, but this build has no PostgreSQL backend");
#endif
    case ConnectionKind::Unknown:
      break;
  }
  throw ArgumentError("unknown connection string form '" + Connect +
                      "': expected sqlite:PATH, sqlite::memory:, postgresql://..., "
                      "key=value pairs, or a registered scheme");
}

void DbConnectFactory::RegisterProvider(const std::string& scheme, Provider provider) {
  if (scheme.empty()) throw ArgumentError("a provider needs a non-empty connection-string scheme");
  // A scheme that SchemeOf can never find would make the registration a
  // silent no-op; refuse it instead.
  for (char c : scheme) {
    if (!IsSchemeCharacter(c)) {
      throw ArgumentError("connection-string scheme '" + scheme +
                          "' may hold only letters, digits, '+', '-' and '.' (no ':')");
    }
  }
  if (!provider) throw ArgumentNullError("no provider given for scheme '" + scheme + "'");
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  registry.providers[scheme] = std::move(provider);
}

void DbConnectFactory::UnregisterProvider(const std::string& scheme) {
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  registry.providers.erase(scheme);
}

}  // namespace Tessel
