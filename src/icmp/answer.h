// Recognising the answer to a request among all the ICMP traffic that
// reaches the host: pure functions over the bytes of a received datagram, for
// ICMP over IPv4 and ICMPv6 alike.
#ifndef VEXMO_ICMP_ANSWER_H
#define VEXMO_ICMP_ANSWER_H

#include <cstddef>
#include <cstdint>
#include <optional>

#include "common/address.h"

namespace vexmo {

// Where the answer lies in the receive buffer. ip_header is nullptr when the
// datagram did not start with a recognisable header of its family (IPv4, or
// the IPv6 header the platform puts in front of an ICMPv6 message). For an
// echo reply the wait also gives the round trip it measured (has_round_trip).
struct ReplyView {
  std::uint8_t* message = nullptr;
  const std::uint8_t* ip_header = nullptr;
  AddressFamily family = AddressFamily::ipv4;
  bool has_round_trip = false;
  std::uint32_t round_trip_us = 0;
};

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

// The answer the wait left in view: the round trip the wait measured, or
// without one the counter stamps the message carries (frequency: the
// counter's ticks per second).
Answer read_answer(const ReplyView& view, std::uint64_t frequency);

// The error messages vexmo reports for the family: ICMP types 3, 4, 5, 11,
// 12; ICMPv6 types 1 to 4.
bool is_reported_error(std::uint8_t type, AddressFamily family);

// Type 0 for ICMP, 129 for ICMPv6.
bool is_echo_reply(std::uint8_t type, AddressFamily family);

// Splits a received datagram into its IP header and the ICMP message behind
// it. IPv4: any valid header length, options included; a datagram that does
// not start with an IPv4 header is taken as a bare ICMP message. IPv6: the
// 40-byte header the platform puts in front of an ICMPv6 message (version
// 6, next header 58) where it knows the hop limit; otherwise the bare
// message.
ReplyView view_datagram(std::uint8_t* datagram, AddressFamily family);

// Where the identifier of a message lies: for error messages in the request
// they quote, behind the quoted header (IPv4: as long as its first byte says;
// IPv6: 40 bytes, so at 52, or 60 behind a quoted Fragment header),
// otherwise at the message's own. Reads the message's first bytes.
std::size_t identifier_offset(const std::uint8_t* message, AddressFamily family);

// The identifier a message carries, read there.
std::uint16_t carried_identifier(const std::uint8_t* message, AddressFamily family);

// True when the message of length bytes answers the request that carried
// identifier and send_stamp:
// - an echo reply with the identifier that echoes the request's send stamp
//   intact (a late reply to an earlier request, or one whose stamp was
//   forged, is not this request's answer: its time would be a lie);
// - an error message that quotes this request: an IPv4 header (of any
//   length) of an ICMP datagram, or an IPv6 header with next header 58,
//   then an echo request (type 8, or 128) with the identifier and, where
//   the quote is long enough to hold it, the send stamp.
// Fields past the end of the datagram never match. Nothing else answers: not
// our own echo requests (a raw socket sees them when the destination is
// local) nor other types, which would leave the request without a line.
bool is_answer(const std::uint8_t* message, std::size_t length, std::uint16_t identifier,
               std::uint64_t send_stamp, AddressFamily family);

}  // namespace vexmo

#endif  // VEXMO_ICMP_ANSWER_H
