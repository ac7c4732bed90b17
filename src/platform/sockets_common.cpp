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

bool resolve_name(const char* name, std::uint32_t* address) {
  addrinfo hints;
  std::memset(&hints, 0, sizeof hints);
  hints.ai_family = AF_INET;
  addrinfo* found = nullptr;
  if (getaddrinfo(name, nullptr, &hints, &found) != 0 || found == nullptr) {
    return false;
  }
  *address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr;
  freeaddrinfo(found);
  return true;
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

}  // namespace vexmo
