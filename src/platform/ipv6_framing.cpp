#include "platform/ipv6_framing.h"

#include <cstring>

namespace vexmo {

void write_ipv6_header(std::uint8_t* header, const Ipv6HeaderFields& fields,
                       std::size_t payload_length) {
  const std::size_t length = payload_length > 0xFFFFu ? 0xFFFFu : payload_length;
  std::memset(header, 0, kIpv6HeaderBytes);
  header[0] = static_cast<std::uint8_t>(0x60u | fields.traffic_class >> 4);
  header[1] = static_cast<std::uint8_t>((fields.traffic_class & 0x0Fu) << 4);
  header[kIpv6PayloadLengthOffset] = static_cast<std::uint8_t>(length >> 8);
  header[kIpv6PayloadLengthOffset + 1] = static_cast<std::uint8_t>(length);
  header[kIpv6NextHeaderOffset] = kNextHeaderIcmp6;
  header[kIpv6HopLimitOffset] = fields.hop_limit;
  std::memcpy(header + kIpv6SourceOffset, fields.source, sizeof fields.source);
  std::memcpy(header + kIpv6DestinationOffset, fields.destination, sizeof fields.destination);
}

std::size_t frame_icmp6_message(std::uint8_t* datagram, std::size_t message_length, int hop_limit,
                                const std::uint8_t (&source)[16]) {
  if (hop_limit < 0 || hop_limit > 255) {
    std::memmove(datagram, datagram + kIpv6HeaderBytes, message_length);
    return message_length;
  }
  Ipv6HeaderFields fields;
  fields.hop_limit = static_cast<std::uint8_t>(hop_limit);
  std::memcpy(fields.source, source, sizeof fields.source);
  write_ipv6_header(datagram, fields, message_length);
  return kIpv6HeaderBytes + message_length;
}

}  // namespace vexmo
