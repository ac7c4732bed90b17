// The raw ICMP socket of either family. IPv4: received datagrams start with
// their IPv4 header. IPv6: the kernel fills in the ICMPv6 checksum of what
// is sent (RFC 3542), sees only echo replies and error messages, and every
// received message gets an IPv6 header in front with the hop limit the
// kernel reports beside it (ipv6_framing.h).
// Every call returns -1 with errno set on failure, as the system calls do.
#ifndef VEXMO_PLATFORM_POSIX_RAW_SOCKET_H
#define VEXMO_PLATFORM_POSIX_RAW_SOCKET_H

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>

#include "common/address.h"

namespace vexmo {

int raw_socket_open(AddressFamily family);
ssize_t raw_socket_send(int fd, const std::uint8_t* data, std::size_t length, const sockaddr* to,
                        socklen_t to_length);
// Never blocks: fails with EAGAIN when nothing is queued. *receive_ns is the
// kernel's arrival stamp, or 0.
ssize_t raw_socket_receive(int fd, AddressFamily family, std::uint8_t* buffer, std::size_t length,
                           sockaddr_storage* from, std::uint64_t* receive_ns);

}  // namespace vexmo

#endif  // VEXMO_PLATFORM_POSIX_RAW_SOCKET_H
