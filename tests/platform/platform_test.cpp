// What every backend must do alike, run against the real one.
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>

namespace vexmo {
namespace {

std::uint32_t bytes(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
  const std::uint8_t raw[4] = {a, b, c, d};
  std::uint32_t value;
  std::memcpy(&value, raw, sizeof value);
  return value;
}

TEST(DottedAddress, ParsesEveryForm) {
  const struct {
    const char* text;
    std::uint32_t address;
  } cases[] = {
      {"10.0.0.2", bytes(10, 0, 0, 2)},    {"127.1", bytes(127, 0, 0, 1)},
      {"10.1.258", bytes(10, 1, 1, 2)},   // a.b.c: c fills the last 16 bits
      {"167772162", bytes(10, 0, 0, 2)},  // a: all 32 bits
      {"0x7f.0.0.1", bytes(127, 0, 0, 1)}, {"0177.0.0.01", bytes(127, 0, 0, 1)},
      {"0x0a000002", bytes(10, 0, 0, 2)},  {"255.255.255.255", 0xFFFFFFFFu},
      {"10.0.0.256", 0xFFFFFFFFu},         {"1.2.3.4.5", 0xFFFFFFFFu},
      {"3com.example", 0xFFFFFFFFu},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(parse_dotted_address(c.text), c.address) << c.text;
  }
}

TEST(DottedAddress, FormatsBack) {
  char text[16];
  format_dotted_address(bytes(255, 255, 255, 255), text);
  EXPECT_STREQ(text, "255.255.255.255");
  format_dotted_address(0, text);
  EXPECT_STREQ(text, "0.0.0.0");
  format_dotted_address(bytes(10, 0, 0, 2), text);
  EXPECT_STREQ(text, "10.0.0.2");
}

// IPv6 text is converted without a lookup, a numeric zone included, and
// nothing else passes for it.
TEST(Ipv6Address, ParsesLiteralsOnly) {
  net_startup();
  const struct {
    const char* text;
    bool parsed;
    std::uint8_t first, last;
    std::uint32_t scope_id;
  } cases[] = {
      {"::1", true, 0, 1, 0},
      {"2001:db8::5", true, 0x20, 5, 0},
      {"2001:DB8:0:0:0:0:0:5", true, 0x20, 5, 0},
      {"fe80::1%1", true, 0xfe, 1, 1},
      {"::ffff:10.0.0.2", true, 0, 2, 0},
      {"10.0.0.2", false, 0, 0, 0},
      {"2001:db8::5::1", false, 0, 0, 0},
      {"2001:db8::g", false, 0, 0, 0},
      {"localhost", false, 0, 0, 0},
      {"", false, 0, 0, 0},
  };
  for (const auto& c : cases) {
    SocketAddress address;
    ASSERT_EQ(parse_ipv6_address(c.text, &address), c.parsed) << c.text;
    if (c.parsed) {
      EXPECT_EQ(address.family, AddressFamily::ipv6) << c.text;
      EXPECT_EQ(address.bytes[0], c.first) << c.text;
      EXPECT_EQ(address.bytes[15], c.last) << c.text;
      EXPECT_EQ(address.scope_id, c.scope_id) << c.text;
    }
  }
  net_cleanup();
}

// RFC 5952: lower case, no leading zeros, the first longest run of zero
// groups compressed, no zone.
TEST(Ipv6Address, FormatsAsRfc5952) {
  const struct {
    std::uint16_t groups[8];
    const char* text;
  } cases[] = {
      {{0, 0, 0, 0, 0, 0, 0, 1}, "::1"},
      {{0, 0, 0, 0, 0, 0, 0, 0}, "::"},
      {{0x2001, 0xdb8, 0, 0, 0, 0, 0, 5}, "2001:db8::5"},
      {{0x2001, 0xdb8, 0, 1, 0, 0, 0, 1}, "2001:db8:0:1::1"},
      {{0x2001, 0xdb8, 0, 0, 1, 0, 0, 1}, "2001:db8::1:0:0:1"},
      {{0xfe80, 0, 0, 0, 0xABCD, 0, 0, 1}, "fe80::abcd:0:0:1"},
  };
  for (const auto& c : cases) {
    SocketAddress address;
    address.family = AddressFamily::ipv6;
    address.scope_id = 3;
    for (int i = 0; i < 8; ++i) {
      address.bytes[2 * i] = static_cast<std::uint8_t>(c.groups[i] >> 8);
      address.bytes[2 * i + 1] = static_cast<std::uint8_t>(c.groups[i]);
    }
    char text[kAddressTextBytes];
    format_address(address, text);
    EXPECT_STREQ(text, c.text);
  }
  char text[kAddressTextBytes];
  format_address(ipv4_socket_address(bytes(10, 0, 0, 2)), text);
  EXPECT_STREQ(text, "10.0.0.2");
}

TEST(Clocks, CounterIsMonotonicAndThePauseIsFelt) {
  const std::uint64_t frequency = counter_frequency();
  ASSERT_GT(frequency, 0u);
  const std::uint64_t before = counter_now();
  // Without an interruption the pause lasts its time.
  EXPECT_EQ(pause_for(50), WaitEnd::elapsed);
  const std::uint64_t elapsed_us = (counter_now() - before) * 1000000 / frequency;
  EXPECT_GE(elapsed_us, 49000u);
  EXPECT_LT(elapsed_us, 2000000u);
}

// The wall clock is Unix time, as the standard library's system clock reads
// it (both UTC): it stamps the JSON lines.
TEST(Clocks, WallClockIsUnixTime) {
  const auto since_epoch = std::chrono::system_clock::now().time_since_epoch();
  const std::int64_t library_ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(since_epoch).count();
  const auto ms = static_cast<std::int64_t>(wall_clock_ns() / 1000000);
  EXPECT_LT(ms > library_ms ? ms - library_ms : library_ms - ms, 2000);
  EXPECT_GT(ms, std::int64_t{1577836800000});  // after 2020-01-01
}

TEST(Socket, OperationsOnAnInvalidSocketFailWithAnErrorNumber) {
  net_startup();
  const std::uint8_t message[8] = {8};
  const SocketAddress to = ipv4_socket_address(bytes(127, 0, 0, 1));
  const SocketHandle never_opened;
  EXPECT_EQ(socket_send_to(never_opened, message, sizeof message, to), -10038);  // not a socket
  SocketHandle never_opened6;
  never_opened6.family = AddressFamily::ipv6;
  SocketAddress to6;
  to6.family = AddressFamily::ipv6;
  to6.bytes[15] = 1;
  EXPECT_EQ(socket_send_to(never_opened6, message, sizeof message, to6), -10038);
  net_cleanup();
}

}  // namespace
}  // namespace vexmo
