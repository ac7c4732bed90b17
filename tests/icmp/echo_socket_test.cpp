#include "icmp/echo_socket.h"

#include <gtest/gtest.h>

#include <iterator>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "common/byte_order.h"
#include "common/icmp.h"
#include "icmp/echo_message.h"
#include "icmp/interruption.h"
#include "icmp/round_trip.h"
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
  write_echo_request(message.data(), AddressFamily::ipv4, identifier, sequence, data.data(), 56);
  seal_echo_request(message.data(), AddressFamily::ipv4, 56, kStamp);
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
  std::uint64_t counter_offset;  // added to the counter's readings
  Outcome expected;              // the outcome of the wait
  std::uint8_t expected_type;    // type of the answer (when expected > 0)
  int receives;                  // datagrams read (a wait ends by its deadline, not a receive)
};

constexpr std::uint64_t kT0 = 1000000;  // the fake clock's start

// The round trip the counter gives a reply to the request stamped kStamp
// recognised at the simulated time at_us (no kernel stamps).
std::uint32_t counted_us(std::uint64_t at_us) {
  return round_trip_us(kStamp, at_us, 1000000);
}

// The socket under test, opened anew (after fake::reset) as each run opens
// its own, with the run's timeout applied unless applied is false; on the
// heap, for its 64 KiB receive buffer.
EchoSocket& fresh_socket(std::uint32_t timeout_ms = 3000, bool applied = true,
                         AddressFamily family = AddressFamily::ipv4) {
  static std::unique_ptr<EchoSocket> socket;
  socket = std::make_unique<EchoSocket>();
  socket->open(family, kOurId);
  if (applied) {
    EchoOptions options;
    options.timeout_ms = timeout_ms;
    socket->apply(options);
  }
  return *socket;
}

std::vector<WaitCase> wait_cases() {
  const std::uint64_t t0 = kT0;
  const std::vector<std::uint8_t> request = echo(8, kOurId);
  const WaitCase cases[] = {
      // clang-format off
      {"echo reply", {arriving(fake::ip_datagram(echo(0, kOurId), 63), t0 + 5000)}, 3000, 0, 84, 0, 1},
      {"foreign identifier skipped", {arriving(fake::ip_datagram(echo(0, kOtherId), 64), t0 + 1000), arriving(fake::ip_datagram(echo(0, kOurId), 64), t0 + 2000)}, 3000, 0, 84, 0, 2},
      {"own echo request skipped", {arriving(fake::ip_datagram(request, 64), t0 + 10), arriving(fake::ip_datagram(echo(0, kOurId), 64), t0 + 50)}, 3000, 0, 84, 0, 2},
      {"time exceeded matched through the quoted request", {arriving(fake::ip_datagram(fake::error_about(11, 0, request), 255), t0 + 100)}, 3000, 0, 56, 11, 1},
      {"error about another process's request skipped", {arriving(fake::ip_datagram(fake::error_about(3, 1, echo(8, kOtherId)), 64), t0 + 100)}, 3000, 0, -10060, 0, 1},
      {"reply with IP options", {arriving(fake::ip_datagram(echo(0, kOurId), 64, 8), t0 + 5000)}, 3000, 0, 96, 0, 1},
      {"unreported type with our identifier is skipped", {arriving(fake::ip_datagram(echo(13, kOurId), 64), t0 + 100)}, 3000, 0, -10060, 0, 1},
      {"reply to an earlier request skipped for this one's", {arriving(fake::ip_datagram(stamped(echo(0, kOurId), kStamp - 3000000), 64), t0 + 100), arriving(fake::ip_datagram(echo(0, kOurId), 64), t0 + 200)}, 3000, 0, 84, 0, 2},
      {"forged stamps never answer", {arriving(fake::ip_datagram(stamped(echo(0, kOurId), 0), 64), t0 + 100), arriving(fake::ip_datagram(stamped(echo(0, kOurId), ~0ull), 64), t0 + 200), arriving(fake::ip_datagram(stamped(echo(0, kOurId), t0 + 900000), 64), t0 + 300)}, 3000, 0, -10060, 0, 3},
      {"echo reply too short to carry the stamps", {arriving(fake::ip_datagram(truncated(echo(0, kOurId), 16), 64), t0 + 100)}, 3000, 0, -10060, 0, 1},
      {"error whose quote is cut before the identifier", {arriving(fake::ip_datagram(echo(0, kOtherId), 64), t0 + 50), arriving(fake::ip_datagram(truncated(fake::error_about(11, 0, request), 30), 255), t0 + 100)}, 3000, 0, -10060, 0, 2},
      {"matching reply after the deadline", {arriving(fake::ip_datagram(echo(0, kOtherId), 64), t0 + 2999000), arriving(fake::ip_datagram(echo(0, kOurId), 64), t0 + 3001000)}, 3000, 0, -10060, 0, 1},
      {"matching reply right at the deadline", {arriving(fake::ip_datagram(echo(0, kOurId), 64), t0 + 3000000)}, 3000, 0, 84, 0, 1},
      {"a timeout of 1 ms is a deadline of 1 ms: a reply at 1 ms", {arriving(fake::ip_datagram(echo(0, kOurId), 64), t0 + 1000)}, 1, 0, 84, 0, 1},
      {"a timeout of 1 ms is a deadline of 1 ms: a reply after it", {arriving(fake::ip_datagram(echo(0, kOurId), 64), t0 + 1001)}, 1, 0, -10060, 0, 0},
      {"counter far from zero: times are differences", {arriving(fake::ip_datagram(echo(0, kOurId), 64), t0 + 20000)}, 3000, 0xFFFFFFFF00000000u, 84, 0, 1},
      {"no deadline with a timeout of 0", {arriving(fake::ip_datagram(echo(0, kOtherId), 64), t0 + 500), arriving(fake::ip_datagram(echo(0, kOurId), 64), t0 + 90000000)}, 0, 0, 84, 0, 2},
      {"socket timeout", {}, 3000, 0, -10060, 0, 0},
      {"other receive failure", {[] { fake::Datagram d; d.error = 10054; return d; }()}, 3000, 0, -10054, 0, 1},
      // clang-format on
  };
  return std::vector<WaitCase>(std::begin(cases), std::end(cases));
}

