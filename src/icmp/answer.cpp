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

std::uint16_t carried_identifier(const std::uint8_t* message) {
  return read_le16(message +
                   (is_error_type(message[0]) ? kQuotedIdentifierOffset : kIdentifierOffset));
}

bool is_answer(const std::uint8_t* message, std::size_t length, std::uint16_t identifier,
               std::uint64_t send_stamp) {
  const std::uint8_t type = message[0];
  if (is_error_type(type)) {
    return length >= kQuotedIdentifierOffset + 2 && carried_identifier(message) == identifier;
  }
  return type == kTypeEchoReply && length >= kEchoDataOffset &&
         carried_identifier(message) == identifier &&
         read_le64(message + kSendStampOffset) == send_stamp;
}

}  // namespace vexmo
