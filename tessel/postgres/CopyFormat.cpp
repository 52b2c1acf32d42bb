#include "tessel/postgres/CopyFormat.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

#include "TesselWrapper/data/DateTime.h"
#include "tessel/CivilDate.h"
#include "tessel/dialect/postgres/TypeMap.h"

namespace Tessel::Postgres {
namespace {

using Data::DataType;
using Data::DateTime;

constexpr std::int64_t kDaysTo2000 = 730119;  // 0001-01-01 to 2000-01-01
constexpr std::int64_t kMicrosPerDay = 86'400'000'000;
constexpr std::int64_t kMaxMicros = DateTime::kMaxTicks / 10;
constexpr std::size_t kMaxFrameBytes = 0x7FFFFFFF;  // a field's length word is an int32

inline void PutBig16(char* p, std::uint16_t v) noexcept {
  p[0] = static_cast<char>(v >> 8);
  p[1] = static_cast<char>(v);
}
inline void PutBig32(char* p, std::uint32_t v) noexcept {
  v = __builtin_bswap32(v);
  std::memcpy(p, &v, 4);
}
inline void PutBig64(char* p, std::uint64_t v) noexcept {
  v = __builtin_bswap64(v);
  std::memcpy(p, &v, 8);
}

// A length word and a fixed-size big-endian value.
inline void AppendBinary32(CopyBuffer& out, std::uint32_t v) {
  char* p = out.Reserve(8);
  PutBig32(p, 4);
  PutBig32(p + 4, v);
  out.Advance(8);
}
inline void AppendBinary64(CopyBuffer& out, std::uint64_t v) {
  char* p = out.Reserve(12);
  PutBig32(p, 8);
  PutBig64(p + 4, v);
  out.Advance(12);
}
// False, with nothing written, for a value longer than the length word says:
// it is a signed 32-bit count (-1 marks a null), and a longer value cut to
// it would frame the rest of the row wrong.
[[nodiscard]] inline bool AppendBinaryBytes(CopyBuffer& out, const void* bytes, std::size_t n) {
  if (n > kMaxFrameBytes) return false;
  char* p = out.Reserve(4 + n);
  PutBig32(p, static_cast<std::uint32_t>(n));
  if (n != 0) std::memcpy(p + 4, bytes, n);
  out.Advance(4 + n);
  return true;
}

inline char* TwoDigits(char* p, unsigned v) noexcept {
  p[0] = static_cast<char>('0' + v / 10);
  p[1] = static_cast<char>('0' + v % 10);
  return p + 2;
}

// Microseconds since 0001-01-01, rounded half to even and capped.
std::int64_t MicrosSinceYearOne(std::int64_t ticks) noexcept {
  std::int64_t micros = ticks / 10;
  const std::int64_t rest = ticks % 10;
  if (rest > 5 || (rest == 5 && (micros & 1))) ++micros;
  return micros > kMaxMicros ? kMaxMicros : micros;
}

void AppendEscapedText(CopyBuffer& out, std::string_view text) {
  char* start = out.Reserve(2 * text.size());
  char* p = start;
  for (char c : text) {
    switch (c) {
      case '\\':
        *p++ = '\\';
        *p++ = '\\';
        break;
      case '\n':
        *p++ = '\\';
        *p++ = 'n';
        break;
      case '\r':
        *p++ = '\\';
        *p++ = 'r';
        break;
      case '\t':
        *p++ = '\\';
        *p++ = 't';
        break;
      default:
        *p++ = c;
    }
  }
  out.Advance(static_cast<std::size_t>(p - start));
}

void AppendTextDouble(CopyBuffer& out, double v) {
  if (std::isnan(v)) return out.Append("NaN", 3);
  if (std::isinf(v)) return v > 0 ? out.Append("Infinity", 8) : out.Append("-Infinity", 9);
  char* p = out.Reserve(32);
  out.Advance(static_cast<std::size_t>(std::to_chars(p, p + 32, v).ptr - p));
}

void AppendTextInteger(CopyBuffer& out, std::int64_t v) {
  char* p = out.Reserve(24);
  out.Advance(static_cast<std::size_t>(std::to_chars(p, p + 24, v).ptr - p));
}

bool IsTextType(Oid type) noexcept {
  return type == TypeOid::kText || type == TypeOid::kVarchar || type == TypeOid::kBpchar ||
         type == TypeOid::kName;
}

bool IsIntegerModel(DataType type) noexcept {
  return type == DataType::Int16 || type == DataType::Int32 || type == DataType::Int64;
}

// Whether every value of the model type fits the server's integer width.
bool IntegerFits(DataType model, Oid server) noexcept {
  const int serverBytes = server == TypeOid::kInt2 ? 2 : server == TypeOid::kInt4 ? 4 : 8;
  const int modelBytes = model == DataType::Int16 ? 2 : model == DataType::Int32 ? 4 : 8;
  return modelBytes <= serverBytes;
}

}  // namespace

std::optional<FieldCodec> BinaryCodecFor(Oid serverType, DataType modelType) noexcept {
  switch (serverType) {
    case TypeOid::kBool:
      if (modelType == DataType::Boolean) return FieldCodec::kBinaryBool;
      break;
    case TypeOid::kInt2:
    case TypeOid::kInt4:
    case TypeOid::kInt8:
      if (IsIntegerModel(modelType) && IntegerFits(modelType, serverType))
        return serverType == TypeOid::kInt2   ? FieldCodec::kBinaryInt2
               : serverType == TypeOid::kInt4 ? FieldCodec::kBinaryInt4
                                              : FieldCodec::kBinaryInt8;
      break;
    case TypeOid::kFloat4:
      if (modelType == DataType::Double) return FieldCodec::kBinaryFloat4;
      break;
    case TypeOid::kFloat8:
      if (modelType == DataType::Double) return FieldCodec::kBinaryFloat8;
      break;
    case TypeOid::kNumeric:
      if (modelType == DataType::Decimal) return FieldCodec::kBinaryNumeric;
      break;
    case TypeOid::kBytea:
      if (modelType == DataType::Binary) return FieldCodec::kBinaryBytea;
      break;
    case TypeOid::kDate:
      if (modelType == DataType::DateTime) return FieldCodec::kBinaryDate;
      break;
    case TypeOid::kTimestamp:
      if (modelType == DataType::DateTime) return FieldCodec::kBinaryTimestamp;
      break;
    default:
      if (IsTextType(serverType) && modelType == DataType::String) return FieldCodec::kBinaryText;
      break;
  }
  return std::nullopt;
}

FieldCodec TextCodecFor(Oid serverType, DataType modelType) noexcept {
  switch (modelType) {
    case DataType::Boolean:
      return serverType == TypeOid::kBool ? FieldCodec::kTextBool : FieldCodec::kTextInteger;
    case DataType::Int16:
    case DataType::Int32:
    case DataType::Int64:
      return FieldCodec::kTextInteger;
    case DataType::Double:
      return FieldCodec::kTextDouble;
    case DataType::DateTime:
      return serverType == TypeOid::kDate ? FieldCodec::kTextDate : FieldCodec::kTextTimestamp;
    case DataType::Binary:
      return FieldCodec::kTextBytea;
    case DataType::Decimal:
    case DataType::String:
      break;
  }
  return FieldCodec::kTextString;
}

void CopyBuffer::Append(const void* bytes, std::size_t n) {
  std::memcpy(Reserve(n), bytes, n);
  size_ += n;
}

void CopyBuffer::Send() {
  // PQputCopyData takes an int count: a buffer grown past that for one long
  // value (an escaped text, a bytea's hex) goes in pieces.
  constexpr std::size_t kPiece = std::size_t{1} << 30;
  for (std::size_t at = 0; at < size_ && !failed_; at += kPiece) {
    const std::size_t n = std::min(kPiece, size_ - at);
    if (PQputCopyData(conn_, data_.data() + at, static_cast<int>(n)) != 1) failed_ = true;
  }
  size_ = 0;
}

void CopyBuffer::Grow(std::size_t n) {
  Send();
  if (n > data_.size()) data_.resize(n);
}

void AppendBinaryHeader(CopyBuffer& out) {
  static constexpr char kHeader[19] = {'P',  'G', 'C', 'O', 'P', 'Y', '\n', '\377', '\r', '\n',
                                       '\0', 0,   0,   0,   0,   0,   0,    0,      0};
  out.Append(kHeader, sizeof kHeader);
}

void AppendBinaryTrailer(CopyBuffer& out) { out.Append("\377\377", 2); }

void AppendBinaryFieldCount(CopyBuffer& out, std::uint16_t count) {
  PutBig16(out.Reserve(2), count);
  out.Advance(2);
}

std::int64_t PostgresMicroseconds(std::int64_t ticks) noexcept {
  return MicrosSinceYearOne(ticks) - kDaysTo2000 * kMicrosPerDay;
}

std::size_t FormatTimestamp(std::int64_t ticks, bool dateOnly, char* out) noexcept {
  const std::int64_t micros = dateOnly ? ticks / 10 : MicrosSinceYearOne(ticks);
  const CivilDate date = CivilFromDays(micros / kMicrosPerDay);
  char* p = TwoDigits(out, static_cast<unsigned>(date.year / 100));
  p = TwoDigits(p, static_cast<unsigned>(date.year % 100));
  *p++ = '-';
  p = TwoDigits(p, date.month);
  *p++ = '-';
  p = TwoDigits(p, date.day);
  if (dateOnly) return static_cast<std::size_t>(p - out);
  std::int64_t timeOfDay = micros % kMicrosPerDay;
  const auto fraction = static_cast<unsigned>(timeOfDay % 1'000'000);
  timeOfDay /= 1'000'000;
  *p++ = ' ';
  p = TwoDigits(p, static_cast<unsigned>(timeOfDay / 3600));
  *p++ = ':';
  p = TwoDigits(p, static_cast<unsigned>(timeOfDay / 60 % 60));
  *p++ = ':';
  p = TwoDigits(p, static_cast<unsigned>(timeOfDay % 60));
  if (fraction != 0) {
    *p++ = '.';
    unsigned f = fraction;
    for (int i = 5; i >= 0; --i) {
      p[i] = static_cast<char>('0' + f % 10);
      f /= 10;
    }
    p += 6;
  }
  return static_cast<std::size_t>(p - out);
}

bool EncodeNumeric(std::string_view text, std::string& out) {
  constexpr std::uint16_t kPositive = 0x0000, kNegative = 0x4000, kNaN = 0xC000, kPlusInfinity = 0xD000,
                          kMinusInfinity = 0xF000;
  auto header = [&out](std::uint16_t ndigits, std::int16_t weight, std::uint16_t sign, std::uint16_t dscale) {
    char h[8];
    PutBig16(h, ndigits);
    PutBig16(h + 2, static_cast<std::uint16_t>(weight));
    PutBig16(h + 4, sign);
    PutBig16(h + 6, dscale);
    out.append(h, 8);
  };
  if (text == "NaN") return header(0, 0, kNaN, 0), true;
  if (text == "Infinity" || text == "+Infinity") return header(0, 0, kPlusInfinity, 0), true;
  if (text == "-Infinity") return header(0, 0, kMinusInfinity, 0), true;

  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  // The mantissa: digits with at most one point. Digit k of it is read back
  // from the text directly, so that nothing is allocated per cell.
  const std::size_t mantissa = i;
  std::size_t dot = std::string_view::npos;
  std::int64_t digitCount = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c >= '0' && c <= '9') {
      ++digitCount;
    } else if (c == '.' && dot == std::string_view::npos) {
      dot = i;
    } else {
      break;
    }
  }
  if (digitCount == 0) return false;
  const std::int64_t digitsBeforeDot =
      dot == std::string_view::npos ? digitCount : static_cast<std::int64_t>(dot - mantissa);
  auto digit = [&](std::int64_t k) -> int {
    if (k < 0 || k >= digitCount) return 0;
    const std::size_t at = mantissa + static_cast<std::size_t>(k) + (k >= digitsBeforeDot ? 1 : 0);
    return text[at] - '0';
  };

  std::int64_t intDigits = digitsBeforeDot;  // digits before the point, after the exponent
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    int exponent = 0;
    std::size_t start = i + 1;
    if (start < text.size() && text[start] == '+') ++start;
    auto [end, ec] = std::from_chars(text.data() + start, text.data() + text.size(), exponent);
    if (ec != std::errc() || start == text.size()) return false;
    i = static_cast<std::size_t>(end - text.data());
    if (exponent > 100000 || exponent < -100000) return false;
    intDigits += exponent;
  }
  if (i != text.size()) return false;
  const std::int64_t scale = std::max<std::int64_t>(0, digitCount - intDigits);
  if (scale > 0x3FFF) return false;

  // Base-10000 groups: pad the digits on the left so that the point falls on
  // a group boundary; digit k then sits at position leftPad + k.
  const std::int64_t leftPad = ((-intDigits) % 4 + 4) % 4;
  const std::int64_t positions = leftPad + std::max(digitCount, intDigits);
  const std::int64_t groups = (positions + 3) / 4;
  auto group = [&](std::int64_t g) -> std::uint16_t {
    const std::int64_t k = 4 * g - leftPad;
    return static_cast<std::uint16_t>(digit(k) * 1000 + digit(k + 1) * 100 + digit(k + 2) * 10 +
                                      digit(k + 3));
  };
  std::int64_t first = 0;
  while (first < groups && group(first) == 0) ++first;
  std::int64_t last = groups;
  while (last > first && group(last - 1) == 0) --last;
  if (first == last) return header(0, 0, kPositive, static_cast<std::uint16_t>(scale)), true;
  const std::int64_t weight = (leftPad + intDigits) / 4 - 1 - first;
  if (weight > 0x7FFF || weight < -0x8000 || last - first > 0xFFFF) return false;
  header(static_cast<std::uint16_t>(last - first), static_cast<std::int16_t>(weight),
         negative ? kNegative : kPositive, static_cast<std::uint16_t>(scale));
  for (std::int64_t g = first; g < last; ++g) {
    char d[2];
    PutBig16(d, group(g));
    out.append(d, 2);
  }
  return true;
}

