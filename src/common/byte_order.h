// The identifier, sequence and stamps of an echo message are stored least
// significant byte first on every host, so a peer that echoes the data back
// unchanged returns them intact whatever its byte order.
#ifndef VEXMO_COMMON_BYTE_ORDER_H
#define VEXMO_COMMON_BYTE_ORDER_H

#include <cstdint>

namespace vexmo {

inline std::uint16_t read_le16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

inline void write_le16(std::uint8_t* p, std::uint16_t value) {
  p[0] = static_cast<std::uint8_t>(value);
  p[1] = static_cast<std::uint8_t>(value >> 8);
}

inline std::uint64_t read_le64(const std::uint8_t* p) {
  std::uint64_t value = 0;
  for (int i = 7; i >= 0; --i) {
    value = (value << 8) | p[i];
  }
  return value;
}

inline void write_le64(std::uint8_t* p, std::uint64_t value) {
  for (int i = 0; i < 8; ++i) {
    p[i] = static_cast<std::uint8_t>(value >> (8 * i));
  }
}

}  // namespace vexmo

#endif  // VEXMO_COMMON_BYTE_ORDER_H
