// Recognising the answer to a request among all the ICMP traffic that
// reaches the host: pure functions over the bytes of a received datagram.
#ifndef VEXMO_ICMP_ANSWER_H
#define VEXMO_ICMP_ANSWER_H

#include <cstddef>
#include <cstdint>

#include "common/run_types.h"

namespace vexmo {

// Splits a received datagram into its IPv4 header (any valid header length,
// options included) and the ICMP message behind it. A datagram that does not
// start with an IPv4 header is taken as a bare ICMP message.
ReplyView view_datagram(std::uint8_t* datagram);

// Where the identifier of a message lies: for error messages in the request
// they quote, behind the quoted header (as long as its first byte says),
// otherwise at the message's own. Reads the message's first bytes.
std::size_t identifier_offset(const std::uint8_t* message);

// The identifier a message carries, read there.
std::uint16_t carried_identifier(const std::uint8_t* message);

// True when the message of length bytes answers the request that carried
// identifier and send_stamp:
// - an echo reply with the identifier that echoes the request's send stamp
//   intact (a late reply to an earlier request, or one whose stamp was
//   forged, is not this request's answer: its time would be a lie);
// - an ICMP error message that quotes this request: an IPv4 header (of any
//   length) of an ICMP datagram, then an echo request with the identifier
//   and, where the quote is long enough to hold it, the send stamp.
// Fields past the end of the datagram never match. Nothing else answers: not
// our own echo requests (a raw socket sees them when the destination is
// local) nor other types, which would leave the request without a line.
bool is_answer(const std::uint8_t* message, std::size_t length, std::uint16_t identifier,
               std::uint64_t send_stamp);

}  // namespace vexmo

#endif  // VEXMO_ICMP_ANSWER_H