void expect_wait(const WaitCase& c, bool prepared) {
  fake::reset();
  EchoSocket& socket = fresh_socket(c.timeout_ms);
  fake::state().counter_offset = c.counter_offset;
  fake::state().inbound.assign(c.inbound.begin(), c.inbound.end());
  if (prepared) {
    socket.prepare_wait();
  }
  SocketAddress from;
  Answer answer;
  const Outcome outcome = socket.wait(&from, &answer, kStamp);
  const std::string name = c.name + (prepared ? " (prepared)" : "");
  EXPECT_EQ(outcome, c.expected) << name;
  EXPECT_EQ(fake::state().receives, c.receives) << name;
  if (c.expected > 0) {
    EXPECT_EQ(answer.type, c.expected_type) << name;
    EXPECT_EQ(ipv4_of(from), fake::address(10, 0, 0, 2)) << name;
  }
}

TEST(WaitForReply, RecognisesTheAnswer) {
  for (const WaitCase& c : wait_cases()) {
    expect_wait(c, false);
  }
}

// The preparation before the send only moves work out of the measured round
// trip: every wait ends exactly as it would unprepared.
TEST(WaitForReply, PreparedWaitEndsExactlyAsUnprepared) {
  for (const WaitCase& c : wait_cases()) {
    expect_wait(c, true);
  }
}

