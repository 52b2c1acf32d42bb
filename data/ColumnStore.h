// Column storage of the table model (private to the data library).
//
// A table keeps one ColumnStore per column: an array of cells indexed by
// record and a null bitmap saying which cells hold DBNull. A record is an
// index into these arrays, so a staged row costs its values plus a few bits,
// and no row or cell is a heap object of its own. Cells are as narrow as the
// values written so far allow:
//
//   Boolean, Int16, Int32, Int64   4 bytes (the value as int32) while every
//                                  value fits, else 8
//   Double, DateTime               8 bytes (the IEEE bits, the ticks)
//   String, Decimal, Binary        3 bytes: the length (below 255) and the
//                                  offset of the bytes in the column's arena,
//                                  16 bits counted from a base kept per block
//                                  of 64 records; else 8 bytes (a 40-bit
//                                  offset and a 24-bit length)
//
// The narrow forms fit the way rows are filled (one row after another, its
// text appended to the arena as it comes), and cost a million-row load about
// a third of the memory of 8-byte cells. A value they cannot hold (an integer
// beyond 32 bits, text of 255 bytes or more, text rewritten far from where
// its block began) widens the whole column to 8-byte cells once; reads give
// the same values in either form.
//
// The arrays grow through GrowableBuffer, which moves large blocks with
// mremap instead of copying them: a growing million-row column never needs
// its old and new copies resident at the same time.
//
// Not thread-safe; the owning table serialises access.
#pragma once

#include <atomic>
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
  T& operator[](std::size_t i) noexcept {
    assert(i < size_);
    return Data()[i];
  }
  const T& operator[](std::size_t i) const noexcept {
    assert(i < size_);
    return Data()[i];
  }

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
  // Appends `count` elements to be written by the caller; Reserve first.
  T* AppendReserved(std::size_t count) noexcept {
    assert(size_ + count <= Capacity());
    T* at = Data() + size_;
    size_ += count;
    return at;
  }
  void Clear() noexcept { *this = PodArray(); }

 private:
  GrowableBuffer buffer_;
  std::size_t size_ = 0;
};

// One bit per record. Grows without touching its new words (GrowableBuffer
// hands them out zeroed), so that room made ahead costs no memory until used.
// Words are read and written as relaxed atomics: a writer thread may read
// the bits of rows already made while the one thread that fills the table
// sets the bits of the next records in the same word (TableFeed). Relaxed
// loads and stores are plain moves; a bit is only ever set by one thread.
class BitArray {
 public:
  bool Test(RecordId r) const noexcept { return Test(Words(), r); }
  // Bit `r` of a BitArray's words (Words), read as Test reads it.
  static bool Test(std::uint64_t* words, RecordId r) noexcept {
    return (std::atomic_ref<std::uint64_t>(words[r >> 6]).load(std::memory_order_relaxed) >> (r & 63)) & 1u;
  }
  std::uint64_t* Words() const noexcept { return static_cast<std::uint64_t*>(buffer_.Data()); }
  void Set(RecordId r) noexcept { StoreWord(r >> 6, Load(r >> 6) | std::uint64_t{1} << (r & 63)); }
  void Clear(RecordId r) noexcept { StoreWord(r >> 6, Load(r >> 6) & ~(std::uint64_t{1} << (r & 63))); }
  void Assign(RecordId r, bool on) noexcept { on ? Set(r) : Clear(r); }
  // Makes room for records below `count`; new bits are clear.
  void Cover(std::size_t count) {
    const std::size_t words = (count + 63) / 64;
    if (words > words_) {
      buffer_.Grow(words * sizeof(std::uint64_t));
      words_ = buffer_.Bytes() / sizeof(std::uint64_t);
    }
  }
  // Whether any bit is set, a word at a time.
  bool Any() const noexcept {
    for (std::size_t i = 0; i < words_; ++i)
      if (Load(i) != 0) return true;
    return false;
  }

