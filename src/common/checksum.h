// The Internet checksum (RFC 1071), for the requests vexmo sends.
#ifndef VEXMO_COMMON_CHECKSUM_H
#define VEXMO_COMMON_CHECKSUM_H

#include <cstddef>
#include <cstdint>

namespace vexmo {

// The one's complement sum does not depend on byte order: words are read in
// the order the bytes lie, and the result is stored back the same way
// (least significant byte first into the checksum field). An odd last byte
// is padded with zero, as on the wire.
inline std::uint16_t internet_checksum(const std::uint8_t* bytes, std::size_t length) {
  // The largest message (65,544 bytes) sums 32,772 words: no 32-bit overflow.
  std::uint32_t sum = 0;
  for (; length >= 2; bytes += 2, length -= 2) {
    sum += static_cast<std::uint32_t>(bytes[0] | bytes[1] << 8);
  }
  if (length == 1) {
    sum += bytes[0];
  }
  // Two folds: the first can itself carry (0x2FFFF -> 0x10001).
  sum = (sum & 0xFFFFu) + (sum >> 16);
  sum = (sum & 0xFFFFu) + (sum >> 16);
  return static_cast<std::uint16_t>(~sum);
}

}  // namespace vexmo

#endif  // VEXMO_COMMON_CHECKSUM_H
