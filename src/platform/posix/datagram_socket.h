// ICMP datagram sockets, which Linux grants to users without CAP_NET_RAW
// whose group lies in net.ipv4.ping_group_range. They differ from a raw
// socket in three ways:
//  - the kernel writes the socket's local port into the identifier of every
//    request, so the socket is bound to the identifier the requests carry;
//  - replies arrive without their IP header, the time to live or hop limit
//    beside them;
//  - ICMP errors about our requests arrive on the socket's error queue as a
//    report plus the quoted request, recorded as such (platform.h:
//    Received; error_queue.h).
// Every call returns -1 with errno set on failure, as the system calls do.
#ifndef VEXMO_PLATFORM_POSIX_DATAGRAM_SOCKET_H
#define VEXMO_PLATFORM_POSIX_DATAGRAM_SOCKET_H

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>

#include "common/address.h"
#include "platform/platform.h"

namespace vexmo {

// Opens the socket and binds it to *identifier, which no other socket may
// share: when that identifier is 0 or taken, the kernel chooses one and
// *identifier becomes it. Where the system has no such sockets, fails with
// EPROTONOSUPPORT.
int datagram_socket_open(AddressFamily family, std::uint16_t* identifier);

ssize_t datagram_socket_send(int fd, const std::uint8_t* data, std::size_t length,
                             const sockaddr* to, socklen_t to_length);

// Receives one message or error report, from the error queue or the
// receive queue, never blocking, into buffer, and records it in *received
// (whose family is the socket's): the byte count, or -1 with errno: EAGAIN
// when nothing is queued (or nothing but reports that are no ICMP errors,
// which are consumed). A transmit stamp met in the error queue on the way
// is left in received->stamps.transmit_ns.
ssize_t datagram_socket_receive(int fd, std::uint8_t* buffer, std::size_t length,
                                Received* received);

// The local port, as stored in sin_port, that makes the kernel write
// identifier (as the request stores it, least significant byte first) onto
// the wire unchanged; and back.
std::uint16_t port_for_identifier(std::uint16_t identifier);
std::uint16_t identifier_for_port(std::uint16_t port);

}  // namespace vexmo

#endif  // VEXMO_PLATFORM_POSIX_DATAGRAM_SOCKET_H
