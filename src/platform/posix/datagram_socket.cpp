// ICMP datagram sockets (Linux); see datagram_socket.h for how they differ
// from a raw socket.
#include "platform/posix/datagram_socket.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/byte_order.h"
#include "platform/native_sockets.h"
#include "platform/posix/ancillary.h"
#include "platform/posix/error_queue.h"
#include "platform/posix/kernel_stamps.h"
#include "platform/received_record.h"

namespace vexmo {

bool record_report(const Control& control, AddressFamily family, const std::uint8_t* quoted,
                   std::size_t quoted_length, Received* received) {
  const bool ipv6 = family == AddressFamily::ipv6;
  if (!control.has_report ||
      control.report.ee_origin != (ipv6 ? SO_EE_ORIGIN_ICMP6 : SO_EE_ORIGIN_ICMP)) {
    return false;
  }
  received->family = family;
  received->reported = true;
  received->type = control.report.ee_type;
  received->code = control.report.ee_code;
  received->info = control.report.ee_info;
  received->quoted_request = quoted;
  received->quoted_length = quoted_length;
  read_bare_message(nullptr, 0, control.time_to_live, received);
  // Who sent the error: its address alone, or the family's unspecified one.
  received->from = SocketAddress{};
  received->from.family = family;
  if (control.has_offender && control.offender.ss_family == (ipv6 ? AF_INET6 : AF_INET)) {
    const SocketAddress offender = from_native_address(control.offender);
    std::memcpy(received->from.bytes, offender.bytes, sizeof offender.bytes);
  }
  return true;
}

std::uint16_t port_for_identifier(std::uint16_t identifier) {
  // sin_port is kept in network order and the kernel copies it into the
  // identifier as it is: the same two bytes in the same order.
  std::uint8_t bytes[2];
  write_le16(bytes, identifier);
  std::uint16_t port;
  std::memcpy(&port, bytes, sizeof port);
  return port;
}

std::uint16_t identifier_for_port(std::uint16_t port) {
  std::uint8_t bytes[2];
  std::memcpy(bytes, &port, sizeof port);
  return read_le16(bytes);
}

namespace {

constexpr int kMaxReceiveRounds = 4096;

int set_flag(int fd, int level, int name) {
  const int on = 1;
  return setsockopt(fd, level, name, &on, sizeof on);
}

bool is_ipv6(AddressFamily family) {
  return family == AddressFamily::ipv6;
}

// One message from the receive queue, which comes without its IP header:
// the byte count, or -1 with errno (EAGAIN when none is waiting, or a
// pending socket error the kernel reports once).
ssize_t receive_datagram(int fd, std::uint8_t* buffer, std::size_t length, Received* received) {
  sockaddr_storage from;
  std::memset(&from, 0, sizeof from);
  ReceivedMessage message;
  const ssize_t count = message.receive(fd, buffer, length, &from, 0);
  if (count < 0) {
    return -1;
  }
  received->stamps.receive_ns = read_stamp_control(message.message()).stamp_ns;
  received->from = from_native_address(from);
  read_bare_message(buffer, static_cast<std::size_t>(count),
                    read_control(message.message()).time_to_live, received);
  return count;
}

// One report from the error queue: its quoted request's byte count with
// the ICMP error recorded, 0 for a report that is none (consumed: a
// transmit stamp is kept in the record, anything else skipped), -1 with
// errno (EAGAIN: queue empty).
ssize_t receive_error(int fd, std::uint8_t* buffer, std::size_t length, Received* received) {
  ReceivedMessage message;
  const ssize_t count = message.receive(fd, buffer, length, nullptr, MSG_ERRQUEUE);
  if (count < 0) {
    return -1;
  }
  const StampControl stamp = read_stamp_control(message.message());
  if (stamp.transmit_report) {
    received->stamps.transmit_ns = stamp.stamp_ns;
    return 0;
  }
  // On Linux the report's payload is the request itself, from its ICMP
  // header on.
  return record_report(read_control(message.message()), received->family, buffer,
                       static_cast<std::size_t>(count), received)
             ? count
             : 0;
}

bool error_queued(int fd) {
  pollfd ready = {fd, 0, 0};
  return poll(&ready, 1, 0) == 1 && (ready.revents & POLLERR) != 0;
}

bool bind_to_port(int fd, AddressFamily family, std::uint16_t port) {
  if (is_ipv6(family)) {
    sockaddr_in6 local;
    std::memset(&local, 0, sizeof local);
    local.sin6_family = AF_INET6;
    local.sin6_port = port;
    local.sin6_addr = in6addr_any;
    return bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0;
  }
  sockaddr_in local;
  std::memset(&local, 0, sizeof local);
  local.sin_family = AF_INET;
  local.sin_port = port;
  local.sin_addr.s_addr = htonl(INADDR_ANY);
  return bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0;
}

// The port the socket is bound to, as stored in sin_port or sin6_port.
bool bound_port(int fd, AddressFamily family, std::uint16_t* port) {
  sockaddr_storage local;
  socklen_t local_length = sizeof local;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &local_length) != 0) {
    return false;
  }
  if (is_ipv6(family)) {
    sockaddr_in6 ipv6;
    std::memcpy(&ipv6, &local, sizeof ipv6);
    *port = ipv6.sin6_port;
  } else {
    sockaddr_in ipv4;
    std::memcpy(&ipv4, &local, sizeof ipv4);
    *port = ipv4.sin_port;
  }
  return true;
}

