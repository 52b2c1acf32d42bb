#include "bench/Dataset.h"

#include <cmath>
#include <limits>
#include <stdexcept>

namespace Tessel::Bench {
namespace {

// splitmix64: tiny, fast and the same on every platform, which is all the
// benchmark needs (std:: distributions differ between standard libraries).
class SplitMix64 {
 public:
  explicit SplitMix64(std::uint64_t seed) : state_(seed) {}
  std::uint64_t Next() noexcept {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
  }
  // Uniform in [0, n) (the slight modulo bias does not matter here).
  std::uint64_t Below(std::uint64_t n) noexcept { return Next() % n; }
  // Uniform in [0, 1) with all 53 bits of the mantissa used.
  double Unit() noexcept { return static_cast<double>(Next() >> 11) * 0x1p-53; }

 private:
  std::uint64_t state_;
};

// Days since 1970-01-01 for a proleptic Gregorian date, and back
// (H. Hinnant's civil-calendar algorithms).
constexpr std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) noexcept {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

struct Civil {
  std::int64_t year;
  unsigned month, day;
};

constexpr Civil CivilFromDays(std::int64_t z) noexcept {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  return {static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2), m, d};
}

constexpr std::int64_t kMsPerDay = 86'400'000;
constexpr char kTextAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";

void Put2(char* out, unsigned v) noexcept {
  out[0] = static_cast<char>('0' + v / 10);
  out[1] = static_cast<char>('0' + v % 10);
}

}  // namespace

Dataset::Dataset(std::size_t rows, std::uint64_t seed) : seed_(seed) {
  if (rows == 0 || rows > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
    throw std::invalid_argument("row count must be between 1 and 2147483647, got " + std::to_string(rows));
  }
  i1_.resize(rows);
  i2_.resize(rows);
  i3_.resize(rows);
  d1_.resize(rows);
  d2_.resize(rows);
  oa_.resize(rows);
  unixMs_.resize(rows);
  t1_.resize(rows);
  t2_.resize(rows);
  len1_.resize(rows);
  len2_.resize(rows);
  arena_.reserve(rows * 2 * 21);  // at most 20 characters and a NUL per text: no regrowth

  SplitMix64 rng(seed);
  const std::int64_t firstDay = DaysFromCivil(2000, 1, 1);
  const std::int64_t dayCount = DaysFromCivil(2030, 12, 31) - firstDay + 1;
  auto addText = [&](std::uint32_t& offset, std::uint8_t& length) {
    length = static_cast<std::uint8_t>(10 + rng.Below(11));
    offset = static_cast<std::uint32_t>(arena_.size());
    for (unsigned k = 0; k < length; ++k) arena_.push_back(kTextAlphabet[rng.Below(36)]);
    arena_.push_back('\0');
  };
  for (std::size_t r = 0; r < rows; ++r) {
    i1_[r] = static_cast<std::int32_t>(r);
    i2_[r] = static_cast<std::int32_t>(static_cast<std::uint32_t>(rng.Next()));
    i3_[r] = static_cast<std::int32_t>(rng.Below(1000));
    d1_[r] = rng.Unit() * 2e6 - 1e6;
    d2_[r] = rng.Unit();
    const std::int64_t ms = (firstDay + static_cast<std::int64_t>(rng.Below(dayCount))) * kMsPerDay +
                            static_cast<std::int64_t>(rng.Below(kMsPerDay));
    unixMs_[r] = ms;
    oa_[r] = static_cast<double>(ms + kOaEpochToUnixMillis) / static_cast<double>(kMsPerDay);
    // The library turns the OLE date back into milliseconds by rounding; the
    // spot checks rely on that giving exactly the generated instant.
    if (std::llround(oa_[r] * static_cast<double>(kMsPerDay)) != ms + kOaEpochToUnixMillis) {
      throw std::logic_error("generated date does not survive the OLE date round trip at row " +
                             std::to_string(r));
    }
    addText(t1_[r], len1_[r]);
    addText(t2_[r], len2_[r]);
  }
  if (arena_.size() > std::numeric_limits<std::uint32_t>::max()) {
    throw std::invalid_argument("too many rows for the text arena");
  }
}

std::size_t Dataset::Bytes() const noexcept {
  const std::size_t n = Rows();
  return n * (3 * sizeof(std::int32_t) + 3 * sizeof(double) + sizeof(std::int64_t) +
              2 * sizeof(std::uint32_t) + 2) +
         arena_.size();
}

std::size_t Dataset::ValueBytes() const noexcept {
  // The arena holds each text's characters and one NUL.
  return Rows() * (3 * sizeof(std::int32_t) + 3 * sizeof(double)) + arena_.size() - 2 * Rows();
}

std::size_t FormatIsoMillis(std::int64_t unixMillis, char* out) noexcept {
  std::int64_t days = unixMillis / kMsPerDay;
  std::int64_t msOfDay = unixMillis % kMsPerDay;
  if (msOfDay < 0) {
    msOfDay += kMsPerDay;
    --days;
  }
  const Civil c = CivilFromDays(days);
  auto year = static_cast<unsigned>(c.year);
  out[0] = static_cast<char>('0' + year / 1000);
  out[1] = static_cast<char>('0' + year / 100 % 10);
  Put2(out + 2, year % 100);
  out[4] = '-';
  Put2(out + 5, c.month);
  out[7] = '-';
  Put2(out + 8, c.day);
  out[10] = ' ';
  const auto ms = static_cast<unsigned>(msOfDay);
  Put2(out + 11, ms / 3'600'000);
  out[13] = ':';
  Put2(out + 14, ms / 60'000 % 60);
  out[16] = ':';
  Put2(out + 17, ms / 1000 % 60);
  const unsigned frac = ms % 1000;
  if (frac == 0) return 19;
  out[19] = '.';
  out[20] = static_cast<char>('0' + frac / 100);
  Put2(out + 21, frac % 100);
  return 23;
}

bool ParseIsoMillis(std::string_view text, std::int64_t& unixMillis) noexcept {
  auto digits = [&](std::size_t at, std::size_t count, unsigned& value) {
    if (at + count > text.size()) return false;
    value = 0;
    for (std::size_t k = at; k < at + count; ++k) {
      if (text[k] < '0' || text[k] > '9') return false;
      value = value * 10 + static_cast<unsigned>(text[k] - '0');
    }
    return true;
  };
  unsigned y, mo, d, h, mi, s;
  if (text.size() < 19 || !digits(0, 4, y) || text[4] != '-' || !digits(5, 2, mo) || text[7] != '-' ||
      !digits(8, 2, d) || (text[10] != ' ' && text[10] != 'T') || !digits(11, 2, h) || text[13] != ':' ||
      !digits(14, 2, mi) || text[16] != ':' || !digits(17, 2, s)) {
    return false;
  }
  unsigned ms = 0;
  if (text.size() > 19) {
    if (text[19] != '.' || text.size() == 20) return false;
    unsigned scale = 100;
    for (std::size_t k = 20; k < text.size(); ++k) {
      if (text[k] < '0' || text[k] > '9') return false;
      ms += static_cast<unsigned>(text[k] - '0') * scale;
      scale /= 10;  // digits past the millisecond add nothing
    }
  }
  unixMillis = DaysFromCivil(y, mo, d) * kMsPerDay + h * 3'600'000LL + mi * 60'000LL + s * 1000LL + ms;
  return true;
}

}  // namespace Tessel::Bench
