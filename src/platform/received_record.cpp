#include "platform/received_record.h"

namespace vexmo {

void read_ipv4_datagram(const std::uint8_t* datagram, std::size_t length, Received* received) {
  const std::size_t header_bytes = length > 0 ? (datagram[0] & 0x0Fu) * 4u : 0;
  if (length == 0 || (datagram[0] & 0xF0u) != 0x40u || header_bytes < 20) {
    read_bare_message(datagram, length, -1, received);
    return;
  }
  received->ttl.reset();
  if (length > 8) {
    received->ttl = datagram[8];
  }
  // A header longer than the datagram leaves an empty message.
  const std::size_t skipped = header_bytes < length ? header_bytes : length;
  received->message = datagram + skipped;
  received->length = length - skipped;
}

void read_bare_message(const std::uint8_t* message, std::size_t length, int ttl,
                       Received* received) {
  received->message = message;
  received->length = length;
  received->ttl.reset();
  if (ttl >= 0 && ttl <= 255) {
    received->ttl = static_cast<std::uint8_t>(ttl);
  }
}

}  // namespace vexmo
