// ICMP datagram sockets, which Linux grants to users without CAP_NET_RAW
// whose group lies in net.ipv4.ping_group_range. They differ from a raw
// socket in three ways, all hidden here so that the transport sees what a
// raw socket would give it:
//  - the kernel writes the socket's local port into the identifier of every
//    request, so the socket is bound to the identifier the requests carry;
//  - replies arrive without their IP header: one is put back in front,
//    with the time to live or hop limit the kernel reports beside the
//    datagram (for ICMPv6 that is what the raw socket is made to give too);
//  - ICMP errors about our requests arrive on the socket's error queue as a
//    report plus the quoted request: they are framed back into the ICMP
//    error datagram that a raw socket would have received (framing.h).
// Every call returns -1 with errno set on failure, as the system calls do.
#ifndef VEXMO_PLATFORM_POSIX_DATAGRAM_SOCKET_H
#define VEXMO_PLATFORM_POSIX_DATAGRAM_SOCKET_H

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>

#include "common/address.h"

namespace vexmo {

// Opens the socket and binds it to *identifier, which no other socket may
// share: when that identifier is 0 or taken, the kernel chooses one and
// *identifier becomes it. Where the system has no such sockets, fails with
// EPROTONOSUPPORT.
int datagram_socket_open(AddressFamily family, std::uint16_t* identifier);

ssize_t datagram_socket_send(int fd, const std::uint8_t* data, std::size_t length,
                             const sockaddr* to, socklen_t to_length);

// Receives one datagram, from the error queue or the receive queue, never
// blocking: fails with EAGAIN when nothing is queued (or nothing but
// reports that are no ICMP errors, which are consumed). *receive_ns is the
// datagram's kernel arrival stamp (0: none); a transmit stamp met in the
// error queue on the way is left in *transmit_ns.
ssize_t datagram_socket_receive(int fd, AddressFamily family, std::uint8_t* buffer,
                                std::size_t length, sockaddr_storage* from,
                                std::uint64_t* transmit_ns, std::uint64_t* receive_ns);

}  // namespace vexmo

#endif  // VEXMO_PLATFORM_POSIX_DATAGRAM_SOCKET_H
