#include "platform/posix/raw_socket.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/ipv6_framing.h"
#include "platform/posix/ancillary.h"
#include "platform/posix/kernel_stamps.h"
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

}  // namespace

int raw_socket_open(AddressFamily family) {
  return family == AddressFamily::ipv6 ? open_icmp6() : socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
}

ssize_t raw_socket_send(int fd, const std::uint8_t* data, std::size_t length, const sockaddr* to,
                        socklen_t to_length) {
  return sendto(fd, data, length, 0, to, to_length);
}

ssize_t raw_socket_receive(int fd, AddressFamily family, std::uint8_t* buffer, std::size_t length,
                           sockaddr_storage* from, std::uint64_t* receive_ns) {
  // An ICMPv6 message comes without its header: room is left for it.
  const std::size_t room = family == AddressFamily::ipv6 ? kIpv6HeaderBytes : 0;
  ReceivedMessage message;
  const ssize_t received = message.receive(fd, buffer + room, length - room, from, 0);
  *receive_ns = received >= 0 ? read_stamp_control(message.message()).stamp_ns : 0;
  if (received < 0 || family != AddressFamily::ipv6) {
    return received;
  }
  std::uint8_t source[16];
  ipv6_address_of(*from, source);
  return static_cast<ssize_t>(frame_icmp6_message(buffer, static_cast<std::size_t>(received),
                                                  read_control(message.message()).time_to_live,
                                                  source));
}

}  // namespace vexmo
