// The system's socket headers and the conversions both backends share.
// Private to src/platform.
#ifndef VEXMO_PLATFORM_NATIVE_SOCKETS_H
#define VEXMO_PLATFORM_NATIVE_SOCKETS_H

#if defined(_WIN32)
// inet_addr is kept on purpose: inet_pton does not take the short forms
// (a, a.b, a.b.c) or octal and hexadecimal parts.
#define _WINSOCK_DEPRECATED_NO_WARNINGS
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

#include "common/address.h"

namespace vexmo {

sockaddr_in native_ipv4_address(const SocketAddress& address);
SocketAddress from_native_ipv4_address(const sockaddr_in& native);
sockaddr_in6 native_ipv6_address(const SocketAddress& address);
SocketAddress from_native_ipv6_address(const sockaddr_in6& native);

// Either family: fills *native and returns its length.
int native_address(const SocketAddress& address, sockaddr_storage* native);
// A sockaddr of either family (another family gives an empty IPv4 address).
SocketAddress from_native_address(const sockaddr_storage& native);

// The lookup itself, blocking as long as the resolver takes.
bool lookup_first_address(const char* name, AddressFamily family, SocketAddress* address);

}  // namespace vexmo

#endif  // VEXMO_PLATFORM_NATIVE_SOCKETS_H
