// Windows backend: Windows Sockets 2 and the Win32 kernel. Socket errors are
// already Windows Sockets numbers here.
#include "platform/native_sockets.h"
#include "platform/platform.h"
#include "platform/win32/interruptions.h"

#include <windows.h>

// After the socket headers, which it needs.
#include <mswsock.h>

#include <cstring>

#include "platform/received_record.h"
#include "platform/win32/control.h"

namespace vexmo {
namespace {

SOCKET native_socket(SocketHandle socket) {
  return static_cast<SOCKET>(socket.native);
}

HANDLE socket_event(SocketHandle socket) {
  return reinterpret_cast<HANDLE>(socket.event);
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

// WSARecvMsg is reached through a pointer the provider hands out; the same
// for every socket of the provider, so it is asked for once.
LPFN_WSARECVMSG receive_message_function(SOCKET socket) {
  static LPFN_WSARECVMSG function = nullptr;
  if (function == nullptr) {
    GUID id = WSAID_WSARECVMSG;
    DWORD returned = 0;
    LPFN_WSARECVMSG found = nullptr;
    if (WSAIoctl(socket, SIO_GET_EXTENSION_FUNCTION_POINTER, &id, sizeof id, &found, sizeof found,
                 &returned, nullptr, nullptr) == 0) {
      function = found;
    }
  }
  return function;
}

// An ICMPv6 message comes without its IPv6 header; its hop limit comes as
// control data (IPV6_HOPLIMIT), recorded beside the message.
Outcome receive_icmp6(SOCKET socket, std::uint8_t* buffer, std::size_t length, Received* record) {
  const LPFN_WSARECVMSG receive_message = receive_message_function(socket);
  if (receive_message == nullptr) {
    return last_error_outcome();
  }
  sockaddr_in6 native;
  std::memset(&native, 0, sizeof native);
  union {
    WSACMSGHDR align;
    char bytes[WSA_CMSG_SPACE(sizeof(INT)) + WSA_CMSG_SPACE(sizeof(IN6_PKTINFO))];
  } control;
  WSABUF data;
  data.buf = reinterpret_cast<char*>(buffer);
  data.len = static_cast<ULONG>(length);
  WSAMSG message;
  std::memset(&message, 0, sizeof message);
  message.name = reinterpret_cast<sockaddr*>(&native);
  message.namelen = sizeof native;
  message.lpBuffers = &data;
  message.dwBufferCount = 1;
  message.Control.buf = control.bytes;
  message.Control.len = sizeof control.bytes;
  DWORD received = 0;
  if (receive_message(socket, &message, &received, nullptr, nullptr) == SOCKET_ERROR) {
    return last_error_outcome();
  }
  record->from = from_native_ipv6_address(native);
  read_bare_message(buffer, received, hop_limit_from_control(control.bytes, message.Control.len),
                    record);
  return static_cast<Outcome>(received);
}

int ipv4_or_ipv6(const SocketHandle& socket, int ipv4, int ipv6) {
  return socket.family == AddressFamily::ipv6 ? ipv6 : ipv4;
}

}  // namespace

void net_startup() {
  WSADATA data;
  WSAStartup(MAKEWORD(2, 2), &data);
}

void net_cleanup() {
  WSACleanup();
}

// ICMPv6 checksum: the documentation of Windows raw sockets puts ICMPv6
// (protocol 58) among the protocols the provider knows, for which the stack
// builds the IP header; it does not say in so many words who computes the
// ICMPv6 checksum. RFC 3542 (3.1), whose IPv6 socket options Windows
// implements, has the stack compute it on every ICMPv6 raw socket (and
// refuse IPV6_CHECKSUM there); vexmo relies on that and sends the field as
// 0. It could not be checked here: Wine has no ICMPv6 sockets.
SocketHandle socket_open_icmp(AddressFamily family, std::uint16_t*) {
  SocketHandle handle;
  handle.family = family;
  const SOCKET socket = family == AddressFamily::ipv6 ? ::socket(AF_INET6, SOCK_RAW, IPPROTO_ICMPV6)
                                                      : ::socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
  if (socket == INVALID_SOCKET) {
    handle.refused_for_privilege = WSAGetLastError() == WSAEACCES;
    return handle;
  }
  // The hop limit of every received message, as control data of WSARecvMsg.
  if (family == AddressFamily::ipv6 &&
      set_dword_option(socket, IPPROTO_IPV6, IPV6_HOPLIMIT, 1) != 0) {
    const int error = WSAGetLastError();
    closesocket(socket);
    WSASetLastError(error);
    return handle;
  }
  // The wait watches this event beside the interruptions'. Auto-reset: the
  // wait that it ends resets it, and the receive that follows sets it again
  // when more is queued (or when more comes later), so no arrival is missed
  // and nothing but the receive comes between the wake-up and the receive
  // stamp. The socket is non-blocking from here on.
  const HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (event == nullptr || WSAEventSelect(socket, event, FD_READ) != 0) {
    const int error = event == nullptr ? WSA_NOT_ENOUGH_MEMORY : WSAGetLastError();
    if (event != nullptr) {
      CloseHandle(event);
    }
    closesocket(socket);
    WSASetLastError(error);
    return handle;
  }
  handle.native = static_cast<std::uintptr_t>(socket);
  handle.kind = SocketKind::raw;
  handle.event = reinterpret_cast<std::uintptr_t>(event);
  return handle;
}

void socket_close(SocketHandle socket) {
  if (socket.kind != SocketKind::none) {
    closesocket(native_socket(socket));
    CloseHandle(socket_event(socket));
  }
}

Outcome socket_set_option(SocketHandle socket, SocketOption option, std::uint32_t value) {
  const SOCKET native = native_socket(socket);
  switch (option) {
    case SocketOption::send_timeout_ms:
      return set_dword_option(native, SOL_SOCKET, SO_SNDTIMEO, value);
    case SocketOption::send_buffer_bytes:
      return set_dword_option(native, SOL_SOCKET, SO_SNDBUF, value);
    case SocketOption::receive_buffer_bytes:
      return set_dword_option(native, SOL_SOCKET, SO_RCVBUF, value);
    case SocketOption::time_to_live:
      return set_dword_option(native, ipv4_or_ipv6(socket, IPPROTO_IP, IPPROTO_IPV6),
                              ipv4_or_ipv6(socket, IP_TTL, IPV6_UNICAST_HOPS), value);
    case SocketOption::type_of_service:
      // Stock Windows ignores this unless the DisableUserTOSSetting
      // registry value is 0; the call still succeeds.
      return set_dword_option(native, ipv4_or_ipv6(socket, IPPROTO_IP, IPPROTO_IPV6),
                              ipv4_or_ipv6(socket, IP_TOS, IPV6_TCLASS), value);
    case SocketOption::dont_fragment:
      return set_dword_option(native, ipv4_or_ipv6(socket, IPPROTO_IP, IPPROTO_IPV6),
                              ipv4_or_ipv6(socket, IP_DONTFRAGMENT, IPV6_DONTFRAG), value);
  }
  return -WSAEINVAL;
}

Outcome socket_accept_only_identifier(SocketHandle, std::uint16_t) {
  return 0;  // Windows Sockets has no filter for raw sockets
}

Outcome socket_send_to(SocketHandle socket, const std::uint8_t* data, std::size_t length,
                       const SocketAddress& to) {
  sockaddr_storage native;
  const int native_length = native_address(to, &native);
  const SOCKET s = native_socket(socket);
  const auto send_once = [&] {
    return sendto(s, reinterpret_cast<const char*>(data), static_cast<int>(length), 0,
                  reinterpret_cast<const sockaddr*>(&native), native_length);
  };
  int sent = send_once();
  if (sent == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK) {
    // The socket is non-blocking for the wait's event: wait for room as a
    // blocking send would, for at most the send timeout (0: no limit).
    // A Ctrl-C ends it as it ends a wait for the reply.
    DWORD timeout_ms = 0;
    int option_length = sizeof timeout_ms;
    getsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<char*>(&timeout_ms), &option_length);
    const WaitEnd room = wait_for_room(s, timeout_ms);
    if (room == WaitEnd::elapsed) {
      return -WSAETIMEDOUT;
    }
    if (room == WaitEnd::interrupted) {
      return -WSAEINTR;
    }
    sent = room == WaitEnd::failed ? SOCKET_ERROR : send_once();
  }
  return sent == SOCKET_ERROR ? last_error_outcome() : sent;
}

WaitEnd socket_wait(SocketHandle socket, std::uint32_t timeout_ms, Outcome* failure) {
  if (socket.kind == SocketKind::none) {
    return WaitEnd::ready;
  }
  const WaitEnd end = wait_for_event(socket_event(socket), timeout_ms);
  if (end == WaitEnd::failed) {
    *failure = -winsock_error_of_wait(GetLastError());
  }
  return end;
}

// The performance counter times both ends here. Windows 10 2004 and later
// offer software receive stamps (and, with capable drivers, transmit stamps)
// through SIO_TIMESTAMPING on UDP sockets; raw ICMP sockets and older
// systems have none, so the stamps stay 0 and the counter's figure stands.
Outcome socket_receive_queued(SocketHandle socket, std::uint8_t* buffer, std::size_t length,
                              Received* received) {
  *received = Received{};
  received->family = socket.family;
  if (socket.family == AddressFamily::ipv6) {
    return receive_icmp6(native_socket(socket), buffer, length, received);
  }
  sockaddr_in native;
  std::memset(&native, 0, sizeof native);
  int native_length = sizeof native;
  const int count =
      recvfrom(native_socket(socket), reinterpret_cast<char*>(buffer), static_cast<int>(length), 0,
               reinterpret_cast<sockaddr*>(&native), &native_length);
  if (count == SOCKET_ERROR) {
    return last_error_outcome();  // WSAEWOULDBLOCK when nothing is queued
  }
  received->from = from_native_ipv4_address(native);
  // Received with its IPv4 header.
  read_ipv4_datagram(buffer, static_cast<std::size_t>(count), received);
  return count;
}

std::uint64_t socket_take_transmit_stamp(SocketHandle, std::uint64_t) {
  return 0;
}

bool drop_elevated_privileges() {
  return true;  // an elevated Windows process has no narrower identity to return to
}

const char* no_socket_hint() {
  return "vexmo: no ICMP socket: raw sockets need an elevated prompt (Run as administrator); "
         "see Privileges in the README";
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

bool output_is_utf8() {
  return GetConsoleOutputCP() == CP_UTF8;
}

}  // namespace vexmo