 private:
  std::uint64_t Load(std::size_t i) const noexcept {
    return std::atomic_ref<std::uint64_t>(Words()[i]).load(std::memory_order_relaxed);
  }
  void StoreWord(std::size_t i, std::uint64_t word) noexcept {
    std::atomic_ref<std::uint64_t>(Words()[i]).store(word, std::memory_order_relaxed);
  }
  GrowableBuffer buffer_;
  std::size_t words_ = 0;
};

// A value converted to a column's type, ready to be stored: the word for
// fixed-width columns, the bytes (viewed, not owned) for String, Decimal and
// Binary columns.
struct Cell {
  bool null = true;
  std::uint64_t word = 0;
  std::string_view bytes;
};

// What a column asks before it moves its cells or bytes while another thread
// may read them (TableFeed): Begin waits until no reader holds them and keeps
// readers off until End.
class MoveGuard {
 public:
  virtual void BeginMove() = 0;
  virtual void EndMove() noexcept = 0;

 protected:
  ~MoveGuard() = default;
};

// True for the column types whose cells are bytes in the arena.
constexpr bool HoldsBytes(DataType type) noexcept {
  return type == DataType::String || type == DataType::Decimal || type == DataType::Binary;
}

class ColumnStore {
 private:
  enum class Layout : std::uint8_t { Wide, Int32, Text24 };
  struct Span {
    std::uint64_t offset;
    std::size_t length;
  };

 public:
  // The cells as they are now, read without touching the column's own
  // object. A writer on another thread reads through views while the thread
  // filling the table updates the column's counters with every record it
  // adds: reading the column itself, cell by cell, would pull that memory
  // back and forth between the two cores (it made both threads about half
  // as fast). A view stays valid until the column next moves its cells or
  // bytes (MoveGuard) and reads the records added after it was made too.
  class View {
   public:
    bool IsNull(RecordId r) const noexcept { return BitArray::Test(nulls_, r); }
    // As ColumnStore::Word.
    std::uint64_t Word(RecordId r) const noexcept {
      return layout_ == Layout::Int32 ? static_cast<std::uint64_t>(std::int64_t{ints_[r]}) : wide_[r];
    }
    std::int64_t Int(RecordId r) const noexcept { return static_cast<std::int64_t>(Word(r)); }
    double Real(RecordId r) const noexcept { return std::bit_cast<double>(Word(r)); }
    std::string_view Text(RecordId r) const noexcept {
      const Span s = SpanOf(r);
      return {s.length == 0 ? nullptr : arena_ + s.offset, s.length};
    }
    std::span<const std::uint8_t> Bytes(RecordId r) const noexcept {
      const Span s = SpanOf(r);
      return {s.length == 0 ? nullptr : reinterpret_cast<const std::uint8_t*>(arena_ + s.offset), s.length};
    }

   private:
    friend class ColumnStore;
    Span DecodeWide(std::uint64_t word) const noexcept {
      std::uint64_t offset = word & kOffsetMask;
      std::uint64_t length = word >> kOffsetBits;
      if (length == kLongLength) [[unlikely]] {
        std::memcpy(&length, arena_ + offset, sizeof length);
        offset += sizeof length;
      }
      return {offset, static_cast<std::size_t>(length)};
    }
    Span SpanOf(RecordId r) const noexcept {
      if (layout_ != Layout::Text24) return DecodeWide(wide_[r]);
      const std::uint32_t cell = Cell24At(cells_, r);
      const std::uint32_t length = cell >> 16;
      if (length == 0) return {0, 0};
      if (length == kDefaultLength) [[unlikely]]
        return DecodeWide(defaultWord_);
      return {bases_[r / kBlockRecords] + (cell & kMaxNarrowOffset), length};
    }

    Layout layout_ = Layout::Wide;
    const std::uint64_t* wide_ = nullptr;
    const std::int32_t* ints_ = nullptr;
    const std::uint8_t* cells_ = nullptr;
    const std::uint64_t* bases_ = nullptr;
    std::uint64_t* nulls_ = nullptr;
    const char* arena_ = nullptr;
    std::uint64_t defaultWord_ = 0;
  };

  explicit ColumnStore(DataType type) noexcept;

