// POSIX backend: BSD sockets, poll and clock_gettime. The ICMP socket is
// a raw one where the process may open it, otherwise an ICMP datagram socket
// (datagram_socket.h); which, is decided at open and kept in the handle.
// errno is translated in errors.cpp.
#include "platform/platform.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "common/locale_name.h"
#include "common/winsock_errors.h"
#include "platform/native_sockets.h"
#include "platform/posix/datagram_socket.h"
#include "platform/posix/errors.h"
#include "platform/posix/interruptions.h"
#include "platform/posix/kernel_stamps.h"
#include "platform/posix/privileges.h"
#include "platform/posix/raw_socket.h"
#include "platform/posix/socket_filter.h"
#include "platform/posix/timeouts.h"

namespace vexmo {
namespace {

int descriptor(SocketHandle socket) {
  return static_cast<int>(static_cast<std::intptr_t>(socket.native));
}

int set_int_option(int fd, int level, int name, int value) {
  return setsockopt(fd, level, name, &value, sizeof value);
}

// Datagrams carry the don't-fragment bit only when asked to, as on Windows;
// Linux would otherwise set it by default (path MTU discovery). IPv6 routers
// never fragment; IPV6_DONTFRAG keeps the local stack from fragmenting too.
int set_dont_fragment(int fd, AddressFamily family, bool on) {
  if (family == AddressFamily::ipv6) {
    return set_int_option(fd, IPPROTO_IPV6, IPV6_DONTFRAG, on ? 1 : 0);
  }
#if defined(IP_MTU_DISCOVER)
  return set_int_option(fd, IPPROTO_IP, IP_MTU_DISCOVER, on ? IP_PMTUDISC_DO : IP_PMTUDISC_DONT);
#elif defined(IP_DONTFRAG)
  return set_int_option(fd, IPPROTO_IP, IP_DONTFRAG, on ? 1 : 0);
#else
  (void)fd;
  (void)on;
  errno = ENOPROTOOPT;
  return -1;
#endif
}

timespec monotonic_now() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now;
}

Outcome count_or_error(ssize_t result) {
  return result < 0 ? errno_outcome() : static_cast<Outcome>(result);
}

}  // namespace

void net_startup() {}

void net_cleanup() {}

SocketHandle socket_open_icmp(AddressFamily family, std::uint16_t* identifier) {
  SocketHandle handle;
  handle.family = family;
  int fd = raw_socket_open(family);
  SocketKind kind = SocketKind::raw;
  if (fd < 0 && (errno == EPERM || errno == EACCES)) {
    // No CAP_NET_RAW: an ICMP datagram socket, where the system grants one.
    fd = datagram_socket_open(family, identifier);
    kind = SocketKind::datagram;
    handle.refused_for_privilege = fd < 0 && (errno == EPERM || errno == EACCES);
  }
  if (fd >= 0) {
    // IPv6 keeps the system's setting unless -f asks.
    if (family == AddressFamily::ipv4) {
      set_dont_fragment(fd, family, false);
    }
    enable_kernel_stamps(fd);
    handle.native = static_cast<std::uintptr_t>(fd);
    handle.kind = kind;
  }
  return handle;
}

void socket_close(SocketHandle socket) {
  if (socket.kind != SocketKind::none) {
    close(descriptor(socket));
  }
}

Outcome socket_set_option(SocketHandle socket, SocketOption option, std::uint32_t value) {
  const int fd = descriptor(socket);
  int result = -1;
  switch (option) {
    case SocketOption::send_timeout_ms: {
      const timeval timeout = timeval_from_ms(value);
      result = setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
      break;
    }
    case SocketOption::send_buffer_bytes:
      result = set_int_option(fd, SOL_SOCKET, SO_SNDBUF, static_cast<int>(value));
      break;
    case SocketOption::receive_buffer_bytes:
      result = set_int_option(fd, SOL_SOCKET, SO_RCVBUF, static_cast<int>(value));
      break;
    case SocketOption::time_to_live:
      result = socket.family == AddressFamily::ipv6
                   ? set_int_option(fd, IPPROTO_IPV6, IPV6_UNICAST_HOPS, static_cast<int>(value))
                   : set_int_option(fd, IPPROTO_IP, IP_TTL, static_cast<int>(value));
      break;
    case SocketOption::type_of_service:
      result = socket.family == AddressFamily::ipv6
                   ? set_int_option(fd, IPPROTO_IPV6, IPV6_TCLASS, static_cast<int>(value))
                   : set_int_option(fd, IPPROTO_IP, IP_TOS, static_cast<int>(value));
      break;
    case SocketOption::dont_fragment:
      result = set_dont_fragment(fd, socket.family, value != 0);
      break;
  }
  return result != 0 ? errno_outcome() : 0;
}

