#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string_view>

#include "Commands.h"
#include "TesselWrapper/Errors.h"
#include "TesselWrapper/component/DbConnectFactory.h"

namespace Tessel::Cli {
namespace {

constexpr std::string_view kSqliteScheme = "sqlite:";

bool IsOptionName(std::string_view name) {
  return !name.empty() &&
         std::all_of(name.begin(), name.end(), [](char c) { return (c >= 'a' && c <= 'z') || c == '_'; });
}

// Where the options of an SQLite connection string start: its last '?'
// when the text after it starts with NAME= (as the library reads it); npos
// when it has none.
std::size_t OptionsStart(const std::string& connection) {
  const std::size_t question = connection.rfind('?');
  if (question == std::string::npos) return question;
  const std::string_view rest = std::string_view(connection).substr(question + 1);
  const std::size_t equals = rest.substr(0, rest.find('&')).find('=');
  return equals != std::string_view::npos && IsOptionName(rest.substr(0, equals)) ? question
                                                                                  : std::string::npos;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string PercentDecoded(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
      out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

std::size_t EditDistance(std::string_view a, std::string_view b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

}  // namespace

std::string CommonOptions::DefaultConnection() {
  const char* fromEnvironment = std::getenv("TESSEL_DB");
  return fromEnvironment != nullptr && *fromEnvironment != '\0' ? fromEnvironment : "sqlite:tessel.db";
}

void AddCommonOptions(CLI::App& command, CommonOptions& options) {
  command
      .add_option(
          "--db", options.db,
          "Connection string: sqlite:PATH[?mode=rwc|rw|ro], sqlite::memory:, postgresql://USER@HOST/DB, "
          "libpq key=value pairs, or odbc: and an ODBC connection string (DSN=NAME;...). Default: the "
          "environment variable TESSEL_DB, else sqlite:tessel.db")
      ->default_str(DbConnectFactory::MaskPasswords(options.db));
  command.add_option(
      "--schema", options.schema,
      "Table set (schema) holding the tables and routines; empty for the default (SQLite main, "
      "PostgreSQL public)");
}

void SetFooter(CLI::App& command, const std::string& more, const std::string& examples,
               const std::string& exitStatus) {
  command.footer((more.empty() ? std::string() : more + "\n\n") + "Example:\n" + examples +
                 "\n\nExit status: " + exitStatus);
}

std::string DescribeConnection(const std::string& connection) {
  return connection.empty() ? std::string("the default database")
                            : "'" + DbConnectFactory::MaskPasswords(connection) + "'";
}

std::vector<std::string> SecretsOf(const std::string& connection) {
  std::vector<std::string> secrets;
  for (std::string secret : DbConnectFactory::Passwords(connection)) {
    if (secret.size() >= 2 && secret.front() == '\'' && secret.back() == '\'') {
      secrets.push_back(secret);
      secret = secret.substr(1, secret.size() - 2);
    }
    const std::string decoded = PercentDecoded(secret);
    if (decoded != secret) secrets.push_back(decoded);
    secrets.push_back(std::move(secret));
  }
  return secrets;
}

std::string ExistingDatabase(const std::string& connection, const char* command, bool memoryAllowed) {
  const std::string text = connection.empty() ? std::string("sqlite:tessel.db") : connection;
  if (DbConnectFactory::BackendName(text) != "sqlite") return connection;
  const std::size_t options = OptionsStart(text);
  const std::string path =
      text.substr(kSqliteScheme.size(),
                  options == std::string::npos ? std::string::npos : options - kSqliteScheme.size());
  if (path == ":memory:") {
    if (memoryAllowed) return connection;
    throw Error(std::string("tessel ") + command +
                ": sqlite::memory: is a new, empty database on every connection, so it holds nothing to work "
                "on; give an SQLite file (tessel demo creates one) or a PostgreSQL server");
  }
  if (options != std::string::npos && text.find("mode=", options) != std::string::npos) return connection;
  struct stat info {};
  if (!path.empty() && ::stat(path.c_str(), &info) != 0 && errno == ENOENT)
    throw Error("no SQLite database file '" + path + "' (create it with tessel demo or add ?mode=rwc)");
  return text + (options == std::string::npos ? "?mode=rw" : "&mode=rw");
}

std::vector<std::string> CommandNames(const CLI::App& app) {
  std::vector<std::string> names;
  for (const CLI::App* sub : app.get_subcommands([](const CLI::App*) { return true; }))
    names.push_back(sub->get_name());
  return names;
}

std::string Nearest(const std::string& word, const std::vector<std::string>& names) {
  std::string best;
  std::size_t bestDistance = std::string::npos;
  for (const std::string& name : names) {
    const std::size_t distance = name.rfind(word, 0) == 0 && !word.empty()
                                     ? 0
                                     : EditDistance(word, name);  // a prefix is as good as a match
    if (distance < bestDistance) {
      bestDistance = distance;
      best = name;
    }
  }
  return bestDistance <= std::max<std::size_t>(2, word.size() / 3) ? best : std::string();
}

}  // namespace Tessel::Cli
