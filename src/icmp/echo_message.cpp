#include "icmp/echo_message.h"

#include <cstdlib>
#include <cstring>

#include "common/byte_order.h"

namespace vexmo {

std::uint32_t internet_checksum(const std::uint8_t* bytes, std::size_t length) {
  // The largest message (65,544 bytes) sums 32,772 words: no 32-bit overflow.
  std::uint32_t sum = 0;
  for (; length >= 2; bytes += 2, length -= 2) {
    sum += read_le16(bytes);
  }
  sum = (sum & 0xFFFFu) + (sum >> 16);
  sum = sum + (sum >> 16);
  return ~sum;
}

void write_echo_request(std::uint8_t* message, std::uint16_t identifier, std::uint16_t sequence,
                        const std::uint8_t* data, std::uint32_t size) {
  message[0] = kTypeEchoRequest;
  message[1] = 0;
  write_le16(message + 2, 0);
  write_le16(message + 4, identifier);
  write_le16(message + 6, sequence);
  write_le64(message + kSendStampOffset, 0);
  write_le64(message + kReceiveStampOffset, 0);
  std::memcpy(message + kEchoDataOffset, data, size - 16);
}

void seal_echo_request(std::uint8_t* message, std::uint32_t size, std::uint64_t send_stamp) {
  write_le64(message + kSendStampOffset, send_stamp);
  const std::uint32_t checksum = internet_checksum(message, size + kIcmpHeaderBytes);
  write_le16(message + 2, static_cast<std::uint16_t>(checksum));
}

Outcome send_echo_request(SocketHandle socket, const SocketAddress& destination,
                          std::uint16_t identifier, std::uint16_t sequence,
                          const std::uint8_t* data, std::uint32_t size, std::uint64_t* send_stamp) {
  const std::size_t length = size + kIcmpHeaderBytes;
  auto* message = static_cast<std::uint8_t*>(std::malloc(length));
  if (message == nullptr) {
    return -kErrorNoBuffers;
  }
  write_echo_request(message, identifier, sequence, data, size);
  // The copy of the data above stays outside the measured round trip:
  // only the checksum comes between this stamp and the send.
  *send_stamp = counter_now();
  seal_echo_request(message, size, *send_stamp);
  const std::int32_t sent = socket_send_to(socket, message, length, destination);
  // Taken before the release, which may touch the thread's last error.
  const int error = sent == kSocketError ? socket_last_error() : 0;
  std::free(message);
  return sent == kSocketError ? -error : sent;
}

}  // namespace vexmo