Outcome socket_accept_only_identifier(SocketHandle socket, std::uint16_t identifier) {
  // An ICMP datagram socket is already given only the replies and errors
  // about its own identifier.
  if (socket.kind == SocketKind::datagram) {
    return 0;
  }
  return attach_identifier_filter(descriptor(socket), socket.family, identifier) != 0
             ? errno_outcome()
             : 0;
}

Outcome socket_send_to(SocketHandle socket, const std::uint8_t* data, std::size_t length,
                       const SocketAddress& to) {
  sockaddr_storage native;
  const socklen_t native_length = static_cast<socklen_t>(native_address(to, &native));
  const sockaddr* address = reinterpret_cast<const sockaddr*>(&native);
  const int fd = descriptor(socket);
  return count_or_error(socket.kind == SocketKind::datagram
                            ? datagram_socket_send(fd, data, length, address, native_length)
                            : raw_socket_send(fd, data, length, address, native_length));
}

WaitEnd socket_wait(SocketHandle socket, std::uint32_t timeout_ms, Outcome* failure) {
  if (socket.kind == SocketKind::none) {
    return WaitEnd::ready;
  }
  const WaitEnd end = wait_for_descriptor(descriptor(socket), timeout_ms);
  if (end == WaitEnd::failed) {
    *failure = errno_outcome();
  }
  return end;
}

Outcome socket_receive_queued(SocketHandle socket, std::uint8_t* buffer, std::size_t length,
                              Received* received) {
  const int fd = descriptor(socket);
  *received = Received{};
  received->family = socket.family;
  ssize_t count = -1;
  if (socket.kind == SocketKind::datagram) {
    // The error queue too: an ICMP error about a request is an answer.
    count = datagram_socket_receive(fd, buffer, length, received);
  } else {
    // A transmit stamp queued on the error queue makes poll report the
    // socket again and again until it is taken: taken here, where the
    // round trip wants it.
    received->stamps.transmit_ns = take_transmit_stamp(fd, 0);
    count = raw_socket_receive(fd, buffer, length, received);
  }
  if (count < 0) {
    // Nothing queued after all; a signal cannot cut short a call that does
    // not block, but is no failure either.
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
      return -kErrorWouldBlock;
    }
    return errno_outcome();
  }
  return static_cast<Outcome>(count);
}

std::uint64_t socket_take_transmit_stamp(SocketHandle socket, std::uint64_t not_before_ns) {
  return take_transmit_stamp(descriptor(socket), not_before_ns);
}

bool drop_elevated_privileges() {
  return give_up_elevated_identity();
}

const char* no_socket_hint() {
  return "vexmo: no ICMP socket: run as root, give the program the capability "
         "(setcap cap_net_raw+ep), or admit your group in net.ipv4.ping_group_range; "
         "see Privileges in the README";
}

std::uint32_t current_process_id() {
  return static_cast<std::uint32_t>(getpid());
}

std::uint64_t counter_now() {
  const timespec now = monotonic_now();
  return static_cast<std::uint64_t>(now.tv_sec) * 1000000000u +
         static_cast<std::uint64_t>(now.tv_nsec);
}

bool output_is_utf8() {
  return utf8_locale(std::getenv("LC_ALL"), std::getenv("LC_CTYPE"), std::getenv("LANG"));
}

std::uint64_t counter_frequency() {
  return 1000000000u;
}

std::uint64_t wall_clock_ns() {
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1000000000u +
         static_cast<std::uint64_t>(now.tv_nsec);
}

}  // namespace vexmo
