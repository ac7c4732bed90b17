#include "icmp/icmp_socket.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/byte_order.h"
#include "icmp/echo_message.h"
#include "support/fake_platform.h"

namespace vexmo {
namespace {

constexpr std::uint16_t kOurId = 0x1234;  // low 16 bits of the fake process id
constexpr std::uint16_t kOtherId = 0x4321;
constexpr std::uint64_t kStamp = 500000;  // the send stamp of the request being answered

std::vector<std::uint8_t> echo(std::uint8_t type, std::uint16_t identifier,
                               std::uint16_t sequence = 0) {
  std::vector<std::uint8_t> data(56, 0);
  std::vector<std::uint8_t> message(64);
  write_echo_request(message.data(), identifier, sequence, data.data(), 56);
  seal_echo_request(message.data(), 56, kStamp);
  message[0] = type;
  return message;
}

std::vector<std::uint8_t> stamped(std::vector<std::uint8_t> message, std::uint64_t stamp) {
  write_le64(message.data() + kSendStampOffset, stamp);
  return message;
}

std::vector<std::uint8_t> truncated(std::vector<std::uint8_t> message, std::size_t length) {
  message.resize(length);
  return message;
}

fake::Datagram arriving(std::vector<std::uint8_t> bytes, std::uint64_t at_us,
                        std::uint32_t from = fake::address(10, 0, 0, 2)) {
  fake::Datagram d;
  d.bytes = std::move(bytes);
  d.arrive_us = at_us;
  d.from = from;
  return d;
}

struct WaitCase {
  std::string name;
  std::vector<fake::Datagram> inbound;
  std::uint32_t timeout_ms;
  std::uint32_t tick_offset_ms;
  Outcome expected;            // the outcome of the wait
  std::uint8_t expected_type;  // type of the message in view (when expected > 0)
  int receives;                // datagrams read (receive calls)
};

TEST(WaitForReply, RecognisesTheAnswer) {
  const std::uint64_t t0 = 1000000;  // the fake clock's start
  const std::vector<std::uint8_t> request = echo(8, kOurId);
  const WaitCase cases[] = {
      {"echo reply", {arriving(fake::ip_datagram(echo(0, kOurId), 63), t0 + 5000)}, 3000, 0, 84, 0,
       1},
      {"foreign identifier skipped",
       {arriving(fake::ip_datagram(echo(0, kOtherId), 64), t0 + 1000),
        arriving(fake::ip_datagram(echo(0, kOurId), 64), t0 + 2000)},
       3000, 0, 84, 0, 2},
      {"own echo request skipped",
       {arriving(fake::ip_datagram(request, 64), t0 + 10),
        arriving(fake::ip_datagram(echo(0, kOurId), 64), t0 + 50)},
       3000, 0, 84, 0, 2},
      {"time exceeded matched through the quoted request",
       {arriving(fake::ip_datagram(fake::error_about(11, 0, request), 255), t0 + 100)}, 3000, 0, 56,
       11, 1},
      {"error about another process's request skipped",
       {arriving(fake::ip_datagram(fake::error_about(3, 1, echo(8, kOtherId)), 64), t0 + 100)},
       3000, 0, -10060, 0, 2},
      {"reply with IP options", {arriving(fake::ip_datagram(echo(0, kOurId), 64, 8), t0 + 5000)},
       3000, 0, 96, 0, 1},
      {"unreported type with our identifier is skipped",
       {arriving(fake::ip_datagram(echo(13, kOurId), 64), t0 + 100)}, 3000, 0, -10060, 0, 2},
      {"reply to an earlier request skipped for this one's",
       {arriving(fake::ip_datagram(stamped(echo(0, kOurId), kStamp - 3000000), 64), t0 + 100),
        arriving(fake::ip_datagram(echo(0, kOurId), 64), t0 + 200)},
       3000, 0, 84, 0, 2},
      {"forged stamps never answer",
       {arriving(fake::ip_datagram(stamped(echo(0, kOurId), 0), 64), t0 + 100),
        arriving(fake::ip_datagram(stamped(echo(0, kOurId), ~0ull), 64), t0 + 200),
        arriving(fake::ip_datagram(stamped(echo(0, kOurId), t0 + 900000), 64), t0 + 300)},
       3000, 0, -10060, 0, 4},
      {"echo reply too short to carry the stamps",
       {arriving(fake::ip_datagram(truncated(echo(0, kOurId), 16), 64), t0 + 100)}, 3000, 0,
       -10060, 0, 2},
      {"error whose quote is cut before the identifier",
       {arriving(fake::ip_datagram(echo(0, kOtherId), 64), t0 + 50),
        arriving(fake::ip_datagram(truncated(fake::error_about(11, 0, request), 30), 255),
                 t0 + 100)},
       3000, 0, -10060, 0, 3},
      {"matching reply after the deadline",
       {arriving(fake::ip_datagram(echo(0, kOtherId), 64), t0 + 2999000),
        arriving(fake::ip_datagram(echo(0, kOurId), 64), t0 + 3001000)},
       3000, 0, -10060, 0, 2},
      {"matching reply right at the deadline",
       {arriving(fake::ip_datagram(echo(0, kOurId), 64), t0 + 3000000)}, 3000, 0, 84, 0, 1},
      {"tick count wrapping during the wait",
       {arriving(fake::ip_datagram(echo(0, kOurId), 64), t0 + 20000)}, 3000, 0xFFFFFFFFu - 1010, 84,
       0, 1},
      {"no deadline with a timeout of 0",
       {arriving(fake::ip_datagram(echo(0, kOtherId), 64), t0 + 500),
        arriving(fake::ip_datagram(echo(0, kOurId), 64), t0 + 90000000)},
       0, 0, 84, 0, 2},
      {"socket timeout", {}, 3000, 0, -10060, 0, 1},
      {"other receive failure", {[] {
         fake::Datagram d;
         d.error = 10054;
         return d;
       }()},
       3000, 0, -10054, 0, 1},
  };
  for (const WaitCase& c : cases) {
    fake::reset();
    fake::state().receive_timeout_ms = c.timeout_ms;
    fake::state().tick_offset_ms = c.tick_offset_ms;
    fake::state().inbound.assign(c.inbound.begin(), c.inbound.end());
    SocketAddress from = {0, 0, 0};
    ReplyView view;
    const Outcome outcome = wait_for_reply(3, &from, &view, kStamp);
    EXPECT_EQ(outcome, c.expected) << c.name;
    EXPECT_EQ(fake::state().receives, c.receives) << c.name;
    if (c.expected > 0) {
      EXPECT_EQ(view.message[0], c.expected_type) << c.name;
      EXPECT_EQ(from.address, fake::address(10, 0, 0, 2)) << c.name;
    }
  }
}

TEST(WaitForReply, StampsOnlyMatchingEchoReplies) {
  fake::reset();
  fake::state().inbound.push_back(arriving(fake::ip_datagram(echo(0, kOurId), 64), 1012345));
  SocketAddress from = {0, 0, 0};
  ReplyView view;
  ASSERT_EQ(wait_for_reply(3, &from, &view, kStamp), 84);
  EXPECT_EQ(read_le64(view.message + kSendStampOffset), 500000u);
  EXPECT_EQ(read_le64(view.message + kReceiveStampOffset), 1012345u);
  ASSERT_NE(view.ip_header, nullptr);
  EXPECT_EQ(view.ip_header[8], 64);

  // A foreign reply keeps its echoed bytes.
  fake::reset();
  std::vector<std::uint8_t> foreign = echo(0, kOtherId);
  write_le64(foreign.data() + kReceiveStampOffset, 42);
  fake::state().inbound.push_back(arriving(fake::ip_datagram(foreign, 64), 1000100));
  ASSERT_EQ(wait_for_reply(3, &from, &view, kStamp), -10060);
  EXPECT_EQ(read_le64(view.message + kReceiveStampOffset), 42u);
}

TEST(WaitForReply, AddressRecordIsResetWhenNothingArrives) {
  fake::reset();
  SocketAddress from = {kFamilyInet, 0x1111, fake::address(10, 0, 0, 9)};
  ReplyView view;
  EXPECT_EQ(wait_for_reply(3, &from, &view, kStamp), -10060);
  EXPECT_EQ(from.family, kFamilyInet);
  EXPECT_EQ(from.port, 0);
  EXPECT_EQ(from.address, 0u);
}

TEST(WaitForReply, UnreadableTimeoutMeansNoDeadline) {
  fake::reset();
  fake::state().timeout_option_fails = true;
  fake::state().inbound.push_back(
      arriving(fake::ip_datagram(echo(0, kOurId), 64), 1000000 + 10000000));
  SocketAddress from = {0, 0, 0};
  ReplyView view;
  EXPECT_EQ(wait_for_reply(3, &from, &view, kStamp), 84);
}

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

TEST(IsAnswer, ErrorTypesQuoteTheRequestRepliesEchoTheStamp) {
  for (int type = 0; type < 256; ++type) {
    std::uint8_t message[64] = {};
    message[0] = static_cast<std::uint8_t>(type);
    write_le16(message + 4, 0x1111);
    write_le16(message + 32, 0x2222);
    write_le64(message + kSendStampOffset, kStamp);
    const bool error = type == 3 || type == 4 || type == 5 || type == 11 || type == 12;
    EXPECT_EQ(carried_identifier(message), error ? 0x2222 : 0x1111) << type;
    // Only echo replies and the error kinds that are reported answer.
    EXPECT_EQ(is_answer(message, sizeof message, error ? 0x2222 : 0x1111, kStamp),
              error || type == 0)
        << type;
    EXPECT_FALSE(is_answer(message, sizeof message, 0x3333, kStamp)) << type;
    EXPECT_FALSE(is_answer(message, error ? 33 : 23, error ? 0x2222 : 0x1111, kStamp)) << type;
  }
}

TEST(DiscardWaitingDatagrams, DrainsOnlyWhatIsAlreadyQueued) {
  fake::reset();
  fake::Datagram stale = arriving(fake::ip_datagram(echo(0, kOurId), 64), 0);
  stale.waiting = true;
  fake::state().inbound = {stale, stale, arriving(fake::ip_datagram(echo(0, kOurId), 64), 1000500)};
  discard_waiting_datagrams(3);
  EXPECT_EQ(fake::state().discarded, 2);
  EXPECT_EQ(fake::state().inbound.size(), 1u);

  // A flood that never ends cannot hold the next request back.
  fake::reset();
  fake::state().inbound.assign(kMaxDiscardedDatagrams + 10, stale);
  discard_waiting_datagrams(3);
  EXPECT_EQ(fake::state().discarded, kMaxDiscardedDatagrams);
}

TEST(ApplySocketOptions, SetsOnlyWhatWasAskedInOrder) {
  using O = SocketOption;
  const struct {
    const char* name;
    void (*change)(RunSettings*);
    std::vector<std::pair<O, std::uint32_t>> expected;
  } cases[] = {
      {"defaults",
       [](RunSettings*) {},
       {{O::receive_timeout_ms, 3000},
        {O::send_timeout_ms, 3000},
        {O::send_buffer_bytes, 65536},
        {O::receive_buffer_bytes, 65536}}},
      {"everything",
       [](RunSettings* s) {
         s->timeout_ms = 0;
         s->ttl = 64, s->ttl_given = true;
         s->tos = 0x58, s->tos_given = true;
         s->dont_fragment = true;
       },
       {{O::receive_timeout_ms, 0},
        {O::send_timeout_ms, 0},
        {O::send_buffer_bytes, 65536},
        {O::receive_buffer_bytes, 65536},
        {O::time_to_live, 64},
        {O::type_of_service, 0x58},
        {O::dont_fragment, 1}}},
      {"tos alone",
       [](RunSettings* s) { s->tos = 0x60, s->tos_given = true; },
       {{O::receive_timeout_ms, 3000},
        {O::send_timeout_ms, 3000},
        {O::send_buffer_bytes, 65536},
        {O::receive_buffer_bytes, 65536},
        {O::type_of_service, 0x60}}},
  };
  for (const auto& c : cases) {
    fake::reset();
    RunSettings settings;
    c.change(&settings);
    apply_socket_options(3, settings);
    EXPECT_EQ(fake::state().options, c.expected) << c.name;
    // Last, once, with the identifier the requests carry (low 16 bits of
    // the process id 0x00051234).
    const std::vector<std::pair<std::uint16_t, std::size_t>> filters = {
        {0x1234, c.expected.size()}};
    EXPECT_EQ(fake::state().identifier_filters, filters) << c.name;
  }
}

}  // namespace
}  // namespace vexmo
