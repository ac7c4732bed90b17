// The IPv6 header both backends put in front of a received ICMPv6 message.
#include "platform/ipv6_framing.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace vexmo {
namespace {

TEST(Ipv6Framing, HeaderCarriesTheFields) {
  const struct {
    std::uint8_t traffic_class, hop_limit;
    std::size_t payload;
    std::uint8_t expected[8];  // the first eight bytes on the wire
  } cases[] = {
      {0, 64, 64, {0x60, 0, 0, 0, 0, 64, 58, 64}},
      {0xB8, 1, 1400, {0x6B, 0x80, 0, 0, 0x05, 0x78, 58, 1}},
      {0xFF, 255, 65535, {0x6F, 0xF0, 0, 0, 0xFF, 0xFF, 58, 255}},
      {0, 0, 70000, {0x60, 0, 0, 0, 0xFF, 0xFF, 58, 0}},  // kept at the largest length
  };
  for (const auto& c : cases) {
    std::uint8_t header[kIpv6HeaderBytes];
    std::memset(header, 0xAA, sizeof header);
    Ipv6HeaderFields fields;
    fields.traffic_class = c.traffic_class;
    fields.hop_limit = c.hop_limit;
    fields.source[0] = 0x20, fields.source[15] = 0x05;
    fields.destination[0] = 0xfe, fields.destination[15] = 0x01;
    write_ipv6_header(header, fields, c.payload);
    EXPECT_EQ(std::memcmp(header, c.expected, 8), 0) << c.payload;
    EXPECT_EQ(std::memcmp(header + 8, fields.source, 16), 0);
    EXPECT_EQ(std::memcmp(header + 24, fields.destination, 16), 0);
  }
}

// With a hop limit the header goes in front; without one the message moves
// to the front, bare, as the wait then takes it.
TEST(Ipv6Framing, MessageWithOrWithoutHopLimit) {
  const std::uint8_t source[16] = {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 5};
  for (const int hop_limit : {-1, 0, 61, 255, 256}) {
    std::vector<std::uint8_t> datagram(40 + 24, 0xAA);
    for (std::size_t i = 0; i < 24; ++i) {
      datagram[40 + i] = static_cast<std::uint8_t>(129 + i);
    }
    const bool framed = hop_limit >= 0 && hop_limit <= 255;
    const std::size_t length = frame_icmp6_message(datagram.data(), 24, hop_limit, source);
    ASSERT_EQ(length, framed ? 64u : 24u) << hop_limit;
    const std::uint8_t* message = datagram.data() + (framed ? 40 : 0);
    for (std::size_t i = 0; i < 24; ++i) {
      ASSERT_EQ(message[i], 129 + i) << hop_limit;
    }
    if (framed) {
      EXPECT_EQ(datagram[0], 0x60);
      EXPECT_EQ(datagram[7], hop_limit);
      EXPECT_EQ(std::memcmp(datagram.data() + 8, source, 16), 0);
    }
  }
}

}  // namespace
}  // namespace vexmo
