// The few operating-system services vexmo needs. One implementation per
// platform (platform_win32.cpp, platform_posix.cpp); the build links one.
// Everything above this header is portable and free of system headers.
//
// Socket errors are reported in Windows Sockets numbering on every platform,
// so that the reports print the same number for the same failure everywhere.
#ifndef VEXMO_PLATFORM_PLATFORM_H
#define VEXMO_PLATFORM_PLATFORM_H

#include <cstddef>
#include <cstdint>

namespace vexmo {

// A socket as the platform knows it: a SOCKET on Windows, a descriptor on POSIX.
using SocketHandle = std::uintptr_t;
constexpr SocketHandle kInvalidSocket = ~static_cast<SocketHandle>(0);

// Returned by the send and receive calls when they fail (then see
// socket_last_error), as SOCKET_ERROR is.
constexpr std::int32_t kSocketError = -1;

// IPv4 socket address in a layout of our own; the platform converts it to and
// from its sockaddr_in. Address and port are in network byte order.
struct SocketAddress {
  std::uint16_t family;
  std::uint16_t port;
  std::uint32_t address;
};
constexpr std::uint16_t kFamilyInet = 2;

// Socket options the transport sets; values are passed as 32-bit integers.
enum class SocketOption {
  receive_timeout_ms,
  send_timeout_ms,
  send_buffer_bytes,
  receive_buffer_bytes,
  time_to_live,
  type_of_service,
  dont_fragment,
};

// Socket library start-up and shut-down (no-ops where there is no library).
void net_startup();
void net_cleanup();

// A raw IPv4 ICMP socket whose received datagrams include their IPv4 header,
// or kInvalidSocket.
SocketHandle socket_open_icmp();
void socket_close(SocketHandle socket);

// 0 on success, kSocketError on failure.
int socket_set_option(SocketHandle socket, SocketOption option, std::uint32_t value);

// Reads the receive timeout back in milliseconds; 0 on success, kSocketError
// on failure (then *timeout_ms is left unchanged).
int socket_get_receive_timeout(SocketHandle socket, std::uint32_t* timeout_ms);

// Keeps from the socket, where the system can filter in its kernel, every
// datagram that cannot answer a request carrying identifier (see
// is_answer): under a flood of other traffic the receive buffer then still
// has room for the answer. Where it cannot, or where the kernel already
// hands the socket only its own replies, this does nothing. 0 on success,
// kSocketError on failure.
int socket_accept_only_identifier(SocketHandle socket, std::uint16_t identifier);

// Sends one datagram; the byte count or kSocketError.
std::int32_t socket_send_to(SocketHandle socket, const std::uint8_t* data, std::size_t length,
                            const SocketAddress& to);

// Receives one whole datagram, blocking for at most the receive timeout;
// the byte count or kSocketError. A receive that ends by its timeout fails
// with 10060.
std::int32_t socket_receive_from(SocketHandle socket, std::uint8_t* buffer, std::size_t length,
                                 SocketAddress* from);

// Receives one datagram only if one is already waiting; 0 when none is (or on
// failure), otherwise the byte count.
std::int32_t socket_receive_waiting(SocketHandle socket, std::uint8_t* buffer, std::size_t length);

// The Windows Sockets number of the last failed socket call.
int socket_last_error();

// Name lookup: the first IPv4 address of a host name (network order).
bool resolve_name(const char* name, std::uint32_t* address);

// Dotted text to an address as inet_addr converts it (a, a.b, a.b.c, a.b.c.d,
// each part decimal, octal or hexadecimal); 0xFFFFFFFF when it cannot.
std::uint32_t parse_dotted_address(const char* text);

// The dotted form of an address, at most 15 characters and the terminator.
void format_dotted_address(std::uint32_t address, char (&text)[16]);

std::uint32_t current_process_id();

// Monotonic high-resolution counter and its fixed frequency in ticks per second.
std::uint64_t counter_now();
std::uint64_t counter_frequency();

// Millisecond tick count that wraps at 2^32.
std::uint32_t tick_count_ms();

void sleep_ms(std::uint32_t milliseconds);

}  // namespace vexmo

#endif  // VEXMO_PLATFORM_PLATFORM_H
