// Column storage of the table model (private to the data library).
//
// A table keeps one ColumnStore per column. Every store holds one 64-bit word
// per record: the value itself for Boolean and integer columns (as int64), the
// IEEE bits for Double, the ticks for DateTime, and for String, Decimal and
// Binary columns the place of the cell's bytes in the column's byte arena. A
// null bitmap says which cells hold DBNull. A record is an index into these
// arrays, so a staged row costs its values plus a few bits, and no row or cell
// is a heap object of its own.
//
// The arrays grow through GrowableBuffer, which moves large blocks with
// mremap instead of copying them: a growing million-row column never needs
// its old and new copies resident at the same time.
//
// Not thread-safe; the owning table serialises access.
#pragma once

#include <bit>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "TesselWrapper/data/DataColumn.h"
#include "TesselWrapper/data/DataTable.h"

namespace Tessel::Data::detail {

// Raw, zero-initialised storage that keeps its contents when it grows. Small
// blocks live on the heap; from kMapThreshold on, the block is an anonymous
// mapping grown with mremap, whose untouched pages cost no memory.
class GrowableBuffer {
 public:
  GrowableBuffer() = default;
  ~GrowableBuffer();
  GrowableBuffer(GrowableBuffer&& other) noexcept;
  GrowableBuffer& operator=(GrowableBuffer&& other) noexcept;
  GrowableBuffer(const GrowableBuffer&) = delete;
  GrowableBuffer& operator=(const GrowableBuffer&) = delete;

  void* Data() const noexcept { return data_; }
  std::size_t Bytes() const noexcept { return bytes_; }
  // Grows to at least `minBytes` (geometrically); new bytes are zero.
  // Throws std::bad_alloc; on failure the contents are unchanged.
  void Grow(std::size_t minBytes);

  static constexpr std::size_t kMapThreshold = 256 * 1024;

 private:
  void Release() noexcept;
  void* data_ = nullptr;
  std::size_t bytes_ = 0;
  bool mapped_ = false;
};

// A growable array of trivially copyable elements over GrowableBuffer.
template <class T>
class PodArray {
  static_assert(std::is_trivially_copyable_v<T>);

 public:
  std::size_t Size() const noexcept { return size_; }
  std::size_t Capacity() const noexcept { return buffer_.Bytes() / sizeof(T); }
  T* Data() noexcept { return static_cast<T*>(buffer_.Data()); }
  const T* Data() const noexcept { return static_cast<const T*>(buffer_.Data()); }
  T& operator[](std::size_t i) noexcept { assert(i < size_); return Data()[i]; }
  const T& operator[](std::size_t i) const noexcept { assert(i < size_); return Data()[i]; }

  void Reserve(std::size_t n) {
    if (n > Capacity()) buffer_.Grow(n * sizeof(T));
  }
  void PushBack(T value) {
    if (size_ == Capacity()) Reserve(size_ + 1);
    Data()[size_++] = value;
  }
  void PushBackReserved(T value) noexcept {
    assert(size_ < Capacity());
    Data()[size_++] = value;
  }
  // Grows to `n` elements; the new ones are zero.
  void ResizeZeroed(std::size_t n) {
    Reserve(n);
    if (n > size_) std::memset(static_cast<void*>(Data() + size_), 0, (n - size_) * sizeof(T));
    size_ = n;
  }
  void Truncate(std::size_t n) noexcept {
    assert(n <= size_);
    size_ = n;
  }
  // Appends `count` elements copied from `src`, which must not point into
  // this array.
  void Append(const T* src, std::size_t count) {
    Reserve(size_ + count);
    if (count != 0) std::memcpy(static_cast<void*>(Data() + size_), src, count * sizeof(T));
    size_ += count;
  }

 private:
  GrowableBuffer buffer_;
  std::size_t size_ = 0;
};

// One bit per record.
class BitArray {
 public:
  bool Test(RecordId r) const noexcept { return (words_[r >> 6] >> (r & 63)) & 1u; }
  void Set(RecordId r) noexcept { words_[r >> 6] |= std::uint64_t{1} << (r & 63); }
  void Clear(RecordId r) noexcept { words_[r >> 6] &= ~(std::uint64_t{1} << (r & 63)); }
  void Assign(RecordId r, bool on) noexcept { on ? Set(r) : Clear(r); }
  // Makes room for records below `count`; new bits are clear.
  void Cover(std::size_t count) {
    const std::size_t words = (count + 63) / 64;
    if (words > words_.Size()) words_.ResizeZeroed(words);
  }

 private:
  PodArray<std::uint64_t> words_;
};

// A value converted to a column's type, ready to be stored: the word for
// fixed-width columns, the bytes (viewed, not owned) for String, Decimal and
// Binary columns.
struct Cell {
  bool null = true;
  std::uint64_t word = 0;
  std::string_view bytes;
};

// True for the column types whose cells are bytes in the arena.
constexpr bool HoldsBytes(DataType type) noexcept {
  return type == DataType::String || type == DataType::Decimal || type == DataType::Binary;
}

class ColumnStore {
 public:
  explicit ColumnStore(DataType type) noexcept : type_(type) {}

  DataType Type() const noexcept { return type_; }
  std::size_t Records() const noexcept { return words_.Size(); }

