#include "platform/posix/framing.h"

#include <cstring>

#include "common/byte_order.h"
#include "common/checksum.h"
#include "platform/ipv6_framing.h"

namespace vexmo {
namespace {

void put_be16(std::uint8_t* p, std::uint32_t value) {
  p[0] = static_cast<std::uint8_t>(value >> 8);
  p[1] = static_cast<std::uint8_t>(value);
}

void put_checksum(std::uint8_t* start, std::size_t length, std::uint8_t* field) {
  field[0] = 0;
  field[1] = 0;
  write_le16(field, internet_checksum(start, length));
}

}  // namespace

void write_ipv4_header(std::uint8_t* header, const Ipv4HeaderFields& fields,
                       std::size_t payload_length) {
  const std::size_t total = kIpv4HeaderBytes + payload_length;
  std::memset(header, 0, kIpv4HeaderBytes);
  header[0] = 0x45;  // version 4, five 32-bit words, no options
  header[1] = fields.type_of_service;
  put_be16(header + 2, total > 0xFFFFu ? 0xFFFFu : static_cast<std::uint32_t>(total));
  header[8] = fields.time_to_live;
  header[9] = kProtocolIcmp;
  std::memcpy(header + 12, &fields.source, 4);
  std::memcpy(header + 16, &fields.destination, 4);
  put_checksum(header, kIpv4HeaderBytes, header + 10);
}

std::size_t frame_echo_reply(std::uint8_t* datagram, std::size_t message_length,
                             const Ipv4HeaderFields& fields) {
  write_ipv4_header(datagram, fields, message_length);
  return kIpv4HeaderBytes + message_length;
}

std::size_t frame_icmp_error(std::uint8_t* datagram, std::size_t quoted_length,
                             const QueuedIcmpError& error) {
  std::uint8_t* icmp = datagram + kIpv4HeaderBytes;
  std::memset(icmp, 0, kIcmpHeaderBytes);
  icmp[0] = error.type;
  icmp[1] = error.code;
  // The second word of the header, as the sender wrote it; the kernel
  // hands it over in host order.
  if (error.type == kTypeRedirect) {
    put_be16(icmp + 4, error.info >> 16);
    put_be16(icmp + 6, error.info);
  } else if (error.type == kTypeParameterProblem) {
    icmp[4] = static_cast<std::uint8_t>(error.info);
  } else if (error.type == kTypeDestinationUnreachable && error.code == kCodeFragmentationNeeded) {
    put_be16(icmp + 6, error.info);
  }
  // The quoted header: only the destination is known (our own source
  // address and the request's time to live are not reported).
  Ipv4HeaderFields quoted;
  quoted.destination = error.destination;
  write_ipv4_header(icmp + kIcmpHeaderBytes, quoted, quoted_length);
  const std::size_t message_length = kIcmpHeaderBytes + kIpv4HeaderBytes + quoted_length;
  put_checksum(icmp, message_length, icmp + 2);

  Ipv4HeaderFields outer;
  outer.time_to_live = error.time_to_live;
  outer.source = error.sender;
  write_ipv4_header(datagram, outer, message_length);
  return kIpv4HeaderBytes + message_length;
}

std::size_t frame_icmp6_error(std::uint8_t* datagram, std::size_t quoted_length,
                              const QueuedIcmp6Error& error) {
  std::uint8_t* icmp = datagram + kIpv6HeaderBytes;
  std::memset(icmp, 0, kIcmpHeaderBytes);
  icmp[0] = error.type;
  icmp[1] = error.code;
  // The MTU of Packet Too Big and the pointer of Parameter Problem fill the
  // second word; the kernel hands them over in host order.
  if (error.type == kType6PacketTooBig || error.type == kType6ParameterProblem) {
    put_be16(icmp + 4, error.info >> 16);
    put_be16(icmp + 6, error.info);
  }
  // The quoted header: only the destination is known. No checksum: the
  // stack verified the one that came, and nothing reads it here.
  Ipv6HeaderFields quoted;
  std::memcpy(quoted.destination, error.destination, sizeof quoted.destination);
  write_ipv6_header(icmp + kIcmpHeaderBytes, quoted, quoted_length);
  const std::size_t message_length = kIcmpHeaderBytes + kIpv6HeaderBytes + quoted_length;
  return frame_icmp6_message(datagram, message_length, error.hop_limit, error.sender);
}

std::uint16_t port_for_identifier(std::uint16_t identifier) {
  // sin_port is kept in network order and the kernel copies it into the
  // identifier as it is: the same two bytes in the same order.
  std::uint8_t bytes[2];
  write_le16(bytes, identifier);
  std::uint16_t port;
  std::memcpy(&port, bytes, sizeof port);
  return port;
}

std::uint16_t identifier_for_port(std::uint16_t port) {
  std::uint8_t bytes[2];
  std::memcpy(bytes, &port, sizeof port);
  return read_le16(bytes);
}

}  // namespace vexmo
