#include "TesselWrapper/component/DbConnectFactory.h"

#include <cctype>
#include <map>
#include <mutex>

#include "TesselWrapper/Errors.h"
#include "tessel/Backends.h"
#include "tessel/NameLookup.h"

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

namespace {

// The provider registered for the scheme of `connect`, if any.
DbConnectFactory::Provider RegisteredProvider(const std::string& connect) {
  const std::string scheme = SchemeOf(connect);
  if (scheme.empty()) return {};
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  auto it = registry.providers.find(scheme);
  return it != registry.providers.end() ? it->second : DbConnectFactory::Provider();
}

const BuiltinBackend* BuiltinFor(const std::string& connect) {
  for (const BuiltinBackend& backend : BuiltinBackends())
    if (backend.accepts(connect)) return &backend;
  return nullptr;
}

}  // namespace

std::shared_ptr<DbConnect> DbConnectFactory::CreateDbConnect(const std::string& Connect,
                                                             const std::string& TypedTableSet) {
  if (Provider provider = RegisteredProvider(Connect)) return provider(Connect, TypedTableSet);
  if (const BuiltinBackend* backend = BuiltinFor(Connect)) return backend->create(Connect, TypedTableSet);
  std::string forms;
  for (const BuiltinBackend& backend : BuiltinBackends()) forms += std::string(backend.forms) + "; ";
  throw ArgumentError("unknown connection string form " + Quoted(Connect) + ": this build takes " + forms +
                      "or a scheme registered with DbConnectFactory::RegisterProvider");
}

std::string DbConnectFactory::BackendName(const std::string& Connect) {
  if (RegisteredProvider(Connect)) return SchemeOf(Connect);
  const BuiltinBackend* backend = BuiltinFor(Connect);
  return backend != nullptr ? backend->name : std::string();
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
  if (!provider) throw ArgumentNullError("no provider given for scheme " + Quoted(scheme));
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
