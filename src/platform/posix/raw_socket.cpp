#include "platform/posix/raw_socket.h"

#include <sys/socket.h>

namespace vexmo {

int raw_socket_open() {
  return socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
}

ssize_t raw_socket_send(int fd, const std::uint8_t* data, std::size_t length,
                        const sockaddr_in& to) {
  return sendto(fd, data, length, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

ssize_t raw_socket_receive(int fd, std::uint8_t* buffer, std::size_t length, sockaddr_in* from) {
  socklen_t from_length = sizeof *from;
  return recvfrom(fd, buffer, length, 0, reinterpret_cast<sockaddr*>(from), &from_length);
}

ssize_t raw_socket_take_queued(int fd, std::uint8_t* buffer, std::size_t length) {
  return recv(fd, buffer, length, MSG_DONTWAIT);
}

}  // namespace vexmo
