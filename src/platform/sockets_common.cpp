// Names and address text, the same calls on every system.
#include "platform/native_sockets.h"
#include "platform/platform.h"

#include <cstring>

namespace vexmo {

sockaddr_in native_ipv4_address(const SocketAddress& address) {
  sockaddr_in native;
  std::memset(&native, 0, sizeof native);
  native.sin_family = AF_INET;
  native.sin_port = address.port;
  native.sin_addr.s_addr = ipv4_of(address);
  return native;
}

SocketAddress from_native_ipv4_address(const sockaddr_in& native) {
  SocketAddress address = ipv4_socket_address(native.sin_addr.s_addr);
  address.port = native.sin_port;
  return address;
}

sockaddr_in6 native_ipv6_address(const SocketAddress& address) {
  sockaddr_in6 native;
  std::memset(&native, 0, sizeof native);
  native.sin6_family = AF_INET6;
  native.sin6_port = address.port;
  std::memcpy(&native.sin6_addr, address.bytes, sizeof address.bytes);
  native.sin6_scope_id = address.scope_id;
  return native;
}

SocketAddress from_native_ipv6_address(const sockaddr_in6& native) {
  SocketAddress address;
  address.family = AddressFamily::ipv6;
  address.port = native.sin6_port;
  std::memcpy(address.bytes, &native.sin6_addr, sizeof address.bytes);
  address.scope_id = native.sin6_scope_id;
  return address;
}

int native_address(const SocketAddress& address, sockaddr_storage* native) {
  std::memset(native, 0, sizeof *native);
  if (address.family == AddressFamily::ipv6) {
    const sockaddr_in6 ipv6 = native_ipv6_address(address);
    std::memcpy(native, &ipv6, sizeof ipv6);
    return sizeof ipv6;
  }
  const sockaddr_in ipv4 = native_ipv4_address(address);
  std::memcpy(native, &ipv4, sizeof ipv4);
  return sizeof ipv4;
}

SocketAddress from_native_address(const sockaddr_storage& native) {
  if (native.ss_family == AF_INET6) {
    sockaddr_in6 ipv6;
    std::memcpy(&ipv6, &native, sizeof ipv6);
    return from_native_ipv6_address(ipv6);
  }
  if (native.ss_family == AF_INET) {
    sockaddr_in ipv4;
    std::memcpy(&ipv4, &native, sizeof ipv4);
    return from_native_ipv4_address(ipv4);
  }
  return SocketAddress{};
}

namespace {

// The first address getaddrinfo gives for the text in the family.
bool first_address(const char* text, int family, int flags, SocketAddress* address) {
  addrinfo hints;
  std::memset(&hints, 0, sizeof hints);
  hints.ai_family = family;
  hints.ai_flags = flags;
  addrinfo* found = nullptr;
  if (getaddrinfo(text, nullptr, &hints, &found) != 0 || found == nullptr) {
    return false;
  }
  sockaddr_storage native;
  std::memset(&native, 0, sizeof native);
  const bool fits =
      found->ai_family == family && static_cast<std::size_t>(found->ai_addrlen) <= sizeof native;
  if (fits) {
    std::memcpy(&native, found->ai_addr, found->ai_addrlen);
    *address = from_native_address(native);
  }
  freeaddrinfo(found);
  return fits;
}

}  // namespace

bool lookup_first_address(const char* name, AddressFamily family, SocketAddress* address) {
  return first_address(name, family == AddressFamily::ipv6 ? AF_INET6 : AF_INET, 0, address);
}

bool parse_ipv6_address(const char* text, SocketAddress* address) {
  return first_address(text, AF_INET6, AI_NUMERICHOST, address);
}

std::uint32_t parse_dotted_address(const char* text) {
  return inet_addr(text);
}

void format_dotted_address(std::uint32_t address, char (&text)[16]) {
  in_addr native;
  native.s_addr = address;
  if (inet_ntop(AF_INET, &native, text, sizeof text) == nullptr) {
    text[0] = '\0';
  }
}

void format_address(const SocketAddress& address, char (&text)[kAddressTextBytes]) {
  const int family = address.family == AddressFamily::ipv6 ? AF_INET6 : AF_INET;
  if (inet_ntop(family, address.bytes, text, sizeof text) == nullptr) {
    text[0] = '\0';
  }
}

}  // namespace vexmo
