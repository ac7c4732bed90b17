// An RFC 1071 sum for the tests, written apart from the product's so that a
// fault in one is not hidden by the same fault in the other: 16-bit words in
// network order, an odd byte padded, carries folded until none is left.
#ifndef VEXMO_TESTS_WIRE_CHECKSUM_H
#define VEXMO_TESTS_WIRE_CHECKSUM_H

#include <cstddef>
#include <cstdint>

namespace vexmo {
namespace test {

inline std::uint32_t ones_complement_sum(const std::uint8_t* p, std::size_t length) {
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i + 1 < length; i += 2) {
    sum += static_cast<std::uint32_t>(p[i] << 8 | p[i + 1]);
  }
  if (length % 2 != 0) {
    sum += static_cast<std::uint32_t>(p[length - 1] << 8);
  }
  while (sum >> 16 != 0) {
    sum = (sum & 0xFFFFu) + (sum >> 16);
  }
  return sum;
}

// True when a stretch carries a correct checksum of itself.
inline bool checksum_holds(const std::uint8_t* p, std::size_t length) {
  return ones_complement_sum(p, length) == 0xFFFFu;
}

// Fills the 2-byte checksum field at `field` (inside the stretch) so that
// the stretch carries a correct checksum.
inline void put_wire_checksum(std::uint8_t* p, std::size_t length, std::uint8_t* field) {
  field[0] = 0;
  field[1] = 0;
  const std::uint32_t checksum = ~ones_complement_sum(p, length) & 0xFFFFu;
  field[0] = static_cast<std::uint8_t>(checksum >> 8);
  field[1] = static_cast<std::uint8_t>(checksum);
}

}  // namespace test
}  // namespace vexmo

#endif  // VEXMO_TESTS_WIRE_CHECKSUM_H
