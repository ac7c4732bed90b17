#include "platform/posix/raw_socket.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/native_sockets.h"
#include "platform/posix/ancillary.h"
#include "platform/posix/kernel_stamps.h"
#include "platform/posix/socket_filter.h"
#include "platform/received_record.h"

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

}  // namespace

int raw_socket_open(AddressFamily family) {
  return family == AddressFamily::ipv6 ? open_icmp6() : socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
}

ssize_t raw_socket_send(int fd, const std::uint8_t* data, std::size_t length, const sockaddr* to,
                        socklen_t to_length) {
  return sendto(fd, data, length, 0, to, to_length);
}

ssize_t raw_socket_receive(int fd, std::uint8_t* buffer, std::size_t length, Received* received) {
  sockaddr_storage from;
  std::memset(&from, 0, sizeof from);
  ReceivedMessage message;
  const ssize_t count = message.receive(fd, buffer, length, &from, 0);
  if (count < 0) {
    return -1;
  }
  received->stamps.receive_ns = read_stamp_control(message.message()).stamp_ns;
  received->from = from_native_address(from);
  if (received->family == AddressFamily::ipv6) {
    // An ICMPv6 message comes without its header, the hop limit beside it.
    read_bare_message(buffer, static_cast<std::size_t>(count),
                      read_control(message.message()).time_to_live, received);
  } else {
    read_ipv4_datagram(buffer, static_cast<std::size_t>(count), received);
  }
  return count;
}

}  // namespace vexmo
