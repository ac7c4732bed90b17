// The ICMP echo request vexmo sends and its time stamps; the layout is in
// common/icmp.h.
#ifndef VEXMO_ICMP_ECHO_MESSAGE_H
#define VEXMO_ICMP_ECHO_MESSAGE_H

#include <cstddef>
#include <cstdint>

#include "common/address.h"

namespace vexmo {

// Writes an echo request (type 8 for IPv4, 128 for IPv6) of size + 8 bytes
// into message, all but the send stamp and the checksum (both left 0). data
// holds at least size - 16 bytes.
void write_echo_request(std::uint8_t* message, AddressFamily family, std::uint16_t identifier,
                        std::uint16_t sequence, const std::uint8_t* data, std::uint32_t size);

// Stamps the message with the send time and, for IPv4, completes its
// checksum; an ICMPv6 checksum is left 0 for the stack to fill in.
void seal_echo_request(std::uint8_t* message, AddressFamily family, std::uint32_t size,
                       std::uint64_t send_stamp);

}  // namespace vexmo

#endif  // VEXMO_ICMP_ECHO_MESSAGE_H
