// The datagrams a raw ICMP socket would have received, rebuilt from what an
// ICMP datagram socket gets instead: a reply without its IPv4 header, and an
// error as a report on the error queue plus the quoted request. Pure
// functions over buffers.
#ifndef VEXMO_PLATFORM_POSIX_FRAMING_H
#define VEXMO_PLATFORM_POSIX_FRAMING_H

#include <cstddef>
#include <cstdint>

#include "common/icmp.h"

namespace vexmo {

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

// Frames an ICMP error whose quoted request (quoted_length bytes, from its
// ICMP header on) lies at datagram + kQuotedRequestOffset into the datagram
// a raw socket receives: IPv4 header, ICMP header (with the redirect
// gateway, parameter pointer or next-hop MTU the report carries), quoted
// IPv4 header, quoted request. Returns the datagram's length.
std::size_t frame_icmp_error(std::uint8_t* datagram, std::size_t quoted_length,
                             const QueuedIcmpError& error);

// ICMPv6: where the quoted request starts in an error datagram as framed
// here: behind the IPv6 header, the ICMPv6 header and the quoted IPv6 header.
constexpr std::size_t kQuoted6RequestOffset =
    kIpv6HeaderBytes + kIcmpHeaderBytes + kIpv6HeaderBytes;

// An ICMPv6 error message as the error queue reports it.
struct QueuedIcmp6Error {
  std::uint8_t type = 0;
  std::uint8_t code = 0;
  std::uint32_t info = 0;             // the kernel's ee_info: MTU or pointer (host order)
  std::uint8_t sender[16] = {};       // who sent the error
  std::uint8_t destination[16] = {};  // where the quoted request went
  int hop_limit = -1;                 // of the error datagram; -1: not reported
};

// Frames an ICMPv6 error whose quoted request (quoted_length bytes, from its
// ICMPv6 header on) lies at datagram + kQuoted6RequestOffset: IPv6 header
// (when the hop limit is known; otherwise the message moves to the front),
// ICMPv6 header with the MTU or pointer the report carries, quoted IPv6
// header, quoted request. Returns the datagram's length.
std::size_t frame_icmp6_error(std::uint8_t* datagram, std::size_t quoted_length,
                              const QueuedIcmp6Error& error);

// The local port, as stored in sin_port, that makes the kernel write
// identifier (as the request stores it, least significant byte first) onto
// the wire unchanged; and back.
std::uint16_t port_for_identifier(std::uint16_t identifier);
std::uint16_t identifier_for_port(std::uint16_t port);

}  // namespace vexmo

#endif  // VEXMO_PLATFORM_POSIX_FRAMING_H