  bool IsNull(RecordId r) const noexcept { return nulls_.Test(r); }
  std::uint64_t Word(RecordId r) const noexcept { return words_[r]; }
  std::int64_t Int(RecordId r) const noexcept { return static_cast<std::int64_t>(words_[r]); }
  double Real(RecordId r) const noexcept { return std::bit_cast<double>(words_[r]); }
  std::string_view Text(RecordId r) const noexcept {
    const Span s = Decode(words_[r]);
    return {arena_.Data() + s.offset, s.length};
  }
  std::span<const std::uint8_t> Bytes(RecordId r) const noexcept {
    const Span s = Decode(words_[r]);
    return {reinterpret_cast<const std::uint8_t*>(arena_.Data() + s.offset), s.length};
  }

  // The value every new record starts with. Only before the first record.
  void SetDefault(const Cell& cell);
  // Makes room for `records` records, so that AppendRecord cannot fail: a
  // table grows all its columns together or none of them.
  void ReserveRecords(std::size_t records) {
    words_.Reserve(records);
    nulls_.Cover(records);
  }
  // Appends a record holding the default value; ReserveRecords first.
  void AppendRecord() noexcept {
    const auto r = static_cast<RecordId>(words_.Size());
    words_.PushBackReserved(defaultWord_);
    if (defaultNull_) nulls_.Set(r);
  }
  // Stores `cell` into record `r`. With `keepOldBytes` the old bytes of a
  // String/Decimal/Binary cell stay untouched in the arena, so that a Saved
  // cell can be put back; otherwise they may be reused.
  void Store(RecordId r, const Cell& cell, bool keepOldBytes) {
    if (!cell.null && !HoldsBytes(type_)) {  // the common case, inline
      words_[r] = cell.word;
      nulls_.Clear(r);
      return;
    }
    StoreNullOrBytes(r, cell, keepOldBytes);
  }

  // The raw state of one cell, to undo a Store made with keepOldBytes.
  struct Saved {
    std::uint64_t word;
    bool null;
  };
  Saved Save(RecordId r) const noexcept { return {words_[r], nulls_.Test(r)}; }
  void Restore(RecordId r, Saved saved) noexcept {
    words_[r] = saved.word;
    nulls_.Assign(r, saved.null);
  }

 private:
  // Arena cells pack the offset into the low 40 bits and the length into the
  // high 24. A length of kLongLength or more is written as an 8-byte prefix
  // in the arena, the word then holding kLongLength.
  static constexpr int kOffsetBits = 40;
  static constexpr std::uint64_t kOffsetMask = (std::uint64_t{1} << kOffsetBits) - 1;
  static constexpr std::uint64_t kLongLength = (std::uint64_t{1} << (64 - kOffsetBits)) - 1;
  struct Span {
    std::uint64_t offset;
    std::size_t length;
  };
  Span Decode(std::uint64_t word) const noexcept {
    std::uint64_t offset = word & kOffsetMask;
    std::uint64_t length = word >> kOffsetBits;
    if (length == kLongLength) [[unlikely]] {
      std::memcpy(&length, arena_.Data() + offset, sizeof length);
      offset += sizeof length;
    }
    return {offset, static_cast<std::size_t>(length)};
  }
  void StoreNullOrBytes(RecordId r, const Cell& cell, bool keepOldBytes);
  std::uint64_t AppendBytes(std::string_view bytes);
  void StoreBytes(RecordId r, std::string_view bytes, bool keepOldBytes);

  DataType type_;
  PodArray<std::uint64_t> words_;
  BitArray nulls_;
  PodArray<char> arena_;
  std::uint64_t defaultWord_ = 0;
  bool defaultNull_ = true;
  // Arena bytes below this belong to the default value, which every new
  // record shares; they are never overwritten.
  std::size_t sharedEnd_ = 0;
};

// The rows already in a table, indexed by the cells of one unique rule: an
// open-addressing hash set of records (linear probing, at most half full),
// four bytes a slot. Keys are hashed and compared from the column stores, as
// a database compares them: text and bytes exactly, doubles by value (0.0
// equals -0.0, NaN equals NaN), decimals by value ("1.50" equals "1.5"). A
// key with a null cell is never indexed: DBNull collides with nothing. A key
// column marked to ignore case compares its text without regard to the case
// of ASCII letters.
class UniqueIndex {
 public:
  // `ignoreCase[i]` belongs to `columns[i]`; empty means none ignores case.
  UniqueIndex(std::vector<std::size_t> columns, std::vector<bool> ignoreCase = {})
      : columns_(std::move(columns)), ignoreCase_(std::move(ignoreCase)) {
    ignoreCase_.resize(columns_.size(), false);
  }

  const std::vector<std::size_t>& Columns() const noexcept { return columns_; }
  bool HasNull(const std::vector<ColumnStore>& stores, RecordId r) const noexcept;
  // An indexed record other than `r` whose key equals the key of `r`.
  std::optional<RecordId> FindDuplicate(const std::vector<ColumnStore>& stores, RecordId r) const;
  // Makes room so that the next Insert cannot fail.
  void ReserveOneMore(const std::vector<ColumnStore>& stores);
  // Requires ReserveOneMore, and no null in the key of `r`.
  void Insert(const std::vector<ColumnStore>& stores, RecordId r) noexcept;
  // Takes out `r`, which must be indexed.
  void Erase(const std::vector<ColumnStore>& stores, RecordId r) noexcept;

 private:
  std::uint64_t Hash(const std::vector<ColumnStore>& stores, RecordId r) const noexcept;
  bool KeysEqual(const std::vector<ColumnStore>& stores, RecordId a, RecordId b) const noexcept;
  void Place(std::uint64_t hash, RecordId r) noexcept;

  std::vector<std::size_t> columns_;
  std::vector<bool> ignoreCase_;
  PodArray<std::uint32_t> slots_;  // record + 1; 0 marks a free slot
  std::size_t count_ = 0;
};

}  // namespace Tessel::Data::detail
