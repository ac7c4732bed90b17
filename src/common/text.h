// Text built by appending, for the lines vexmo prints. It never throws: an
// allocation that fails leaves the text as it was and the rest of the line
// is cut (a lost line end is better than a run that ends without its
// summary). Not std::string: that made the program load the C++ runtime
// library, which doubled its memory.
#ifndef VEXMO_COMMON_TEXT_H
#define VEXMO_COMMON_TEXT_H

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace vexmo {

class Text {
 public:
  Text() = default;
  // Implicit: a literal reads as the text it is.
  Text(const char* text) {
    append(text);
  }
  Text(const Text& other) {
    append(other.data(), other.size());
  }
  Text(Text&& other) noexcept;
  Text& operator=(const Text& other);
  Text& operator=(Text&& other) noexcept;
  ~Text();

  Text& append(const char* text, std::size_t length);
  Text& append(const char* text);
  void push_back(char c) {
    append(&c, 1);
  }
  void pop_back() {
    if (size_ > 0) {
      data_[--size_] = '\0';
    }
  }
  Text& operator+=(const char* text) {
    return append(text);
  }
  Text& operator+=(const Text& text) {
    return append(text.data(), text.size());
  }
  Text& operator+=(char c) {
    return append(&c, 1);
  }

  const char* data() const {
    return data_ != nullptr ? data_ : "";
  }
  const char* c_str() const {
    return data();
  }
  std::size_t size() const {
    return size_;
  }
  bool empty() const {
    return size_ == 0;
  }
  std::string_view view() const {
    return {data(), size_};
  }

 private:
  char* data_ = nullptr;  // 0-terminated when not null
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;  // bytes held, the terminator's included
};

Text operator+(Text left, const char* right);
Text operator+(Text left, const Text& right);
Text operator+(const char* left, const Text& right);

inline bool operator==(const Text& left, std::string_view right) {
  return left.view() == right;
}
inline bool operator!=(const Text& left, std::string_view right) {
  return !(left == right);
}

// A number in decimal: "65535".
Text decimal(std::uint64_t value);

}  // namespace vexmo

#endif  // VEXMO_COMMON_TEXT_H
