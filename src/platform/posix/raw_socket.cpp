#include "platform/posix/raw_socket.h"

#include <sys/socket.h>

#include <cstring>

#include "platform/posix/kernel_stamps.h"

namespace vexmo {

int raw_socket_open() {
  return socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
}

ssize_t raw_socket_send(int fd, const std::uint8_t* data, std::size_t length,
                        const sockaddr_in& to) {
  return sendto(fd, data, length, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

ssize_t raw_socket_receive(int fd, std::uint8_t* buffer, std::size_t length, sockaddr_in* from,
                           std::uint64_t* receive_ns) {
  union {
    cmsghdr align;
    char bytes[kStampControlBytes];
  } control;
  iovec part = {buffer, length};
  msghdr message;
  std::memset(&message, 0, sizeof message);
  message.msg_name = from;
  message.msg_namelen = sizeof *from;
  message.msg_iov = &part;
  message.msg_iovlen = 1;
  message.msg_control = control.bytes;
  message.msg_controllen = sizeof control.bytes;
  const ssize_t received = recvmsg(fd, &message, 0);
  *receive_ns = received >= 0 ? read_stamp_control(&message).stamp_ns : 0;
  return received;
}

ssize_t raw_socket_take_queued(int fd, std::uint8_t* buffer, std::size_t length) {
  return recv(fd, buffer, length, MSG_DONTWAIT);
}

}  // namespace vexmo
