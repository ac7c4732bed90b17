#include "icmp/answer.h"

#include "common/byte_order.h"
#include "common/icmp.h"

namespace vexmo {

ReplyView view_datagram(std::uint8_t* datagram) {
  ReplyView view;
  const std::uint8_t first = datagram[0];
  const std::size_t header_words = first & 0x0Fu;
  if ((first & 0xF0u) == 0x40u && header_words >= 5) {
    view.ip_header = datagram;
    view.message = datagram + header_words * 4;
  } else {
    view.message = datagram;
  }
  return view;
}

std::size_t identifier_offset(const std::uint8_t* message) {
  if (!is_error_type(message[0])) {
    return kIdentifierOffset;
  }
  const std::size_t quoted_header_bytes = (message[kQuotedHeaderOffset] & 0x0Fu) * 4u;
  return kQuotedHeaderOffset + quoted_header_bytes + kIdentifierOffset;
}

std::uint16_t carried_identifier(const std::uint8_t* message) {
  return read_le16(message + identifier_offset(message));
}

namespace {

bool quotes_request(const std::uint8_t* message, std::size_t length, std::uint16_t identifier,
                    std::uint64_t send_stamp) {
  // The quoted IPv4 header, whatever its length, must carry ICMP.
  if (length < kQuotedHeaderOffset + kIpv4HeaderBytes) {
    return false;
  }
  const std::uint8_t* quoted = message + kQuotedHeaderOffset;
  const std::size_t quoted_header_bytes = (quoted[0] & 0x0Fu) * 4u;
  if ((quoted[0] & 0xF0u) != 0x40u || quoted_header_bytes < kIpv4HeaderBytes ||
      quoted[kIpv4ProtocolOffset] != kProtocolIcmp) {
    return false;
  }
  // Behind it, an echo request with our identifier (senders should quote 8
  // bytes of it; a quote that reaches the identifier is enough).
  const std::size_t request_at = kQuotedHeaderOffset + quoted_header_bytes;
  if (length < request_at + kIdentifierOffset + 2) {
    return false;
  }
  const std::uint8_t* request = message + request_at;
  if (request[0] != kTypeEchoRequest || read_le16(request + kIdentifierOffset) != identifier) {
    return false;
  }
  // Where the quote reaches the send stamp, it must be this request's: 16
  // bits of identifier alone are easily met by chance or forged.
  const std::size_t quoted_bytes = length - request_at;
  return quoted_bytes < kSendStampOffset + 8 || read_le64(request + kSendStampOffset) == send_stamp;
}

}  // namespace

bool is_answer(const std::uint8_t* message, std::size_t length, std::uint16_t identifier,
               std::uint64_t send_stamp) {
  const std::uint8_t type = message[0];
  if (is_error_type(type)) {
    return quotes_request(message, length, identifier, send_stamp);
  }
  return type == kTypeEchoReply && length >= kEchoDataOffset &&
         carried_identifier(message) == identifier &&
         read_le64(message + kSendStampOffset) == send_stamp;
}

}  // namespace vexmo
