#include "platform/posix/raw_socket.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/ipv6_framing.h"
#include "platform/posix/ancillary.h"
#include "platform/posix/socket_filter.h"

namespace vexmo {
namespace {

int open_icmp6() {
  const int fd = socket(AF_INET6, SOCK_RAW, IPPROTO_ICMPV6);
  if (fd < 0) {
    return -1;
  }
  const int on = 1;
  if (setsockopt(fd, IPPROTO_IPV6, IPV6_RECVHOPLIMIT, &on, sizeof on) != 0 ||
      attach_icmp6_type_filter(fd) != 0) {
    const int error = errno;
    close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

ssize_t receive_icmp6(int fd, std::uint8_t* buffer, std::size_t length, sockaddr_storage* from) {
  iovec data = {buffer + kIpv6HeaderBytes, length - kIpv6HeaderBytes};
  ControlBuffer control_buffer;
  msghdr message;
  std::memset(&message, 0, sizeof message);
  message.msg_name = from;
  message.msg_namelen = sizeof *from;
  message.msg_iov = &data;
  message.msg_iovlen = 1;
  message.msg_control = control_buffer.bytes;
  message.msg_controllen = sizeof control_buffer.bytes;
  const ssize_t received = recvmsg(fd, &message, 0);
  if (received < 0) {
    return -1;
  }
  const Control control = read_control(&message);
  sockaddr_in6 sender;
  std::memcpy(&sender, from, sizeof sender);
  std::uint8_t source[16];
  std::memcpy(source, &sender.sin6_addr, sizeof source);
  return static_cast<ssize_t>(frame_icmp6_message(buffer, static_cast<std::size_t>(received),
                                                  control.time_to_live, source));
}

}  // namespace

int raw_socket_open(AddressFamily family) {
  return family == AddressFamily::ipv6 ? open_icmp6() : socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
}

ssize_t raw_socket_send(int fd, const std::uint8_t* data, std::size_t length, const sockaddr* to,
                        socklen_t to_length) {
  return sendto(fd, data, length, 0, to, to_length);
}

ssize_t raw_socket_receive(int fd, AddressFamily family, std::uint8_t* buffer, std::size_t length,
                           sockaddr_storage* from) {
  if (family == AddressFamily::ipv6) {
    return receive_icmp6(fd, buffer, length, from);
  }
  socklen_t from_length = sizeof *from;
  return recvfrom(fd, buffer, length, 0, reinterpret_cast<sockaddr*>(from), &from_length);
}

ssize_t raw_socket_take_queued(int fd, std::uint8_t* buffer, std::size_t length) {
  return recv(fd, buffer, length, MSG_DONTWAIT);
}

}  // namespace vexmo
