// A kernel-side filter for the raw ICMP socket (Linux classic BPF). A raw
// socket is handed every ICMP datagram that reaches the host; under a flood
// of other traffic its receive buffer fills and the answer we wait for is
// dropped before the wait ever sees it. The filter keeps on the socket only
// datagrams whose identifier could be ours, read as the wait reads it, so it
// never holds back a datagram the wait would take.
#ifndef VEXMO_PLATFORM_POSIX_SOCKET_FILTER_H
#define VEXMO_PLATFORM_POSIX_SOCKET_FILTER_H

#include <cstddef>
#include <cstdint>

#if defined(__linux__)
#include <linux/filter.h>
#endif

#include "common/address.h"

namespace vexmo {

#if defined(__linux__)
constexpr std::size_t kIdentifierFilterLength = 23;

// The program, for a datagram that starts with its IPv4 header (as a raw
// socket receives it; without a valid header, the datagram is taken as a
// bare ICMP message, as the wait takes it): keep it whole when the
// identifier stored least significant byte first, for error types in the
// quoted request (behind a quoted header of the length its first byte
// gives) and for every other type at its own place, is identifier; drop it
// otherwise, and when that field lies past its end.
void build_identifier_filter(std::uint16_t identifier,
                             sock_filter (&program)[kIdentifierFilterLength]);

constexpr std::size_t kIdentifier6FilterLength = 13;

// The same for an ICMPv6 raw socket, whose messages come without their IPv6
// header: the identifier of error types 1 to 4 at offset 52 (in the quoted
// request; at 60 when the quote begins with a Fragment header), of every
// other type at offset 4.
void build_identifier6_filter(std::uint16_t identifier,
                              sock_filter (&program)[kIdentifier6FilterLength]);
#endif

// Attaches the family's program to the raw socket fd: 0, or -1 with errno.
// Does nothing where the system has no such filter (or in a build without
// it).
int attach_identifier_filter(int fd, AddressFamily family, std::uint16_t identifier);

// Lets through an ICMPv6 raw socket only the types that can answer a
// request: echo replies and error messages 1 to 4 (ICMP6_FILTER, RFC 3542).
// 0, or -1 with errno.
int attach_icmp6_type_filter(int fd);

}  // namespace vexmo

#endif  // VEXMO_PLATFORM_POSIX_SOCKET_FILTER_H
