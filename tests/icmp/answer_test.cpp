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
    const ReplyView view = view_datagram(datagram, AddressFamily::ipv4);
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
    EXPECT_EQ(carried_identifier(message.data(), AddressFamily::ipv4), 0x2222) << type;
    // Only echo replies and the error kinds that are reported answer.
    EXPECT_EQ(is_answer(message.data(), message.size(), 0x2222, kStamp, AddressFamily::ipv4),
              error || type == 0)
        << type;
    EXPECT_FALSE(is_answer(message.data(), message.size(), 0x3333, kStamp, AddressFamily::ipv4))
        << type;
    EXPECT_FALSE(is_answer(message.data(), error ? 33 : 23, 0x2222, kStamp, AddressFamily::ipv4))
        << type;
  }
}

// message with the byte at `at` set to value: one field of a quote spoiled.
std::vector<std::uint8_t> with(std::vector<std::uint8_t> message, std::size_t at,
                               std::uint8_t value) {
  message[at] = value;
  return message;
}

// An error message and whether it answers our request (identifier 0x2222,
// stamp kStamp).
struct QuoteCase {
  const char* name;
  std::vector<std::uint8_t> message;
  bool answer;
};

template <std::size_t N>
void expect_answers(const QuoteCase (&cases)[N], AddressFamily family) {
  for (const auto& c : cases) {
    EXPECT_EQ(is_answer(c.message.data(), c.message.size(), 0x2222, kStamp, family), c.answer)
        << c.name;
  }
}

