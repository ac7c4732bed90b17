// ICMP datagram sockets, which Linux grants to users without CAP_NET_RAW
// whose group lies in net.ipv4.ping_group_range. They differ from a raw
// socket in three ways, all hidden here so that the transport sees what a
// raw socket would give it:
//  - the kernel writes the socket's local port into the identifier of every
//    request, so the socket is bound to the identifier the request carries;
//  - replies arrive without their IPv4 header: one is put back in front,
//    with the time to live the kernel reports beside the datagram;
//  - ICMP errors about our requests arrive on the socket's error queue as a
//    report plus the quoted request: they are framed back into the ICMP
//    error datagram that a raw socket would have received.
#ifndef VEXMO_PLATFORM_POSIX_PING_SOCKET_H
#define VEXMO_PLATFORM_POSIX_PING_SOCKET_H

#include <netinet/in.h>
#include <sys/types.h>
#if defined(__linux__)
#include <linux/errqueue.h>
#endif

#include <cstddef>
#include <cstdint>

namespace vexmo {

constexpr std::size_t kIpv4HeaderBytes = 20;
constexpr std::size_t kIcmpHeaderBytes = 8;
// Where the quoted request starts in an ICMP error datagram as a raw socket
// receives it: behind the IPv4 header, the ICMP header and the quoted IPv4
// header.
constexpr std::size_t kQuotedRequestOffset = kIpv4HeaderBytes + kIcmpHeaderBytes + kIpv4HeaderBytes;

// The fields of a synthesised IPv4 header; addresses in network order.
struct Ipv4HeaderFields {
  std::uint8_t type_of_service = 0;
  std::uint8_t time_to_live = 0;
  std::uint32_t source = 0;
  std::uint32_t destination = 0;
};

// Writes a 20-byte IPv4 header, checksum included, for an ICMP payload of
// payload_length bytes.
void write_ipv4_header(std::uint8_t* header, const Ipv4HeaderFields& fields,
                       std::size_t payload_length);

// An echo reply received as a bare ICMP message of message_length bytes at
// datagram + kIpv4HeaderBytes: puts the header in front and returns the
// datagram's length.
std::size_t frame_echo_reply(std::uint8_t* datagram, std::size_t message_length,
                             const Ipv4HeaderFields& fields);

// An ICMP error message as the error queue reports it.
struct QueuedIcmpError {
  std::uint8_t type = 0;
  std::uint8_t code = 0;
  std::uint32_t info = 0;         // the kernel's ee_info (host order)
  std::uint32_t sender = 0;       // who sent the error, network order
  std::uint32_t destination = 0;  // where the quoted request went, network order
  std::uint8_t time_to_live = 0;  // of the error datagram
};

#if defined(__linux__)
// Reads an error-queue report. False for a report that is no ICMP message
// from the network (a local error such as a send refused for its size).
// offender may be null when the kernel gave none.
bool queued_icmp_error(const sock_extended_err& report, const sockaddr_in* offender,
                       const sockaddr_in& original_destination, int time_to_live,
                       QueuedIcmpError* error);
#endif

// Frames an ICMP error whose quoted request (quoted_length bytes, from its
// ICMP header on) lies at datagram + kQuotedRequestOffset into the datagram
// a raw socket receives: IPv4 header, ICMP header (with the redirect
// gateway, parameter pointer or next-hop MTU the report carries), quoted
// IPv4 header, quoted request. Returns the datagram's length.
std::size_t frame_icmp_error(std::uint8_t* datagram, std::size_t quoted_length,
                             const QueuedIcmpError& error);

// The local port, as stored in sin_port, that makes the kernel write the
// identifier bytes of this request (bytes 4 and 5) unchanged onto the wire.
std::uint16_t port_for_identifier(const std::uint8_t* request);

// The socket itself: -1 with errno set on failure, as the system calls.
// Where the system has no such sockets, opening fails with EPROTONOSUPPORT.
int ping_socket_open();
bool is_ping_socket(int fd);
void ping_socket_forget(int fd);
ssize_t ping_socket_send(int fd, const std::uint8_t* data, std::size_t length,
                         const sockaddr_in& to);
// Receives one datagram, from the error queue or the receive queue. With
// wait, blocks for at most the socket's receive timeout (EAGAIN when it
// passes); without, fails with EAGAIN at once when nothing is waiting.
ssize_t ping_socket_receive(int fd, std::uint8_t* buffer, std::size_t length, sockaddr_in* from,
                            bool wait);

}  // namespace vexmo

#endif  // VEXMO_PLATFORM_POSIX_PING_SOCKET_H
