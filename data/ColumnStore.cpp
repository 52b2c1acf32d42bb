#include "data/ColumnStore.h"

#include <algorithm>
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

void ColumnStore::SetDefault(const Cell& cell) {
  assert(Records() == 0);
  defaultNull_ = cell.null;
  if (cell.null) {
    defaultWord_ = 0;
  } else if (HoldsBytes(type_)) {
    defaultWord_ = AppendBytes(cell.bytes);
    sharedEnd_ = arena_.Size();
  } else {
    defaultWord_ = cell.word;
  }
}

std::uint64_t ColumnStore::AppendBytes(std::string_view bytes) {
  const std::uint64_t offset = arena_.Size();
  const std::uint64_t length = bytes.size();
  const bool isLong = length >= kLongLength;
  const std::uint64_t needed = length + (isLong ? sizeof length : 0);
  if (needed > kOffsetMask - offset) throw std::length_error("a column holds more than 1 TiB of text");
  arena_.Reserve(offset + needed);
  if (isLong) {
    arena_.Append(reinterpret_cast<const char*>(&length), sizeof length);
    arena_.Append(bytes.data(), bytes.size());
    return offset | (kLongLength << kOffsetBits);
  }
  arena_.Append(bytes.data(), bytes.size());
  return offset | (length << kOffsetBits);
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
  if (!keepOldBytes && !wasNull) {
    const std::uint64_t word = words_[r];
    const std::uint64_t offset = word & kOffsetMask;
    const std::uint64_t oldLength = word >> kOffsetBits;
    if (offset >= sharedEnd_ && oldLength != kLongLength) {
      // The cell owns its bytes: a value no longer than the old one goes
      // where the old one was (the usual case of a field set twice).
      if (bytes.size() <= oldLength) {
        if (!bytes.empty()) std::memcpy(arena_.Data() + offset, bytes.data(), bytes.size());
        words_[r] = offset | (std::uint64_t{bytes.size()} << kOffsetBits);
        return;
      }
      // The cell's bytes end the arena: give them back and append in their
      // place. Room is made first, so that a failure leaves the cell intact.
      if (offset + oldLength == arena_.Size() && bytes.size() < kLongLength &&
          bytes.size() <= kOffsetMask - offset) {
        arena_.Reserve(offset + bytes.size());
        arena_.Truncate(offset);
      }
    }
  }
  words_[r] = AppendBytes(bytes);
  if (wasNull) nulls_.Clear(r);
}

void ColumnStore::StoreNullOrBytes(RecordId r, const Cell& cell, bool keepOldBytes) {
  if (cell.null) {
    words_[r] = 0;
    nulls_.Set(r);
    return;
  }
  StoreBytes(r, cell.bytes, keepOldBytes);
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
    case DataType::Double: return Mix(DoubleKeyBits(s.Real(r)));
    case DataType::Decimal: return std::hash<std::string_view>{}(DecimalKey(s.Text(r)));
    case DataType::String:
    case DataType::Binary: return std::hash<std::string_view>{}(s.Text(r));
    default: return Mix(s.Word(r));
  }
}

bool CellsEqual(const ColumnStore& s, RecordId a, RecordId b, bool ignoreCase) noexcept {
  if (ignoreCase && s.Type() == DataType::String) return Text::EqualsIgnoreAsciiCase(s.Text(a), s.Text(b));
  switch (s.Type()) {
    case DataType::Double: return DoubleKeyBits(s.Real(a)) == DoubleKeyBits(s.Real(b));
    case DataType::Decimal: return DecimalKey(s.Text(a)) == DecimalKey(s.Text(b));
    case DataType::String:
    case DataType::Binary: return s.Text(a) == s.Text(b);
    default: return s.Word(a) == s.Word(b);
  }
}

}  // namespace

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
    if (!CellsEqual(stores[columns_[i]], a, b, ignoreCase_[i])) return false;
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