  View Cells() const noexcept {
    View view;
    view.layout_ = layout_;
    view.wide_ = wide_.Data();
    view.ints_ = ints_.Data();
    view.cells_ = cells_.Data();
    view.bases_ = bases_.Data();
    view.nulls_ = nulls_.Words();
    view.arena_ = arena_.Data();
    view.defaultWord_ = defaultWord_;
    return view;
  }

  DataType Type() const noexcept { return type_; }
  std::size_t Records() const noexcept { return records_; }
  // Whether the cells are in their 8-byte form (for tests and figures).
  bool IsWide() const noexcept { return layout_ == Layout::Wide; }

  bool IsNull(RecordId r) const noexcept { return nulls_.Test(r); }
  // Whether any record holds DBNull: a writer that learns none does skips
  // the test per cell.
  bool AnyNull() const noexcept { return nulls_.Any(); }
  // Integer and boolean cells as int64, date cells as ticks, double cells as
  // their bits: equal values give equal words in either form.
  std::uint64_t Word(RecordId r) const noexcept {
    assert(r < records_);
    return Cells().Word(r);
  }
  std::int64_t Int(RecordId r) const noexcept { return static_cast<std::int64_t>(Word(r)); }
  double Real(RecordId r) const noexcept { return std::bit_cast<double>(Word(r)); }
  std::string_view Text(RecordId r) const noexcept {
    assert(r < records_);
    return Cells().Text(r);
  }
  std::span<const std::uint8_t> Bytes(RecordId r) const noexcept {
    assert(r < records_);
    return Cells().Bytes(r);
  }

  // The value every new record starts with. Only before the first record.
  void SetDefault(const Cell& cell);
  // Makes room for `records` records, so that AppendRecord cannot fail: a
  // table grows all its columns together or none of them.
  void ReserveRecords(std::size_t records);
  // Appends a record holding the default value; ReserveRecords first.
  void AppendRecord() noexcept {
    const auto r = static_cast<RecordId>(records_++);
    switch (layout_) {
      case Layout::Wide:
        wide_.PushBackReserved(defaultWord_);
        break;
      case Layout::Int32:
        ints_.PushBackReserved(static_cast<std::int32_t>(defaultWord_));
        break;
      case Layout::Text24:
        if ((r & (kBlockRecords - 1)) == 0) bases_.PushBackReserved(kNoBase);
        cells_.AppendReserved(3);
        PutCell24(r, defaultCell24_);
        break;
    }
    if (defaultNull_) nulls_.Set(r);
  }
  // Stores `cell` into record `r`. With `keepOldBytes` the old bytes of a
  // String/Decimal/Binary cell stay untouched in the arena, so that a Saved
  // cell can be put back; otherwise they may be reused.
  void Store(RecordId r, const Cell& cell, bool keepOldBytes) {
    if (!cell.null) {  // the common cases, inline
      if (layout_ == Layout::Wide && !HoldsBytes(type_)) {
        wide_[r] = cell.word;
        nulls_.Clear(r);
        return;
      }
      if (layout_ == Layout::Int32 && FitsInt32(cell.word)) {
        ints_[r] = static_cast<std::int32_t>(cell.word);
        nulls_.Clear(r);
        return;
      }
    }
    StoreSlow(r, cell, keepOldBytes);
  }

  // Stores non-null bytes into a String, Decimal or Binary cell (its old
  // bytes may be reused).
  void StoreText(RecordId r, std::string_view bytes) { StoreBytes(r, bytes, false); }

  // While a writer reads the table's rows on another thread (TableFeed),
  // whatever may move the column's cells or bytes (a larger arena, the wide
  // form) happens between the guard's Begin and End; null: no reader to
  // wait for.
  void GuardMoves(MoveGuard* guard) noexcept { moves_ = guard; }

  // The raw state of one cell, to undo a Store made with keepOldBytes.
  struct Saved {
    std::uint64_t word;  // in the 8-byte form
    bool null;
  };
  Saved Save(RecordId r) const noexcept;
  void Restore(RecordId r, Saved saved) noexcept;

