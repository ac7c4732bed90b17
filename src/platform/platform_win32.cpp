// Windows backend: Windows Sockets 2 and the Win32 kernel. Socket errors are
// already Windows Sockets numbers here.
#include "platform/native_sockets.h"
#include "platform/platform.h"

#include <windows.h>

#include <cstring>

namespace vexmo {
namespace {

SOCKET native_socket(SocketHandle socket) {
  return static_cast<SOCKET>(socket.native);
}

Outcome last_error_outcome() {
  return -WSAGetLastError();
}

Outcome set_dword_option(SOCKET socket, int level, int name, std::uint32_t value) {
  const DWORD native = value;
  return setsockopt(socket, level, name, reinterpret_cast<const char*>(&native), sizeof native) ==
                 SOCKET_ERROR
             ? last_error_outcome()
             : 0;
}

}  // namespace

void net_startup() {
  WSADATA data;
  WSAStartup(MAKEWORD(2, 2), &data);
}

void net_cleanup() {
  WSACleanup();
}

SocketHandle socket_open_icmp(std::uint16_t*) {
  SocketHandle handle;
  const SOCKET socket = ::socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
  if (socket != INVALID_SOCKET) {
    handle.native = static_cast<std::uintptr_t>(socket);
    handle.kind = SocketKind::raw;
  }
  return handle;
}

void socket_close(SocketHandle socket) {
  if (socket.kind != SocketKind::none) {
    closesocket(native_socket(socket));
  }
}

Outcome socket_set_option(SocketHandle socket, SocketOption option, std::uint32_t value) {
  const SOCKET native = native_socket(socket);
  switch (option) {
    case SocketOption::receive_timeout_ms:
      return set_dword_option(native, SOL_SOCKET, SO_RCVTIMEO, value);
    case SocketOption::send_timeout_ms:
      return set_dword_option(native, SOL_SOCKET, SO_SNDTIMEO, value);
    case SocketOption::send_buffer_bytes:
      return set_dword_option(native, SOL_SOCKET, SO_SNDBUF, value);
    case SocketOption::receive_buffer_bytes:
      return set_dword_option(native, SOL_SOCKET, SO_RCVBUF, value);
    case SocketOption::time_to_live:
      return set_dword_option(native, IPPROTO_IP, IP_TTL, value);
    case SocketOption::type_of_service:
      // Stock Windows ignores this unless the DisableUserTOSSetting
      // registry value is 0; the call still succeeds.
      return set_dword_option(native, IPPROTO_IP, IP_TOS, value);
    case SocketOption::dont_fragment:
      return set_dword_option(native, IPPROTO_IP, IP_DONTFRAGMENT, value);
  }
  return -WSAEINVAL;
}

Outcome socket_accept_only_identifier(SocketHandle, std::uint16_t) {
  return 0;  // Windows Sockets has no filter for raw sockets
}

Outcome socket_get_receive_timeout(SocketHandle socket, std::uint32_t* timeout_ms) {
  DWORD timeout = 0;
  int length = sizeof timeout;
  if (getsockopt(native_socket(socket), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<char*>(&timeout),
                 &length) != 0) {
    return last_error_outcome();
  }
  *timeout_ms = timeout;
  return 0;
}

Outcome socket_send_to(SocketHandle socket, const std::uint8_t* data, std::size_t length,
                       const SocketAddress& to) {
  const sockaddr_in native = native_ipv4_address(to);
  const int sent =
      sendto(native_socket(socket), reinterpret_cast<const char*>(data), static_cast<int>(length),
             0, reinterpret_cast<const sockaddr*>(&native), sizeof native);
  return sent == SOCKET_ERROR ? last_error_outcome() : sent;
}

// The performance counter times both ends here. Windows 10 2004 and later
// offer software receive stamps (and, with capable drivers, transmit stamps)
// through SIO_TIMESTAMPING on UDP sockets; raw ICMP sockets and older
// systems have none, so the stamps stay 0 and the counter's figure stands.
Outcome socket_receive_from(SocketHandle socket, std::uint8_t* buffer, std::size_t length,
                            SocketAddress* from, KernelStamps* stamps) {
  stamps->receive_ns = 0;
  sockaddr_in native;
  std::memset(&native, 0, sizeof native);
  int native_length = sizeof native;
  const int received =
      recvfrom(native_socket(socket), reinterpret_cast<char*>(buffer), static_cast<int>(length), 0,
               reinterpret_cast<sockaddr*>(&native), &native_length);
  if (received == SOCKET_ERROR) {
    return last_error_outcome();
  }
  *from = from_native_ipv4_address(native);
  return received;
}

Outcome socket_take_queued(SocketHandle socket, std::uint8_t* buffer, std::size_t length) {
  // A zero timeout makes select a poll; the socket itself stays blocking.
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(native_socket(socket), &readable);
  timeval no_wait = {0, 0};
  if (select(0, &readable, nullptr, nullptr, &no_wait) != 1) {
    return 0;
  }
  const int received =
      recv(native_socket(socket), reinterpret_cast<char*>(buffer), static_cast<int>(length), 0);
  return received == SOCKET_ERROR ? 0 : received;
}

std::uint64_t socket_take_transmit_stamp(SocketHandle, std::uint64_t) {
  return 0;
}

bool drop_elevated_privileges() {
  return true;  // an elevated Windows process has no narrower identity to return to
}

std::uint32_t current_process_id() {
  return GetCurrentProcessId();
}

std::uint64_t counter_now() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return static_cast<std::uint64_t>(now.QuadPart);
}

std::uint64_t counter_frequency() {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return static_cast<std::uint64_t>(frequency.QuadPart);
}

std::uint64_t wall_clock_ns() {
  // 100 ns units since 1601.
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  const std::uint64_t ticks =
      (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  return (ticks - 116444736000000000ull) * 100u;
}

std::uint32_t tick_count_ms() {
  return GetTickCount();
}

void sleep_ms(std::uint32_t milliseconds) {
  Sleep(milliseconds);
}

}  // namespace vexmo
