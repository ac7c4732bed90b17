// Windows backend: Windows Sockets 2 and the Win32 kernel. Socket errors are
// already Windows Sockets numbers here.
#include "platform/platform.h"

#include <windows.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstring>

namespace vexmo {
namespace {

SOCKET native_socket(SocketHandle socket) {
  return static_cast<SOCKET>(socket);
}

sockaddr_in native_address(const SocketAddress& address) {
  sockaddr_in native;
  std::memset(&native, 0, sizeof native);
  native.sin_family = static_cast<ADDRESS_FAMILY>(address.family);
  native.sin_port = address.port;
  native.sin_addr.s_addr = address.address;
  return native;
}

int set_dword_option(SOCKET socket, int level, int name, std::uint32_t value) {
  const DWORD native = value;
  return setsockopt(socket, level, name, reinterpret_cast<const char*>(&native), sizeof native);
}

}  // namespace

void net_startup() {
  WSADATA data;
  WSAStartup(MAKEWORD(2, 2), &data);
}

void net_cleanup() {
  WSACleanup();
}

SocketHandle socket_open_icmp() {
  const SOCKET socket = ::socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
  return socket == INVALID_SOCKET ? kInvalidSocket : static_cast<SocketHandle>(socket);
}

void socket_close(SocketHandle socket) {
  if (socket != kInvalidSocket) {
    closesocket(native_socket(socket));
  }
}

int socket_set_option(SocketHandle socket, SocketOption option, std::uint32_t value) {
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
      return set_dword_option(native, IPPROTO_IP, IP_TOS, value);
    case SocketOption::dont_fragment:
      return set_dword_option(native, IPPROTO_IP, IP_DONTFRAGMENT, value);
  }
  return kSocketError;
}

int socket_accept_only_identifier(SocketHandle, std::uint16_t) {
  return 0;  // Windows Sockets has no filter for raw sockets
}

int socket_get_receive_timeout(SocketHandle socket, std::uint32_t* timeout_ms) {
  DWORD timeout = 0;
  int length = sizeof timeout;
  if (getsockopt(native_socket(socket), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<char*>(&timeout),
                 &length) != 0) {
    return kSocketError;
  }
  *timeout_ms = timeout;
  return 0;
}

std::int32_t socket_send_to(SocketHandle socket, const std::uint8_t* data, std::size_t length,
                            const SocketAddress& to) {
  const sockaddr_in native = native_address(to);
  return sendto(native_socket(socket), reinterpret_cast<const char*>(data),
                static_cast<int>(length), 0, reinterpret_cast<const sockaddr*>(&native),
                sizeof native);
}

std::int32_t socket_receive_from(SocketHandle socket, std::uint8_t* buffer, std::size_t length,
                                 SocketAddress* from) {
  sockaddr_in native = native_address(*from);
  int native_length = sizeof native;
  const int received =
      recvfrom(native_socket(socket), reinterpret_cast<char*>(buffer), static_cast<int>(length), 0,
               reinterpret_cast<sockaddr*>(&native), &native_length);
  if (received == SOCKET_ERROR) {
    return kSocketError;
  }
  from->family = kFamilyInet;
  from->port = native.sin_port;
  from->address = native.sin_addr.s_addr;
  return received;
}

std::int32_t socket_receive_waiting(SocketHandle socket, std::uint8_t* buffer, std::size_t length) {
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

int socket_last_error() {
  return WSAGetLastError();
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

std::uint32_t tick_count_ms() {
  return GetTickCount();
}

void sleep_ms(std::uint32_t milliseconds) {
  Sleep(milliseconds);
}

}  // namespace vexmo
