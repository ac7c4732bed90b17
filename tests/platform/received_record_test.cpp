// What the backends record of a received datagram: the message behind the
// IPv4 header a raw socket hands over (of any valid length; a datagram that
// does not start with one is a bare message), or a message that came
// without its header, the time to live or hop limit reported beside it.
#include "platform/received_record.h"

#include <gtest/gtest.h>

#include <vector>

namespace vexmo {
namespace {

TEST(ReceivedRecord, MessageAndTimeToLive) {
  const struct {
    const char* name;
    bool ipv4_datagram;  // read as a raw IPv4 socket's datagram, or as a bare message
    std::uint8_t first;  // the first byte (the datagram's byte 8, the TTL, is 64)
    std::size_t length;
    int reported_ttl;  // beside a bare message; -1: none
    int ttl;           // recorded; -1: none
    std::size_t offset, message_length;
  } cases[] = {
      // clang-format off
      {"IPv4 header of 5 words", true, 0x45, 84, -1, 64, 20, 64},
      {"IPv4 header with 4 option bytes", true, 0x46, 84, -1, 64, 24, 60},
      {"IPv4 header of 15 words", true, 0x4F, 84, -1, 64, 60, 24},
      {"IPv4 header longer than the datagram", true, 0x4F, 40, -1, 64, 40, 0},
      {"IPv4 header cut before its TTL", true, 0x45, 8, -1, -1, 8, 0},
      {"header length below 5 words: bare", true, 0x44, 84, -1, -1, 0, 84},
      {"header length 0: bare", true, 0x40, 84, -1, -1, 0, 84},
      {"an echo reply without header: bare", true, 0x00, 84, -1, -1, 0, 84},
      {"an echo request without header: bare", true, 0x08, 84, -1, -1, 0, 84},
      {"version 5: bare", true, 0x55, 84, -1, -1, 0, 84},
      {"empty datagram", true, 0x45, 0, -1, -1, 0, 0},
      {"bare message, no hop limit", false, 129, 24, -1, -1, 0, 24},
      {"bare message, hop limit 0", false, 129, 24, 0, 0, 0, 24},
      {"bare message, hop limit 61", false, 129, 24, 61, 61, 0, 24},
      {"bare message, hop limit 255", false, 129, 24, 255, 255, 0, 24},
      {"bare message, hop limit past 255: none", false, 129, 24, 256, -1, 0, 24},
      // clang-format on
  };
  for (const auto& c : cases) {
    std::vector<std::uint8_t> datagram(128, 0);
    datagram[0] = c.first;
    datagram[8] = 64;
    Received received;
    received.ttl = 99;  // overwritten either way
    if (c.ipv4_datagram) {
      read_ipv4_datagram(datagram.data(), c.length, &received);
    } else {
      read_bare_message(datagram.data(), c.length, c.reported_ttl, &received);
    }
    EXPECT_EQ(received.message - datagram.data(), static_cast<std::ptrdiff_t>(c.offset)) << c.name;
    EXPECT_EQ(received.length, c.message_length) << c.name;
    EXPECT_EQ(received.ttl.has_value(), c.ttl >= 0) << c.name;
    if (received.ttl && c.ttl >= 0) {
      EXPECT_EQ(*received.ttl, c.ttl) << c.name;
    }
  }
}

}  // namespace
}  // namespace vexmo
