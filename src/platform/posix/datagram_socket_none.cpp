// Systems without ICMP datagram sockets: the raw socket is the only one.
#include <cerrno>

#include "platform/posix/datagram_socket.h"

namespace vexmo {

int datagram_socket_open(AddressFamily, std::uint16_t*) {
  errno = EPROTONOSUPPORT;
  return -1;
}

ssize_t datagram_socket_send(int, const std::uint8_t*, std::size_t, const sockaddr*, socklen_t) {
  errno = EBADF;
  return -1;
}

ssize_t datagram_socket_receive(int, std::uint8_t*, std::size_t, Received*) {
  errno = EBADF;
  return -1;
}

}  // namespace vexmo