// ICMPv6: what an IPv6 socket's wait takes and what it skips. Messages
// arrive with the hop limit beside them (scripted as a header in front), or
// bare without one.
TEST(WaitForReply, Icmp6RecognisesTheAnswer) {
  const auto echo6 = [](std::uint8_t type, std::uint16_t identifier) {
    std::vector<std::uint8_t> message = echo(type, identifier);
    message[2] = message[3] = 0;
    return message;
  };
  std::vector<std::uint8_t> request = echo6(128, kOurId);
  const auto v6 = [](std::vector<std::uint8_t> bytes, std::uint64_t at_us) {
    fake::Datagram d;
    d.bytes = std::move(bytes);
    d.arrive_us = at_us;
    d.ipv6 = true;
    d.from6 = fake::address6(0x2001, 0xdb8, 0, 0, 0, 0, 0, 5);
    return d;
  };
  const struct {
    const char* name;
    std::vector<fake::Datagram> inbound;
    Outcome expected;
    std::uint8_t expected_type;
    bool has_header;
  } cases[] = {
      // clang-format off
      {"echo reply", {v6(fake::ipv6_datagram(echo6(129, kOurId), 64), kT0 + 500)}, 104, 129, true},
      {"echo reply without a hop limit", {v6(echo6(129, kOurId), kT0 + 500)}, 64, 129, false},
      {"foreign echo reply skipped", {v6(fake::ipv6_datagram(echo6(129, kOtherId), 64), kT0 + 100), v6(fake::ipv6_datagram(echo6(129, kOurId), 64), kT0 + 200)}, 104, 129, true},
      {"own echo request skipped", {v6(fake::ipv6_datagram(request, 64), kT0 + 10), v6(fake::ipv6_datagram(echo6(129, kOurId), 64), kT0 + 50)}, 104, 129, true},
      {"an ICMP (IPv4) echo reply is no answer here", {v6(fake::ipv6_datagram(echo6(0, kOurId), 64), kT0 + 100)}, -10060, 0, false},
      {"packet too big quoting ours", {v6(fake::ipv6_datagram(fake::error6_about(2, 0, request, 1280), 64), kT0 + 100)}, 40 + 8 + 40 + 64, 2, true},
      {"time exceeded quoting another process's request", {v6(fake::ipv6_datagram(fake::error6_about(3, 0, echo6(128, kOtherId)), 64), kT0 + 100)}, -10060, 0, false},
      {"neighbour solicitation with our identifier's bytes skipped", {v6(fake::ipv6_datagram(echo6(135, kOurId), 255), kT0 + 100)}, -10060, 0, false},
      // clang-format on
  };
  for (const auto& c : cases) {
    fake::reset();
    EchoSocket* socket = &fresh_socket(3000, true, AddressFamily::ipv6);
    fake::state().inbound.assign(c.inbound.begin(), c.inbound.end());
    SocketAddress from;
    Answer answer;
    EXPECT_EQ(socket->wait(&from, &answer, kStamp), c.expected) << c.name;
    if (c.expected > 0) {
      EXPECT_EQ(answer.family, AddressFamily::ipv6) << c.name;
      EXPECT_EQ(answer.type, c.expected_type) << c.name;
      EXPECT_EQ(from.family, AddressFamily::ipv6) << c.name;
      if (c.expected_type == 129) {
        EXPECT_EQ(answer.ttl.has_value(), c.has_header) << c.name;
        EXPECT_EQ(answer.round_trip_us, counted_us(fake::state().now_us)) << c.name;
      } else {
        EXPECT_EQ(answer.mtu.value_or(0), 1280u) << c.name;
      }
    }
  }
}

fake::Datagram long_foreign_datagram(bool waiting) {
  // 220 bytes of non-zero data that does not answer: it dirties the buffer.
  std::vector<std::uint8_t> message = echo(0, kOtherId);
  message.resize(200, 0xAA);
  fake::Datagram d = arriving(fake::ip_datagram(message, 64), kT0 + 100);
  d.waiting = waiting;
  return d;
}

// What an earlier wait or discard left in the buffer, and whether and when
// the wait was prepared, change nothing of the answer.
TEST(WaitForReply, EarlierWaitsDiscardsAndPreparationsLeaveTheAnswerAlone) {
  enum Step { earlier_wait, discard, prepare };
  const struct {
    const char* name;
    std::vector<Step> before;
  } cases[] = {
      {"after a wait, unprepared", {earlier_wait}},
      {"after a wait, prepared", {earlier_wait, prepare}},
      {"after a discard, prepared", {discard, prepare}},
      {"prepared, then a discard", {prepare, discard}},
      {"prepared twice around a wait", {prepare, earlier_wait, prepare}},
      {"a preparation serves one wait", {prepare, earlier_wait}},
  };
  for (const auto& c : cases) {
    fake::reset();
    EchoSocket& socket = fresh_socket();
    SocketAddress from;
    Answer answer;
    for (const Step step : c.before) {
      if (step == earlier_wait) {
        fake::state().inbound.push_back(long_foreign_datagram(false));
        ASSERT_EQ(socket.wait(&from, &answer, kStamp), -10060) << c.name;
      } else if (step == discard) {
        fake::state().inbound.push_back(long_foreign_datagram(true));
        socket.discard_waiting();
        ASSERT_EQ(fake::state().discarded, 1) << c.name;
      } else {
        socket.prepare_wait();
      }
    }
    // An error message quoting our request: 20 + 36 bytes.
    fake::state().inbound.push_back(arriving(
        fake::ip_datagram(fake::error_about(11, 0, echo(8, kOurId)), 255), fake::state().now_us));
    ASSERT_EQ(socket.wait(&from, &answer, kStamp), 56) << c.name;
    EXPECT_FALSE(answer.echo_reply) << c.name;
    EXPECT_EQ(answer.type, 11) << c.name;
    EXPECT_EQ(ipv4_of(from), fake::address(10, 0, 0, 2)) << c.name;
  }
}