// An error is this request's answer only when what it quotes is this
// request: an ICMP echo request with our identifier and, where quoted, our
// send stamp. Anything else is someone else's traffic.
TEST(IsAnswer, ErrorsMustQuoteThisRequest) {
  const std::size_t request_at = kQuotedHeaderOffset + kIpv4HeaderBytes;
  const std::vector<std::uint8_t> full = error_quoting(kTypeTimeExceeded, 24);
  std::vector<std::uint8_t> udp_length_equal = full;  // another program's UDP datagram
  udp_length_equal[kQuotedHeaderOffset + kIpv4ProtocolOffset] = 17;
  const QuoteCase cases[] = {
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
  expect_answers(cases, AddressFamily::ipv4);
}

TEST(ViewDatagram, Icmp6MessageBehindTheRebuiltHeaderOrBare) {
  const struct {
    std::uint8_t first;
    std::uint8_t next_header;
    bool has_header;
  } cases[] = {
      {0x60, 58, true},  {0x6F, 58, true},   // any traffic class bits
      {0x60, 17, false}, {0x45, 58, false},  // no ICMPv6 behind it, or IPv4
      {129, 0, false},   {1, 58, false},     // bare messages
  };
  for (const auto& c : cases) {
    std::uint8_t datagram[128] = {};
    datagram[0] = c.first;
    datagram[kIpv6NextHeaderOffset] = c.next_header;
    const ReplyView view = view_datagram(datagram, AddressFamily::ipv6);
    EXPECT_EQ(view.family, AddressFamily::ipv6);
    EXPECT_EQ(view.ip_header != nullptr, c.has_header) << int{c.first};
    EXPECT_EQ(view.message - datagram, c.has_header ? 40 : 0) << int{c.first};
  }
}

// An ICMPv6 error quoting an echo request of ours: a 40-byte IPv6 header
// (next header 58), then quoted_bytes of the request (identifier 0x2222 at
// offset 52 of the error, stamp kStamp).
std::vector<std::uint8_t> error6_quoting(std::uint8_t type, std::size_t quoted_bytes) {
  std::vector<std::uint8_t> request(24, 0);
  request[0] = kType6EchoRequest;
  write_le16(request.data() + kIdentifierOffset, 0x2222);
  write_le64(request.data() + kSendStampOffset, kStamp);
  std::vector<std::uint8_t> message(kIcmpHeaderBytes + kIpv6HeaderBytes, 0);
  message[0] = type;
  message[kQuotedHeaderOffset] = 0x60;
  message[kQuotedHeaderOffset + kIpv6NextHeaderOffset] = kNextHeaderIcmp6;
  message.insert(message.end(), request.begin(), request.begin() + quoted_bytes);
  return message;
}

TEST(IsAnswer, Icmp6ErrorsQuoteTheRequestRepliesEchoTheStamp) {
  for (int type = 0; type < 256; ++type) {
    const bool error = type >= 1 && type <= 4;
    std::vector<std::uint8_t> message(64, 0);
    if (error) {
      message = error6_quoting(static_cast<std::uint8_t>(type), 24);
    } else {
      message[0] = static_cast<std::uint8_t>(type);
      write_le16(message.data() + kIdentifierOffset, 0x2222);
      write_le64(message.data() + kSendStampOffset, kStamp);
    }
    const AddressFamily v6 = AddressFamily::ipv6;
    EXPECT_EQ(carried_identifier(message.data(), v6), 0x2222) << type;
    // Only echo replies (129) and errors 1 to 4 answer: not type 0, not our
    // own request (128), not neighbour discovery or anything else.
    EXPECT_EQ(is_answer(message.data(), message.size(), 0x2222, kStamp, v6), error || type == 129)
        << type;
    EXPECT_FALSE(is_answer(message.data(), message.size(), 0x3333, kStamp, v6)) << type;
    EXPECT_FALSE(is_answer(message.data(), error ? 53 : 23, 0x2222, kStamp, v6)) << type;
  }
}

// The quote of a request's first fragment: a Fragment header (next header
// 58, the offset and flags bytes as given) between the IPv6 header and the
// request.
std::vector<std::uint8_t> first_fragment(std::vector<std::uint8_t> message,
                                         std::uint8_t offset_high,
                                         std::uint8_t offset_low_and_flags) {
  const std::size_t request_at = kQuotedHeaderOffset + kIpv6HeaderBytes;
  message[kQuotedHeaderOffset + kIpv6NextHeaderOffset] = kNextHeaderFragment;
  const std::uint8_t fragment[] = {
      kNextHeaderIcmp6, 0, offset_high, offset_low_and_flags, 0x12, 0x34, 0x56, 0x78};
  message.insert(message.begin() + static_cast<std::ptrdiff_t>(request_at), std::begin(fragment),
                 std::end(fragment));
  return message;
}

std::vector<std::uint8_t> cut(std::vector<std::uint8_t> message, std::size_t length) {
  message.resize(length);
  return message;
}

// The rule of IPv4, for ICMPv6: the quote must be an IPv6 header of an ICMPv6
// datagram, then our echo request (128) with our identifier and, where
// quoted, our stamp.
TEST(IsAnswer, Icmp6ErrorsMustQuoteThisRequest) {
  const std::size_t request_at = kQuotedHeaderOffset + kIpv6HeaderBytes;
  const std::vector<std::uint8_t> full = error6_quoting(kType6TimeExceeded, 24);
  const QuoteCase cases[] = {
      {"quote with the stamp", full, true},
      {"packet too big, minimal quote", error6_quoting(kType6PacketTooBig, 8), true},
      {"quote cut inside the stamp", error6_quoting(kType6DestinationUnreachable, 15), true},
      {"quote that just reaches the identifier", error6_quoting(kType6TimeExceeded, 6), true},
      {"quote cut inside the identifier", error6_quoting(kType6TimeExceeded, 5), false},
      {"nothing quoted", error6_quoting(kType6TimeExceeded, 0), false},
      {"quoted next header UDP", with(full, kQuotedHeaderOffset + kIpv6NextHeaderOffset, 17),
       false},
      {"quoted fragment header, no Fragment header behind it",
       with(full, kQuotedHeaderOffset + kIpv6NextHeaderOffset, 44), false},
      {"first fragment: Fragment header, then the request", first_fragment(full, 0x00, 0x01), true},
      {"later fragment: offset 8", first_fragment(full, 0x00, 0x09), false},
      {"later fragment: offset 2048", first_fragment(full, 0x01, 0x01), false},
      {"first fragment of a UDP datagram", with(first_fragment(full, 0x00, 0x01), request_at, 17),
       false},
      {"Fragment header cut short", cut(first_fragment(full, 0x00, 0x01), request_at + 7), false},
      {"quoted header of version 4", with(full, kQuotedHeaderOffset, 0x45), false},
      {"quoted echo reply, not a request", with(full, request_at, kType6EchoReply), false},
      {"quoted ICMP (IPv4) echo request", with(full, request_at, kTypeEchoRequest), false},
      {"forged or stale stamp", with(full, request_at + kSendStampOffset, 0x01), false},
      {"foreign identifier at 52", with(full, kQuoted6IdentifierOffset, 0x23), false},
  };
  expect_answers(cases, AddressFamily::ipv6);
  // The same bytes read as IPv4 are no answer: the families never mix.
  EXPECT_FALSE(is_answer(full.data(), full.size(), 0x2222, kStamp, AddressFamily::ipv4));
}

}  // namespace
}  // namespace vexmo
