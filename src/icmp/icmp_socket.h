// The raw ICMP socket and the wait that recognises the answer to the current
// request among all the ICMP traffic that reaches the host.
#ifndef VEXMO_ICMP_ICMP_SOCKET_H
#define VEXMO_ICMP_ICMP_SOCKET_H

#include <cstddef>
#include <cstdint>

#include "common/run_types.h"
#include "platform/platform.h"

namespace vexmo {

// One datagram of the largest message (65,536 data bytes, 8 header bytes)
// with a 20-byte IP header, rounded up.
constexpr std::size_t kReceiveBufferBytes = 65536 + 24;

// Bound on the datagrams discarded before a send, so that a flood cannot
// keep a request from ever being sent.
constexpr int kMaxDiscardedDatagrams = 1024;

SocketHandle open_icmp_socket();
void apply_socket_options(SocketHandle socket, const RunSettings& settings);
void close_icmp_socket(SocketHandle socket);

// The echo identifier of this process: the low 16 bits of its id.
std::uint16_t echo_identifier();

// Splits a received datagram into its IPv4 header (any valid header length,
// options included) and the ICMP message behind it. A datagram that does not
// start with an IPv4 header is taken as a bare ICMP message.
ReplyView view_datagram(std::uint8_t* datagram);

// The identifier a message carries: for error messages (types 3, 4, 5, 11,
// 12) that of the request they quote, otherwise the message's own.
std::uint16_t carried_identifier(const std::uint8_t* message);

// True when the message of length bytes answers the request that carried
// identifier and send_stamp:
// - an echo reply with the identifier that echoes the request's send stamp
//   intact (a late reply to an earlier request, or one whose stamp was
//   forged, is not this request's answer: its time would be a lie);
// - an ICMP error message (types 3, 4, 5, 11, 12) quoting the identifier.
// Fields past the end of the datagram never match. Nothing else answers: not
// our own echo requests (a raw socket sees them when the destination is
// local) nor other types, which would leave the request without a line.
bool is_answer(const std::uint8_t* message, std::size_t length, std::uint16_t identifier,
               std::uint64_t send_stamp);

// Discards the datagrams already waiting on the socket: answers that came
// after their own wait ended must not be taken for the next request's.
void discard_waiting_datagrams(SocketHandle socket);

// Does before the send what the next wait on this socket would otherwise do
// first, so that none of it falls inside the measured round trip: zeroes the
// receive buffer (64 KiB), reads the socket's receive timeout back as the
// deadline and computes the echo identifier. The wait then starts from
// exactly what it would have had. Call it after discard_waiting_datagrams,
// just before the send. A discard, new socket options or a wait undo it; a
// wait that finds nothing prepared does it all itself.
void prepare_wait(SocketHandle socket);

// Waits for the answer to the request that carried send_stamp (see
// is_answer). Returns its byte count with
// *view set into the process-wide receive buffer (valid until the next wait
// or discard), or minus a Windows Sockets error number: -10060 when the
// socket's receive timeout or the wait's own deadline passed. *from is left
// holding the sender of the last datagram received.
Outcome wait_for_reply(SocketHandle socket, SocketAddress* from, ReplyView* view,
                       std::uint64_t send_stamp);

}  // namespace vexmo

#endif  // VEXMO_ICMP_ICMP_SOCKET_H
