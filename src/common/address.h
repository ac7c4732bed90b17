// A socket address in a layout of our own; each backend converts it to and
// from its native sockaddr. Room for an IPv6 address and its scope, so that
// a second address family adds a value, not a new record.
#ifndef VEXMO_COMMON_ADDRESS_H
#define VEXMO_COMMON_ADDRESS_H

#include <cstdint>
#include <cstring>

namespace vexmo {

enum class AddressFamily : std::uint8_t { ipv4, ipv6 };

struct SocketAddress {
  AddressFamily family = AddressFamily::ipv4;
  std::uint16_t port = 0;       // network order
  std::uint8_t bytes[16] = {};  // network order; IPv4 uses the first four
  std::uint32_t scope_id = 0;   // IPv6 zone (interface index); 0 for IPv4
};

// An IPv4 address as inet_addr and sockaddr_in hold it: network order in a
// 32-bit value.
inline SocketAddress ipv4_socket_address(std::uint32_t address) {
  SocketAddress result;
  std::memcpy(result.bytes, &address, sizeof address);
  return result;
}

inline std::uint32_t ipv4_of(const SocketAddress& address) {
  std::uint32_t value;
  std::memcpy(&value, address.bytes, sizeof value);
  return value;
}

}  // namespace vexmo

#endif  // VEXMO_COMMON_ADDRESS_H
