// Recognising the answer to a request among all the ICMP traffic that
// reaches the host: pure functions over what a socket received (platform.h:
// Received), for ICMP over IPv4 and ICMPv6 alike.
#ifndef VEXMO_ICMP_ANSWER_H
#define VEXMO_ICMP_ANSWER_H

#include <cstddef>
#include <cstdint>
#include <optional>

#include "common/address.h"
#include "platform/platform.h"

namespace vexmo {

// What answered a request, as fields: an echo reply or an ICMP error
// message about the request. Whoever reads it needs no byte offsets.
struct Answer {
  AddressFamily family = AddressFamily::ipv4;
  bool echo_reply = false;
  std::uint8_t type = 0;
  std::uint8_t code = 0;
  // Echo replies: the sequence the reply carries, its round trip, and its
  // time to live (IPv6: hop limit) where the system reported one.
  std::uint16_t sequence = 0;
  std::uint32_t round_trip_us = 0;
  std::optional<std::uint8_t> ttl;
  // Errors: the gateway of an IPv4 redirect (network order) and the MTU of
  // ICMPv6 Packet Too Big.
  std::optional<std::uint32_t> gateway;
  std::optional<std::uint32_t> mtu;
};

// The answer a received record holds (one that is_answer took), with the
// round trip the wait measured for an echo reply.
Answer read_answer(const Received& received, std::uint32_t round_trip_us);

// The error messages vexmo reports for the family: ICMP types 3, 4, 5, 11,
// 12; ICMPv6 types 1 to 4.
bool is_reported_error(std::uint8_t type, AddressFamily family);

// Type 0 for ICMP, 129 for ICMPv6.
bool is_echo_reply(std::uint8_t type, AddressFamily family);

// Where the identifier of a message lies: for error messages in the request
// they quote, behind the quoted header (IPv4: as long as its first byte says;
// IPv6: 40 bytes, so at 52, or 60 behind a quoted Fragment header),
// otherwise at the message's own. Reads the message's first bytes.
std::size_t identifier_offset(const std::uint8_t* message, AddressFamily family);

// The identifier a message carries, read there.
std::uint16_t carried_identifier(const std::uint8_t* message, AddressFamily family);

// True when what was received answers the request that carried identifier
// and send_stamp:
// - an echo reply with the identifier that echoes the request's send stamp
//   intact (a late reply to an earlier request, or one whose stamp was
//   forged, is not this request's answer: its time would be a lie);
// - an error message that quotes this request: an IPv4 header (of any
//   length) of an ICMP datagram, or an IPv6 header with next header 58
//   (and the Fragment header of a first fragment), then an echo request
//   (type 8, or 128) with the identifier and, where the quote is long
//   enough to hold it, the send stamp;
// - a report of an error the family reports whose quoted request is such
//   an echo request.
// Fields past the end of what was received never match. Nothing else
// answers: not our own echo requests (a raw socket sees them when the
// destination is local) nor other types, which would leave the request
// without a line.
bool is_answer(const Received& received, std::uint16_t identifier, std::uint64_t send_stamp);

}  // namespace vexmo

#endif  // VEXMO_ICMP_ANSWER_H
