// ICMPv6 sockets hand over the message without its IPv6 header (RFC 3542);
// the hop limit and sender come beside it. Both backends put a header back
// in front, so that the reply line can show the hop limit as it shows the
// time to live of IPv4. Pure functions over buffers; private to
// src/platform.
#ifndef VEXMO_PLATFORM_IPV6_FRAMING_H
#define VEXMO_PLATFORM_IPV6_FRAMING_H

#include <cstddef>
#include <cstdint>

#include "common/icmp.h"

namespace vexmo {

struct Ipv6HeaderFields {
  std::uint8_t traffic_class = 0;
  std::uint8_t hop_limit = 0;
  std::uint8_t source[16] = {};
  std::uint8_t destination[16] = {};
};

// Writes a 40-byte IPv6 header (version 6, next header 58) for an ICMPv6
// payload of payload_length bytes (a length past 65,535 is written as
// 65,535).
void write_ipv6_header(std::uint8_t* header, const Ipv6HeaderFields& fields,
                       std::size_t payload_length);

// A message of message_length bytes received at datagram + 40: with a hop
// limit (hop_limit >= 0), the header goes in front and the datagram's length
// is returned; without, the message moves to the front, bare, and its length
// is returned.
std::size_t frame_icmp6_message(std::uint8_t* datagram, std::size_t message_length, int hop_limit,
                                const std::uint8_t (&source)[16]);

}  // namespace vexmo

#endif  // VEXMO_PLATFORM_IPV6_FRAMING_H
