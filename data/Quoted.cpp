#include "data/Quoted.h"

namespace Tessel {

std::string Quoted(std::string_view text) {
  std::string quoted;
  quoted.reserve(text.size() + 2);
  quoted.append(1, '\'').append(text).append(1, '\'');
  return quoted;
}

std::string QuotedExcerpt(std::string_view text, std::size_t maxBytes) {
  if (text.size() <= maxBytes) return Quoted(text);
  std::size_t cut = maxBytes;
  // Back to the start of a UTF-8 character, so that no half of one is shown.
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  std::string quoted = Quoted(text.substr(0, cut));
  quoted.insert(quoted.size() - 1, "...");
  return quoted;
}

std::string QuoteIdentifier(std::string_view identifier) {
  std::string quoted;
  quoted.reserve(identifier.size() + 2);
  quoted.push_back('"');
  for (char c : identifier) {
    if (c == '"') quoted.push_back('"');
    quoted.push_back(c);
  }
  quoted.push_back('"');
  return quoted;
}

}  // namespace Tessel
