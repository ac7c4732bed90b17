// POSIX backend: BSD sockets, clock_gettime and nanosleep. The ICMP socket is
// a raw one where the process may open it, otherwise an ICMP datagram socket
// made to look like one (datagram_socket.h); which, is decided at open and
// kept in the handle. errno is translated in errors.cpp.
#include "platform/platform.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/native_sockets.h"
#include "platform/posix/datagram_socket.h"
#include "platform/posix/errors.h"
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
// Linux would otherwise set it by default (path MTU discovery).
int set_dont_fragment(int fd, bool on) {
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

SocketHandle socket_open_icmp(std::uint16_t* identifier) {
  SocketHandle handle;
  int fd = raw_socket_open();
  SocketKind kind = SocketKind::raw;
  if (fd < 0 && (errno == EPERM || errno == EACCES)) {
    // No CAP_NET_RAW: an ICMP datagram socket, where the system grants one.
    fd = datagram_socket_open(identifier);
    kind = SocketKind::datagram;
  }
  if (fd >= 0) {
    set_dont_fragment(fd, false);
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
    case SocketOption::receive_timeout_ms:
    case SocketOption::send_timeout_ms: {
      const timeval timeout = timeval_from_ms(value);
      const int name = option == SocketOption::receive_timeout_ms ? SO_RCVTIMEO : SO_SNDTIMEO;
      result = setsockopt(fd, SOL_SOCKET, name, &timeout, sizeof timeout);
      break;
    }
    case SocketOption::send_buffer_bytes:
      result = set_int_option(fd, SOL_SOCKET, SO_SNDBUF, static_cast<int>(value));
      break;
    case SocketOption::receive_buffer_bytes:
      result = set_int_option(fd, SOL_SOCKET, SO_RCVBUF, static_cast<int>(value));
      break;
    case SocketOption::time_to_live:
      result = set_int_option(fd, IPPROTO_IP, IP_TTL, static_cast<int>(value));
      break;
    case SocketOption::type_of_service:
      result = set_int_option(fd, IPPROTO_IP, IP_TOS, static_cast<int>(value));
      break;
    case SocketOption::dont_fragment:
      result = set_dont_fragment(fd, value != 0);
      break;
  }
  return result != 0 ? errno_outcome() : 0;
}

Outcome socket_get_receive_timeout(SocketHandle socket, std::uint32_t* timeout_ms) {
  timeval timeout;
  socklen_t length = sizeof timeout;
  if (getsockopt(descriptor(socket), SOL_SOCKET, SO_RCVTIMEO, &timeout, &length) != 0) {
    return errno_outcome();
  }
  *timeout_ms = ms_from_timeval(timeout);
  return 0;
}

Outcome socket_accept_only_identifier(SocketHandle socket, std::uint16_t identifier) {
  // An ICMP datagram socket is already given only the replies and errors
  // about its own identifier.
  if (socket.kind == SocketKind::datagram) {
    return 0;
  }
  return attach_identifier_filter(descriptor(socket), identifier) != 0 ? errno_outcome() : 0;
}

Outcome socket_send_to(SocketHandle socket, const std::uint8_t* data, std::size_t length,
                       const SocketAddress& to) {
  const sockaddr_in native = native_ipv4_address(to);
  const int fd = descriptor(socket);
  return count_or_error(socket.kind == SocketKind::datagram
                            ? datagram_socket_send(fd, data, length, native)
                            : raw_socket_send(fd, data, length, native));
}

Outcome socket_receive_from(SocketHandle socket, std::uint8_t* buffer, std::size_t length,
                            SocketAddress* from, KernelStamps* stamps) {
  sockaddr_in native;
  std::memset(&native, 0, sizeof native);
  const int fd = descriptor(socket);
  stamps->receive_ns = 0;
  const ssize_t received =
      socket.kind == SocketKind::datagram
          ? datagram_socket_receive(fd, buffer, length, &native, true, &stamps->transmit_ns,
                                    &stamps->receive_ns)
          : raw_socket_receive(fd, buffer, length, &native, &stamps->receive_ns);
  if (received < 0) {
    return errno_outcome();
  }
  *from = from_native_ipv4_address(native);
  return static_cast<Outcome>(received);
}

Outcome socket_take_queued(SocketHandle socket, std::uint8_t* buffer, std::size_t length) {
  const int fd = descriptor(socket);
  ssize_t received = 0;
  if (socket.kind == SocketKind::datagram) {
    // The error queue too: an ICMP error that came late is as stale as a
    // late reply.
    sockaddr_in ignored;
    std::uint64_t ignored_transmit = 0;
    std::uint64_t ignored_receive = 0;
    received = datagram_socket_receive(fd, buffer, length, &ignored, false, &ignored_transmit,
                                       &ignored_receive);
  } else {
    received = raw_socket_take_queued(fd, buffer, length);
  }
  return received < 0 ? 0 : static_cast<Outcome>(received);
}

std::uint64_t socket_take_transmit_stamp(SocketHandle socket, std::uint64_t not_before_ns) {
  return take_transmit_stamp(descriptor(socket), not_before_ns);
}

bool drop_elevated_privileges() {
  return give_up_elevated_identity();
}

std::uint32_t current_process_id() {
  return static_cast<std::uint32_t>(getpid());
}

std::uint64_t counter_now() {
  const timespec now = monotonic_now();
  return static_cast<std::uint64_t>(now.tv_sec) * 1000000000u +
         static_cast<std::uint64_t>(now.tv_nsec);
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

std::uint32_t tick_count_ms() {
  const timespec now = monotonic_now();
  const std::uint64_t ms = static_cast<std::uint64_t>(now.tv_sec) * 1000 +
                           static_cast<std::uint64_t>(now.tv_nsec) / 1000000;
  return static_cast<std::uint32_t>(ms);
}

void sleep_ms(std::uint32_t milliseconds) {
  timespec remaining;
  remaining.tv_sec = static_cast<time_t>(milliseconds / 1000);
  remaining.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
  while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
  }
}

}  // namespace vexmo
