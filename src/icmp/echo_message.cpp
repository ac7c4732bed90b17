#include "icmp/echo_message.h"

#include <cstring>

#include "common/byte_order.h"
#include "common/checksum.h"
#include "common/icmp.h"

namespace vexmo {

void write_echo_request(std::uint8_t* message, AddressFamily family, std::uint16_t identifier,
                        std::uint16_t sequence, const std::uint8_t* data, std::uint32_t size) {
  message[0] = family == AddressFamily::ipv6 ? kType6EchoRequest : kTypeEchoRequest;
  message[1] = 0;
  write_le16(message + 2, 0);
  write_le16(message + kIdentifierOffset, identifier);
  write_le16(message + kSequenceOffset, sequence);
  write_le64(message + kSendStampOffset, 0);
  write_le64(message + kReceiveStampOffset, 0);
  std::memcpy(message + kEchoDataOffset, data, size - 16);
}

void seal_echo_request(std::uint8_t* message, AddressFamily family, std::uint32_t size,
                       std::uint64_t send_stamp) {
  write_le64(message + kSendStampOffset, send_stamp);
  // The ICMPv6 checksum covers a pseudo-header with the source address,
  // which only the stack knows once it has routed the request: it computes
  // the checksum itself and the field goes out as 0.
  if (family == AddressFamily::ipv4) {
    write_le16(message + 2, internet_checksum(message, size + kIcmpHeaderBytes));
  }
}

}  // namespace vexmo
