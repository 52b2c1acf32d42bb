// Text as the table model and the component hold it, and the conversions
// between it and the caller's native narrow text.
//
// "Managed" text is UTF-8 and can be absent (std::nullopt), which is not the
// same as empty. "Native" text is a narrow NUL-terminated byte string in the
// character set of the process's current LC_CTYPE locale; the plain "C" /
// "POSIX" locale counts as UTF-8.
//
//   NativeToManaged   takes the bytes up to the first NUL; a null pointer gives
//                     empty text. Under a UTF-8 locale the bytes are only
//                     validated (an invalid sequence becomes U+FFFD); under any
//                     other set they are decoded with iconv.
//   ManagedToNative   copies up to the first U+0000; absent text gives an empty
//                     string. Under a non-UTF-8 set a character the set lacks
//                     becomes "?". Never fails on content.
//
// All functions are thread-safe and keep no state visible to callers.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "TesselWrapper/Export.h"

namespace Tessel {

// Text that may be absent (null), as the component's properties may be.
using ManagedText = std::optional<std::string>;

namespace Text {

TESSELWRAPPER_API std::string NativeToManaged(const char* native);
TESSELWRAPPER_API std::string NativeToManaged(const std::string& native);
TESSELWRAPPER_API std::string ManagedToNative(const ManagedText& managed);
TESSELWRAPPER_API std::string ManagedToNative(std::string_view managed);
// A std::string or a literal would otherwise be ambiguous between the two
// above. A null pointer gives an empty string.
TESSELWRAPPER_API std::string ManagedToNative(const std::string& managed);
TESSELWRAPPER_API std::string ManagedToNative(const char* managed);

// NativeToManaged without a copy where none is needed: under a UTF-8 locale,
// valid text is returned as a view of `native` itself; otherwise the converted
// text is written into `scratch` and a view of it is returned. For the
// per-field hot paths. A null pointer gives an empty view.
TESSELWRAPPER_API std::string_view NativeToManagedView(const char* native, std::string& scratch);

// True when the current locale's character set is UTF-8 (or plain ASCII).
TESSELWRAPPER_API bool NativeIsUtf8();

// The current locale's character set as the C library names it ("UTF-8",
// "ISO-8859-1", "ANSI_X3.4-1968", ...).
TESSELWRAPPER_API std::string NativeCharsetName();

// Strict decoding, for input in which every byte must mean something (a file
// being loaded): unlike NativeToManaged, nothing is ever replaced. Decodes
// `bytes` from `charset` (an iconv name such as "UTF-8", "ISO-8859-1",
// "CP1252") and appends the UTF-8 text to `out`, stopping before the first
// sequence that is not valid in the set (`invalid`) or that the end of
// `bytes` cuts short (`truncated`: hand the rest in again with the bytes that
// follow). `decoded` counts the bytes taken. UTF-8 is validated by the same
// rules as everywhere in the library (no overlong forms, no surrogates).
// Throws ArgumentError for a set the system does not know.
struct StrictDecoding {
  std::size_t decoded = 0;
  bool invalid = false;
  bool truncated = false;
};
TESSELWRAPPER_API StrictDecoding DecodeStrict(std::string_view bytes, const std::string& charset,
                                              std::string& out);

// Whether DecodeStrict knows `charset`.
TESSELWRAPPER_API bool IsKnownCharset(const std::string& charset);

// Unicode-aware case-insensitive equality of two UTF-8 texts (simple case
// folding), as column, table and routine lookups use it.
TESSELWRAPPER_API bool EqualsIgnoreCase(std::string_view a, std::string_view b);

// ASCII-only case-insensitive equality, for the fixed vocabulary of field
// type names ("Double", "Text", ...).
TESSELWRAPPER_API bool EqualsIgnoreAsciiCase(std::string_view a, std::string_view b) noexcept;

}  // namespace Text
}  // namespace Tessel
