#include "data/ColumnStore.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <new>
#include <stdexcept>
#include <string>
#include <utility>

#include "TesselWrapper/data/Text.h"
#include "data/Convert.h"

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace Tessel::Data::detail {

// --- GrowableBuffer ---------------------------------------------------------

GrowableBuffer::~GrowableBuffer() { Release(); }

GrowableBuffer::GrowableBuffer(GrowableBuffer&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      bytes_(std::exchange(other.bytes_, 0)),
      mapped_(std::exchange(other.mapped_, false)) {}

GrowableBuffer& GrowableBuffer::operator=(GrowableBuffer&& other) noexcept {
  if (this != &other) {
    Release();
    data_ = std::exchange(other.data_, nullptr);
    bytes_ = std::exchange(other.bytes_, 0);
    mapped_ = std::exchange(other.mapped_, false);
  }
  return *this;
}

void GrowableBuffer::Release() noexcept {
#if defined(__linux__)
  if (mapped_) {
    ::munmap(data_, bytes_);
    data_ = nullptr;
    return;
  }
#endif
  std::free(data_);
  data_ = nullptr;
}

void GrowableBuffer::Grow(std::size_t minBytes) {
  if (minBytes <= bytes_) return;
  std::size_t target = std::max({minBytes, bytes_ * 2, std::size_t{64}});
#if defined(__linux__)
  if (target >= kMapThreshold) {
    // Whole pages; the kernel hands them out zeroed and only on first touch.
    static const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    target = (target + page - 1) / page * page;
    void* p;
    if (mapped_) {
      // Moving the page tables instead of the bytes: no copy, and the old
      // pages never coexist with new ones.
      p = ::mremap(data_, bytes_, target, MREMAP_MAYMOVE);
      if (p == MAP_FAILED) throw std::bad_alloc();
    } else {
      p = ::mmap(nullptr, target, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
      if (p == MAP_FAILED) throw std::bad_alloc();
      if (bytes_ != 0) std::memcpy(p, data_, bytes_);
      std::free(data_);
      mapped_ = true;
    }
    data_ = p;
    bytes_ = target;
    return;
  }
#endif
  void* p = std::realloc(data_, target);
  if (p == nullptr) throw std::bad_alloc();
  std::memset(static_cast<char*>(p) + bytes_, 0, target - bytes_);
  data_ = p;
  bytes_ = target;
}

// --- ColumnStore --------------------------------------------------------------

namespace {

bool IsInteger(DataType type) noexcept {
  return type == DataType::Boolean || type == DataType::Int16 || type == DataType::Int32 ||
         type == DataType::Int64;
}

}  // namespace

ColumnStore::ColumnStore(DataType type) noexcept
    : type_(type),
      layout_(IsInteger(type)    ? Layout::Int32
              : HoldsBytes(type) ? Layout::Text24
                                 : Layout::Wide) {}

void ColumnStore::SetDefault(const Cell& cell) {
  assert(Records() == 0);
  defaultNull_ = cell.null;
  defaultWord_ = 0;
  defaultCell24_ = 0;
  if (cell.null) return;
  if (HoldsBytes(type_)) {
    defaultWord_ = AppendBytes(cell.bytes);
    sharedEnd_ = arena_.Size();
    if (!cell.bytes.empty()) defaultCell24_ = kDefaultLength << 16;
    return;
  }
  defaultWord_ = cell.word;
  if (layout_ == Layout::Int32 && !FitsInt32(cell.word)) layout_ = Layout::Wide;  // no records yet
}

void ColumnStore::ReserveRecords(std::size_t records) {
  switch (layout_) {
    case Layout::Wide:
      wide_.Reserve(records);
      break;
    case Layout::Int32:
      ints_.Reserve(records);
      break;
    case Layout::Text24:
      cells_.Reserve(3 * records);
      bases_.Reserve((records + kBlockRecords - 1) / kBlockRecords);
      break;
  }
  nulls_.Cover(records);
}

std::uint64_t ColumnStore::AppendBytes(std::string_view bytes) {
  const std::uint64_t offset = arena_.Size();
  const std::uint64_t length = bytes.size();
  const bool isLong = length >= kLongLength;
  const std::uint64_t needed = length + (isLong ? sizeof length : 0);
  if (needed > kOffsetMask - offset) throw std::length_error("a column holds more than 1 TiB of text");
  ReserveArena(offset + needed);
  if (isLong) {
    arena_.Append(reinterpret_cast<const char*>(&length), sizeof length);
    arena_.Append(bytes.data(), bytes.size());
    return offset | (kLongLength << kOffsetBits);
  }
  arena_.Append(bytes.data(), bytes.size());
  return offset | (length << kOffsetBits);
}

bool ColumnStore::OwnedSpan(RecordId r, Span& span) const noexcept {
  if (layout_ == Layout::Text24) {
    const std::uint32_t length = Cell24(r) >> 16;
    if (length == 0 || length == kDefaultLength) return false;
    span = SpanOf(r);
    return true;
  }
  const std::uint64_t word = wide_[r];
  const std::uint64_t offset = word & kOffsetMask;
  const std::uint64_t length = word >> kOffsetBits;
  if (offset < sharedEnd_ || length == kLongLength) return false;
  span = {offset, static_cast<std::size_t>(length)};
  return true;
}

bool ColumnStore::FitsNarrowText(RecordId r, std::uint64_t at, std::size_t length) const noexcept {
  if (length == 0) return true;
  if (length >= kDefaultLength) return false;
  const std::uint64_t base = bases_[r / kBlockRecords];
  return base == kNoBase || (at >= base && at - base <= kMaxNarrowOffset);
}

void ColumnStore::PointCell(RecordId r, std::uint64_t wideWord) noexcept {
  if (layout_ != Layout::Text24) {
    wide_[r] = wideWord;
    return;
  }
  const std::uint64_t length = wideWord >> kOffsetBits;
  if (length == 0) {
    PutCell24(r, 0);
    return;
  }
  const std::uint64_t offset = wideWord & kOffsetMask;
  std::uint64_t& base = bases_[r / kBlockRecords];
  if (base == kNoBase) base = offset;
  assert(length < kDefaultLength && offset >= base && offset - base <= kMaxNarrowOffset);
  PutCell24(r, static_cast<std::uint32_t>(length << 16 | (offset - base)));
}

void ColumnStore::StoreBytes(RecordId r, std::string_view bytes, bool keepOldBytes) {
  const auto at = reinterpret_cast<std::uintptr_t>(bytes.data());
  const auto base = reinterpret_cast<std::uintptr_t>(arena_.Data());
  if (!bytes.empty() && at >= base && at < base + arena_.Capacity()) [[unlikely]] {
    // A cell of this very column: the arena may move or be reused below.
    const std::string copy(bytes);
    StoreBytes(r, copy, keepOldBytes);
    return;
  }
  const bool wasNull = nulls_.Test(r);
  // Where the bytes go: over the cell's own bytes when they are no shorter
  // (the usual case of a field set twice); in their place when they end the
  // arena; else at the arena's end.
  Span old{};
  const bool owned = !keepOldBytes && !wasNull && OwnedSpan(r, old);
  const bool inPlace = owned && bytes.size() <= old.length;
  const bool regrow = owned && !inPlace && old.offset + old.length == arena_.Size() &&
                      bytes.size() < kLongLength && bytes.size() <= kOffsetMask - old.offset;
  const std::uint64_t to = inPlace || regrow ? old.offset : arena_.Size();
  // Widening first: it may fail, and nothing has changed yet.
  if (layout_ == Layout::Text24 && !FitsNarrowText(r, to, bytes.size())) Widen();

  if (inPlace) {
    if (!bytes.empty()) std::memcpy(arena_.Data() + to, bytes.data(), bytes.size());
    PointCell(r, to | (std::uint64_t{bytes.size()} << kOffsetBits));
    return;
  }
  if (regrow) {
    // Room is made first, so that a failure leaves the cell intact.
    ReserveArena(to + bytes.size());
    arena_.Truncate(to);
  }
  PointCell(r, AppendBytes(bytes));
  if (wasNull) nulls_.Clear(r);
}

void ColumnStore::StoreSlow(RecordId r, const Cell& cell, bool keepOldBytes) {
  if (cell.null) {
    switch (layout_) {
      case Layout::Wide:
        wide_[r] = 0;
        break;
      case Layout::Int32:
        ints_[r] = 0;
        break;
      case Layout::Text24:
        PutCell24(r, 0);
        break;
    }
    nulls_.Set(r);
    return;
  }
  if (HoldsBytes(type_)) {
    StoreBytes(r, cell.bytes, keepOldBytes);
    return;
  }
  // An integer beyond 32 bits.
  if (layout_ == Layout::Int32) Widen();
  wide_[r] = cell.word;
  nulls_.Clear(r);
}

void ColumnStore::Widen() {
  if (layout_ == Layout::Wide) return;
  PodArray<std::uint64_t> wide;
  wide.Reserve(
      std::max<std::size_t>(records_, layout_ == Layout::Int32 ? ints_.Capacity() : cells_.Capacity() / 3));
  wide.ResizeZeroed(records_);
  std::uint64_t* out = wide.Data();
  if (layout_ == Layout::Int32) {
    for (std::size_t r = 0; r < records_; ++r) out[r] = static_cast<std::uint64_t>(std::int64_t{ints_[r]});
  } else {
    for (std::size_t r = 0; r < records_; ++r) {
      const std::uint32_t cell = Cell24(static_cast<RecordId>(r));
      const std::uint64_t length = cell >> 16;
      if (length == kDefaultLength) {
        out[r] = defaultWord_;
      } else if (length != 0) {
        out[r] = (bases_[r / kBlockRecords] + (cell & kMaxNarrowOffset)) | (length << kOffsetBits);
      } else {
        out[r] = static_cast<std::uint64_t>(arena_.Size());  // empty or null: no bytes
      }
    }
  }
  Moving([&] {
    if (layout_ == Layout::Int32) {
      ints_.Clear();
    } else {
      cells_.Clear();
      bases_.Clear();
    }
    wide_ = std::move(wide);
    layout_ = Layout::Wide;
  });
}

ColumnStore::Saved ColumnStore::Save(RecordId r) const noexcept {
  const bool null = nulls_.Test(r);
  if (layout_ != Layout::Text24) return {Word(r), null};
  const std::uint32_t cell = Cell24(r);
  const std::uint64_t length = cell >> 16;
  if (length == kDefaultLength) return {defaultWord_, null};
  if (length == 0) return {0, null};
  return {(bases_[r / kBlockRecords] + (cell & kMaxNarrowOffset)) | (length << kOffsetBits), null};
}

void ColumnStore::Restore(RecordId r, Saved saved) noexcept {
  nulls_.Assign(r, saved.null);
  switch (layout_) {
    case Layout::Wide:
      wide_[r] = saved.word;
      return;
    case Layout::Int32:
      ints_[r] = static_cast<std::int32_t>(saved.word);
      return;  // saved from this form
    case Layout::Text24:
      break;
  }
  // Saved from this form too: the default's bytes, none, or bytes of the
  // cell's own within reach of its block's base.
  const std::uint64_t offset = saved.word & kOffsetMask;
  const std::uint64_t length = saved.word >> kOffsetBits;
  if (length == 0) {
    PutCell24(r, 0);
  } else if (offset < sharedEnd_) {
    PutCell24(r, defaultCell24_);
  } else {
    PointCell(r, saved.word);
  }
}

}  // namespace Tessel::Data::detail

// --- UniqueIndex --------------------------------------------------------------

namespace Tessel::Data::detail {
namespace {

std::uint64_t Mix(std::uint64_t x) noexcept {
  x ^= x >> 30;
  x *= 0xbf58476d1ce4e5b9ULL;
  x ^= x >> 27;
  x *= 0x94d049bb133111ebULL;
  x ^= x >> 31;
  return x;
}

// Doubles that compare equal get the same bits.
std::uint64_t DoubleKeyBits(double d) noexcept {
  if (d == 0.0) return 0;
  if (std::isnan(d)) return 0x7ff8000000000000ULL;
  return std::bit_cast<std::uint64_t>(d);
}

// FNV-1a over the text with ASCII letters folded to lower case, so that
// spellings equal without regard to case hash alike.
std::uint64_t FoldedTextHash(std::string_view text) noexcept {
  std::uint64_t h = 0xcbf29ce484222325ULL;
  for (const char c : text) {
    const unsigned char u = static_cast<unsigned char>(c);
    h = (h ^ ((u >= 'A' && u <= 'Z') ? u + ('a' - 'A') : u)) * 0x100000001b3ULL;
  }
  return h;
}

std::uint64_t CellHash(const ColumnStore& s, RecordId r, bool ignoreCase) noexcept {
  if (ignoreCase && s.Type() == DataType::String) return FoldedTextHash(s.Text(r));
  switch (s.Type()) {
    case DataType::Double:
      return Mix(DoubleKeyBits(s.Real(r)));
    case DataType::Decimal:
      return std::hash<std::string_view>{}(DecimalKey(s.Text(r)));
    case DataType::String:
    case DataType::Binary:
      return std::hash<std::string_view>{}(s.Text(r));
    default:
      return Mix(s.Word(r));
  }
}

}  // namespace

bool KeyCellsEqual(const ColumnStore& s, RecordId a, RecordId b, bool ignoreCase) noexcept {
  if (ignoreCase && s.Type() == DataType::String) return Text::EqualsIgnoreAsciiCase(s.Text(a), s.Text(b));
  switch (s.Type()) {
    case DataType::Double:
      return DoubleKeyBits(s.Real(a)) == DoubleKeyBits(s.Real(b));
    case DataType::Decimal:
      return DecimalKey(s.Text(a)) == DecimalKey(s.Text(b));
    case DataType::String:
    case DataType::Binary:
      return s.Text(a) == s.Text(b);
    default:
      return s.Word(a) == s.Word(b);
  }
}

bool UniqueIndex::HasNull(const std::vector<ColumnStore>& stores, RecordId r) const noexcept {
  for (std::size_t c : columns_)
    if (stores[c].IsNull(r)) return true;
  return false;
}

std::uint64_t UniqueIndex::Hash(const std::vector<ColumnStore>& stores, RecordId r) const noexcept {
  std::uint64_t h = 0x9e3779b97f4a7c15ULL;
  for (std::size_t i = 0; i < columns_.size(); ++i)
    h = Mix(h ^ CellHash(stores[columns_[i]], r, ignoreCase_[i]));
  return h;
}

bool UniqueIndex::KeysEqual(const std::vector<ColumnStore>& stores, RecordId a, RecordId b) const noexcept {
  for (std::size_t i = 0; i < columns_.size(); ++i)
    if (!KeyCellsEqual(stores[columns_[i]], a, b, ignoreCase_[i])) return false;
  return true;
}

std::optional<RecordId> UniqueIndex::FindDuplicate(const std::vector<ColumnStore>& stores, RecordId r) const {
  const std::size_t capacity = slots_.Size();
  if (count_ == 0) return std::nullopt;
  const std::size_t mask = capacity - 1;
  for (std::size_t i = Hash(stores, r) & mask; slots_[i] != 0; i = (i + 1) & mask) {
    const RecordId other = slots_[i] - 1;
    if (other != r && KeysEqual(stores, other, r)) return other;
  }
  return std::nullopt;
}

void UniqueIndex::Place(std::uint64_t hash, RecordId r) noexcept {
  const std::size_t mask = slots_.Size() - 1;
  std::size_t i = hash & mask;
  while (slots_[i] != 0) i = (i + 1) & mask;
  slots_[i] = r + 1;
}

void UniqueIndex::ReserveOneMore(const std::vector<ColumnStore>& stores) {
  if ((count_ + 1) * 2 <= slots_.Size()) return;
  PodArray<std::uint32_t> old = std::move(slots_);
  PodArray<std::uint32_t> grown;
  grown.ResizeZeroed(std::max<std::size_t>(16, old.Size() * 2));
  slots_ = std::move(grown);
  for (std::size_t i = 0; i < old.Size(); ++i)
    if (old[i] != 0) Place(Hash(stores, old[i] - 1), old[i] - 1);
}

void UniqueIndex::Insert(const std::vector<ColumnStore>& stores, RecordId r) noexcept {
  assert((count_ + 1) * 2 <= slots_.Size());
  Place(Hash(stores, r), r);
  ++count_;
}

void UniqueIndex::Erase(const std::vector<ColumnStore>& stores, RecordId r) noexcept {
  const std::size_t mask = slots_.Size() - 1;
  std::size_t hole = Hash(stores, r) & mask;
  while (slots_[hole] != r + 1) {
    assert(slots_[hole] != 0);
    hole = (hole + 1) & mask;
  }
  // Backward-shift deletion: pull later members of the probe run into the
  // hole unless their home slot lies after it, so no tombstones are needed.
  for (std::size_t j = (hole + 1) & mask; slots_[j] != 0; j = (j + 1) & mask) {
    const std::size_t home = Hash(stores, slots_[j] - 1) & mask;
    const bool homeInGap = hole <= j ? (home > hole && home <= j) : (home > hole || home <= j);
    if (!homeInGap) {
      slots_[hole] = slots_[j];
      hole = j;
    }
  }
  slots_[hole] = 0;
  --count_;
}

}  // namespace Tessel::Data::detail
