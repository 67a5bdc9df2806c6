// A small growable byte string for code that runs in the Windows stub, which is built
// without the C++ exception runtime (std::string would pull it in). Bytes are
// Windows-1250 text; the string is always zero-terminated. When memory runs out the
// string keeps what it had and remembers the failure: check failed() where it matters.
#pragma once

#include <stddef.h>
#include <stdlib.h>
#include <string.h>

namespace vek {

class AnsiString {
 public:
  AnsiString() = default;
  AnsiString(const char* text) { Append(text); }  // NOLINT: converts like a literal
  AnsiString(const char* bytes, size_t length) { Append(bytes, length); }
  AnsiString(const AnsiString& other) { Append(other.data(), other.size()); }
  AnsiString(AnsiString&& other) noexcept
      : data_(other.data_), size_(other.size_), capacity_(other.capacity_), failed_(other.failed_) {
    other.data_ = nullptr;
    other.size_ = other.capacity_ = 0;
    other.failed_ = false;
  }
  AnsiString& operator=(const AnsiString& other) {
    if (this != &other) {
      Clear();
      Append(other.data(), other.size());
      failed_ = failed_ || other.failed_;
    }
    return *this;
  }
  AnsiString& operator=(AnsiString&& other) noexcept {
    if (this != &other) {
      free(data_);
      data_ = other.data_;
      size_ = other.size_;
      capacity_ = other.capacity_;
      failed_ = other.failed_;
      other.data_ = nullptr;
      other.size_ = other.capacity_ = 0;
      other.failed_ = false;
    }
    return *this;
  }
  ~AnsiString() { free(data_); }

  const char* c_str() const { return data_ ? data_ : ""; }
  const char* data() const { return c_str(); }
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  bool failed() const { return failed_; }
  char operator[](size_t i) const { return data_[i]; }
  char back() const { return data_[size_ - 1]; }

  void Clear() {
    size_ = 0;
    if (data_) data_[0] = 0;
  }
  // Makes room for capacity bytes besides the zero byte; false when memory ran out.
  bool Reserve(size_t capacity) {
    if (capacity <= capacity_ && data_) return true;
    size_t grown = capacity_ + capacity_ / 2;
    if (grown < capacity) grown = capacity;
    if (grown < 15) grown = 15;
    char* bigger = static_cast<char*>(realloc(data_, grown + 1));
    if (!bigger) {
      failed_ = true;
      return false;
    }
    data_ = bigger;
    capacity_ = grown;
    data_[size_] = 0;
    return true;
  }
  AnsiString& Append(const char* bytes, size_t length) {
    if (length == 0) {
      Reserve(size_);
      return *this;
    }
    if (length > static_cast<size_t>(-1) / 2 - size_ || !Reserve(size_ + length)) {
      failed_ = true;
      return *this;
    }
    memmove(data_ + size_, bytes, length);
    size_ += length;
    data_[size_] = 0;
    return *this;
  }
  AnsiString& Append(const char* text) { return Append(text, strlen(text)); }
  AnsiString& Append(const AnsiString& other) { return Append(other.data(), other.size()); }
  AnsiString& Append(char c) { return Append(&c, 1); }
  AnsiString& operator+=(const char* text) { return Append(text); }
  AnsiString& operator+=(const AnsiString& other) { return Append(other); }
  AnsiString& operator+=(char c) { return Append(c); }
  // Cuts the string to its first length bytes (no effect when it is shorter).
  void Truncate(size_t length) {
    if (length < size_) {
      size_ = length;
      data_[size_] = 0;
    }
  }
  friend bool operator==(const AnsiString& a, const AnsiString& b) {
    return a.size_ == b.size_ && memcmp(a.c_str(), b.c_str(), a.size_) == 0;
  }
  friend bool operator==(const AnsiString& a, const char* b) {
    return a.size_ == strlen(b) && memcmp(a.c_str(), b, a.size_) == 0;
  }

 private:
  char* data_ = nullptr;
  size_t size_ = 0;
  size_t capacity_ = 0;
  bool failed_ = false;
};

inline AnsiString operator+(const AnsiString& a, const AnsiString& b) {
  AnsiString r(a);
  r += b;
  return r;
}
inline AnsiString operator+(const AnsiString& a, const char* b) {
  AnsiString r(a);
  r += b;
  return r;
}

}  // namespace vek