// The preparation serves the next wait only; the deadline is the run's
// timeout as last applied, whatever comes between the preparation and the
// wait.
TEST(WaitForReply, PreparationHoldsForOneWait) {
  const struct {
    const char* name;
    std::uint32_t timeout_ms;      // applied before the preparation
    void (*between)(EchoSocket&);  // after the preparation, before the wait
    std::vector<std::pair<std::uint64_t, Outcome>> replies;  // arriving after ms: outcome
  } cases[] = {
      {"prepared", 3000, [](EchoSocket&) {}, {{2999, 84}, {3001, -10060}}},
      {"new options after the preparation",
       3000,
       [](EchoSocket& socket) {
         EchoOptions options;
         options.timeout_ms = 1000;
         socket.apply(options);
       },
       {{999, 84}, {1001, -10060}}},
      {"a discard after the preparation keeps the deadline",
       3000,
       [](EchoSocket& socket) { socket.discard_waiting(); },
       {{2999, 84}, {3001, -10060}}},
      {"timeout 0 when prepared: no deadline", 0, [](EchoSocket&) {}, {{90000, 84}}},
  };
  for (const auto& c : cases) {
    for (const auto& reply : c.replies) {
      fake::reset();
      EchoSocket& socket = fresh_socket(c.timeout_ms);
      socket.prepare_wait();
      c.between(socket);
      fake::state().inbound.push_back(
          arriving(fake::ip_datagram(echo(0, kOurId), 64), kT0 + reply.first * 1000));
      SocketAddress from;
      Answer answer;
      EXPECT_EQ(socket.wait(&from, &answer, kStamp), reply.second)
          << c.name << ", reply after " << reply.first << " ms";
    }
  }
}

TEST(WaitForReply, TheAnswerOfAnEchoReply) {
  fake::reset();
  EchoSocket& socket = fresh_socket();
  fake::state().inbound.push_back(arriving(fake::ip_datagram(echo(0, kOurId, 9), 64), 1012345));
  SocketAddress from;
  Answer answer;
  ASSERT_EQ(socket.wait(&from, &answer, kStamp), 84);
  EXPECT_TRUE(answer.echo_reply);
  EXPECT_EQ(answer.sequence, 9);
  EXPECT_EQ(answer.round_trip_us, 1012345u - 500000u);  // from the send stamp to recognition
  EXPECT_EQ(answer.ttl, std::optional<std::uint8_t>(64));

  // A foreign reply is no answer, whatever it carries.
  fake::reset();
  std::vector<std::uint8_t> foreign = echo(0, kOtherId);
  write_le64(foreign.data() + kReceiveStampOffset, 42);
  fake::state().inbound.push_back(arriving(fake::ip_datagram(foreign, 64), 1000100));
  ASSERT_EQ(socket.wait(&from, &answer, kStamp), -10060);
}

