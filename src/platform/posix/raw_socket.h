// The raw ICMP socket of either family. IPv4: received datagrams start with
// their IPv4 header, which the receive reads into the record. IPv6: the
// kernel fills in the ICMPv6 checksum of what is sent (RFC 3542), sees only
// echo replies and error messages, and hands each over without its header,
// the hop limit beside it.
// Every call returns -1 with errno set on failure, as the system calls do.
#ifndef VEXMO_PLATFORM_POSIX_RAW_SOCKET_H
#define VEXMO_PLATFORM_POSIX_RAW_SOCKET_H

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>

#include "common/address.h"
#include "platform/platform.h"

namespace vexmo {

int raw_socket_open(AddressFamily family);
ssize_t raw_socket_send(int fd, const std::uint8_t* data, std::size_t length, const sockaddr* to,
                        socklen_t to_length);
// Receives into buffer and records what came in *received (whose family is
// the socket's), with the kernel's arrival stamp: the byte count, or -1
// with errno. Never blocks: fails with EAGAIN when nothing is queued.
ssize_t raw_socket_receive(int fd, std::uint8_t* buffer, std::size_t length, Received* received);

}  // namespace vexmo

#endif  // VEXMO_PLATFORM_POSIX_RAW_SOCKET_H
