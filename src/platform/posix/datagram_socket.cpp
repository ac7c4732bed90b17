// ICMP datagram sockets behind the interface of a raw socket (Linux); see
// datagram_socket.h for what differs and why.
#include "platform/posix/datagram_socket.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/ipv6_framing.h"
#include "platform/posix/ancillary.h"
#include "platform/posix/error_queue.h"
#include "platform/posix/framing.h"
#include "platform/posix/kernel_stamps.h"

namespace vexmo {

bool queued_icmp_error(const sock_extended_err& report, const sockaddr_in* offender,
                       const sockaddr_in& original_destination, int time_to_live,
                       QueuedIcmpError* error) {
  if (report.ee_origin != SO_EE_ORIGIN_ICMP) {
    return false;
  }
  error->type = report.ee_type;
  error->code = report.ee_code;
  error->info = report.ee_info;
  error->sender =
      offender != nullptr && offender->sin_family == AF_INET ? offender->sin_addr.s_addr : 0;
  error->destination = original_destination.sin_addr.s_addr;
  error->time_to_live =
      time_to_live >= 0 && time_to_live <= 255 ? static_cast<std::uint8_t>(time_to_live) : 0;
  return true;
}

bool queued_icmp6_error(const sock_extended_err& report, const sockaddr_in6* offender,
                        const sockaddr_in6& original_destination, int hop_limit,
                        QueuedIcmp6Error* error) {
  if (report.ee_origin != SO_EE_ORIGIN_ICMP6) {
    return false;
  }
  error->type = report.ee_type;
  error->code = report.ee_code;
  error->info = report.ee_info;
  std::memset(error->sender, 0, sizeof error->sender);
  if (offender != nullptr && offender->sin6_family == AF_INET6) {
    std::memcpy(error->sender, &offender->sin6_addr, sizeof error->sender);
  }
  std::memcpy(error->destination, &original_destination.sin6_addr, sizeof error->destination);
  error->hop_limit = hop_limit >= 0 && hop_limit <= 255 ? hop_limit : -1;
  return true;
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

// The header a raw socket would have put in front of the message.
std::size_t header_room(AddressFamily family) {
  return is_ipv6(family) ? kIpv6HeaderBytes : kIpv4HeaderBytes;
}

std::size_t quoted_request_room(AddressFamily family) {
  return is_ipv6(family) ? kQuoted6RequestOffset : kQuotedRequestOffset;
}

// One datagram from the receive queue, framed; -1 with errno (EAGAIN when
// none is waiting, or a pending socket error the kernel reports once).
ssize_t receive_datagram(int fd, AddressFamily family, std::uint8_t* buffer, std::size_t length,
                         sockaddr_storage* from, std::uint64_t* receive_ns) {
  const std::size_t room = header_room(family);
  ReceivedMessage message;
  const ssize_t received = message.receive(fd, buffer + room, length - room, from, 0);
  if (received < 0) {
    return -1;
  }
  const Control control = read_control(message.message());
  *receive_ns = read_stamp_control(message.message()).stamp_ns;
  if (is_ipv6(family)) {
    std::uint8_t source[16];
    ipv6_address_of(*from, source);
    return static_cast<ssize_t>(frame_icmp6_message(buffer, static_cast<std::size_t>(received),
                                                    control.time_to_live, source));
  }
  if (control.time_to_live < 0) {
    // No header to rebuild: the message goes up bare, as one without a
    // recognisable header does (its line then shows no Ttl).
    std::memmove(buffer, buffer + kIpv4HeaderBytes, static_cast<std::size_t>(received));
    return received;
  }
  sockaddr_in sender;
  std::memcpy(&sender, from, sizeof sender);
  Ipv4HeaderFields fields;
  fields.time_to_live = static_cast<std::uint8_t>(control.time_to_live);
  fields.type_of_service = static_cast<std::uint8_t>(control.type_of_service);
  fields.source = sender.sin_addr.s_addr;
  return static_cast<ssize_t>(frame_echo_reply(buffer, static_cast<std::size_t>(received), fields));
}

// The report's IPv4 error framed, or 0 for a report that is none.
ssize_t frame_reported_ipv4(std::uint8_t* buffer, std::size_t quoted_length, const Control& control,
                            const sockaddr_storage& destination, sockaddr_storage* from) {
  sockaddr_in offender;
  std::memcpy(&offender, &control.offender, sizeof offender);
  sockaddr_in original;
  std::memcpy(&original, &destination, sizeof original);
  QueuedIcmpError error;
  if (!queued_icmp_error(control.report, control.has_offender ? &offender : nullptr, original,
                         control.time_to_live, &error)) {
    return 0;
  }
  sockaddr_in sender;
  std::memset(&sender, 0, sizeof sender);
  sender.sin_family = AF_INET;
  sender.sin_addr.s_addr = error.sender;
  std::memset(from, 0, sizeof *from);
  std::memcpy(from, &sender, sizeof sender);
  return static_cast<ssize_t>(frame_icmp_error(buffer, quoted_length, error));
}

ssize_t frame_reported_ipv6(std::uint8_t* buffer, std::size_t quoted_length, const Control& control,
                            const sockaddr_storage& destination, sockaddr_storage* from) {
  sockaddr_in6 offender;
  std::memcpy(&offender, &control.offender, sizeof offender);
  sockaddr_in6 original;
  std::memcpy(&original, &destination, sizeof original);
  QueuedIcmp6Error error;
  if (!queued_icmp6_error(control.report, control.has_offender ? &offender : nullptr, original,
                          control.time_to_live, &error)) {
    return 0;
  }
  sockaddr_in6 sender;
  std::memset(&sender, 0, sizeof sender);
  sender.sin6_family = AF_INET6;
  std::memcpy(&sender.sin6_addr, error.sender, sizeof error.sender);
  std::memset(from, 0, sizeof *from);
  std::memcpy(from, &sender, sizeof sender);
  return static_cast<ssize_t>(frame_icmp6_error(buffer, quoted_length, error));
}

// One report from the error queue: the framed ICMP error, 0 for a report
// that is none (consumed: a transmit stamp is kept in *transmit_ns, anything
// else skipped), -1 with errno (EAGAIN: queue empty).
ssize_t receive_error(int fd, AddressFamily family, std::uint8_t* buffer, std::size_t length,
                      sockaddr_storage* from, std::uint64_t* transmit_ns) {
  sockaddr_storage destination;
  std::memset(&destination, 0, sizeof destination);
  const std::size_t room = quoted_request_room(family);
  ReceivedMessage message;
  const ssize_t received =
      message.receive(fd, buffer + room, length - room, &destination, MSG_ERRQUEUE);
  if (received < 0) {
    return -1;
  }
  const StampControl stamp = read_stamp_control(message.message());
  if (stamp.transmit_report) {
    *transmit_ns = stamp.stamp_ns;
    return 0;
  }
  const Control control = read_control(message.message());
  if (!control.has_report) {
    return 0;
  }
  const std::size_t quoted_length = static_cast<std::size_t>(received);
  return is_ipv6(family) ? frame_reported_ipv6(buffer, quoted_length, control, destination, from)
                         : frame_reported_ipv4(buffer, quoted_length, control, destination, from);
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
// the time to live (hop limit) and type of service rebuild the header of
// every reply.
bool ask_for_reports(int fd, AddressFamily family) {
  if (is_ipv6(family)) {
    return set_flag(fd, IPPROTO_IPV6, IPV6_RECVERR) == 0 &&
           set_flag(fd, IPPROTO_IPV6, IPV6_RECVHOPLIMIT) == 0;
  }
  return set_flag(fd, IPPROTO_IP, IP_RECVERR) == 0 && set_flag(fd, IPPROTO_IP, IP_RECVTTL) == 0 &&
         set_flag(fd, IPPROTO_IP, IP_RECVTOS) == 0;
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

ssize_t datagram_socket_receive(int fd, AddressFamily family, std::uint8_t* buffer,
                                std::size_t length, sockaddr_storage* from,
                                std::uint64_t* transmit_ns, std::uint64_t* receive_ns) {
  if (length < quoted_request_room(family) + kIcmpHeaderBytes) {
    errno = EINVAL;
    return -1;
  }
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
      const ssize_t received = receive_error(fd, family, buffer, length, from, transmit_ns);
      if (received > 0) {
        return received;
      }
      if (received < 0) {
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
      const ssize_t received = receive_datagram(fd, family, buffer, length, from, receive_ns);
      if (received >= 0) {
        return received;
      }
      // EAGAIN, or the number of an error whose report is queued: the
      // next round takes the report.
    }
  }
  errno = EAGAIN;
  return -1;
}

}  // namespace vexmo