// An ICMP datagram socket's error-queue report answers by the request it
// quotes; its sender is whoever sent the error, and a reply without a
// reported time to live has none.
TEST(WaitForReply, ErrorQueueReportsAndRepliesWithoutHeader) {
  const auto report = [](std::uint8_t type, std::uint16_t identifier, std::uint32_t info) {
    fake::Datagram d = arriving(echo(8, identifier), kT0 + 100, fake::address(10, 0, 0, 9));
    d.reported = true, d.type = type, d.info = info;
    return d;
  };
  const struct {
    const char* name;
    fake::Datagram inbound;
    Outcome expected;
    std::uint8_t type;
    std::uint32_t from;
  } cases[] = {
      // clang-format off
      {"time exceeded report quoting ours", report(11, kOurId, 0), 64, 11, fake::address(10, 0, 0, 9)},
      {"redirect report quoting ours", report(5, kOurId, 0xC0A80001u), 64, 5, fake::address(10, 0, 0, 9)},
      {"report quoting another request", report(11, kOtherId, 0), -10060, 0, 0},
      {"echo reply without a header", arriving(echo(0, kOurId), kT0 + 100), 64, 0, fake::address(10, 0, 0, 2)},
      // clang-format on
  };
  for (const auto& c : cases) {
    fake::reset();
    EchoSocket& socket = fresh_socket();
    fake::state().inbound.push_back(c.inbound);
    SocketAddress from;
    Answer answer;
    ASSERT_EQ(socket.wait(&from, &answer, kStamp), c.expected) << c.name;
    if (c.expected > 0) {
      EXPECT_EQ(answer.type, c.type) << c.name;
      EXPECT_EQ(ipv4_of(from), c.from) << c.name;
      EXPECT_FALSE(answer.ttl.has_value()) << c.name;
      EXPECT_EQ(answer.gateway.has_value(), c.type == 5) << c.name;
      if (answer.gateway) {
        EXPECT_EQ(*answer.gateway, fake::address(192, 168, 0, 1)) << c.name;
      }
    }
  }
}

// The wait hands the report the kernel's figure where the stamps are this
// request's: a transmit stamp met on the way (datagram socket) or taken
// after the reply (raw socket); one older than the send is not used.
TEST(WaitForReply, TimesTheReplyWithTheKernelsStampsWhereTheyAreThisRequests) {
  const struct {
    const char* name;
    std::int64_t met_transmit_us;     // relative to the send; 0: none met
    std::int64_t queued_transmit_us;  // 0: none queued
    std::uint32_t expected_us;
    std::uint64_t read_late_us = 0;  // read this long after it arrived, past a 1 ms limit
  } cases[] = {
      {"transmit stamp queued", 0, 3, 7},
      {"transmit stamp met during the wait", 4, 0, 6},
      {"stale transmit stamp: receive stamp against the send time", 0, -500, 10},
      {"none: receive stamp against the send time", 0, 0, 10},
      {"read after the limit, received before it: in time", 0, 3, 7, 2000},
  };
  for (const auto& c : cases) {
    fake::reset();
    EchoSocket& socket = fresh_socket();
    const std::uint64_t wall_at_send = fake::state().wall_offset_ns + kT0 * 1000;
    const auto at = [&](std::int64_t us) {
      return static_cast<std::uint64_t>(static_cast<std::int64_t>(wall_at_send) + us * 1000);
    };
    fake::Datagram reply = arriving(fake::ip_datagram(echo(0, kOurId), 64), kT0 + 20);
    reply.kernel_receive_ns = at(10);
    reply.kernel_transmit_ns = c.met_transmit_us != 0 ? at(c.met_transmit_us) : 0;
    reply.read_late_us = c.read_late_us;
    if (c.queued_transmit_us != 0) {
      fake::state().transmit_stamps.push_back(at(c.queued_transmit_us));
    }
    socket.prepare_wait();
    std::vector<std::uint8_t> data(56, 0);
    std::uint64_t stamp = 0;
    ASSERT_EQ(
        socket.send(ipv4_socket_address(fake::address(10, 0, 0, 2)), 0, data.data(), 56, &stamp),
        64);
    reply.bytes = fake::ip_datagram(stamped(echo(0, kOurId), stamp), 64);
    fake::state().inbound.push_back(reply);
    SocketAddress from;
    Answer answer;
    ASSERT_EQ(socket.wait(&from, &answer, stamp, nullptr, 1), 84) << c.name;
    EXPECT_TRUE(answer.echo_reply) << c.name;
    EXPECT_EQ(answer.round_trip_us, c.expected_us) << c.name;
  }
}