bool AppendCell(CopyBuffer& out, FieldCodec codec, const Data::detail::ColumnStore::View& cells,
                Data::RecordId record) {
  const bool binary = codec <= FieldCodec::kBinaryTimestamp;
  if (cells.IsNull(record)) {
    if (binary) {
      PutBig32(out.Reserve(4), 0xFFFFFFFFu);
      out.Advance(4);
    } else {
      out.Append("\\N", 2);
    }
    return true;
  }
  switch (codec) {
    case FieldCodec::kBinaryBool: {
      char* p = out.Reserve(5);
      PutBig32(p, 1);
      p[4] = cells.Int(record) != 0 ? 1 : 0;
      out.Advance(5);
      return true;
    }
    case FieldCodec::kBinaryInt2: {
      char* p = out.Reserve(6);
      PutBig32(p, 2);
      PutBig16(p + 4, static_cast<std::uint16_t>(cells.Int(record)));
      out.Advance(6);
      return true;
    }
    case FieldCodec::kBinaryInt4:
      AppendBinary32(out, static_cast<std::uint32_t>(cells.Int(record)));
      return true;
    case FieldCodec::kBinaryInt8:
      AppendBinary64(out, static_cast<std::uint64_t>(cells.Int(record)));
      return true;
    case FieldCodec::kBinaryFloat4: {
      const float v = static_cast<float>(cells.Real(record));
      std::uint32_t bits;
      std::memcpy(&bits, &v, 4);
      AppendBinary32(out, bits);
      return true;
    }
    case FieldCodec::kBinaryFloat8: {
      const double v = cells.Real(record);
      std::uint64_t bits;
      std::memcpy(&bits, &v, 8);
      AppendBinary64(out, bits);
      return true;
    }
    case FieldCodec::kBinaryNumeric: {
      // One scratch buffer per thread keeps the per-cell path allocation-free.
      thread_local std::string scratch;
      scratch.clear();
      if (!EncodeNumeric(cells.Text(record), scratch)) return false;
      return AppendBinaryBytes(out, scratch.data(), scratch.size());
    }
    case FieldCodec::kBinaryText: {
      const std::string_view text = cells.Text(record);
      return AppendBinaryBytes(out, text.data(), text.size());
    }
    case FieldCodec::kBinaryBytea: {
      const auto bytes = cells.Bytes(record);
      return AppendBinaryBytes(out, bytes.data(), bytes.size());
    }
    case FieldCodec::kBinaryDate: {
      const std::int64_t days = cells.Int(record) / DateTime::kTicksPerDay;
      AppendBinary32(out, static_cast<std::uint32_t>(static_cast<std::int32_t>(days - kDaysTo2000)));
      return true;
    }
    case FieldCodec::kBinaryTimestamp:
      AppendBinary64(out, static_cast<std::uint64_t>(PostgresMicroseconds(cells.Int(record))));
      return true;
    case FieldCodec::kTextInteger:
      AppendTextInteger(out, cells.Int(record));
      return true;
    case FieldCodec::kTextBool:
      out.Append(cells.Int(record) != 0 ? 't' : 'f');
      return true;
    case FieldCodec::kTextDouble:
      AppendTextDouble(out, cells.Real(record));
      return true;
    case FieldCodec::kTextString:
      AppendEscapedText(out, cells.Text(record));
      return true;
    case FieldCodec::kTextDate:
    case FieldCodec::kTextTimestamp: {
      char* p = out.Reserve(kTimestampTextCapacity);
      out.Advance(FormatTimestamp(cells.Int(record), codec == FieldCodec::kTextDate, p));
      return true;
    }
    case FieldCodec::kTextBytea: {
      static constexpr char kHex[] = "0123456789abcdef";
      const auto bytes = cells.Bytes(record);
      char* start = out.Reserve(3 + 2 * bytes.size());
      char* p = start;
      *p++ = '\\';  // the COPY escape for the backslash of bytea's "\x"
      *p++ = '\\';
      *p++ = 'x';
      for (std::uint8_t b : bytes) {
        *p++ = kHex[b >> 4];
        *p++ = kHex[b & 15];
      }
      out.Advance(static_cast<std::size_t>(p - start));
      return true;
    }
  }
  return true;
}

}  // namespace Tessel::Postgres
