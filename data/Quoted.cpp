#include "data/Quoted.h"

#include <algorithm>
#include <array>

#include "TesselWrapper/component/DbConnect.h"

namespace Tessel {
namespace {

char LowerAscii(char c) noexcept { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameIgnoringAsciiCase(char a, char b) noexcept { return LowerAscii(a) == LowerAscii(b); }

}  // namespace

std::string DefuseRetryTexts(std::string text) {
  static const std::array<std::string_view, 2> kRetryTexts = {kRerunTransaction, kSchemaChange};
  for (const std::string_view retry : kRetryTexts) {
    auto from = text.begin();
    while (true) {
      const auto at = std::search(from, text.end(), retry.begin(), retry.end(), SameIgnoringAsciiCase);
      if (at == text.end()) break;
      std::replace(at, at + static_cast<std::ptrdiff_t>(retry.size()), ' ', '_');
      from = at + static_cast<std::ptrdiff_t>(retry.size());
    }
  }
  return text;
}

std::string Quoted(std::string_view text) {
  std::string quoted;
  quoted.reserve(text.size() + 2);
  quoted.append(1, '\'').append(text).append(1, '\'');
  return DefuseRetryTexts(std::move(quoted));
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