TEST(WaitForReply, AddressRecordIsResetWhenNothingArrives) {
  fake::reset();
  EchoSocket& socket = fresh_socket();
  SocketAddress from = ipv4_socket_address(fake::address(10, 0, 0, 9));
  from.port = 0x1111;
  Answer answer;
  EXPECT_EQ(socket.wait(&from, &answer, kStamp), -10060);
  EXPECT_EQ(from.family, AddressFamily::ipv4);
  EXPECT_EQ(from.port, 0);
  EXPECT_EQ(ipv4_of(from), 0u);
}

TEST(WaitForReply, NoDeadlineBeforeTheRunsOptions) {
  fake::reset();
  EchoSocket& socket = fresh_socket(3000, false);
  fake::state().inbound.push_back(
      arriving(fake::ip_datagram(echo(0, kOurId), 64), 1000000 + 10000000));
  SocketAddress from;
  Answer answer;
  EXPECT_EQ(socket.wait(&from, &answer, kStamp), 84);
}

// Counts the interim reports a wait asks for, with the time of each.
struct CountingInterims {
  std::vector<std::uint64_t> at_ms;
  InterimReport report{[](void* context) {
                         static_cast<CountingInterims*>(context)->at_ms.push_back(
                             (fake::state().now_us - kT0) / 1000);
                       },
                       this};
};

fake::ScriptedInterruption user(Interruption kind, std::uint64_t after_ms) {
  fake::ScriptedInterruption i;
  i.kind = kind;
  i.at_us = kT0 + after_ms * 1000;
  return i;
}

// What the user and the system do to a wait besides the network: a stop
// ends it at once, an interim report leaves it as it was, a wake-up that is
// no interruption (a stop and continue of the process, another signal) and
// a timeout longer than one platform wait can take only make it wait again
// for the time left. Times in ms from the start of the wait.
TEST(WaitForReply, InterruptionsAndLongWaits) {
  using I = Interruption;
  constexpr std::uint64_t k2e31 = 0x80000000u;
  const struct {
    const char* name;
    std::uint32_t timeout_ms;
    std::uint64_t reply_after_ms;  // 0: none comes
    std::vector<fake::ScriptedInterruption> interruptions;
    std::vector<std::uint64_t> wakeups_after_ms;
    Outcome expected;
    std::uint64_t ends_after_ms;
    std::vector<std::uint64_t> interims_after_ms;
    std::vector<std::uint32_t> waits;  // what each platform wait was given
  } cases[] = {
      // clang-format off
      {"stop in the middle of a silent wait", 3000, 0, {user(I::stop, 1000)}, {}, kOutcomeStopped, 1000, {}, {3000}},
      {"stop just before the wait blocks", 3000, 0, {user(I::stop, 0)}, {}, kOutcomeStopped, 0, {}, {3000}},
      {"stop before the reply comes", 3000, 200, {user(I::stop, 100)}, {}, kOutcomeStopped, 100, {}, {3000}},
      {"reply before the stop: the reply", 3000, 100, {user(I::stop, 200)}, {}, 84, 100, {}, {3000}},
      {"stop and reply at once: the stop", 3000, 100, {user(I::stop, 100)}, {}, kOutcomeStopped, 100, {}, {3000}},
      {"interim, then the reply in its own time", 3000, 700, {user(I::interim, 300)}, {}, 84, 700, {300}, {3000, 2700}},
      {"interim on silence: the deadline stays where it was", 3000, 0, {user(I::interim, 1000)}, {}, -10060, 3000, {1000}, {3000, 2000}},
      {"two interims, then a stop", 3000, 0, {user(I::interim, 100), user(I::interim, 200), user(I::stop, 300)}, {}, kOutcomeStopped, 300, {100, 200}, {3000, 2900, 2800}},
      {"interim just before the wait blocks", 3000, 50, {user(I::interim, 0)}, {}, 84, 50, {0}, {3000, 3000}},
      {"stopped and continued, then the reply", 3000, 2500, {}, {1000}, 84, 2500, {}, {3000, 2000}},
      {"stopped and continued on silence: timeout at the deadline", 3000, 0, {}, {1000, 2999}, -10060, 3000, {}, {3000, 2000, 1}},
      {"a wait of 2^31 ms, taken in two pieces", 0x80000000u, 0, {}, {}, -10060, k2e31, {}, {0x80000000u, 1}},
      {"the longest timeout, taken in three pieces", 0xFFFFFFFFu, 0, {}, {}, -10060, 0xFFFFFFFFu, {}, {0xFFFFFFFFu, 0x80000000u, 1}},
      {"a reply after 2^31 ms within a longer timeout", 3000000000u, 2500000000u, {}, {}, 84, 2500000000u, {}, {3000000000u, 852516353u}},
      {"no deadline: a reply after 2^32 ms is still the answer", 0, 5000000000u, {}, {}, 84, 5000000000u, {}, {0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu}},
      {"no deadline: a stop ends it", 0, 0, {user(I::stop, 4000000000u)}, {}, kOutcomeStopped, 4000000000u, {}, {0xFFFFFFFFu, 0xFFFFFFFFu}},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fake::reset();
    EchoSocket& socket = fresh_socket(c.timeout_ms);
    fake::state().interruptions = c.interruptions;
    for (const std::uint64_t after : c.wakeups_after_ms) {
      fake::state().early_wakeups_us.push_back(kT0 + after * 1000);
    }
    if (c.reply_after_ms != 0) {
      fake::state().inbound.push_back(
          arriving(fake::ip_datagram(echo(0, kOurId), 64), kT0 + c.reply_after_ms * 1000));
    }
    CountingInterims interims;
    SocketAddress from;
    Answer answer;
    EXPECT_EQ(socket.wait(&from, &answer, kStamp, &interims.report), c.expected);
    EXPECT_EQ((fake::state().now_us - kT0) / 1000, c.ends_after_ms);
    EXPECT_EQ(interims.at_ms, c.interims_after_ms);
    EXPECT_EQ(fake::state().waits, c.waits);
    if (c.expected > 0) {
      // The interruptions cost the round trip nothing.
      EXPECT_EQ(answer.round_trip_us, counted_us(kT0 + c.reply_after_ms * 1000));
    }
  }
}

