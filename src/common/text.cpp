#include "common/text.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace vexmo {

Text::Text(Text&& other) noexcept
    : data_(other.data_), size_(other.size_), capacity_(other.capacity_) {
  other.data_ = nullptr;
  other.size_ = 0;
  other.capacity_ = 0;
}

Text& Text::operator=(const Text& other) {
  if (this != &other) {
    size_ = 0;
    if (data_ != nullptr) {
      data_[0] = '\0';
    }
    append(other.data(), other.size());
  }
  return *this;
}

Text& Text::operator=(Text&& other) noexcept {
  if (this != &other) {
    std::free(data_);
    data_ = other.data_;
    size_ = other.size_;
    capacity_ = other.capacity_;
    other.data_ = nullptr;
    other.size_ = 0;
    other.capacity_ = 0;
  }
  return *this;
}

Text::~Text() {
  std::free(data_);
}

Text& Text::append(const char* text, std::size_t length) {
  if (length == 0 || length >= static_cast<std::size_t>(-1) - size_) {
    return *this;  // nothing, or a size that would wrap around
  }
  const std::size_t needed = size_ + length + 1;
  if (needed > capacity_) {
    std::size_t grown = capacity_ < 64 ? 64 : capacity_;
    while (grown < needed) {
      grown = grown > static_cast<std::size_t>(-1) / 2 ? needed : grown * 2;
    }
    // Appending a part of itself: the part moves with the buffer.
    const std::uintptr_t at = reinterpret_cast<std::uintptr_t>(text);
    const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(data_);
    const bool own = data_ != nullptr && at >= start && at < start + size_;
    const std::size_t own_offset = own ? at - start : 0;
    char* const moved = static_cast<char*>(std::realloc(data_, grown));
    if (moved == nullptr) {
      return *this;
    }
    data_ = moved;
    capacity_ = grown;
    if (own) {
      text = data_ + own_offset;
    }
  }
  std::memmove(data_ + size_, text, length);
  size_ += length;
  data_[size_] = '\0';
  return *this;
}

Text& Text::append(const char* text) {
  return append(text, std::strlen(text));
}

Text operator+(Text left, const char* right) {
  left += right;
  return left;
}

Text operator+(Text left, const Text& right) {
  left += right;
  return left;
}

Text operator+(const char* left, const Text& right) {
  Text text(left);
  text += right;
  return text;
}

Text decimal(std::uint64_t value) {
  char digits[24];
  std::snprintf(digits, sizeof digits, "%llu", static_cast<unsigned long long>(value));
  return Text(digits);
}

}  // namespace vexmo
