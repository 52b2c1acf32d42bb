// The bytes of COPY ... FROM STDIN: how one cell of the table model is
// written in PostgreSQL's binary format or in its text format, and the buffer
// that collects rows and hands them to libpq in large chunks.
//
// The binary format is the one the writer prefers (about twice as fast to
// load as text, measured on a million rows of integers, doubles, timestamps
// and short text). It needs an encoder for each server type, so a table
// whose columns include a type without one here (timestamptz, money, uuid,
// json, enums, arrays, ...) is written in text form, which the server parses
// for any type.
//
// Dates: the model's DateTime has 100 ns ticks, the server microseconds; both
// formats round to the nearest microsecond (half to even) and never past
// 9999-12-31 23:59:59.999999. A date column takes the date part.
#pragma once

#include <libpq-fe.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "TesselWrapper/data/DataTable.h"
#include "data/ColumnStore.h"

namespace Tessel::Postgres {

// How one column's cells are written. Chosen once per column, from the
// server's type and the model column's type.
enum class FieldCodec : std::uint8_t {
  kBinaryBool,
  kBinaryInt2,
  kBinaryInt4,
  kBinaryInt8,
  kBinaryFloat4,
  kBinaryFloat8,
  kBinaryNumeric,
  kBinaryText,  // text, varchar, bpchar, name: the UTF-8 bytes
  kBinaryBytea,
  kBinaryDate,
  kBinaryTimestamp,
  kTextInteger,  // Boolean columns into integer types, and every integer type
  kTextBool,
  kTextDouble,
  kTextString,  // String and Decimal columns, escaped
  kTextDate,
  kTextTimestamp,
  kTextBytea,
};

// The binary codec for a server column of `serverType` fed from a model
// column of `modelType`; nullopt when there is none (use the text format).
std::optional<FieldCodec> BinaryCodecFor(Oid serverType, Data::DataType modelType) noexcept;
// The text codec: one exists for every pair.
FieldCodec TextCodecFor(Oid serverType, Data::DataType modelType) noexcept;

// Collects COPY data and sends it with PQputCopyData once a chunk is full.
// Not copyable. Send failures are remembered (Failed()); the caller stops
// feeding rows then and reads the reason from the COPY's result.
class CopyBuffer {
 public:
  static constexpr std::size_t kChunk = std::size_t{1} << 20;

  explicit CopyBuffer(PGconn* conn) : conn_(conn), data_(2 * kChunk) {}
  CopyBuffer(const CopyBuffer&) = delete;
  CopyBuffer& operator=(const CopyBuffer&) = delete;

  // Room for `n` more bytes at End(); sends what is buffered first if needed.
  char* Reserve(std::size_t n) {
    if (size_ + n > data_.size()) Grow(n);
    return data_.data() + size_;
  }
  void Advance(std::size_t n) noexcept { size_ += n; }
  void Append(const void* bytes, std::size_t n);
  void Append(char c) {
    *Reserve(1) = c;
    ++size_;
  }

  // Called after each row: sends a full chunk.
  void EndRow() {
    if (size_ >= kChunk) Send();
  }
  // Sends everything still buffered.
  void Send();
  bool Failed() const noexcept { return failed_; }

 private:
  void Grow(std::size_t n);

  PGconn* conn_;
  std::vector<char> data_;
  std::size_t size_ = 0;
  bool failed_ = false;
};

// The 19-byte header and the 2-byte trailer of the binary format.
void AppendBinaryHeader(CopyBuffer& out);
void AppendBinaryTrailer(CopyBuffer& out);
// A binary row starts with its field count.
void AppendBinaryFieldCount(CopyBuffer& out, std::uint16_t count);

// Writes one cell (its null marker when the cell is DBNull). Binary codecs
// write the length word and the value; text codecs write the value only (the
// caller writes the tab and newline separators). Returns false, with
// nothing of the cell written, when a Decimal cell holds text that is no
// number or when a binary value is longer than its length word can say
// (2^31 - 1 bytes); the caller abandons the COPY.
bool AppendCell(CopyBuffer& out, FieldCodec codec, const Data::detail::ColumnStore::View& cells,
                Data::RecordId record);

// PostgreSQL's binary numeric for decimal text ("-12.50", "1E+20", "NaN",
// "Infinity"): appended to `out`; false when the text is no number.
bool EncodeNumeric(std::string_view decimal, std::string& out);

// Microseconds since 2000-01-01 00:00 (the server's epoch) for model ticks,
// rounded as the file comment says.
std::int64_t PostgresMicroseconds(std::int64_t ticks) noexcept;

// "YYYY-MM-DD HH:MM:SS[.ffffff]" (or "YYYY-MM-DD" when `dateOnly`) for model
// ticks, rounded as the file comment says; returns the length written.
inline constexpr std::size_t kTimestampTextCapacity = 32;
std::size_t FormatTimestamp(std::int64_t ticks, bool dateOnly, char* out) noexcept;

}  // namespace Tessel::Postgres
