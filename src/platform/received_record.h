// Filling the record of what a socket received (platform.h: Received) from
// what the system handed over: pure functions over buffers, shared by the
// backends and checked without a network. Private to src/platform.
#ifndef VEXMO_PLATFORM_RECEIVED_RECORD_H
#define VEXMO_PLATFORM_RECEIVED_RECORD_H

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

namespace vexmo {

// An IPv4 datagram as a raw socket receives it: the time to live from its
// header (of any valid length, options included) and the ICMP message
// behind it. A datagram that does not start with a recognisable IPv4 header
// (version 4, at least five words) is taken whole as a bare ICMP message,
// without a time to live.
void read_ipv4_datagram(const std::uint8_t* datagram, std::size_t length, Received* received);

// A message that came without its IP header (ICMPv6 sockets, ICMP datagram
// sockets), with the time to live or hop limit the system reported beside
// it: ttl -1 (or anything past 255) where it reported none.
void read_bare_message(const std::uint8_t* message, std::size_t length, int ttl,
                       Received* received);

}  // namespace vexmo

#endif  // VEXMO_PLATFORM_RECEIVED_RECORD_H
