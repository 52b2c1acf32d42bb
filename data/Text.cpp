// Conversions between the caller's native narrow text and UTF-8.
//
// The native set is re-read from the locale on every call (nl_langinfo is a
// pointer lookup, the verdict on its name is remembered per thread), so a
// caller that switches locales is followed at once and nothing is configured
// in the library. UTF-8, by far the common case, never
// reaches iconv: decoding is a validation and encoding a copy.
#include "TesselWrapper/data/Text.h"

#include <iconv.h>
#include <langinfo.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <vector>

#include "TesselWrapper/Errors.h"
#include "data/Quoted.h"
#include "data/TextCodec.h"
#include "data/Utf8.h"

namespace Tessel::Text {
namespace detail {
namespace {

constexpr char kUtf8Replacement[] = "\xEF\xBF\xBD";

// Compares a charset name with `canonical` (upper case letters and digits
// only), ignoring case and every character that is not a letter or digit, so
// that "utf8", "UTF-8" and "Utf_8" all match "UTF8".
bool CharsetNameIs(const char* name, const char* canonical) noexcept {
  for (;; ++name) {
    char c = *name;
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    const bool alnum = (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (c != '\0' && !alnum) continue;
    if (c != *canonical) return false;
    if (c == '\0') return true;
    ++canonical;
  }
}

bool IsWindows1252(const char* charset) noexcept {
  return CharsetNameIs(charset, "CP1252") || CharsetNameIs(charset, "WINDOWS1252") ||
         CharsetNameIs(charset, "MSANSI");
}

// The five bytes that Windows-1252 leaves undefined. Windows maps them to the
// C1 controls of the same value, so they survive a round trip there; glibc's
// iconv refuses them, so they are handled here.
bool IsCp1252Hole(std::uint32_t value) noexcept {
  return value == 0x81 || value == 0x8D || value == 0x8F || value == 0x90 || value == 0x9D;
}

// An iconv descriptor, closed when the handle goes.
class IconvHandle {
 public:
  IconvHandle(const char* to, const char* from) noexcept : cd_(iconv_open(to, from)) {}
  IconvHandle(IconvHandle&& other) noexcept : cd_(other.cd_) { other.cd_ = Invalid(); }
  IconvHandle& operator=(IconvHandle&& other) noexcept {
    if (this != &other) {
      Close();
      cd_ = other.cd_;
      other.cd_ = Invalid();
    }
    return *this;
  }
  IconvHandle(const IconvHandle&) = delete;
  IconvHandle& operator=(const IconvHandle&) = delete;
  ~IconvHandle() { Close(); }

  bool IsOpen() const noexcept { return cd_ != Invalid(); }
  iconv_t Get() const noexcept { return cd_; }

 private:
  static iconv_t Invalid() noexcept { return reinterpret_cast<iconv_t>(-1); }
  void Close() noexcept {
    if (IsOpen()) iconv_close(cd_);
  }
  iconv_t cd_;
};

struct CachedConverter {
  std::string charset;
  bool toUtf8;
  IconvHandle handle;  // may be closed: a charset iconv does not know
};

// Opening a descriptor costs far more than a conversion of a short field, so
// each thread keeps the few it has used (an iconv_t must not be shared
// between threads while it converts).
const IconvHandle& Converter(const char* charset, bool toUtf8) {
  constexpr std::size_t kMaxCached = 8;
  thread_local std::vector<CachedConverter> cache;
  for (const CachedConverter& entry : cache) {
    if (entry.toUtf8 == toUtf8 && entry.charset == charset) return entry.handle;
  }
  if (cache.size() == kMaxCached) cache.erase(cache.begin());
  IconvHandle handle = toUtf8 ? IconvHandle("UTF-8", charset) : IconvHandle(charset, "UTF-8");
  cache.push_back(CachedConverter{charset, toUtf8, std::move(handle)});
  return cache.back().handle;
}

// An output buffer for iconv: `out` grows as needed; `used` bytes are final.
class IconvOutput {
 public:
  IconvOutput(std::string& out, std::size_t initial) : out_(out) { out_.resize(initial); }
  ~IconvOutput() { out_.resize(used_); }
  IconvOutput(const IconvOutput&) = delete;
  IconvOutput& operator=(const IconvOutput&) = delete;

  char* Cursor() noexcept { return out_.data() + used_; }
  std::size_t Room() const noexcept { return out_.size() - used_; }
  void Commit(char* cursor) noexcept { used_ = static_cast<std::size_t>(cursor - out_.data()); }
  void Grow() { out_.resize(out_.size() * 2 + 16); }
  void Append(const char* bytes, std::size_t n) {
    while (Room() < n) Grow();
    std::memcpy(Cursor(), bytes, n);
    used_ += n;
  }

 private:
  std::string& out_;
  std::size_t used_ = 0;
};

// Runs `cd` over `in` into `out`; on a byte sequence it cannot convert it
// calls `onFailure(error, in, inLeft, out)` with iconv's errno (EILSEQ, or
// EINVAL for a sequence cut short by the end), which must consume at least
// one byte.
template <typename OnFailure>
void RunIconv(iconv_t cd, std::string_view input, IconvOutput& out, OnFailure onFailure) {
  iconv(cd, nullptr, nullptr, nullptr, nullptr);  // back to the initial state
  char* in = const_cast<char*>(input.data());     // iconv's signature; never written
  std::size_t inLeft = input.size();
  while (inLeft > 0) {
    char* dst = out.Cursor();
    std::size_t dstLeft = out.Room();
    const std::size_t rc = iconv(cd, &in, &inLeft, &dst, &dstLeft);
    out.Commit(dst);
    if (rc != static_cast<std::size_t>(-1)) break;
    if (errno == E2BIG) {
      out.Grow();
      continue;
    }
    onFailure(errno, in, inLeft, out);
  }
  // A stateful set may need a closing shift sequence.
  for (;;) {
    char* dst = out.Cursor();
    std::size_t dstLeft = out.Room();
    const std::size_t rc = iconv(cd, nullptr, nullptr, &dst, &dstLeft);
    out.Commit(dst);
    if (rc != static_cast<std::size_t>(-1) || errno != E2BIG) break;
    out.Grow();
  }
}

}  // namespace

const char* NativeCharset() noexcept { return nl_langinfo(CODESET); }

bool IsUtf8Charset(const char* charset) noexcept {
  if (std::strcmp(charset, "UTF-8") == 0) return true;  // what glibc reports
  return CharsetNameIs(charset, "UTF8") || CharsetNameIs(charset, "ANSIX341968") ||
         CharsetNameIs(charset, "ASCII") || CharsetNameIs(charset, "USASCII") || CharsetNameIs(charset, "");
}

std::size_t ValidUtf8Length(std::string_view bytes) noexcept {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t n = bytes.size();
  std::size_t i = 0;
  while (i < n) {
    // Most text is ASCII: skip it eight bytes at a time.
    while (n - i >= 8) {
      std::uint64_t word;
      std::memcpy(&word, p + i, 8);
      if (word & 0x8080808080808080ULL) break;
      i += 8;
    }
    if (i == n) break;
    if (p[i] < 0x80) {
      ++i;
      continue;
    }
    const Utf8Step step = DecodeUtf8(p + i, n - i);
    if (!step.valid) return i;
    i += step.length;
  }
  return n;
}

void AppendSanitizedUtf8(std::string_view bytes, std::string& out) {
  while (!bytes.empty()) {
    const std::size_t valid = ValidUtf8Length(bytes);
    out.append(bytes.data(), valid);
    if (valid == bytes.size()) break;
    const Utf8Step step =
        DecodeUtf8(reinterpret_cast<const unsigned char*>(bytes.data()) + valid, bytes.size() - valid);
    out.append(kUtf8Replacement, 3);
    bytes.remove_prefix(valid + step.length);
  }
}

void Decode(std::string_view bytes, const char* charset, std::string& out) {
  out.clear();
  const IconvHandle& converter = Converter(charset, /*toUtf8=*/true);
  if (!converter.IsOpen()) {
    for (char c : bytes) {
      if (static_cast<unsigned char>(c) < 0x80) {
        out.push_back(c);
      } else {
        out.append(kUtf8Replacement, 3);
      }
    }
    return;
  }
  const bool cp1252 = IsWindows1252(charset);
  IconvOutput output(out, bytes.size() + bytes.size() / 2 + 16);
  RunIconv(converter.Get(), bytes, output, [&](int error, char*& in, std::size_t& inLeft, IconvOutput& o) {
    const auto byte = static_cast<unsigned char>(*in);
    if (error == EINVAL) {  // a multi-byte character cut short by the end
      o.Append(kUtf8Replacement, 3);
      in += inLeft;
      inLeft = 0;
      return;
    }
    if (cp1252 && IsCp1252Hole(byte)) {
      const char control[2] = {'\xC2', static_cast<char>(byte)};
      o.Append(control, 2);
    } else {
      o.Append(kUtf8Replacement, 3);
    }
    ++in;
    --inLeft;
  });
}

std::string Decode(std::string_view bytes, const char* charset) {
  std::string out;
  Decode(bytes, charset, out);
  return out;
}

void Encode(std::string_view text, const char* charset, std::string& out) {
  out.clear();
  const IconvHandle& converter = Converter(charset, /*toUtf8=*/false);
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  if (!converter.IsOpen()) {
    for (std::size_t i = 0; i < text.size();) {
      const Utf8Step step = DecodeUtf8(bytes + i, text.size() - i);
      out.push_back(step.valid && step.codePoint < 0x80 ? static_cast<char>(step.codePoint) : '?');
      i += step.length;
    }
    return;
  }
  const bool cp1252 = IsWindows1252(charset);
  IconvOutput output(out, text.size() + 16);
  RunIconv(converter.Get(), text, output, [&](int, char*& in, std::size_t& inLeft, IconvOutput& o) {
    // A character the set lacks, or ill-formed UTF-8: one "?" per character
    // (per maximal subpart when ill-formed), never a failure.
    const Utf8Step step = DecodeUtf8(reinterpret_cast<const unsigned char*>(in), inLeft);
    const char replacement =
        (step.valid && cp1252 && IsCp1252Hole(step.codePoint)) ? static_cast<char>(step.codePoint) : '?';
    o.Append(&replacement, 1);
    in += step.length;
    inLeft -= step.length;
  });
}

std::string Encode(std::string_view text, const char* charset) {
  std::string out;
  Encode(text, charset, out);
  return out;
}

}  // namespace detail

namespace {

std::string NativeToManagedImpl(std::string_view native) {
  if (!NativeIsUtf8()) return detail::Decode(native, detail::NativeCharset());
  if (detail::ValidUtf8Length(native) == native.size()) return std::string(native);
  std::string out;
  out.reserve(native.size() + 8);
  detail::AppendSanitizedUtf8(native, out);
  return out;
}

}  // namespace

bool NativeIsUtf8() {
  // Asked once per field on the hot paths: remember the last answer per
  // thread, keyed by the charset's name (not its address, which a later
  // locale may reuse).
  thread_local char lastCharset[48] = "";
  thread_local bool lastAnswer = true;
  const char* charset = detail::NativeCharset();
  if (std::strcmp(charset, lastCharset) == 0) return lastAnswer;
  const bool answer = detail::IsUtf8Charset(charset);
  if (std::strlen(charset) < sizeof lastCharset) {
    std::strcpy(lastCharset, charset);
    lastAnswer = answer;
  }
  return answer;
}

std::string NativeCharsetName() { return detail::NativeCharset(); }

bool IsKnownCharset(const std::string& charset) {
  return detail::CharsetNameIs(charset.c_str(), "UTF8") || detail::Converter(charset.c_str(), true).IsOpen();
}

StrictDecoding DecodeStrict(std::string_view bytes, const std::string& charset, std::string& out) {
  StrictDecoding result;
  if (detail::CharsetNameIs(charset.c_str(), "UTF8")) {
    // Validation only; the library's own rules rather than iconv's, so that
    // what is refused here is what the rest of the library calls invalid.
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    result.decoded = detail::ValidUtf8Length(bytes);
    out.append(bytes.data(), result.decoded);
    if (result.decoded < bytes.size()) {
      const std::size_t left = bytes.size() - result.decoded;
      const detail::Utf8Step step = detail::DecodeUtf8(p + result.decoded, left);
      // A lead byte whose sequence runs past the end may still be completed
      // by the next bytes; any other stop is for good.
      const unsigned char lead = p[result.decoded];
      const bool canLead = lead >= 0xC2 && lead <= 0xF4;
      result.truncated = canLead && step.length == left;
      result.invalid = !result.truncated;
    }
    return result;
  }
  const detail::IconvHandle& converter = detail::Converter(charset.c_str(), /*toUtf8=*/true);
  if (!converter.IsOpen()) throw ArgumentError("unknown character set " + Quoted(charset));
  iconv_t cd = converter.Get();
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  const std::size_t start = out.size();
  out.resize(start + bytes.size() + bytes.size() / 2 + 16);
  std::size_t used = start;
  char* in = const_cast<char*>(bytes.data());  // iconv's signature; never written
  std::size_t inLeft = bytes.size();
  for (;;) {
    char* dst = out.data() + used;
    std::size_t dstLeft = out.size() - used;
    const std::size_t rc = iconv(cd, &in, &inLeft, &dst, &dstLeft);
    used = static_cast<std::size_t>(dst - out.data());
    if (rc != static_cast<std::size_t>(-1)) break;
    if (errno == E2BIG) {
      out.resize(out.size() * 2 + 16);
      continue;
    }
    if (errno == EINVAL) {
      result.truncated = true;
    } else {
      result.invalid = true;
    }
    break;
  }
  out.resize(used);
  result.decoded = bytes.size() - inLeft;
  return result;
}

std::string NativeToManaged(const char* native) {
  if (native == nullptr) return {};
  return NativeToManagedImpl(native);
}

std::string NativeToManaged(const std::string& native) {
  // c_str() ends at the first NUL: bytes after an embedded NUL are dropped.
  return NativeToManagedImpl(native.c_str());
}

std::string_view NativeToManagedView(const char* native, std::string& scratch) {
  if (native == nullptr) return {};
  const std::string_view text(native);
  if (NativeIsUtf8()) {
    if (detail::ValidUtf8Length(text) == text.size()) return text;
    scratch.clear();
    detail::AppendSanitizedUtf8(text, scratch);
    return scratch;
  }
  detail::Decode(text, detail::NativeCharset(), scratch);
  return scratch;
}

std::string ManagedToNative(std::string_view managed) {
  const std::size_t nul = managed.find('\0');
  if (nul != std::string_view::npos) managed = managed.substr(0, nul);
  if (NativeIsUtf8()) return std::string(managed);
  return detail::Encode(managed, detail::NativeCharset());
}

std::string ManagedToNative(const std::string& managed) { return ManagedToNative(std::string_view(managed)); }

std::string ManagedToNative(const char* managed) {
  if (managed == nullptr) return {};
  return ManagedToNative(std::string_view(managed));
}

std::string ManagedToNative(const ManagedText& managed) {
  if (!managed) return {};
  return ManagedToNative(std::string_view(*managed));
}

}  // namespace Tessel::Text
