#include "icmp/answer.h"

#include <cstring>

#include "common/byte_order.h"
#include "common/icmp.h"
#include "icmp/round_trip.h"

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

bool quotes_request(const std::uint8_t* message, std::size_t length, std::uint16_t identifier,
                    std::uint64_t send_stamp, AddressFamily family) {
  const std::size_t request_at = quoted_request_at(message, length, family);
  // Behind the quoted header, an echo request with our identifier (senders
  // should quote 8 bytes of it; a quote that reaches the identifier is
  // enough).
  if (request_at == 0 || length < request_at + kIdentifierOffset + 2) {
    return false;
  }
  const std::uint8_t* request = message + request_at;
  if (request[0] != echo_request_type(family) ||
      read_le16(request + kIdentifierOffset) != identifier) {
    return false;
  }
  // Where the quote reaches the send stamp, it must be this request's: 16
  // bits of identifier alone are easily met by chance or forged.
  const std::size_t quoted_bytes = length - request_at;
  return quoted_bytes < kSendStampOffset + 8 || read_le64(request + kSendStampOffset) == send_stamp;
}

std::uint32_t read_be32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
         static_cast<std::uint32_t>(p[2]) << 8 | p[3];
}

}  // namespace

Answer read_answer(const ReplyView& view, std::uint64_t frequency) {
  Answer answer;
  answer.family = view.family;
  answer.type = view.message[0];
  answer.code = view.message[1];
  answer.echo_reply = is_echo_reply(answer.type, view.family);
  if (answer.echo_reply) {
    answer.sequence = read_le16(view.message + kSequenceOffset);
    answer.round_trip_us =
        view.has_round_trip
            ? view.round_trip_us
            : round_trip_us(read_le64(view.message + kSendStampOffset),
                            read_le64(view.message + kReceiveStampOffset), frequency);
    if (view.ip_header != nullptr) {
      answer.ttl = view.ip_header[view.family == AddressFamily::ipv6 ? kIpv6HopLimitOffset : 8];
    }
    return answer;
  }
  if (view.family == AddressFamily::ipv6) {
    if (answer.type == kType6PacketTooBig) {
      answer.mtu = read_be32(view.message + 4);
    }
  } else if (answer.type == kTypeRedirect) {
    std::uint32_t gateway = 0;
    std::memcpy(&gateway, view.message + 4, sizeof gateway);  // already network order
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

ReplyView view_datagram(std::uint8_t* datagram, AddressFamily family) {
  ReplyView view;
  view.family = family;
  const std::uint8_t first = datagram[0];
  if (family == AddressFamily::ipv6) {
    if ((first & 0xF0u) == 0x60u && datagram[kIpv6NextHeaderOffset] == kNextHeaderIcmp6) {
      view.ip_header = datagram;
      view.message = datagram + kIpv6HeaderBytes;
    } else {
      view.message = datagram;
    }
    return view;
  }
  const std::size_t header_words = first & 0x0Fu;
  if ((first & 0xF0u) == 0x40u && header_words >= 5) {
    view.ip_header = datagram;
    view.message = datagram + header_words * 4;
  } else {
    view.message = datagram;
  }
  return view;
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

bool is_answer(const std::uint8_t* message, std::size_t length, std::uint16_t identifier,
               std::uint64_t send_stamp, AddressFamily family) {
  const std::uint8_t type = message[0];
  if (is_reported_error(type, family)) {
    return quotes_request(message, length, identifier, send_stamp, family);
  }
  return is_echo_reply(type, family) && length >= kEchoDataOffset &&
         read_le16(message + kIdentifierOffset) == identifier &&
         read_le64(message + kSendStampOffset) == send_stamp;
}

}  // namespace vexmo
