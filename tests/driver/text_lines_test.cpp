#include "driver/text_lines.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/byte_order.h"
#include "driver/outputs.h"
#include "support/capture.h"
#include "support/fake_platform.h"

namespace vexmo {
namespace {

// The answer the wait reads from a received message of 64 bytes.
Answer answer_of(const std::uint8_t* message, AddressFamily family = AddressFamily::ipv4,
                 std::optional<std::uint8_t> ttl = std::nullopt, std::uint32_t round_trip_us = 0) {
  Received received;
  received.family = family;
  received.message = message;
  received.length = 64;
  received.ttl = ttl;
  return read_answer(received, round_trip_us);
}

TEST(ReportFailure, LinesByErrorNumber) {
  const struct {
    std::uint32_t error;
    const char* line;
  } cases[] = {
      {10060, "Request timeout."},
      {10050, "The network subsystem has failed."},
      {10053, "Connection aborted."},
      {10054, "Connection reseted."},
      {10065, "Error 10065."},
      {10013, "Error 10013."},
      {10055, "Error 10055."},  // no buffer space: also a message that cannot be allocated
      {1, "Error 1."},
      {2147483648u, "Error 2147483648."},  // minus the lowest outcome, printed without a sign
  };
  for (const auto& c : cases) {
    EXPECT_EQ(failure_message(c.error), c.line);
  }
}

std::string printed_icmp_line(std::uint8_t type, std::uint8_t code, std::uint32_t gateway = 0) {
  std::uint8_t message[64] = {};
  message[0] = type;
  message[1] = code;
  std::memcpy(message + 4, &gateway, sizeof gateway);
  return icmp_line(icmp_facts(answer_of(message), 0, "10.0.0.1", 0)) + "\n";
}

TEST(ReportIcmpMessage, EveryKindAndReason) {
  const char* unreachable = "ICMP: Destination Unreachable, Reason: ";
  const struct {
    std::uint8_t type;
    std::uint8_t code;
    std::string line;
  } cases[] = {
      {3, 0, std::string(unreachable) + "Network unreachable\n"},
      {3, 1, std::string(unreachable) + "Host unreachable\n"},
      {3, 2, std::string(unreachable) + "Protocol unreachable\n"},
      {3, 3, std::string(unreachable) + "Port unreachable\n"},
      {3, 4, std::string(unreachable) + "Fragmentation needed and DF set\n"},
      {3, 5, std::string(unreachable) + "Source route failed\n"},
      {3, 6, std::string(unreachable) + "Destination network unknown\n"},
      {3, 7, std::string(unreachable) + "Destination host unknown\n"},
      {3, 8, std::string(unreachable) + "Source host isolated\n"},
      {3, 9, std::string(unreachable) + "Network administratively prohibited\n"},
      {3, 10, std::string(unreachable) + "Host administratively prohibited\n"},
      {3, 11, std::string(unreachable) + "Network unreachable for TOS\n"},
      {3, 12, std::string(unreachable) + "Host unreachable for TOS\n"},
      {3, 13, std::string(unreachable) + "Communication administratively prohibited\n"},
      {3, 14, std::string(unreachable) + "Host precedence violation\n"},
      {3, 15, std::string(unreachable) + "Precedence cutoff in effect\n"},
      {3, 16, std::string(unreachable) + "Unknown code 16\n"},
      {3, 255, std::string(unreachable) + "Unknown code 255\n"},
      {11, 0, "10.0.0.1: ICMP: Time Exceeded, Reason: Time To Live exceeded in transit\n"},
      {11, 1, "10.0.0.1: ICMP: Time Exceeded, Reason: Fragment reassembly time exceeded\n"},
      {11, 2, "10.0.0.1: ICMP: Time Exceeded, Reason: Unknown code 2\n"},
      {12, 0, "ICMP: Parameter Problem\n"},
      {12, 200, "ICMP: Parameter Problem\n"},
      {4, 0, "ICMP: Source Quench\n"},
      {4, 9, "ICMP: Source Quench\n"},
      {5, 0, "ICMP: Redirect, Gateway: 192.168.1.1, Reason: Redirect datagrams for the Network\n"},
      {5, 1, "ICMP: Redirect, Gateway: 192.168.1.1, Reason: Redirect datagrams for the Host\n"},
      {5, 2,
       "ICMP: Redirect, Gateway: 192.168.1.1, Reason: Redirect datagrams for the Type of Service "
       "and Network\n"},
      {5, 3,
       "ICMP: Redirect, Gateway: 192.168.1.1, Reason: Redirect datagrams for the Type of Service "
       "and Host\n"},
      {5, 4, "ICMP: Redirect, Gateway: 192.168.1.1, Reason: Unknown code 4\n"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(printed_icmp_line(c.type, c.code, fake::address(192, 168, 1, 1)), c.line)
        << "type " << int{c.type} << " code " << int{c.code};
  }
}

// What the JSON object of an ICMP error message carries beyond the line:
// the sender always, a gateway for IPv4 redirects only, an MTU for ICMPv6
// Packet Too Big only, and no reason where the line has none.
TEST(IcmpFacts, FieldsByKind) {
  const struct {
    std::uint8_t type, code;
    const char* kind;
    const char* reason;   // nullptr: none
    const char* gateway;  // nullptr: none
    std::int64_t mtu;     // -1: none
    AddressFamily family;
  } cases[] = {
      {3, 1, "Destination Unreachable", "Host unreachable", nullptr, -1, AddressFamily::ipv4},
      {3, 4, "Destination Unreachable", "Fragmentation needed and DF set", nullptr, -1,
       AddressFamily::ipv4},
      {3, 200, "Destination Unreachable", "Unknown code 200", nullptr, -1, AddressFamily::ipv4},
      {11, 0, "Time Exceeded", "Time To Live exceeded in transit", nullptr, -1,
       AddressFamily::ipv4},
      {12, 0, "Parameter Problem", nullptr, nullptr, -1, AddressFamily::ipv4},
      {4, 0, "Source Quench", nullptr, nullptr, -1, AddressFamily::ipv4},
      {5, 1, "Redirect", "Redirect datagrams for the Host", "192.168.5.212", -1,
       AddressFamily::ipv4},
      // ICMPv6: the same word is the MTU of Packet Too Big; type 3 is Time
      // Exceeded there, and there is no redirect to report.
      {2, 0, "Packet Too Big", nullptr, nullptr, 3232237012, AddressFamily::ipv6},
      {3, 0, "Time Exceeded", "Hop limit exceeded in transit", nullptr, -1, AddressFamily::ipv6},
      {1, 4, "Destination Unreachable", "Port unreachable", nullptr, -1, AddressFamily::ipv6},
      {4, 2, "Parameter Problem", nullptr, nullptr, -1, AddressFamily::ipv6},
      {5, 1, "", nullptr, nullptr, -1, AddressFamily::ipv6},
  };
  for (const auto& c : cases) {
    std::uint8_t message[64] = {};
    message[0] = c.type;
    message[1] = c.code;
    // A redirect's gateway, or the unused word and next-hop MTU (RFC 1191).
    const std::uint8_t word[4] = {192, 168, 0x05, 0xD4};
    std::memcpy(message + 4, word, sizeof word);
    const IcmpFacts facts = icmp_facts(answer_of(message, c.family), 9, "10.0.0.1", 0);
    const std::string label = "type " + std::to_string(c.type) + " code " + std::to_string(c.code);
    EXPECT_EQ(facts.request, 9u) << label;
    EXPECT_EQ(facts.from, "10.0.0.1") << label;
    EXPECT_EQ(facts.type, c.type) << label;
    EXPECT_EQ(facts.code, c.code) << label;
    EXPECT_STREQ(facts.kind, c.kind) << label;
    EXPECT_EQ(facts.reason.has_value(), c.reason != nullptr) << label;
    if (facts.reason && c.reason != nullptr) {
      EXPECT_EQ(*facts.reason, c.reason) << label;
    }
    EXPECT_EQ(facts.gateway.has_value(), c.gateway != nullptr) << label;
    if (facts.gateway && c.gateway != nullptr) {
      EXPECT_EQ(*facts.gateway, c.gateway) << label;
    }
    EXPECT_EQ(facts.mtu.has_value(), c.mtu >= 0) << label;
    if (facts.mtu && c.mtu >= 0) {
      EXPECT_EQ(*facts.mtu, static_cast<std::uint32_t>(c.mtu)) << label;
    }
  }
}

TEST(ReportEchoReply, TimeLineAndStatistics) {
  std::uint8_t message[64] = {};
  write_le16(message + 6, 65535);
  RunStatistics stats;
  ReplyFacts facts =
      reply_facts(answer_of(message, AddressFamily::ipv4, 57, 12345), 3, "10.0.0.2", 0);
  stats.record_reply(facts.rtt_us);
  EXPECT_EQ(reply_line(facts), "10.0.0.2: Time: 12.345 ms, Sequence: 65535, Ttl: 57");
  EXPECT_EQ(facts.request, 3u);
  EXPECT_EQ(stats.summary().replies, 1u);
  EXPECT_EQ(stats.summary().min_us, 12345u);
  EXPECT_EQ(stats.summary().max_us, 12345u);

  facts = reply_facts(answer_of(message, AddressFamily::ipv4, std::nullopt, 7), 4, "10.0.0.2", 0);
  stats.record_reply(facts.rtt_us);
  EXPECT_EQ(reply_line(facts), "10.0.0.2: Time: 0.007 ms, Sequence: 65535");
  EXPECT_FALSE(facts.ttl.has_value());
  EXPECT_EQ(stats.summary().min_us, 7u);
  EXPECT_EQ(stats.summary().max_us, 12345u);
  EXPECT_EQ(stats.summary().avg_us, 12352u / 2);
}

// An IPv6 reply's line shows its hop limit where the system reported one.
TEST(ReportEchoReply, HopLimitOfAnIpv6Reply) {
  std::uint8_t message[64] = {};
  message[0] = 129;
  write_le16(message + 6, 3);
  EXPECT_EQ(reply_line(reply_facts(answer_of(message, AddressFamily::ipv6, 61, 1500), 0,
                                   "2001:db8::5", 0)),
            "2001:db8::5: Time: 1.500 ms, Sequence: 3, Ttl: 61");
  EXPECT_EQ(reply_line(reply_facts(answer_of(message, AddressFamily::ipv6, std::nullopt, 1500), 0,
                                   "2001:db8::5", 0)),
            "2001:db8::5: Time: 1.500 ms, Sequence: 3");
}

// ICMPv6 types are read as ICMPv6: type 3 is Time Exceeded there, not
// Destination Unreachable, and types IPv4 reports mean nothing.
TEST(ReportIcmpMessage, Icmp6TypesAreNotIpv4Types) {
  const struct {
    std::uint8_t type;
    std::uint8_t code;
    std::uint32_t mtu;
    std::string line;
  } cases[] = {
      // clang-format off
      {3, 0, 0, "2001:db8::1: ICMP: Time Exceeded, Reason: Hop limit exceeded in transit\n"},
      {3, 1, 0, "2001:db8::1: ICMP: Time Exceeded, Reason: Fragment reassembly time exceeded\n"},
      {3, 2, 0, "2001:db8::1: ICMP: Time Exceeded, Reason: Unknown code 2\n"},
      {1, 0, 0, "ICMP: Destination Unreachable, Reason: No route to destination\n"},
      {1, 1, 0, "ICMP: Destination Unreachable, Reason: Communication with destination "
                "administratively prohibited\n"},
      {1, 2, 0, "ICMP: Destination Unreachable, Reason: Beyond scope of source address\n"},
      {1, 3, 0, "ICMP: Destination Unreachable, Reason: Address unreachable\n"},
      {1, 4, 0, "ICMP: Destination Unreachable, Reason: Port unreachable\n"},
      {1, 5, 0, "ICMP: Destination Unreachable, Reason: Source address failed ingress/egress "
                "policy\n"},
      {1, 6, 0, "ICMP: Destination Unreachable, Reason: Reject route to destination\n"},
      {1, 7, 0, "ICMP: Destination Unreachable, Reason: Unknown code 7\n"},
      {1, 255, 0, "ICMP: Destination Unreachable, Reason: Unknown code 255\n"},
      {2, 0, 1280, "ICMP: Packet Too Big, MTU: 1280\n"},
      {2, 0, 0x80000000u, "ICMP: Packet Too Big, MTU: 2147483648\n"},
      {4, 1, 0, "ICMP: Parameter Problem\n"},
      {11, 0, 0, ""},
      {12, 0, 0, ""},
      // clang-format on
  };
  for (const auto& c : cases) {
    std::uint8_t message[64] = {};
    message[0] = c.type;
    message[1] = c.code;
    for (int i = 0; i < 4; ++i) {
      message[4 + i] = static_cast<std::uint8_t>(c.mtu >> (24 - 8 * i));
    }
    const IcmpFacts facts =
        icmp_facts(answer_of(message, AddressFamily::ipv6), 0, "2001:db8::1", 0);
    // The reports leave a type they do not know without a line.
    const std::string line = facts.kind[0] == '\0' ? std::string() : icmp_line(facts) + "\n";
    EXPECT_EQ(line, c.line) << int{c.type} << "/" << int{c.code};
  }
}

// sent requests of which received were answered, rtts.size() of them by
// echo replies.
StatisticsSummary stats_of(std::uint32_t sent, std::uint32_t received,
                           std::vector<std::uint32_t> rtts) {
  RunStatistics stats;
  for (std::uint32_t rtt : rtts) {
    stats.record_reply(rtt);
  }
  for (std::uint32_t i = static_cast<std::uint32_t>(rtts.size()); i < received; ++i) {
    stats.record_error_message();
  }
  for (std::uint32_t i = received; i < sent; ++i) {
    stats.record_no_answer();
  }
  return stats.summary();
}

TEST(PrintSummary, PacketsAndRoundTripLines) {
  const struct {
    const char* name;
    StatisticsSummary stats;
    std::string out;
    bool interim = false;
  } cases[] = {
      {"all timed out", stats_of(5, 0, {}),
       "\nPackets: Sent 5, Received 0 (100% Lost)\n"
       "Rount Trip Time (Min/Avg/Max): 0.000 ms/0.000 ms/0.000 ms\n"},
      {"nothing sent", stats_of(0, 0, {}),
       "Rount Trip Time (Min/Avg/Max): 0.000 ms/0.000 ms/0.000 ms\n"},
      {"interim before any request ended", stats_of(0, 0, {}),
       "\nPackets: Sent 0, Received 0 (0% Lost)\n"
       "Rount Trip Time (Min/Avg/Max): 0.000 ms/0.000 ms/0.000 ms\n",
       true},
      {"one of three, loss rounded up", stats_of(3, 1, {1500}),
       "\nPackets: Sent 3, Received 1 (67% Lost)\n"
       "Rount Trip Time (Min/Avg/Max): 1.500 ms/1.500 ms/1.500 ms\n"},
      {"two of three: the loss is truncated up, never rounded to nearest", stats_of(3, 2, {1000}),
       "\nPackets: Sent 3, Received 2 (34% Lost)\n"
       "Rount Trip Time (Min/Avg/Max): 1.000 ms/1.000 ms/1.000 ms\n"},
      {"average over the replies, not the requests", stats_of(5, 2, {10000, 20000}),
       "\nPackets: Sent 5, Received 2 (60% Lost)\n"
       "Rount Trip Time (Min/Avg/Max): 10.000 ms/15.000 ms/20.000 ms\n"},
      {"error messages count as received but not as samples", stats_of(5, 3, {10000}),
       "\nPackets: Sent 5, Received 3 (40% Lost)\n"
       "Rount Trip Time (Min/Avg/Max): 10.000 ms/10.000 ms/10.000 ms\n"},
      {"sum past 32 bits", stats_of(2, 2, {4000000000u, 4000000000u}),
       "\nPackets: Sent 2, Received 2 (0% Lost)\n"
       "Rount Trip Time (Min/Avg/Max): 4000000.000 ms/4000000.000 ms/4000000.000 ms\n"},
      {"small times keep their zeros", stats_of(3, 3, {7, 50, 999}),
       "\nPackets: Sent 3, Received 3 (0% Lost)\n"
       "Rount Trip Time (Min/Avg/Max): 0.007 ms/0.352 ms/0.999 ms\n"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(summary_text(c.stats, false, c.interim), c.out) << c.name;
  }
}

}  // namespace
}  // namespace vexmo

namespace vexmo {
namespace {

// The reports the interruption handling calls: the statistics so far while
// the run goes on, and the summary of a run cut short. Every line is
// complete and flushed; the JSON objects carry the event's time.
TEST(Outputs, InterimAndSummaryInEachFormat) {
  fake::reset();
  RunStatistics stats;
  stats.record_reply(10000);
  stats.record_no_answer();
  stats.record_reply(20000);
  const struct {
    const char* name;
    bool json, with_stats, interrupted, interim;
    const char* out;
  } cases[] = {
      {"text interim", false, false, false, true,
       "\nPackets: Sent 3, Received 2 (34% Lost)\n"
       "Rount Trip Time (Min/Avg/Max): 10.000 ms/15.000 ms/20.000 ms\n"},
      {"text interim with --stats", false, true, false, true,
       "\nPackets: Sent 3, Received 2 (34% Lost)\n"
       "Rount Trip Time (Min/Avg/Max): 10.000 ms/15.000 ms/20.000 ms\n"
       "Round Trip Time (Median/P90/P99/StdDev/Jitter): 10.000 ms/20.000 ms/20.000 ms/7.071 ms/"
       "10.000 ms\n"},
      {"text summary of an interrupted run: as any summary", false, false, true, false,
       "\nPackets: Sent 3, Received 2 (34% Lost)\n"
       "Rount Trip Time (Min/Avg/Max): 10.000 ms/15.000 ms/20.000 ms\n"},
      {"JSON interim", true, false, false, true,
       "{\"event\":\"interim\",\"sent\":3,\"received\":2,\"replies\":2,\"errors\":0,"
       "\"lost_percent\":34,\"rtt_ms\":{\"min\":10.000,\"avg\":15.000,\"max\":20.000,"
       "\"median\":10.000,\"p90\":20.000,\"p99\":20.000,\"stddev\":7.071,\"jitter\":10.000},"
       "\"longest_loss_streak\":1,\"interrupted\":false,"
       "\"time\":\"2023-11-14T22:13:21.000Z\"}\n"},
      {"JSON summary, interrupted", true, true, true, false,
       "{\"event\":\"summary\",\"sent\":3,\"received\":2,\"replies\":2,\"errors\":0,"
       "\"lost_percent\":34,\"rtt_ms\":{\"min\":10.000,\"avg\":15.000,\"max\":20.000,"
       "\"median\":10.000,\"p90\":20.000,\"p99\":20.000,\"stddev\":7.071,\"jitter\":10.000},"
       "\"longest_loss_streak\":1,\"interrupted\":true,"
       "\"time\":\"2023-11-14T22:13:21.000Z\"}\n"},
  };
  for (const auto& c : cases) {
    RunSettings settings;
    settings.host = "10.0.0.2";
    settings.json = c.json;
    settings.stats = c.with_stats;
    Outputs outputs = outputs_for(settings, stdout, stderr);
    SummaryFacts facts;
    facts.figures = stats.summary();
    facts.interrupted = c.interrupted;
    facts.unix_ms = 1700000001000;
    const std::string out = captured_stdout([&] {
      if (c.interim) {
        outputs.interim(facts);
      } else {
        outputs.summary(facts);
      }
    });
    EXPECT_EQ(out, c.out) << c.name;
  }
}

// The shapes the watching options give a run's output, event by event.
TEST(Outputs, TimestampsQuietAndHistogram) {
  const std::string stamp = "[2023-11-14T22:13:21.000Z] ";
  const std::string packets = "Packets: Sent 3, Received 2 (34% Lost)\n";
  const std::string rtt = "Rount Trip Time (Min/Avg/Max): 0.075 ms/0.075 ms/0.075 ms\n";
  const std::string opening = "Ping to h, buffer size 56 Bytes (IP+ICMP+DATA 84 Bytes)\n";
  const struct {
    const char* name;
    void (*change)(RunSettings*);
    bool utf8;
    std::string out;
  } cases[] = {
      {"-D: every line but the opening and the blank one",
       [](RunSettings* s) { s->timestamps = true; }, false,
       opening + stamp + "10.0.0.2: Time: 0.075 ms, Sequence: 0\n" + stamp + "Request timeout.\n" +
           stamp + "ICMP: Source Quench\n\n" + stamp + packets + stamp + rtt},
      {"-q", [](RunSettings* s) { s->quiet = true; }, false, opening + "\n" + packets + rtt},
      {"--histogram, no UTF-8", [](RunSettings* s) { s->histogram = s->quiet = true; }, false,
       opening + "\n" + packets + rtt + "  0.050 -   0.100 ms |####################| 1\n"},
      {"--histogram in blocks, -D",
       [](RunSettings* s) { s->histogram = s->quiet = s->timestamps = true; }, true,
       opening + "\n" + stamp + packets + stamp + rtt + stamp +
           "  0.050 -   0.100 ms |\u2588\u2588\u2588\u2588\u2588\u2588\u2588\u2588\u2588\u2588"
           "\u2588\u2588\u2588\u2588\u2588\u2588\u2588\u2588\u2588\u2588| 1\n"},
      {"-q --json -D: the start and the summary objects, as without -D",
       [](RunSettings* s) { s->json = s->quiet = s->timestamps = true; }, false,
       "{\"event\":\"start\",\"schema_version\":\"1.1\",\"host\":\"h\",\"family\":4,\"size\":56,"
       "\"ip_bytes\":84,\"count\":0,"
       "\"timeout_ms\":0,\"ttl\":null,\"tos\":null,\"dont_fragment\":false,\"time\":\"2023-11-"
       "14T22:13:21.000Z\"}\n"
       "{\"event\":\"summary\",\"sent\":3,\"received\":2,\"replies\":1,\"errors\":1,"
       "\"lost_percent\":34,\"rtt_ms\":{\"min\":0.075,\"avg\":0.075,\"max\":0.075,"
       "\"median\":0.075,\"p90\":0.075,\"p99\":0.075,\"stddev\":0.000,\"jitter\":0.000},"
       "\"longest_loss_streak\":1,\"interrupted\":false,\"time\":\"2023-11-14T22:13:21.000Z\"}\n"},
  };
  for (const auto& c : cases) {
    fake::reset();
    fake::state().utf8 = c.utf8;
    RunSettings settings;
    settings.host = "h";
    c.change(&settings);
    const std::int64_t at = 1700000001000;
    StartFacts start;
    start.host = "h";
    start.size = 56;
    start.ip_bytes = 84;
    start.count = 0;
    start.unix_ms = at;
    ReplyFacts reply;
    reply.from = "10.0.0.2";
    reply.rtt_us = 75;
    reply.unix_ms = at;
    FailureFacts failure;
    failure.message = "Request timeout.";
    failure.unix_ms = at;
    IcmpFacts icmp;
    icmp.kind = "Source Quench";
    icmp.unix_ms = at;
    RunStatistics stats;
    stats.record_reply(75);
    stats.record_no_answer();
    stats.record_error_message();
    SummaryFacts summary;
    summary.figures = stats.summary();
    summary.unix_ms = at;
    const std::string out = captured_stdout([&] {
      Outputs outputs = outputs_for(settings, stdout, stderr);
      outputs.start(start);
      outputs.reply(reply);
      outputs.failure(failure);
      outputs.icmp(icmp);
      outputs.summary(summary);
    });
    EXPECT_EQ(out, c.out) << c.name;
  }
}

}  // namespace
}  // namespace vexmo