// Errors about our requests are reported only with IP_RECVERR (IPV6_RECVERR);
// the time to live (hop limit) of every reply comes beside it.
bool ask_for_reports(int fd, AddressFamily family) {
  if (is_ipv6(family)) {
    return set_flag(fd, IPPROTO_IPV6, IPV6_RECVERR) == 0 &&
           set_flag(fd, IPPROTO_IPV6, IPV6_RECVHOPLIMIT) == 0;
  }
  return set_flag(fd, IPPROTO_IP, IP_RECVERR) == 0 && set_flag(fd, IPPROTO_IP, IP_RECVTTL) == 0;
}

}  // namespace

int datagram_socket_open(AddressFamily family, std::uint16_t* identifier) {
  const int fd = is_ipv6(family) ? socket(AF_INET6, SOCK_DGRAM, IPPROTO_ICMPV6)
                                 : socket(AF_INET, SOCK_DGRAM, IPPROTO_ICMP);
  if (fd < 0) {
    return -1;
  }
  // Address reuse, which the kernel grants ping sockets, would let another
  // socket share our identifier and take our replies: with it off, a taken
  // identifier fails the bind instead.
  const int off = 0;
  if (!ask_for_reports(fd, family) ||
      setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &off, sizeof off) != 0) {
    const int error = errno;
    close(fd);
    errno = error;
    return -1;
  }
  // Port 0 (an identifier of 0, or one another socket holds) lets the kernel
  // choose; the requests then carry the identifier it chose.
  if (*identifier == 0 || !bind_to_port(fd, family, port_for_identifier(*identifier))) {
    std::uint16_t port = 0;
    if (!bind_to_port(fd, family, 0) || !bound_port(fd, family, &port)) {
      const int error = errno;
      close(fd);
      errno = error;
      return -1;
    }
    *identifier = identifier_for_port(port);
  }
  return fd;
}

ssize_t datagram_socket_send(int fd, const std::uint8_t* data, std::size_t length,
                             const sockaddr* to, socklen_t to_length) {
  ssize_t sent = sendto(fd, data, length, 0, to, to_length);
  if (sent < 0 && error_queued(fd)) {
    // An ICMP error that came in since the last receive leaves its number
    // pending on the socket, and the kernel fails the next send with it;
    // that send was never made, so it is made once more.
    sent = sendto(fd, data, length, 0, to, to_length);
  }
  return sent;
}

ssize_t datagram_socket_receive(int fd, std::uint8_t* buffer, std::size_t length,
                                Received* received) {
  // Every round that does not return consumes a report or clears an error;
  // the bound only guards against a kernel that would report one forever.
  for (int round = 0; round < kMaxReceiveRounds; ++round) {
    // An ICMP error shows as POLLERR, never as POLLIN: look for both.
    pollfd ready = {fd, POLLIN, 0};
    const int count = poll(&ready, 1, 0);
    if (count < 0) {
      return -1;
    }
    if (count == 0) {
      errno = EAGAIN;
      return -1;
    }
    if ((ready.revents & POLLNVAL) != 0) {
      errno = EBADF;
      return -1;
    }
    if ((ready.revents & POLLERR) != 0) {
      const ssize_t got = receive_error(fd, buffer, length, received);
      if (got > 0) {
        return got;
      }
      if (got < 0) {
        if (errno != EAGAIN) {
          return -1;
        }
        // A pending error number with nothing queued behind it: clear it,
        // or every poll would report it again.
        int pending = 0;
        socklen_t pending_length = sizeof pending;
        getsockopt(fd, SOL_SOCKET, SO_ERROR, &pending, &pending_length);
      }
      continue;
    }
    if ((ready.revents & POLLIN) != 0) {
      const ssize_t got = receive_datagram(fd, buffer, length, received);
      if (got >= 0) {
        return got;
      }
      // EAGAIN, or the number of an error whose report is queued: the
      // next round takes the report.
    }
  }
  errno = EAGAIN;
  return -1;
}

}  // namespace vexmo
