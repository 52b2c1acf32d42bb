// The benchmark's rows: generated once, before any timing, from a seeded
// generator, so that every road writes exactly the same values.
//
// Shape (the table "bench_rows", eight columns):
//   i1  32-bit integer, the row's position (unique: spot checks find rows by it)
//   i2  32-bit integer, any value of the range
//   i3  32-bit integer, 0..999
//   d1  double, full 53-bit mantissa, within +/-1e6
//   d2  double in [0, 1)
//   dt  date-time between 2000-01-01 and 2030-12-31, whole milliseconds,
//       carried as an OLE Automation date (what both bridge roads take)
//   t1  text of 10 to 20 characters [a-z0-9]
//   t2  text of 10 to 20 characters [a-z0-9]
//
// Storage is columnar and owns every byte; texts are NUL-terminated in one
// arena so that they can be handed to `const char*` interfaces as they are.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace Tessel::Bench {

inline constexpr const char* kTableName = "bench_rows";
inline constexpr const char* kColumnNames[8] = {"i1", "i2", "i3", "d1", "d2", "dt", "t1", "t2"};

class Dataset {
 public:
  // Throws std::invalid_argument when rows is 0 or does not fit a 32-bit
  // signed position.
  Dataset(std::size_t rows, std::uint64_t seed);

  std::size_t Rows() const noexcept { return i1_.size(); }
  std::uint64_t Seed() const noexcept { return seed_; }

  std::int32_t I1(std::size_t r) const noexcept { return i1_[r]; }
  std::int32_t I2(std::size_t r) const noexcept { return i2_[r]; }
  std::int32_t I3(std::size_t r) const noexcept { return i3_[r]; }
  double D1(std::size_t r) const noexcept { return d1_[r]; }
  double D2(std::size_t r) const noexcept { return d2_[r]; }
  // The date-time as an OLE Automation date (days since 1899-12-30).
  double OaDate(std::size_t r) const noexcept { return oa_[r]; }
  // The same instant as milliseconds since 1970-01-01 00:00 (no time zone).
  std::int64_t UnixMillis(std::size_t r) const noexcept { return unixMs_[r]; }
  const char* T1(std::size_t r) const noexcept { return arena_.data() + t1_[r]; }
  const char* T2(std::size_t r) const noexcept { return arena_.data() + t2_[r]; }
  std::string_view T1View(std::size_t r) const noexcept { return {T1(r), len1_[r]}; }
  std::string_view T2View(std::size_t r) const noexcept { return {T2(r), len2_[r]}; }

  // Bytes this object holds for the generated values.
  std::size_t Bytes() const noexcept;
  // Bytes of the values themselves: three 4-byte integers, two doubles, an
  // 8-byte date-time and the texts' characters (no terminators, no offsets):
  // the floor for any in-memory form of the rows.
  std::size_t ValueBytes() const noexcept;

 private:
  std::uint64_t seed_;
  std::vector<std::int32_t> i1_, i2_, i3_;
  std::vector<double> d1_, d2_, oa_;
  std::vector<std::int64_t> unixMs_;
  std::string arena_;
  std::vector<std::uint32_t> t1_, t2_;
  std::vector<std::uint8_t> len1_, len2_;
};

// Milliseconds between 1899-12-30 (OLE Automation day 0) and 1970-01-01.
inline constexpr std::int64_t kOaEpochToUnixMillis = 25'569LL * 86'400'000LL;

// Writes the instant as "YYYY-MM-DD HH:MM:SS.fff" into `out` (no NUL; the
// ".fff" only when the milliseconds are not zero, the form the SQLite backend
// stores) and returns the number of characters written, 19 or 23. Meant for
// the baseline loops: no allocation, no locale.
std::size_t FormatIsoMillis(std::int64_t unixMillis, char* out) noexcept;

// Parses "YYYY-MM-DD HH:MM:SS[.f...]" (a "T" may stand for the space) back to
// milliseconds since 1970; false when the text has another form.
bool ParseIsoMillis(std::string_view text, std::int64_t& unixMillis) noexcept;

}  // namespace Tessel::Bench
