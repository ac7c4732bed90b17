#include "icmp/answer.h"

#include <gtest/gtest.h>

#include <vector>

#include "common/byte_order.h"
#include "common/icmp.h"

namespace vexmo {
namespace {

constexpr std::uint64_t kStamp = 500000;

TEST(ViewDatagram, FindsTheMessageBehindAnyHeaderLength) {
  const struct {
    std::uint8_t first;
    bool has_header;
    std::size_t offset;
  } cases[] = {
      {0x45, true, 20}, {0x46, true, 24}, {0x4F, true, 60}, {0x44, false, 0},
      {0x40, false, 0}, {0x00, false, 0}, {0x08, false, 0}, {0x55, false, 0},
  };
  for (const auto& c : cases) {
    std::uint8_t datagram[128] = {};
    datagram[0] = c.first;
    const ReplyView view = view_datagram(datagram);
    EXPECT_EQ(view.ip_header != nullptr, c.has_header) << int{c.first};
    EXPECT_EQ(view.message - datagram, static_cast<std::ptrdiff_t>(c.offset)) << int{c.first};
  }
}

// An error message of the type quoting an echo request of ours: an IPv4
// header of header_words words (protocol ICMP), then quoted_bytes of the
// request (identifier 0x2222, stamp kStamp).
std::vector<std::uint8_t> error_quoting(std::uint8_t type, std::size_t quoted_bytes,
                                        int header_words = 5) {
  std::vector<std::uint8_t> request(24, 0);
  request[0] = kTypeEchoRequest;
  write_le16(request.data() + kIdentifierOffset, 0x2222);
  write_le64(request.data() + kSendStampOffset, kStamp);
  std::vector<std::uint8_t> message(kIcmpHeaderBytes + header_words * 4u, 0);
  message[0] = type;
  message[kQuotedHeaderOffset] = static_cast<std::uint8_t>(0x40 | header_words);
  message[kQuotedHeaderOffset + kIpv4ProtocolOffset] = kProtocolIcmp;
  message.insert(message.end(), request.begin(), request.begin() + quoted_bytes);
  return message;
}

TEST(IsAnswer, ErrorTypesQuoteTheRequestRepliesEchoTheStamp) {
  for (int type = 0; type < 256; ++type) {
    const bool error = is_error_type(static_cast<std::uint8_t>(type));
    std::vector<std::uint8_t> message(64, 0);
    if (error) {
      message = error_quoting(static_cast<std::uint8_t>(type), 24);
    } else {
      message[0] = static_cast<std::uint8_t>(type);
      write_le16(message.data() + kIdentifierOffset, 0x2222);
      write_le64(message.data() + kSendStampOffset, kStamp);
    }
    EXPECT_EQ(carried_identifier(message.data()), 0x2222) << type;
    // Only echo replies and the error kinds that are reported answer.
    EXPECT_EQ(is_answer(message.data(), message.size(), 0x2222, kStamp), error || type == 0)
        << type;
    EXPECT_FALSE(is_answer(message.data(), message.size(), 0x3333, kStamp)) << type;
    EXPECT_FALSE(is_answer(message.data(), error ? 33 : 23, 0x2222, kStamp)) << type;
  }
}

// An error is this request's answer only when what it quotes is this
// request: an ICMP echo request with our identifier and, where quoted, our
// send stamp. Anything else is someone else's traffic.
TEST(IsAnswer, ErrorsMustQuoteThisRequest) {
  const auto with = [](std::vector<std::uint8_t> m, std::size_t at, std::uint8_t value) {
    m[at] = value;
    return m;
  };
  const std::size_t request_at = kQuotedHeaderOffset + kIpv4HeaderBytes;
  const std::vector<std::uint8_t> full = error_quoting(kTypeTimeExceeded, 24);
  std::vector<std::uint8_t> udp_length_equal = full;  // another program's UDP datagram
  udp_length_equal[kQuotedHeaderOffset + kIpv4ProtocolOffset] = 17;
  const struct {
    const char* name;
    std::vector<std::uint8_t> message;
    bool answer;
  } cases[] = {
      {"quote with the stamp", full, true},
      {"minimal quote: header and 8 bytes", error_quoting(kTypeDestinationUnreachable, 8), true},
      {"quote cut inside the stamp", error_quoting(kTypeDestinationUnreachable, 15), true},
      {"quoted header with options", error_quoting(kTypeTimeExceeded, 24, 7), true},
      {"quote that just reaches the identifier", error_quoting(kTypeTimeExceeded, 6), true},
      {"quote cut inside the identifier", error_quoting(kTypeTimeExceeded, 5), false},
      {"UDP datagram whose length field equals our identifier", udp_length_equal, false},
      {"quoted echo reply, not a request", with(full, request_at, kTypeEchoReply), false},
      {"forged or stale stamp", with(full, request_at + kSendStampOffset, 0x01), false},
      {"quoted header of version 6", with(full, kQuotedHeaderOffset, 0x65), false},
      {"quoted header length below 5 words", with(full, kQuotedHeaderOffset, 0x44), false},
      {"nothing quoted", error_quoting(kTypeTimeExceeded, 0), false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(is_answer(c.message.data(), c.message.size(), 0x2222, kStamp), c.answer) << c.name;
  }
}

}  // namespace
}  // namespace vexmo
