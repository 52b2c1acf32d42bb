// The building blocks of the native/managed text conversions in Text.h,
// with the character set passed explicitly so that each can be used (and
// tested) independently of the process's locale. Private to tessel_data.
//
// None of these functions fails on content: bytes that cannot be decoded
// become U+FFFD, characters that cannot be encoded become "?". They are
// thread-safe; iconv descriptors are cached per thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "data/Utf8.h"  // ValidUtf8Length

namespace Tessel::Text::detail {

// The character set of the calling thread's current LC_CTYPE locale, as
// nl_langinfo(CODESET) names it ("UTF-8", "ANSI_X3.4-1968", "CP1252", ...).
const char* NativeCharset() noexcept;

// True for the names under which UTF-8 and plain ASCII go (compared without
// regard to case, '-' or '_'). ASCII counts as UTF-8 because the "C" locale
// reports it and UTF-8 is its only sensible reading for bytes above 0x7F.
bool IsUtf8Charset(const char* charset) noexcept;

// Appends `bytes` to `out` with every ill-formed sequence (each maximal
// subpart) replaced by U+FFFD.
void AppendSanitizedUtf8(std::string_view bytes, std::string& out);

// Decodes `bytes` from `charset` into UTF-8, replacing `out`. Undecodable
// bytes become U+FFFD; in Windows-1252 the five bytes that the code page
// leaves undefined decode to the C1 controls of the same number. An unknown
// charset decodes ASCII and replaces every other byte.
void Decode(std::string_view bytes, const char* charset, std::string& out);
std::string Decode(std::string_view bytes, const char* charset);

// Encodes UTF-8 `text` into `charset`, replacing `out`. Each character the
// set lacks, and each ill-formed UTF-8 sequence, becomes "?". The text is
// taken whole: cutting at U+0000 is the caller's business. An unknown charset
// keeps ASCII and turns every other character into "?".
void Encode(std::string_view text, const char* charset, std::string& out);
std::string Encode(std::string_view text, const char* charset);

}  // namespace Tessel::Text::detail
