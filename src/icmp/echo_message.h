// The ICMP echo request vexmo sends, its checksum and its time stamps.
//
// Layout (offsets from the first byte of the ICMP message):
//   0 type (8), 1 code (0), 2 checksum, 4 identifier, 6 sequence,
//   8 send_stamp, 16 receive_stamp slot, 24 data (size - 16 zero bytes).
// Identifier, sequence and stamps are least significant byte first.
#ifndef VEXMO_ICMP_ECHO_MESSAGE_H
#define VEXMO_ICMP_ECHO_MESSAGE_H

#include <cstddef>
#include <cstdint>

#include "common/run_types.h"
#include "platform/platform.h"

namespace vexmo {

constexpr std::size_t kIcmpHeaderBytes = 8;
constexpr std::size_t kSendStampOffset = 8;
constexpr std::size_t kReceiveStampOffset = 16;
constexpr std::size_t kEchoDataOffset = 24;
constexpr std::uint8_t kTypeEchoReply = 0;
constexpr std::uint8_t kTypeEchoRequest = 8;

// RFC 1071 checksum over an even number of bytes; the low 16 bits are the
// value to store (least significant byte first) in the checksum field.
std::uint32_t internet_checksum(const std::uint8_t* bytes, std::size_t length);

// Writes an echo request of size + 8 bytes into message, all but the send
// stamp and the checksum (both left 0). data holds at least size - 16 bytes.
void write_echo_request(std::uint8_t* message, std::uint16_t identifier, std::uint16_t sequence,
                        const std::uint8_t* data, std::uint32_t size);

// Stamps the message with the send time and completes its checksum.
void seal_echo_request(std::uint8_t* message, std::uint32_t size, std::uint64_t send_stamp);

// Builds, stamps and sends one echo request; the bytes sent (size + 8) or
// minus the Windows Sockets error number. A message buffer that cannot be
// allocated fails the send with -10055 (no buffer space). *send_stamp
// receives the stamp the request carries, which its echo reply must bring back.
Outcome send_echo_request(SocketHandle socket, const SocketAddress& destination,
                          std::uint16_t identifier, std::uint16_t sequence,
                          const std::uint8_t* data, std::uint32_t size, std::uint64_t* send_stamp);

}  // namespace vexmo

#endif  // VEXMO_ICMP_ECHO_MESSAGE_H
