#include "icmp/answer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "common/byte_order.h"
#include "common/icmp.h"

namespace vexmo {
namespace {

constexpr std::uint64_t kStamp = 500000;

// A message as a socket received it (of length bytes; all of it when 0).
Received as_message(const std::vector<std::uint8_t>& message, AddressFamily family,
                    std::size_t length = 0) {
  Received received;
  received.family = family;
  received.message = message.data();
  received.length = length != 0 ? length : message.size();
  return received;
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
    EXPECT_EQ(is_answer(as_message(message, AddressFamily::ipv4), 0x2222, kStamp),
              error || type == 0)
        << type;
    EXPECT_FALSE(is_answer(as_message(message, AddressFamily::ipv4), 0x3333, kStamp)) << type;
    EXPECT_FALSE(
        is_answer(as_message(message, AddressFamily::ipv4, error ? 33 : 23), 0x2222, kStamp))
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
    EXPECT_EQ(is_answer(as_message(c.message, family), 0x2222, kStamp), c.answer) << c.name;
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
    EXPECT_EQ(is_answer(as_message(message, v6), 0x2222, kStamp), error || type == 129) << type;
    EXPECT_FALSE(is_answer(as_message(message, v6), 0x3333, kStamp)) << type;
    EXPECT_FALSE(is_answer(as_message(message, v6, error ? 53 : 23), 0x2222, kStamp)) << type;
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
  EXPECT_FALSE(is_answer(as_message(full, AddressFamily::ipv4), 0x2222, kStamp));
}

// An error the system reports beside the traffic (Linux ICMP datagram
// sockets) answers by the request it quotes, from the request's ICMP header
// on: the rules of the quote in a message, without a quoted header.
TEST(IsAnswer, ReportsAnswerByTheRequestTheyQuote) {
  using F = AddressFamily;
  std::vector<std::uint8_t> ours(24, 0);  // our request: identifier 0x2222, stamp kStamp
  ours[0] = kTypeEchoRequest;
  write_le16(ours.data() + kIdentifierOffset, 0x2222);
  write_le64(ours.data() + kSendStampOffset, kStamp);
  std::vector<std::uint8_t> ours6 = ours;
  ours6[0] = kType6EchoRequest;
  const struct {
    const char* name;
    AddressFamily family;
    std::uint8_t type;
    std::vector<std::uint8_t> quote;
    std::size_t quoted_length;
    bool answer;
  } cases[] = {
      // clang-format off
      {"time exceeded quoting ours", F::ipv4, kTypeTimeExceeded, ours, 24, true},
      {"quote that just reaches the identifier", F::ipv4, kTypeDestinationUnreachable, ours, 6, true},
      {"quote cut inside the stamp", F::ipv4, kTypeRedirect, ours, 15, true},
      {"quote cut inside the identifier", F::ipv4, kTypeTimeExceeded, ours, 5, false},
      {"nothing quoted", F::ipv4, kTypeTimeExceeded, {}, 0, false},
      {"foreign identifier", F::ipv4, kTypeTimeExceeded, with(ours, kIdentifierOffset, 0x23), 24, false},
      {"forged or stale stamp", F::ipv4, kTypeParameterProblem, with(ours, kSendStampOffset, 1), 24, false},
      {"quoted echo reply, not a request", F::ipv4, kTypeSourceQuench, with(ours, 0, 0), 24, false},
      {"a type that is no reported error", F::ipv4, kTypeEchoReply, ours, 24, false},
      {"ICMPv6 packet too big quoting ours", F::ipv6, kType6PacketTooBig, ours6, 24, true},
      {"ICMPv6 quoting an ICMP (IPv4) request", F::ipv6, kType6TimeExceeded, ours, 24, false},
      {"ICMPv6 type 11 is no error", F::ipv6, kTypeTimeExceeded, ours6, 24, false},
      // clang-format on
  };
  for (const auto& c : cases) {
    Received received;
    received.family = c.family;
    received.reported = true;
    received.type = c.type;
    received.quoted_request = c.quote.empty() ? nullptr : c.quote.data();
    received.quoted_length = c.quoted_length;
    EXPECT_EQ(is_answer(received, 0x2222, kStamp), c.answer) << c.name;
  }
}

// The answer's fields, from a message or from a report alike: the second
// word of an error is a redirect's gateway or an ICMPv6 MTU, on the wire
// in network order, in a report as a number.
TEST(ReadAnswer, FieldsOfMessagesAndReports) {
  using F = AddressFamily;
  const struct {
    const char* name;
    AddressFamily family;
    bool reported;
    std::uint8_t type, code;
    std::uint32_t second_word;  // as a number
    int ttl;                    // -1: none reported
    bool echo_reply;
    std::int64_t gateway_bytes;  // the gateway's bytes, first on the wire highest; -1: none
    std::int64_t mtu;            // -1: none
  } cases[] = {
      // clang-format off
      {"echo reply with a time to live", F::ipv4, false, 0, 0, 0x2222000Bu, 57, true, -1, -1},
      {"echo reply without one", F::ipv4, false, 0, 0, 0x2222000Bu, -1, true, -1, -1},
      {"ICMPv6 echo reply, hop limit 61", F::ipv6, false, 129, 0, 0x2222000Bu, 61, true, -1, -1},
      {"redirect message", F::ipv4, false, 5, 1, 0xC0A805D4u, -1, false, 0xC0A805D4u, -1},
      {"redirect report", F::ipv4, true, 5, 1, 0xC0A805D4u, 64, false, 0xC0A805D4u, -1},
      {"fragmentation needed: no MTU shown", F::ipv4, true, 3, 4, 576, 64, false, -1, -1},
      {"packet too big message", F::ipv6, false, 2, 0, 1280, 64, false, -1, 1280},
      {"packet too big report", F::ipv6, true, 2, 0, 0x80000000u, -1, false, -1, 0x80000000u},
      {"ICMPv6 type 5 has no gateway", F::ipv6, false, 5, 0, 0xC0A805D4u, -1, false, -1, -1},
      {"time exceeded report", F::ipv6, true, 3, 0, 0, 64, false, -1, -1},
      // clang-format on
  };
  for (const auto& c : cases) {
    std::vector<std::uint8_t> message(64, 0);
    message[0] = c.type;
    message[1] = c.code;
    for (int i = 0; i < 4; ++i) {
      message[4 + i] = static_cast<std::uint8_t>(c.second_word >> (24 - 8 * i));
    }
    Received received = as_message(message, c.family);
    if (c.reported) {
      received = Received{};
      received.family = c.family;
      received.reported = true;
      received.type = c.type;
      received.code = c.code;
      received.info = c.second_word;
    }
    if (c.ttl >= 0) {
      received.ttl = static_cast<std::uint8_t>(c.ttl);
    }
    const Answer answer = read_answer(received, 12345);
    EXPECT_EQ(answer.family, c.family) << c.name;
    EXPECT_EQ(answer.type, c.type) << c.name;
    EXPECT_EQ(answer.code, c.code) << c.name;
    EXPECT_EQ(answer.echo_reply, c.echo_reply) << c.name;
    if (c.echo_reply) {
      EXPECT_EQ(answer.sequence, 0x0B00) << c.name;  // bytes 6 and 7, low byte first
      EXPECT_EQ(answer.round_trip_us, 12345u) << c.name;
      EXPECT_EQ(answer.ttl.has_value(), c.ttl >= 0) << c.name;
      if (answer.ttl && c.ttl >= 0) {
        EXPECT_EQ(*answer.ttl, c.ttl) << c.name;
      }
    }
    EXPECT_EQ(answer.gateway.has_value(), c.gateway_bytes >= 0) << c.name;
    if (answer.gateway && c.gateway_bytes >= 0) {
      std::uint8_t bytes[4];
      std::memcpy(bytes, &*answer.gateway, sizeof bytes);
      EXPECT_EQ(
          static_cast<std::uint32_t>(bytes[0]) << 24 | bytes[1] << 16 | bytes[2] << 8 | bytes[3],
          c.gateway_bytes)
          << c.name;
    }
    EXPECT_EQ(answer.mtu.has_value(), c.mtu >= 0) << c.name;
    if (answer.mtu && c.mtu >= 0) {
      EXPECT_EQ(*answer.mtu, c.mtu) << c.name;
    }
  }
}

}  // namespace
}  // namespace vexmo
