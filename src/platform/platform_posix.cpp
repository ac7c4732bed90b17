// POSIX backend: BSD sockets, clock_gettime and nanosleep. errno values are
// translated into Windows Sockets numbers here and nowhere else. Without
// CAP_NET_RAW the ICMP socket is a datagram socket made to look like a raw
// one (posix_ping_socket.cpp); an elevated identity is given up as soon as
// the socket is open (posix_privileges.cpp).
#include "platform/platform_posix.h"
#include "platform/platform.h"
#include "platform/posix_ping_socket.h"
#include "platform/posix_privileges.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace vexmo {
namespace {

int g_last_error = 0;

void remember_errno() {
  g_last_error = winsock_error_from_errno(errno);
}

int descriptor(SocketHandle socket) {
  return static_cast<int>(static_cast<std::intptr_t>(socket));
}

sockaddr_in native_address(const SocketAddress& address) {
  sockaddr_in native;
  std::memset(&native, 0, sizeof native);
  native.sin_family = static_cast<sa_family_t>(address.family);
  native.sin_port = address.port;
  native.sin_addr.s_addr = address.address;
  return native;
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

}  // namespace

int winsock_error_from_errno(int error) {
  switch (error) {
    case EINTR:
      return 10004;
    case EBADF:
    case ENOTSOCK:
      return 10038;
    case EACCES:
    case EPERM:
      return 10013;
    case EFAULT:
      return 10014;
    case EINVAL:
      return 10022;
    case EMFILE:
      return 10024;
    case EAGAIN:
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
    case ETIMEDOUT:
      return 10060;
    case EINPROGRESS:
      return 10036;
    case EALREADY:
      return 10037;
    case EDESTADDRREQ:
      return 10039;
    case EMSGSIZE:
      return 10040;
    case EPROTOTYPE:
      return 10041;
    case ENOPROTOOPT:
      return 10042;
    case EPROTONOSUPPORT:
      return 10043;
    case EOPNOTSUPP:
      return 10045;
    case EAFNOSUPPORT:
      return 10047;
    case EADDRINUSE:
      return 10048;
    case EADDRNOTAVAIL:
      return 10049;
    case ENETDOWN:
      return 10050;
    case ENETUNREACH:
      return 10051;
    case ECONNABORTED:
      return 10053;
    case ECONNRESET:
      return 10054;
    case ENOBUFS:
    case ENOMEM:
      return 10055;
    case EISCONN:
      return 10056;
    case ENOTCONN:
      return 10057;
    case ECONNREFUSED:
      return 10061;
    case EHOSTDOWN:
      return 10064;
    case EHOSTUNREACH:
      return 10065;
    default:
      return error;
  }
}

void remember_socket_errno() {
  remember_errno();
}

timeval timeval_from_ms(std::uint32_t milliseconds) {
  timeval value;
  value.tv_sec = static_cast<time_t>(milliseconds / 1000);
  value.tv_usec = static_cast<suseconds_t>((milliseconds % 1000) * 1000);
  return value;
}

std::uint32_t ms_from_timeval(const timeval& value) {
  if (value.tv_sec < 0 || value.tv_usec < 0) {
    return 0;
  }
  const std::uint64_t ms = static_cast<std::uint64_t>(value.tv_sec) * 1000 +
                           (static_cast<std::uint64_t>(value.tv_usec) + 999) / 1000;
  return ms > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(ms);
}

void net_startup() {}

void net_cleanup() {}

SocketHandle socket_open_icmp() {
  int fd = socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
  if (fd < 0 && (errno == EPERM || errno == EACCES)) {
    // No CAP_NET_RAW: an ICMP datagram socket, where the system grants one.
    const int raw_error = errno;
    fd = ping_socket_open();
    if (fd < 0) {
      errno = raw_error;
    }
  }
  if (fd < 0) {
    remember_errno();
  } else {
    set_dont_fragment(fd, false);
  }
  // Set-uid root or file capabilities were needed for the socket alone.
  // Every option applied later works without them, and names are resolved
  // later still. Going on elevated when they cannot be given up is no
  // option: the process ends here, with status 1, before it does anything,
  // and says why rather than leaving the user with no output at all.
  if (!drop_elevated_privileges()) {
    std::printf("Can not give up elevated privileges.\n");
    std::exit(1);
  }
  return fd < 0 ? kInvalidSocket : static_cast<SocketHandle>(fd);
}

void socket_close(SocketHandle socket) {
  if (socket != kInvalidSocket) {
    ping_socket_forget(descriptor(socket));
    close(descriptor(socket));
  }
}

int socket_set_option(SocketHandle socket, SocketOption option, std::uint32_t value) {
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
  if (result != 0) {
    remember_errno();
    return kSocketError;
  }
  return 0;
}

int socket_get_receive_timeout(SocketHandle socket, std::uint32_t* timeout_ms) {
  timeval timeout;
  socklen_t length = sizeof timeout;
  if (getsockopt(descriptor(socket), SOL_SOCKET, SO_RCVTIMEO, &timeout, &length) != 0) {
    remember_errno();
    return kSocketError;
  }
  *timeout_ms = ms_from_timeval(timeout);
  return 0;
}

std::int32_t socket_send_to(SocketHandle socket, const std::uint8_t* data, std::size_t length,
                            const SocketAddress& to) {
  const sockaddr_in native = native_address(to);
  const int fd = descriptor(socket);
  const ssize_t sent =
      is_ping_socket(fd)
          ? ping_socket_send(fd, data, length, native)
          : sendto(fd, data, length, 0, reinterpret_cast<const sockaddr*>(&native), sizeof native);
  if (sent < 0) {
    remember_errno();
    return kSocketError;
  }
  return static_cast<std::int32_t>(sent);
}

std::int32_t socket_receive_from(SocketHandle socket, std::uint8_t* buffer, std::size_t length,
                                 SocketAddress* from) {
  sockaddr_in native = native_address(*from);
  socklen_t native_length = sizeof native;
  const int fd = descriptor(socket);
  const ssize_t received =
      is_ping_socket(fd)
          ? ping_socket_receive(fd, buffer, length, &native, true)
          : recvfrom(fd, buffer, length, 0, reinterpret_cast<sockaddr*>(&native), &native_length);
  if (received < 0) {
    remember_errno();
    return kSocketError;
  }
  from->family = kFamilyInet;
  from->port = native.sin_port;
  from->address = native.sin_addr.s_addr;
  return static_cast<std::int32_t>(received);
}

std::int32_t socket_receive_waiting(SocketHandle socket, std::uint8_t* buffer, std::size_t length) {
  const int fd = descriptor(socket);
  ssize_t received = 0;
  if (is_ping_socket(fd)) {
    // The error queue too: an ICMP error that came late is as stale as a
    // late reply.
    sockaddr_in ignored;
    received = ping_socket_receive(fd, buffer, length, &ignored, false);
  } else {
    received = recv(fd, buffer, length, MSG_DONTWAIT);
  }
  return received < 0 ? 0 : static_cast<std::int32_t>(received);
}

int socket_last_error() {
  return g_last_error;
}

bool resolve_name(const char* name, std::uint32_t* address) {
  addrinfo hints;
  std::memset(&hints, 0, sizeof hints);
  hints.ai_family = AF_INET;
  addrinfo* found = nullptr;
  if (getaddrinfo(name, nullptr, &hints, &found) != 0 || found == nullptr) {
    return false;
  }
  *address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr;
  freeaddrinfo(found);
  return true;
}

std::uint32_t parse_dotted_address(const char* text) {
  return inet_addr(text);
}

void format_dotted_address(std::uint32_t address, char (&text)[16]) {
  in_addr native;
  native.s_addr = address;
  if (inet_ntop(AF_INET, &native, text, sizeof text) == nullptr) {
    text[0] = '\0';
  }
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
