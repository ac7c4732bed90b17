// Arbitrary bytes (a host argument can hold any) through the JSON string
// encoder: the result is always one valid JSON string in valid UTF-8, and
// valid UTF-8 text comes back from it unchanged.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "driver/json_lines.h"

using namespace vexmo;

namespace {

// The length of the UTF-8 sequence at text[at] (RFC 3629), or 0 when it is
// not valid; written apart from the encoder's own check.
std::size_t sequence_length(const std::string& text, std::size_t at) {
  const auto byte = [&](std::size_t i) {
    return at + i < text.size() ? static_cast<unsigned char>(text[at + i]) : 0u;
  };
  const unsigned lead = byte(0);
  if (lead < 0x80) {
    return 1;
  }
  std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
  if (length == 0 || lead > 0xF4) {
    return 0;
  }
  std::uint32_t code = lead & (0x7Fu >> length);
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) {
      return 0;
    }
    code = code << 6 | (byte(i) & 0x3F);
  }
  const std::uint32_t lowest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (code < lowest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
    return 0;
  }
  return length;
}

bool valid_utf8(const std::string& text) {
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t length = sequence_length(text, at);
    if (length == 0) {
      return false;
    }
    at += length;
  }
  return true;
}

// Undoes the escapes the encoder writes; false on anything a JSON string
// may not hold.
bool decode(const std::string& json, std::string* text) {
  if (json.size() < 2 || json.front() != '"' || json.back() != '"') {
    return false;
  }
  for (std::size_t i = 1; i + 1 < json.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(json[i]);
    if (c < 0x20 || c == '"') {
      return false;
    }
    if (c != '\\') {
      text->push_back(static_cast<char>(c));
      continue;
    }
    if (i + 2 >= json.size()) {
      return false;
    }
    const char escape = json[++i];
    const std::string simple = "\"\\/bfnrt";
    const std::string meaning = "\"\\/\b\f\n\r\t";
    if (simple.find(escape) != std::string::npos) {
      text->push_back(meaning[simple.find(escape)]);
    } else if (escape == 'u' && i + 5 < json.size() && json.compare(i + 1, 2, "00") == 0) {
      text->push_back(static_cast<char>(std::stoi(json.substr(i + 3, 2), nullptr, 16)));
      i += 4;
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The text ends at its first NUL, as an argument does.
  std::string input(reinterpret_cast<const char*>(data), size);
  input = input.substr(0, input.find('\0'));
  std::string encoded;
  append_json_string(&encoded, input.c_str());
  const std::string& json = encoded;
  std::string decoded;
  if (!valid_utf8(json) || !decode(json, &decoded)) {
    std::abort();
  }
  if (valid_utf8(input) && decoded != input) {
    std::abort();
  }
  return 0;
}
