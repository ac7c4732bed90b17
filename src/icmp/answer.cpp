#include "icmp/answer.h"

#include <cstring>

#include "common/byte_order.h"
#include "common/icmp.h"

namespace vexmo {

namespace {

std::uint8_t echo_reply_type(AddressFamily family) {
  return family == AddressFamily::ipv6 ? kType6EchoReply : kTypeEchoReply;
}

std::uint8_t echo_request_type(AddressFamily family) {
  return family == AddressFamily::ipv6 ? kType6EchoRequest : kTypeEchoRequest;
}

bool quotes_fragment_header(const std::uint8_t* message) {
  return message[kQuotedHeaderOffset + kIpv6NextHeaderOffset] == kNextHeaderFragment;
}

// Where the quoted request starts in an error message of length bytes, or 0
// when the quote is no header of an ICMP datagram of the family: an IPv4
// header of any length with protocol 1, or an IPv6 header whose next header
// is ICMPv6. The only extension header our requests carry is the Fragment
// header the stack adds to a request larger than the path; an error about
// the first fragment quotes it before the ICMPv6 header.
std::size_t quoted_request_at(const std::uint8_t* message, std::size_t length,
                              AddressFamily family) {
  const std::uint8_t* quoted = message + kQuotedHeaderOffset;
  if (family == AddressFamily::ipv6) {
    std::size_t at = kQuotedHeaderOffset + kIpv6HeaderBytes;
    if (length < at || (quoted[0] & 0xF0u) != 0x60u) {
      return 0;
    }
    std::uint8_t next_header = quoted[kIpv6NextHeaderOffset];
    if (next_header == kNextHeaderFragment) {
      const std::uint8_t* fragment = message + at;
      // Later fragments hold no ICMPv6 header: only offset 0 is ours to read.
      if (length < at + kIpv6FragmentHeaderBytes ||
          (fragment[kFragmentOffsetOffset] | (fragment[kFragmentOffsetOffset + 1] & 0xF8u)) != 0) {
        return 0;
      }
      next_header = fragment[0];
      at += kIpv6FragmentHeaderBytes;
    }
    return next_header == kNextHeaderIcmp6 ? at : 0;
  }
  if (length < kQuotedHeaderOffset + kIpv4HeaderBytes) {
    return 0;
  }
  const std::size_t quoted_header_bytes = (quoted[0] & 0x0Fu) * 4u;
  if ((quoted[0] & 0xF0u) != 0x40u || quoted_header_bytes < kIpv4HeaderBytes ||
      quoted[kIpv4ProtocolOffset] != kProtocolIcmp) {
    return 0;
  }
  return kQuotedHeaderOffset + quoted_header_bytes;
}

// True when quoted_bytes of a request (from its ICMP header on) are this
// request: an echo request with our identifier (senders should quote 8
// bytes of it; a quote that reaches the identifier is enough) and, where
// the quote reaches it, our send stamp: 16 bits of identifier alone are
// easily met by chance or forged.
bool is_this_request(const std::uint8_t* request, std::size_t quoted_bytes,
                     std::uint16_t identifier, std::uint64_t send_stamp, AddressFamily family) {
  if (request == nullptr || quoted_bytes < kIdentifierOffset + 2 ||
      request[0] != echo_request_type(family) ||
      read_le16(request + kIdentifierOffset) != identifier) {
    return false;
  }
  return quoted_bytes < kSendStampOffset + 8 || read_le64(request + kSendStampOffset) == send_stamp;
}

std::uint32_t read_be32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
         static_cast<std::uint32_t>(p[2]) << 8 | p[3];
}

}  // namespace

Answer read_answer(const Received& received, std::uint32_t round_trip_us) {
  Answer answer;
  answer.family = received.family;
  const std::uint8_t* message = received.message;
  // The error's second word: a redirect's gateway, an MTU, a pointer.
  std::uint32_t info = received.info;
  if (received.reported) {
    answer.type = received.type;
    answer.code = received.code;
  } else if (received.length >= kIcmpHeaderBytes) {
    answer.type = message[0];
    answer.code = message[1];
    info = read_be32(message + 4);
  }
  answer.echo_reply = !received.reported && is_echo_reply(answer.type, received.family);
  if (answer.echo_reply) {
    if (received.length >= kSequenceOffset + 2) {
      answer.sequence = read_le16(message + kSequenceOffset);
    }
    answer.round_trip_us = round_trip_us;
    answer.ttl = received.ttl;
    return answer;
  }
  if (received.family == AddressFamily::ipv6) {
    if (answer.type == kType6PacketTooBig) {
      answer.mtu = info;
    }
  } else if (answer.type == kTypeRedirect) {
    // Network order: the four bytes as they stand on the wire.
    const std::uint8_t bytes[4] = {
        static_cast<std::uint8_t>(info >> 24), static_cast<std::uint8_t>(info >> 16),
        static_cast<std::uint8_t>(info >> 8), static_cast<std::uint8_t>(info)};
    std::uint32_t gateway = 0;
    std::memcpy(&gateway, bytes, sizeof gateway);
    answer.gateway = gateway;
  }
  return answer;
}

bool is_reported_error(std::uint8_t type, AddressFamily family) {
  return family == AddressFamily::ipv6 ? is_icmp6_error_type(type) : is_error_type(type);
}

bool is_echo_reply(std::uint8_t type, AddressFamily family) {
  return type == echo_reply_type(family);
}

std::size_t identifier_offset(const std::uint8_t* message, AddressFamily family) {
  if (!is_reported_error(message[0], family)) {
    return kIdentifierOffset;
  }
  if (family == AddressFamily::ipv6) {
    return quotes_fragment_header(message) ? kQuoted6FragmentIdentifierOffset
                                           : kQuoted6IdentifierOffset;
  }
  const std::size_t quoted_header_bytes = (message[kQuotedHeaderOffset] & 0x0Fu) * 4u;
  return kQuotedHeaderOffset + quoted_header_bytes + kIdentifierOffset;
}

std::uint16_t carried_identifier(const std::uint8_t* message, AddressFamily family) {
  return read_le16(message + identifier_offset(message, family));
}

bool is_answer(const Received& received, std::uint16_t identifier, std::uint64_t send_stamp) {
  const AddressFamily family = received.family;
  if (received.reported) {
    return is_reported_error(received.type, family) &&
           is_this_request(received.quoted_request, received.quoted_length, identifier, send_stamp,
                           family);
  }
  const std::uint8_t* message = received.message;
  const std::size_t length = received.length;
  if (length == 0) {
    return false;
  }
  if (is_reported_error(message[0], family)) {
    const std::size_t at = quoted_request_at(message, length, family);
    return at != 0 && at < length &&
           is_this_request(message + at, length - at, identifier, send_stamp, family);
  }
  return is_echo_reply(message[0], family) && length >= kEchoDataOffset &&
         read_le16(message + kIdentifierOffset) == identifier &&
         read_le64(message + kSendStampOffset) == send_stamp;
}

}  // namespace vexmo
