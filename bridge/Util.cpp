#include "bridge/Util.h"

#include <cstdint>
#include <string_view>

#include "TesselWrapper/Errors.h"
#include "data/Utf8.h"

namespace Tessel {
namespace {

// The byte length of the UTF-8 character that `text` starts with (of its
// maximal subpart when it is ill-formed; never more than the text holds).
std::size_t FirstCharacterLength(std::string_view text) noexcept {
  return Text::detail::DecodeUtf8(reinterpret_cast<const unsigned char*>(text.data()), text.size()).length;
}

const std::string& Required(const ManagedText& text, const char* argument) {
  if (!text) {
    throw ArgumentNullError(std::string("RemoveKeyValue: argument '") + argument + "' is absent (null)");
  }
  return *text;
}

}  // namespace

std::string Util::SystemToStdString(const ManagedText& inString) { return Text::ManagedToNative(inString); }

ManagedText Util::RemoveKeyValue(const ManagedText& Source, const ManagedText& Key,
                                 const ManagedText& SplitOn) {
  const std::string_view source = Required(Source, "Source");
  const std::string_view key = Required(Key, "Key");
  const std::string_view splitOn = Required(SplitOn, "SplitOn");

  std::string result;
  if (splitOn.empty()) return result;

  // Only the first character of SplitOn separates pieces; the whole of it
  // follows every kept piece. Managed text is UTF-8, so a separator that is
  // one multi-byte character is matched as its whole byte sequence.
  const std::string_view separator = splitOn.substr(0, FirstCharacterLength(splitOn));
  std::size_t start = 0;
  while (true) {
    const std::size_t end = source.find(separator, start);
    const std::string_view piece =
        source.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    if (!piece.starts_with(key)) {
      result.append(piece).append(splitOn);
    }
    if (end == std::string_view::npos) break;
    start = end + separator.size();
  }
  return result;
}

Data::DbType Util::TranslateToNetDbType(SimpleDbType typenameIn) noexcept {
  switch (static_cast<std::uint32_t>(typenameIn)) {
    case 0:
      return Data::DbType::String;
    case 1:
      return Data::DbType::Int32;
    case 2:
      return Data::DbType::Double;
    case 3:
      return Data::DbType::Decimal;
    case 4:
      return Data::DbType::Currency;
    case 5:
      return Data::DbType::DateTime;
    case 6:
      return Data::DbType::Binary;
    default:
      return Data::DbType::AnsiString;
  }
}

}  // namespace Tessel