 private:
  // 8-byte text cells pack the offset into the low 40 bits and the length
  // into the high 24. A length of kLongLength or more is written as an
  // 8-byte prefix in the arena, the word then holding kLongLength.
  static constexpr int kOffsetBits = 40;
  static constexpr std::uint64_t kOffsetMask = (std::uint64_t{1} << kOffsetBits) - 1;
  static constexpr std::uint64_t kLongLength = (std::uint64_t{1} << (64 - kOffsetBits)) - 1;
  // 3-byte text cells: the offset from the block's base in the low 16 bits,
  // the length in the high 8; the length kDefaultLength marks the column's
  // default value, whose bytes every such cell shares.
  static constexpr std::size_t kBlockRecords = 64;
  static constexpr std::uint32_t kMaxNarrowOffset = 0xFFFF;
  static constexpr std::uint32_t kDefaultLength = 0xFF;
  static constexpr std::uint64_t kNoBase = ~std::uint64_t{0};  // no cell of the block has bytes yet

  static bool FitsInt32(std::uint64_t word) noexcept {
    const auto v = static_cast<std::int64_t>(word);
    return v >= INT32_MIN && v <= INT32_MAX;
  }
  static std::uint32_t Cell24At(const std::uint8_t* cells, RecordId r) noexcept {
    // Byte by byte: the next record's cell may be being written meanwhile.
    const std::uint8_t* p = cells + 3 * std::size_t{r};
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16;
  }
  std::uint32_t Cell24(RecordId r) const noexcept { return Cell24At(cells_.Data(), r); }
  void PutCell24(RecordId r, std::uint32_t v) noexcept {
    std::uint8_t* p = cells_.Data() + 3 * std::size_t{r};
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
    p[2] = static_cast<std::uint8_t>(v >> 16);
  }
  Span SpanOf(RecordId r) const noexcept {
    assert(r < records_);
    return Cells().SpanOf(r);
  }

  template <class Grow>
  void Moving(Grow&& grow) {
    if (moves_ == nullptr) return grow();
    moves_->BeginMove();
    try {
      grow();
    } catch (...) {
      moves_->EndMove();
      throw;
    }
    moves_->EndMove();
  }
  // Room for `bytes` bytes in the arena, at once.
  void ReserveArena(std::size_t bytes) {
    if (bytes > arena_.Capacity()) Moving([&] { arena_.Reserve(bytes); });
  }
  void StoreSlow(RecordId r, const Cell& cell, bool keepOldBytes);
  std::uint64_t AppendBytes(std::string_view bytes);
  void StoreBytes(RecordId r, std::string_view bytes, bool keepOldBytes);
  // Whether the cell's bytes are its own (neither the shared default nor
  // behind a length prefix), and where they are.
  bool OwnedSpan(RecordId r, Span& span) const noexcept;
  // Whether a value of `length` bytes at arena offset `at` has a 3-byte
  // form in record `r`.
  bool FitsNarrowText(RecordId r, std::uint64_t at, std::size_t length) const noexcept;
  // Points the cell at `length` bytes at `at` (a wide word when the column
  // is wide); the form must hold them.
  void PointCell(RecordId r, std::uint64_t wideWord) noexcept;
  // Turns every cell into its 8-byte form. Throws std::bad_alloc, leaving
  // the column as it was.
  void Widen();

  DataType type_;
  Layout layout_;
  std::size_t records_ = 0;
  PodArray<std::uint64_t> wide_;
  PodArray<std::int32_t> ints_;
  PodArray<std::uint8_t> cells_;   // 3 bytes per record
  PodArray<std::uint64_t> bases_;  // per block of kBlockRecords records
  BitArray nulls_;
  PodArray<char> arena_;
  std::uint64_t defaultWord_ = 0;  // the default in the 8-byte form
  std::uint32_t defaultCell24_ = 0;
  bool defaultNull_ = true;
  // Arena bytes below this belong to the default value, which every new
  // record shares; they are never overwritten.
  std::size_t sharedEnd_ = 0;
  MoveGuard* moves_ = nullptr;
};

// Whether cells `a` and `b` of a column (neither null) hold the same key, as
// UniqueIndex compares them; `ignoreCase` for a text column marked so.
bool KeyCellsEqual(const ColumnStore& s, RecordId a, RecordId b, bool ignoreCase) noexcept;

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
