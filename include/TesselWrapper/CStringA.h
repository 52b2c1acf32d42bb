// CStringA: the narrow text class of the row record (SqlRow).
//
// A value type over std::string that keeps the everyday calls a ported caller
// uses: construction from const char* (null gives empty text), GetLength,
// GetString, IsEmpty, Empty, conversion to const char*, ==, and +=. Copies are
// independent values.
#pragma once

#include <cstring>
#include <string>
#include <string_view>

class CStringA {
 public:
  CStringA() = default;
  CStringA(const char* text) : s_(text ? text : "") {}  // NOLINT: implicit by design
  // The first `length` bytes of `text`; a null text or a length of 0 or
  // less gives the empty text (never a read before or past the buffer).
  CStringA(const char* text, int length)
      : s_(text != nullptr && length > 0 ? std::string(text, static_cast<std::size_t>(length))
                                         : std::string()) {}
  CStringA(std::string text) : s_(std::move(text)) {}  // NOLINT: implicit by design
  CStringA(std::string_view text) : s_(text) {}        // NOLINT: implicit by design

  int GetLength() const noexcept { return static_cast<int>(s_.size()); }
  const char* GetString() const noexcept { return s_.c_str(); }
  bool IsEmpty() const noexcept { return s_.empty(); }
  void Empty() noexcept { s_.clear(); }
  operator const char*() const noexcept { return s_.c_str(); }  // NOLINT: implicit by design
  const std::string& str() const noexcept { return s_; }

  CStringA& operator+=(const CStringA& other) {
    s_ += other.s_;
    return *this;
  }
  friend bool operator==(const CStringA& a, const CStringA& b) noexcept { return a.s_ == b.s_; }
  friend bool operator==(const CStringA& a, const char* b) noexcept { return a.s_ == (b ? b : ""); }

 private:
  std::string s_;
};
