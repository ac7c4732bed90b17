// Recognising the answer to a request among all the ICMP traffic that
// reaches the host: pure functions over the bytes of a received datagram, for
// ICMP over IPv4 and ICMPv6 alike.
#ifndef VEXMO_ICMP_ANSWER_H
#define VEXMO_ICMP_ANSWER_H

#include <cstddef>
#include <cstdint>

#include "common/address.h"
#include "common/run_types.h"

namespace vexmo {

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