TEST(DiscardWaitingDatagrams, DrainsOnlyWhatIsAlreadyQueued) {
  fake::reset();
  EchoSocket& socket = fresh_socket();
  fake::Datagram stale = arriving(fake::ip_datagram(echo(0, kOurId), 64), 0);
  stale.waiting = true;
  fake::state().inbound = {stale, stale, arriving(fake::ip_datagram(echo(0, kOurId), 64), 1000500)};
  socket.discard_waiting();
  EXPECT_EQ(fake::state().discarded, 2);
  EXPECT_EQ(fake::state().inbound.size(), 1u);

  // A flood that never ends cannot hold the next request back.
  fake::reset();
  fake::state().inbound.assign(kMaxDiscardedDatagrams + 10, stale);
  socket.discard_waiting();
  EXPECT_EQ(fake::state().discarded, kMaxDiscardedDatagrams);
}

TEST(ApplySocketOptions, SetsOnlyWhatWasAskedInOrder) {
  using O = SocketOption;
  const struct {
    const char* name;
    void (*change)(EchoOptions*);
    std::vector<std::pair<O, std::uint32_t>> expected;
  } cases[] = {
      {"defaults",
       [](EchoOptions*) {},
       {{O::send_timeout_ms, 3000},
        {O::send_buffer_bytes, 65536},
        {O::receive_buffer_bytes, 65536}}},
      {"everything",
       [](EchoOptions* o) {
         o->timeout_ms = 0;
         o->ttl = 64;
         o->tos = 0x58;
         o->dont_fragment = true;
       },
       {{O::send_timeout_ms, 0},
        {O::send_buffer_bytes, 65536},
        {O::receive_buffer_bytes, 65536},
        {O::time_to_live, 64},
        {O::type_of_service, 0x58},
        {O::dont_fragment, 1}}},
      {"tos alone",
       [](EchoOptions* o) { o->tos = 0x60; },
       {{O::send_timeout_ms, 3000},
        {O::send_buffer_bytes, 65536},
        {O::receive_buffer_bytes, 65536},
        {O::type_of_service, 0x60}}},
  };
  for (const auto& c : cases) {
    fake::reset();
    EchoSocket& socket = fresh_socket(3000, false);
    EchoOptions options;
    c.change(&options);
    socket.apply(options);
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
