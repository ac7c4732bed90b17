#include "driver/run.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/byte_order.h"
#include "support/capture.h"
#include "support/fake_platform.h"

namespace vexmo {
namespace {

const std::uint32_t kPeer = fake::address(10, 0, 0, 2);
const std::uint32_t kRouter = fake::address(10, 0, 0, 1);

RunSettings settings_for(const char* host, std::uint32_t count) {
  RunSettings settings;
  settings.host = host;
  settings.count = count;
  return settings;
}

// Scripts the network's answer to each request in turn; an empty script
// entry means no answer at all.
using Answer = std::vector<fake::Datagram> (*)(const fake::Sent& request);

std::vector<fake::Datagram> reply_after(const fake::Sent& request, std::uint64_t delay_us) {
  fake::Datagram reply;
  reply.bytes = fake::ip_datagram(fake::echo_reply_for(request.bytes), 63);
  reply.from = ipv4_of(request.to);
  reply.arrive_us = request.at_us + delay_us;
  return {reply};
}

std::string run_with(const RunSettings& settings, std::vector<Answer> script) {
  fake::state().on_send = [script](const fake::Sent& request) {
    const std::size_t n = fake::state().sent.size() - 1;
    if (n < script.size() && script[n] != nullptr) {
      for (const fake::Datagram& d : script[n](request)) {
        fake::state().inbound.push_back(d);
      }
    }
  };
  return captured_stdout([&] { run_requests(settings); });
}

TEST(RunRequests, FiveRepliesAndTheSummary) {
  fake::reset();
  const Answer ten_ms = [](const fake::Sent& r) { return reply_after(r, 10000); };
  const Answer twenty_ms = [](const fake::Sent& r) { return reply_after(r, 20250); };
  const std::string out =
      run_with(settings_for("10.0.0.2", 5), {ten_ms, twenty_ms, ten_ms, ten_ms, ten_ms});
  EXPECT_EQ(out,
            "Ping to 10.0.0.2, buffer size 56 Bytes (IP+ICMP+DATA 84 Bytes)\n"
            "10.0.0.2: Time: 10.000 ms, Sequence: 0, Ttl: 63\n"
            "10.0.0.2: Time: 20.250 ms, Sequence: 1, Ttl: 63\n"
            "10.0.0.2: Time: 10.000 ms, Sequence: 2, Ttl: 63\n"
            "10.0.0.2: Time: 10.000 ms, Sequence: 3, Ttl: 63\n"
            "10.0.0.2: Time: 10.000 ms, Sequence: 4, Ttl: 63\n"
            "\nPackets: Sent 5, Received 5 (0% Lost)\n"
            "Rount Trip Time (Min/Avg/Max): 10.000 ms/12.050 ms/20.250 ms\n");
  // No pause after the last request: the summary follows at once.
  EXPECT_EQ(fake::state().sleeps, std::vector<std::uint32_t>(4, 1000));
  for (const fake::Sent& sent : fake::state().sent) {
    EXPECT_EQ(read_le16(sent.bytes.data() + 4), 0x1234);
    EXPECT_EQ(ipv4_of(sent.to), kPeer);
  }
}

TEST(RunRequests, TimeoutsArePrintedWithoutPauseAndRepeatTheSequence) {
  fake::reset();
  const Answer answer = [](const fake::Sent& r) { return reply_after(r, 10000); };
  const std::string out =
      run_with(settings_for("10.0.0.2", 5), {nullptr, answer, nullptr, nullptr, answer});
  EXPECT_EQ(out,
            "Ping to 10.0.0.2, buffer size 56 Bytes (IP+ICMP+DATA 84 Bytes)\n"
            "Request timeout.\n"
            "10.0.0.2: Time: 10.000 ms, Sequence: 0, Ttl: 63\n"
            "Request timeout.\n"
            "Request timeout.\n"
            "10.0.0.2: Time: 10.000 ms, Sequence: 1, Ttl: 63\n"
            "\nPackets: Sent 5, Received 2 (60% Lost)\n"
            "Rount Trip Time (Min/Avg/Max): 10.000 ms/10.000 ms/10.000 ms\n");
  const std::vector<std::uint16_t> sequences = {0, 0, 1, 1, 1};
  ASSERT_EQ(fake::state().sent.size(), sequences.size());
  for (std::size_t i = 0; i < sequences.size(); ++i) {
    EXPECT_EQ(read_le16(fake::state().sent[i].bytes.data() + 6), sequences[i]) << i;
  }
  EXPECT_EQ(fake::state().sleeps.size(), 1u);
}

// Every reported error kind is an answer: counted as received, one line,
// then the pause, as after an echo reply.
TEST(RunRequests, EveryErrorKindCountsAsReceivedAndPauses) {
  const struct {
    std::uint8_t type;
    std::uint8_t code;
    const char* line;
  } cases[] = {
      {3, 1, "ICMP: Destination Unreachable, Reason: Host unreachable\n"},
      {4, 0, "ICMP: Source Quench\n"},
      {5, 1, "ICMP: Redirect, Gateway: 10.0.0.1, Reason: Redirect datagrams for the Host\n"},
      {11, 0, "10.0.0.1: ICMP: Time Exceeded, Reason: Time To Live exceeded in transit\n"},
      {12, 0, "ICMP: Parameter Problem\n"},
  };
  for (const auto& c : cases) {
    fake::reset();
    fake::state().on_send = [&c](const fake::Sent& r) {
      fake::Datagram error;
      error.bytes = fake::ip_datagram(fake::error_about(c.type, c.code, r.bytes, kRouter), 255);
      error.from = kRouter;
      error.arrive_us = r.at_us + 1000;
      fake::state().inbound.push_back(error);
    };
    const std::string out = captured_stdout([] { run_requests(settings_for("10.0.0.2", 2)); });
    EXPECT_EQ(out, std::string("Ping to 10.0.0.2, buffer size 56 Bytes (IP+ICMP+DATA 84 Bytes)\n") +
                       c.line + c.line +
                       "\nPackets: Sent 2, Received 2 (0% Lost)\n"
                       "Rount Trip Time (Min/Avg/Max): 0.000 ms/0.000 ms/0.000 ms\n")
        << int{c.type};
    EXPECT_EQ(fake::state().sleeps, std::vector<std::uint32_t>(1, 1000)) << int{c.type};
    // The sequence is the received count: errors advance it too.
    ASSERT_EQ(fake::state().sent.size(), 2u);
    EXPECT_EQ(read_le16(fake::state().sent[1].bytes.data() + 6), 1) << int{c.type};
  }
}

// The beat and the end in time, on the simulated clock: when each request
// leaves and when the run ends, in ms after the start.
TEST(RunRequests, KeepsTheCadenceAndTheDeadline) {
  const struct {
    const char* name;
    void (*change)(RunSettings*);
    std::uint64_t answer_us;  // every answer this long after its request; 0: none
    std::vector<std::uint64_t> sent_ms;
    std::uint64_t end_ms;
    const char* packets;
  } cases[] = {
      // clang-format off
      {"slots", [](RunSettings* s) { s->interval_ms = 100; }, 10000, {0, 100, 200}, 210,
       "Sent 3, Received 3"},
      {"silent host: each wait ends at the next slot, the last at its own end",
       [](RunSettings* s) { s->interval_ms = 100; }, 0, {0, 100, 200}, 300, "Sent 3, Received 0"},
      {"slow answers are cut at the next slot and come late",
       [](RunSettings* s) { s->interval_ms = 100; }, 150000, {0, 100, 200}, 300,
       "Sent 3, Received 0"},
      {"the -w timeout comes first",
       [](RunSettings* s) { s->interval_ms = 100, s->timeout_ms = 30; }, 0, {0, 100, 200}, 230,
       "Sent 3, Received 0"},
      {"deadline cuts a wait", [](RunSettings* s) { s->interval_ms = 100, s->deadline_ms = 250; },
       0, {0, 100, 200}, 250, "Sent 3, Received 0"},
      {"continuous until the deadline",
       [](RunSettings* s) { s->continuous = true, s->interval_ms = 400, s->deadline_ms = 1000; },
       5000, {0, 400, 800}, 1000, "Sent 3, Received 3"},
      // clang-format on
  };
  for (const auto& c : cases) {
    fake::reset();
    const std::uint64_t start_us = fake::state().now_us;
    const std::uint64_t answer_us = c.answer_us;
    fake::state().on_send = [answer_us](const fake::Sent& r) {
      if (answer_us != 0) {
        fake::state().inbound.push_back(reply_after(r, answer_us)[0]);
      }
    };
    RunSettings settings = settings_for("10.0.0.2", 3);
    c.change(&settings);
    const std::string out = captured_stdout([&] { run_requests(settings); });
    std::vector<std::uint64_t> sent_ms;
    for (const fake::Sent& sent : fake::state().sent) {
      sent_ms.push_back((sent.at_us - start_us) / 1000);
    }
    EXPECT_EQ(sent_ms, c.sent_ms) << c.name;
    EXPECT_EQ((fake::state().now_us - start_us) / 1000, c.end_ms) << c.name;
    EXPECT_NE(out.find(c.packets), std::string::npos) << c.name << "\n" << out;
  }
}

TEST(RunRequests, StaleAnswerIsNotTakenForTheNextRequest) {
  fake::reset();
  // The first request gets a Time Exceeded and then, during the pause, an
  // echo reply as well; the second request gets no answer of its own.
  const Answer error_then_reply = [](const fake::Sent& r) {
    fake::Datagram error;
    error.bytes = fake::ip_datagram(fake::error_about(11, 0, r.bytes), 255);
    error.from = kRouter;
    error.arrive_us = r.at_us + 1000;
    fake::Datagram late = reply_after(r, 500000)[0];
    late.waiting = true;
    return std::vector<fake::Datagram>{error, late};
  };
  const std::string out = run_with(settings_for("10.0.0.2", 2), {error_then_reply, nullptr});
  EXPECT_EQ(out,
            "Ping to 10.0.0.2, buffer size 56 Bytes (IP+ICMP+DATA 84 Bytes)\n"
            "10.0.0.1: ICMP: Time Exceeded, Reason: Time To Live exceeded in transit\n"
            "Request timeout.\n"
            "\nPackets: Sent 2, Received 1 (50% Lost)\n"
            "Rount Trip Time (Min/Avg/Max): 0.000 ms/0.000 ms/0.000 ms\n");
  EXPECT_EQ(fake::state().discarded, 1);
}

TEST(RunRequests, EveryRequestGetsExactlyOneLine) {
  fake::reset();
  // A type the reports leave alone, though it carries our identifier, is no
  // answer: the request still ends with a line of its own.
  const Answer timestamp_reply = [](const fake::Sent& r) {
    std::vector<fake::Datagram> d = reply_after(r, 1000);
    d[0].bytes[20] = 14;
    return d;
  };
  const std::string out = run_with(settings_for("10.0.0.2", 1), {timestamp_reply});
  EXPECT_EQ(out,
            "Ping to 10.0.0.2, buffer size 56 Bytes (IP+ICMP+DATA 84 Bytes)\n"
            "Request timeout.\n"
            "\nPackets: Sent 1, Received 0 (100% Lost)\n"
            "Rount Trip Time (Min/Avg/Max): 0.000 ms/0.000 ms/0.000 ms\n");
  EXPECT_TRUE(fake::state().sleeps.empty());
}

TEST(RunRequests, LateReplyDuringTheNextWaitIsNotItsAnswer) {
  fake::reset();
  // The first reply comes 3.01 s after its request, inside the second
  // request's wait; the second request's own reply follows 10 ms later.
  const Answer late = [](const fake::Sent& r) { return reply_after(r, 3010000); };
  const Answer prompt = [](const fake::Sent& r) { return reply_after(r, 20000); };
  fake::state().on_send = [&](const fake::Sent& request) {
    const std::vector<fake::Datagram> d =
        fake::state().sent.size() == 1 ? late(request) : prompt(request);
    fake::state().inbound.insert(fake::state().inbound.end(), d.begin(), d.end());
  };
  const std::string out = captured_stdout([] { run_requests(settings_for("10.0.0.2", 2)); });
  EXPECT_EQ(out,
            "Ping to 10.0.0.2, buffer size 56 Bytes (IP+ICMP+DATA 84 Bytes)\n"
            "Request timeout.\n"
            "10.0.0.2: Time: 20.000 ms, Sequence: 0, Ttl: 63\n"
            "\nPackets: Sent 2, Received 1 (50% Lost)\n"
            "Rount Trip Time (Min/Avg/Max): 20.000 ms/20.000 ms/20.000 ms\n");
}

TEST(RunRequests, EmptyDatagramEndsTheWaitWithoutALineOrPause) {
  fake::reset();
  // A zero-byte datagram (the first fuzzer finding came through here).
  const Answer empty = [](const fake::Sent& r) {
    std::vector<fake::Datagram> d = reply_after(r, 1000);
    d[0].bytes.clear();
    return d;
  };
  const std::string out = run_with(settings_for("10.0.0.2", 1), {empty});
  EXPECT_EQ(out,
            "Ping to 10.0.0.2, buffer size 56 Bytes (IP+ICMP+DATA 84 Bytes)\n"
            "\nPackets: Sent 1, Received 0 (100% Lost)\n"
            "Rount Trip Time (Min/Avg/Max): 0.000 ms/0.000 ms/0.000 ms\n");
  EXPECT_TRUE(fake::state().sleeps.empty());
}

TEST(RunRequests, SendFailuresAreReportedAtOnce) {
  fake::reset();
  fake::state().send_error = 10040;
  RunSettings settings = settings_for("10.0.0.2", 2);
  settings.size = 65536;
  EXPECT_EQ(run_with(settings, {}),
            "Ping to 10.0.0.2, buffer size 65536 Bytes (IP+ICMP+DATA 65564 Bytes)\n"
            "Error 10040.\n"
            "Error 10040.\n"
            "\nPackets: Sent 2, Received 0 (100% Lost)\n"
            "Rount Trip Time (Min/Avg/Max): 0.000 ms/0.000 ms/0.000 ms\n");
  EXPECT_TRUE(fake::state().sleeps.empty());
  EXPECT_EQ(fake::state().receives, 0);
}

TEST(RunRequests, UnresolvableHostEndsTheRun) {
  fake::reset();
  EXPECT_EQ(run_with(settings_for("nowhere.invalid", 5), {}),
            "Ping to nowhere.invalid, buffer size 56 Bytes (IP+ICMP+DATA 84 Bytes)\n"
            "Can not resolve IP address for nowhere.invalid\n"
            "Rount Trip Time (Min/Avg/Max): 0.000 ms/0.000 ms/0.000 ms\n");
  EXPECT_TRUE(fake::state().sent.empty());
}

TEST(RunRequests, NameIsResolvedForEveryRequest) {
  fake::reset();
  fake::state().names["peer.test"] = kPeer;
  const Answer answer = [](const fake::Sent& r) { return reply_after(r, 2000); };
  run_with(settings_for("peer.test", 3), {answer, answer, answer});
  EXPECT_EQ(fake::state().looked_up.size(), 3u);
  EXPECT_EQ(fake::state().sent.size(), 3u);
}

void stop_resolving_after_two_requests() {
  fake::reset();
  fake::state().names["peer.test"] = kPeer;
  fake::state().on_send = [](const fake::Sent& r) {
    fake::state().inbound.push_back(reply_after(r, 2000)[0]);
    if (fake::state().sent.size() == 2) {
      fake::state().names.clear();
    }
  };
}

TEST(RunRequests, NameThatStopsResolvingEndsTheRunThere) {
  stop_resolving_after_two_requests();
  const std::string out = captured_stdout([] { run_requests(settings_for("peer.test", 5)); });
  EXPECT_EQ(out,
            "Ping to peer.test, buffer size 56 Bytes (IP+ICMP+DATA 84 Bytes)\n"
            "10.0.0.2: Time: 2.000 ms, Sequence: 0, Ttl: 63\n"
            "10.0.0.2: Time: 2.000 ms, Sequence: 1, Ttl: 63\n"
            "Can not resolve IP address for peer.test\n"
            "\nPackets: Sent 2, Received 2 (0% Lost)\n"
            "Rount Trip Time (Min/Avg/Max): 2.000 ms/2.000 ms/2.000 ms\n");
  EXPECT_EQ(fake::state().looked_up.size(), 3u);
  // A name may have either family: both sockets were opened, the IPv6 one is
  // closed once the first lookup chose IPv4, the IPv4 one at the end.
  EXPECT_EQ(fake::state().closed_families,
            (std::vector<AddressFamily>{AddressFamily::ipv6, AddressFamily::ipv4}));
  // The object names the request that could not be sent, not the first.
  stop_resolving_after_two_requests();
  RunSettings json = settings_for("peer.test", 5);
  json.json = true;
  EXPECT_NE(captured_stdout([&] {
              run_requests(json);
            }).find("{\"event\":\"unresolved\",\"request\":2,\"host\":\"peer.test\""),
            std::string::npos);
}

// --json: the same run as objects, one per line, each request by its index
// (the sequence number repeats), stamped with the fake wall clock.
TEST(RunRequests, JsonLinesOfEveryOutcome) {
  fake::reset();
  const Answer ten_ms = [](const fake::Sent& r) { return reply_after(r, 10000); };
  const Answer exceeded = [](const fake::Sent& r) {
    fake::Datagram error;
    error.bytes = fake::ip_datagram(fake::error_about(11, 0, r.bytes), 255);
    error.from = kRouter;
    error.arrive_us = r.at_us + 1000;
    return std::vector<fake::Datagram>{error};
  };
  const Answer too_big = [](const fake::Sent& r) {
    fake::Datagram error;
    // Next-hop MTU 1492 in bytes 6 and 7.
    error.bytes =
        fake::ip_datagram(fake::error_about(3, 4, r.bytes, fake::address(0, 0, 0x05, 0xD4)), 255);
    error.from = kRouter;
    error.arrive_us = r.at_us + 2000;
    return std::vector<fake::Datagram>{error};
  };
  RunSettings settings = settings_for("10.0.0.2", 5);
  settings.json = true;
  settings.ttl = 64;
  settings.ttl_given = true;
  const std::string out = run_with(settings, {ten_ms, nullptr, exceeded, too_big, ten_ms});
  EXPECT_EQ(out,
            "{\"event\":\"start\",\"schema_version\":\"1.1\",\"host\":\"10.0.0.2\",\"family\":4,"
            "\"size\":56,"
            "\"ip_bytes\":84,\"count\":5,\"timeout_ms\":3000,\"ttl\":64,\"tos\":null,"
            "\"dont_fragment\":false,\"time\":\"2023-11-14T22:13:21.000Z\"}\n"
            "{\"event\":\"reply\",\"request\":0,\"from\":\"10.0.0.2\",\"sequence\":0,"
            "\"rtt_ms\":10.000,\"ttl\":63,\"time\":\"2023-11-14T22:13:21.010Z\"}\n"
            "{\"event\":\"failure\",\"request\":1,\"error\":10060,"
            "\"message\":\"Request timeout.\",\"time\":\"2023-11-14T22:13:25.010Z\"}\n"
            "{\"event\":\"icmp\",\"request\":2,\"from\":\"10.0.0.1\",\"type\":11,\"code\":0,"
            "\"kind\":\"Time Exceeded\",\"reason\":\"Time To Live exceeded in transit\","
            "\"time\":\"2023-11-14T22:13:25.011Z\"}\n"
            "{\"event\":\"icmp\",\"request\":3,\"from\":\"10.0.0.1\",\"type\":3,\"code\":4,"
            "\"kind\":\"Destination Unreachable\",\"reason\":\"Fragmentation needed and DF set\","
            "\"time\":\"2023-11-14T22:13:26.013Z\"}\n"
            "{\"event\":\"reply\",\"request\":4,\"from\":\"10.0.0.2\",\"sequence\":3,"
            "\"rtt_ms\":10.000,\"ttl\":63,\"time\":\"2023-11-14T22:13:27.023Z\"}\n"
            "{\"event\":\"summary\",\"sent\":5,\"received\":4,\"replies\":2,\"errors\":2,"
            "\"lost_percent\":20,\"rtt_ms\":{\"min\":10.000,\"avg\":10.000,\"max\":10.000,"
            "\"median\":10.000,\"p90\":10.000,\"p99\":10.000,\"stddev\":0.000,"
            "\"jitter\":0.000},\"longest_loss_streak\":1,\"interrupted\":false,"
            "\"time\":\"2023-11-14T22:13:27.023Z\"}\n");
}

TEST(RunRequests, JsonLinesOfAnUnresolvableHost) {
  fake::reset();
  RunSettings settings = settings_for("no\"where\".invalid", 5);
  settings.json = true;
  settings.size = 100;
  settings.tos = 0x58;
  settings.tos_given = true;
  settings.dont_fragment = true;
  EXPECT_EQ(run_with(settings, {}),
            "{\"event\":\"start\",\"schema_version\":\"1.1\",\"host\":\"no\\\"where\\\".invalid\","
            "\"family\":4,"
            "\"size\":100,\"ip_bytes\":128,\"count\":5,\"timeout_ms\":3000,\"ttl\":null,"
            "\"tos\":88,\"dont_fragment\":true,\"time\":\"2023-11-14T22:13:21.000Z\"}\n"
            "{\"event\":\"unresolved\",\"request\":0,\"host\":\"no\\\"where\\\".invalid\","
            "\"time\":\"2023-11-14T22:13:21.000Z\"}\n"
            "{\"event\":\"summary\",\"sent\":0,\"received\":0,\"replies\":0,\"errors\":0,"
            "\"lost_percent\":null,\"rtt_ms\":null,\"longest_loss_streak\":0,"
            "\"interrupted\":false,\"time\":\"2023-11-14T22:13:21.000Z\"}\n");
}

// --stats adds its one line after the round-trip line and changes nothing
// else; without it the run prints what it always did.
TEST(RunRequests, StatsAndGraphAddOnlyTheirOwn) {
  const Answer ten_ms = [](const fake::Sent& r) { return reply_after(r, 10000); };
  const Answer twenty_ms = [](const fake::Sent& r) { return reply_after(r, 20250); };
  const std::vector<Answer> script = {ten_ms, nullptr, twenty_ms, ten_ms};
  fake::reset();
  const std::string plain = run_with(settings_for("10.0.0.2", 4), script);
  fake::reset();
  RunSettings settings = settings_for("10.0.0.2", 4);
  settings.stats = true;
  const std::string with_stats = run_with(settings, script);
  EXPECT_EQ(with_stats, plain +
                            "Round Trip Time (Median/P90/P99/StdDev/Jitter): 10.000 ms/20.250 ms/"
                            "20.250 ms/5.918 ms/10.250 ms\n");
  EXPECT_NE(plain.find("Rount Trip Time (Min/Avg/Max): 10.000 ms/13.416 ms/20.250 ms\n"),
            std::string::npos);
  // --graph where standard output is no terminal: not a byte changes. On
  // one, the chart's region is set before the opening line and given back
  // before the summary, which comes below the chart.
  fake::reset();
  settings = settings_for("10.0.0.2", 4);
  settings.graph = GraphChoice::automatic;
  EXPECT_EQ(run_with(settings, script), plain);
  fake::reset();
  fake::state().terminal = TerminalKind::controlled;
  const std::string drawn = run_with(settings, script);
  EXPECT_LT(drawn.find("\x1b[1;14r"), drawn.find("Ping to 10.0.0.2"));
  EXPECT_NE(drawn.find("\x1b[r\x1b[999;1H\n\nPackets: Sent 4"), std::string::npos);
  // A resize in the first pause is drawn then: once at the start, once per
  // request, once for it.
  fake::reset();
  fake::state().terminal = TerminalKind::controlled;
  fake::state().interruptions = {{1500000, Interruption::resize, false}};
  const std::string resized = run_with(settings, script);
  std::size_t draws = 0;
  for (std::size_t at = 0; (at = resized.find("\x1b"
                                              "7\x1b[15;1H",
                                              at)) != std::string::npos;
       ++at) {
    ++draws;
  }
  EXPECT_EQ(draws, 6u);
}

std::string reply_line(unsigned sequence, const char* time = "10.000") {
  return std::string("10.0.0.2: Time: ") + time + " ms, Sequence: " + std::to_string(sequence) +
         ", Ttl: 63\n";
}

std::string summary_lines(unsigned sent, unsigned received, const char* lost, const char* times) {
  return "\nPackets: Sent " + std::to_string(sent) + ", Received " + std::to_string(received) +
         " (" + lost + "% Lost)\nRount Trip Time (Min/Avg/Max): " + times + "\n";
}

fake::ScriptedInterruption user(Interruption kind, std::uint64_t after_ms) {
  fake::ScriptedInterruption i;
  i.kind = kind;
  i.at_us = 1000000 + after_ms * 1000;  // from the fake clock's start, when the run begins
  return i;
}

// Ctrl-C (stop) and Ctrl-\ (interim) at every point of a run, and what the
// system may do to a wait besides. Replies come 10 ms after their request
// unless the script says otherwise; the pause after each is 1000 ms, so
// request n is sent at n * 1010 ms while every request is answered.
TEST(RunRequests, Interruptions) {
  using I = Interruption;
  const std::string opening = "Ping to 10.0.0.2, buffer size 56 Bytes (IP+ICMP+DATA 84 Bytes)\n";
  const std::string named = "Ping to peer.test, buffer size 56 Bytes (IP+ICMP+DATA 84 Bytes)\n";
  const std::string ten = "10.000 ms/10.000 ms/10.000 ms";
  const std::string none = "0.000 ms/0.000 ms/0.000 ms";
  const struct {
    const char* name;
    std::uint32_t count;
    std::uint32_t timeout_ms;
    std::vector<std::uint64_t> reply_after_ms;  // per request; 0: no reply
    std::vector<fake::ScriptedInterruption> interruptions;
    std::vector<std::uint64_t> wakeups_after_ms;
    std::string expected;
    std::vector<std::uint64_t> sent_at_ms;
    std::uint64_t lookup_ms = 0;  // non-zero: the host is the name peer.test, looked up this long
  } cases[] = {
      {"Ctrl-C in a wait on a silent peer: counted, no line",
       5,
       3000,
       {0},
       {user(I::stop, 1000)},
       {},
       opening + summary_lines(1, 0, "100", none.c_str()),
       {0}},
      {"Ctrl-C twice at once: one summary",
       5,
       3000,
       {0},
       {user(I::stop, 1000), user(I::stop, 1000)},
       {},
       opening + summary_lines(1, 0, "100", none.c_str()),
       {0}},
      {"Ctrl-C in the pause",
       5,
       3000,
       {10, 10, 10},
       {user(I::stop, 1500)},
       {},
       opening + reply_line(0) + reply_line(1) + summary_lines(2, 2, "0", ten.c_str()),
       {0, 1010}},
      {"Ctrl-C in the third wait: the request in flight is lost",
       5,
       3000,
       {10, 10, 0},
       {user(I::stop, 2520)},
       {},
       opening + reply_line(0) + reply_line(1) + summary_lines(3, 2, "34", ten.c_str()),
       {0, 1010, 2020}},
      {"Ctrl-C before the first request: nothing is sent",
       5,
       3000,
       {10},
       {user(I::stop, 0)},
       {},
       opening + "Rount Trip Time (Min/Avg/Max): " + none + "\n",
       {}},
      {"Ctrl-C on the last request: as a full run",
       2,
       3000,
       {10, 0},
       {user(I::stop, 1500)},
       {},
       opening + reply_line(0) + summary_lines(2, 1, "50", ten.c_str()),
       {0, 1010}},
      {"Ctrl-\\ in a wait: the statistics so far, and the reply keeps its line",
       3,
       3000,
       {10, 500, 10},
       {user(I::interim, 1300)},
       {},
       opening + reply_line(0) + summary_lines(1, 1, "0", ten.c_str()) + reply_line(1, "500.000") +
           reply_line(2) + summary_lines(3, 3, "0", "10.000 ms/173.333 ms/500.000 ms"),
       {0, 1010, 2510}},
      {"Ctrl-\\ in the pause: the pause keeps its length",
       2,
       3000,
       {10, 10},
       {user(I::interim, 500)},
       {},
       opening + reply_line(0) + summary_lines(1, 1, "0", ten.c_str()) + reply_line(1) +
           summary_lines(2, 2, "0", ten.c_str()),
       {0, 1010}},
      {"Ctrl-\\, then Ctrl-C in the same wait",
       3,
       3000,
       {10, 0},
       {user(I::interim, 1200), user(I::stop, 1400)},
       {},
       opening + reply_line(0) + summary_lines(1, 1, "0", ten.c_str()) +
           summary_lines(2, 1, "50", ten.c_str()),
       {0, 1010}},
      {"stopped and continued in a wait: it times out at its deadline",
       2,
       3000,
       {0, 0},
       {},
       {1000, 4500},
       opening + "Request timeout.\nRequest timeout.\n" + summary_lines(2, 0, "100", none.c_str()),
       {0, 3000}},
      {"Ctrl-\\ before any request ended: the packets line as in any report",
       1,
       3000,
       {10},
       {user(I::interim, 5)},
       {},
       opening + summary_lines(0, 0, "0", none.c_str()) + reply_line(0) +
           summary_lines(1, 1, "0", ten.c_str()),
       {0}},
      {"Ctrl-C in a lookup of 10 s: the run ends at once, nothing sent",
       5,
       3000,
       {10},
       {user(I::stop, 500)},
       {},
       named + "Rount Trip Time (Min/Avg/Max): " + none + "\n",
       {},
       10000},
      {"Ctrl-\\ in a lookup: the statistics at once, and the lookup goes on",
       1,
       3000,
       {10},
       {user(I::interim, 500)},
       {},
       summary_lines(0, 0, "0", none.c_str()) + named + reply_line(0) +
           summary_lines(1, 1, "0", ten.c_str()),
       {1000},
       1000},
      {"a timeout of 2^31 ms is waited out whole",
       2,
       0x80000000u,
       {0, 10},
       {},
       {},
       opening + "Request timeout.\n" + reply_line(0) + summary_lines(2, 1, "50", ten.c_str()),
       {0, 0x80000000u}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fake::reset();
    fake::state().interruptions = c.interruptions;
    for (const std::uint64_t after : c.wakeups_after_ms) {
      fake::state().early_wakeups_us.push_back(1000000 + after * 1000);
    }
    const std::vector<std::uint64_t> replies = c.reply_after_ms;
    fake::state().on_send = [replies](const fake::Sent& request) {
      const std::size_t n = fake::state().sent.size() - 1;
      if (n < replies.size() && replies[n] != 0) {
        fake::state().inbound.push_back(reply_after(request, replies[n] * 1000)[0]);
      }
    };
    int status = -2;
    const std::string count = std::to_string(c.count);
    const std::string timeout = std::to_string(c.timeout_ms);
    fake::state().lookup_us = c.lookup_ms * 1000;
    fake::state().names["peer.test"] = fake::address(10, 0, 0, 2);
    const char* host = c.lookup_ms != 0 ? "peer.test" : "10.0.0.2";
    const char* argv[] = {"vexmo", "-c", count.c_str(), "-w", timeout.c_str(), host};
    const std::string out = captured_stdout([&] { status = vexmo_main(6, argv); });
    EXPECT_EQ(out, c.expected);
    EXPECT_EQ(status, 0);
    std::vector<std::uint64_t> sent_at_ms;
    for (const fake::Sent& sent : fake::state().sent) {
      sent_at_ms.push_back((sent.at_us - 1000000) / 1000);
    }
    EXPECT_EQ(sent_at_ms, c.sent_at_ms);
    // Ended as any run ends.
    EXPECT_EQ(fake::state().closed, c.lookup_ms != 0 ? 2 : 1);  // a name opens both families
    EXPECT_EQ(fake::state().cleanups, 1);
    EXPECT_EQ(fake::state().watch_calls, 1);
  }
}

// The same interruptions with --json: the cut request gets no object but
// counts as sent and as a loss, the summary says the run was interrupted,
// and Ctrl-\\ prints an interim object between the request objects.
TEST(RunRequests, InterruptionsInJsonLines) {
  using I = Interruption;
  const struct {
    const char* name;
    std::uint32_t count;
    std::vector<std::uint64_t> reply_after_ms;  // per request; 0: no reply
    std::vector<fake::ScriptedInterruption> interruptions;
    std::vector<std::string> events;  // of the objects in order
    std::string summary;              // the summary object's counts and flag
  } cases[] = {
      {"Ctrl-C in the third wait",
       5,
       {10, 10, 0},
       {user(I::stop, 2520)},
       {"start", "reply", "reply", "summary"},
       "\"sent\":3,\"received\":2,\"replies\":2,\"errors\":0,\"lost_percent\":34,"
       "\"rtt_ms\":{\"min\":10.000,\"avg\":10.000,\"max\":10.000,\"median\":10.000,"
       "\"p90\":10.000,\"p99\":10.000,\"stddev\":0.000,\"jitter\":0.000},"
       "\"longest_loss_streak\":1,\"interrupted\":true"},
      {"Ctrl-C before the first request",
       5,
       {10},
       {user(I::stop, 0)},
       {"start", "summary"},
       "\"sent\":0,\"received\":0,\"replies\":0,\"errors\":0,\"lost_percent\":null,"
       "\"rtt_ms\":null,\"longest_loss_streak\":0,\"interrupted\":true"},
      {"Ctrl-\\ in a wait, the run complete",
       2,
       {10, 500},
       {user(I::interim, 1300)},
       {"start", "reply", "interim", "reply", "summary"},
       "\"sent\":2,\"received\":2,\"replies\":2,\"errors\":0,\"lost_percent\":0,"
       "\"rtt_ms\":{\"min\":10.000,\"avg\":255.000,\"max\":500.000,\"median\":10.000,"
       "\"p90\":500.000,\"p99\":500.000,\"stddev\":346.482,\"jitter\":490.000},"
       "\"longest_loss_streak\":0,\"interrupted\":false"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fake::reset();
    fake::state().interruptions = c.interruptions;
    const std::vector<std::uint64_t> replies = c.reply_after_ms;
    fake::state().on_send = [replies](const fake::Sent& request) {
      const std::size_t n = fake::state().sent.size() - 1;
      if (n < replies.size() && replies[n] != 0) {
        fake::state().inbound.push_back(reply_after(request, replies[n] * 1000)[0]);
      }
    };
    const std::string count = std::to_string(c.count);
    const char* argv[] = {"vexmo", "--json", "-c", count.c_str(), "10.0.0.2"};
    int status = -2;
    const std::string out = captured_stdout([&] { status = vexmo_main(5, argv); });
    EXPECT_EQ(status, 0);
    std::vector<std::string> events;
    std::string last;
    for (std::size_t at = 0; at < out.size();) {
      const std::size_t end = out.find('\n', at);
      last = out.substr(at, end - at);
      const std::size_t name = last.find("\"event\":\"") + 9;
      events.push_back(last.substr(name, last.find('"', name) - name));
      at = end + 1;
    }
    EXPECT_EQ(events, c.events);
    EXPECT_NE(last.find(c.summary), std::string::npos) << last;
  }
}

const SocketAddress kPeer6 = fake::address6(0x2001, 0xdb8, 0, 0, 0, 0, 0, 5);
const SocketAddress kLinkLocal = fake::address6(0xfe80, 0, 0, 0, 0, 0, 0, 1, 2);
const SocketAddress kRouter6 = fake::address6(0x2001, 0xdb8, 0, 1, 0, 0, 0, 1);

// The lab of names and IPv6 literals the family tests resolve against.
void script_names() {
  fake::state().names["3com.example"] = fake::address(10, 9, 9, 9);
  fake::state().names["peer.test"] = kPeer;
  fake::state().names["dual.test"] = kPeer;
  fake::state().names6["dual.test"] = kPeer6;
  fake::state().names6["v6only.test"] = kPeer6;
  fake::state().literals6["2001:db8::5"] = kPeer6;
  fake::state().literals6["fe80::1%eth0"] = kLinkLocal;
}

bool same_address(const SocketAddress& a, const SocketAddress& b) {
  return a.family == b.family && a.scope_id == b.scope_id &&
         std::memcmp(a.bytes, b.bytes, sizeof a.bytes) == 0;
}

TEST(ResolveHost, FamilyChoice) {
  using F = FamilyChoice;
  const AddressFamily v4 = AddressFamily::ipv4;
  const AddressFamily v6 = AddressFamily::ipv6;
  const SocketAddress none;
  const struct {
    const char* host;
    FamilyChoice family;
    bool resolved;
    SocketAddress address;
    std::vector<AddressFamily> lookups;  // the families asked of the name lookup
  } cases[] = {
      {"10.0.0.2", F::any, true, ipv4_socket_address(kPeer), {}},
      {"255.255.255.255", F::any, true, ipv4_socket_address(0xFFFFFFFFu), {}},
      {"10.0.0.256", F::any, false, none, {v4, v6}},  // never the broadcast address
      {"3com.example", F::any, true, ipv4_socket_address(fake::address(10, 9, 9, 9)), {v4}},
      {"peer.test", F::any, true, ipv4_socket_address(kPeer), {v4}},
      {"unknown.test", F::any, false, none, {v4, v6}},
      // A name: IPv4 when it has an IPv4 address, else its first IPv6 one.
      {"dual.test", F::any, true, ipv4_socket_address(kPeer), {v4}},
      {"v6only.test", F::any, true, kPeer6, {v4, v6}},
      {"dual.test", F::ipv6, true, kPeer6, {v6}},
      {"dual.test", F::ipv4, true, ipv4_socket_address(kPeer), {v4}},
      {"v6only.test", F::ipv4, false, none, {v4}},
      {"peer.test", F::ipv6, false, none, {v6}},
      // Literals convert without a lookup, a zone included.
      {"2001:db8::5", F::any, true, kPeer6, {}},
      {"2001:db8::5", F::ipv6, true, kPeer6, {}},
      {"fe80::1%eth0", F::any, true, kLinkLocal, {}},
      {"fe80::1%nosuchif", F::any, false, none, {}},
      // A literal of the other family than the forced one resolves to nothing.
      {"2001:db8::5", F::ipv4, false, none, {}},
      {"10.0.0.2", F::ipv6, false, none, {}},
      {"255.255.255.255", F::ipv6, false, none, {}},
  };
  for (const auto& c : cases) {
    fake::reset();
    script_names();
    SocketAddress address;
    const std::string label = std::string(c.host) + " family " + std::to_string(int(c.family));
    EXPECT_EQ(resolve_host(c.host, c.family, &address) == LookupEnd::found, c.resolved) << label;
    if (c.resolved) {
      EXPECT_TRUE(same_address(address, c.address)) << label;
    }
    EXPECT_EQ(fake::state().looked_up_families, c.lookups) << label;
  }
}

TEST(SocketsNeeded, ByTheForcedFamilyOrTheTextAlone) {
  using F = FamilyChoice;
  const struct {
    const char* host;
    FamilyChoice family;
    bool ipv4;
    bool ipv6;
  } cases[] = {
      {"10.0.0.2", F::any, true, false},     {"2001:db8::5", F::any, false, true},
      {"fe80::1%eth0", F::any, false, true}, {"peer.test", F::any, true, true},
      {"10.0.0.256", F::any, true, true},    {"peer.test", F::ipv4, true, false},
      {"peer.test", F::ipv6, false, true},   {"10.0.0.2", F::ipv6, false, true},
      {"2001:db8::5", F::ipv4, true, false},
  };
  for (const auto& c : cases) {
    RunSettings settings;
    settings.host = c.host;
    settings.family = c.family;
    const SocketsNeeded needed = sockets_needed(settings);
    EXPECT_EQ(needed.ipv4, c.ipv4) << c.host << " " << int(c.family);
    EXPECT_EQ(needed.ipv6, c.ipv6) << c.host << " " << int(c.family);
  }
}

std::vector<fake::Datagram> reply6_after(const fake::Sent& request, std::uint64_t delay_us,
                                         std::uint8_t hop_limit = 61) {
  fake::Datagram reply;
  reply.bytes = fake::ipv6_datagram(fake::echo_reply_for(request.bytes), hop_limit);
  reply.ipv6 = true;
  reply.from6 = request.to;
  reply.arrive_us = request.at_us + delay_us;
  return {reply};
}

RunSettings forced(const char* host, std::uint32_t count, FamilyChoice family) {
  RunSettings settings = settings_for(host, count);
  settings.family = family;
  return settings;
}

TEST(RunRequests, Ipv6RepliesAndTheSummary) {
  fake::reset();
  script_names();
  const Answer ten_ms = [](const fake::Sent& r) { return reply6_after(r, 10000); };
  const Answer bare = [](const fake::Sent& r) {
    std::vector<fake::Datagram> d = reply6_after(r, 4000);
    d[0].bytes.erase(d[0].bytes.begin(), d[0].bytes.begin() + 40);  // no hop limit reported
    return d;
  };
  const std::string out = run_with(settings_for("2001:db8::5", 3), {ten_ms, nullptr, bare});
  EXPECT_EQ(out,
            "Ping to 2001:db8::5, buffer size 56 Bytes (IP+ICMP+DATA 104 Bytes)\n"
            "2001:db8::5: Time: 10.000 ms, Sequence: 0, Ttl: 61\n"
            "Request timeout.\n"
            "2001:db8::5: Time: 4.000 ms, Sequence: 1\n"
            "\nPackets: Sent 3, Received 2 (34% Lost)\n"
            "Rount Trip Time (Min/Avg/Max): 4.000 ms/7.000 ms/10.000 ms\n");
  // Only the socket the literal needs; requests of type 128, the checksum
  // left to the stack.
  EXPECT_EQ(fake::state().opened, std::vector<AddressFamily>{AddressFamily::ipv6});
  EXPECT_TRUE(fake::state().looked_up.empty());
  for (const fake::Sent& sent : fake::state().sent) {
    EXPECT_EQ(sent.bytes[0], 128);
    EXPECT_EQ(read_le16(sent.bytes.data() + 2), 0);
    EXPECT_TRUE(same_address(sent.to, kPeer6));
  }
}

// Each kind of ICMPv6 error about the request: its line, counted as
// received, the pause after it, the sequence advanced. (Every code's reason
// is checked once, with the lines.)
TEST(RunRequests, EveryIcmp6ErrorCountsAsReceivedAndPauses) {
  const char* unreachable = "ICMP: Destination Unreachable, Reason: ";
  const struct {
    std::uint8_t type;
    std::uint8_t code;
    std::uint32_t info;
    std::string line;
  } cases[] = {
      {1, 0, 0, std::string(unreachable) + "No route to destination\n"},
      {1, 7, 0, std::string(unreachable) + "Unknown code 7\n"},
      {2, 0, 1280, "ICMP: Packet Too Big, MTU: 1280\n"},
      {2, 0, 0xFFFFFFFFu, "ICMP: Packet Too Big, MTU: 4294967295\n"},  // unsigned
      {3, 0, 0, "2001:db8:0:1::1: ICMP: Time Exceeded, Reason: Hop limit exceeded in transit\n"},
      {4, 0, 0, "ICMP: Parameter Problem\n"},
      {4, 2, 40, "ICMP: Parameter Problem\n"},
  };
  for (const auto& c : cases) {
    fake::reset();
    script_names();
    fake::state().on_send = [&c](const fake::Sent& r) {
      fake::Datagram error;
      error.bytes = fake::ipv6_datagram(fake::error6_about(c.type, c.code, r.bytes, c.info), 64);
      error.ipv6 = true;
      error.from6 = kRouter6;
      error.arrive_us = r.at_us + 1000;
      fake::state().inbound.push_back(error);
    };
    const std::string out = captured_stdout([] { run_requests(settings_for("2001:db8::5", 2)); });
    EXPECT_EQ(out, "Ping to 2001:db8::5, buffer size 56 Bytes (IP+ICMP+DATA 104 Bytes)\n" + c.line +
                       c.line +
                       "\nPackets: Sent 2, Received 2 (0% Lost)\n"
                       "Rount Trip Time (Min/Avg/Max): 0.000 ms/0.000 ms/0.000 ms\n")
        << int{c.type} << "/" << int{c.code};
    EXPECT_EQ(fake::state().sleeps, std::vector<std::uint32_t>(1, 1000)) << int{c.type};
    ASSERT_EQ(fake::state().sent.size(), 2u);
    EXPECT_EQ(read_le16(fake::state().sent[1].bytes.data() + 6), 1) << int{c.type};
  }
}

// The run's family is fixed by its first lookup: the other socket is closed
// then, and every later lookup stays in the family.
TEST(RunRequests, TheFirstLookupFixesTheFamily) {
  const AddressFamily v4 = AddressFamily::ipv4;
  const AddressFamily v6 = AddressFamily::ipv6;
  const struct {
    const char* name;
    RunSettings settings;
    const char* opening;
    std::vector<AddressFamily> opened;
    std::vector<AddressFamily> closed;
    std::vector<AddressFamily> lookups;
  } cases[] = {
      {"AAAA-only name",
       settings_for("v6only.test", 2),
       "Ping to v6only.test, buffer size 56 Bytes (IP+ICMP+DATA 104 Bytes)\n",
       {v4, v6},
       {v4, v6},
       {v4, v6, v6}},
      {"dual name",
       settings_for("dual.test", 2),
       "Ping to dual.test, buffer size 56 Bytes (IP+ICMP+DATA 84 Bytes)\n",
       {v4, v6},
       {v6, v4},
       {v4, v4}},
      {"dual name with -6",
       forced("dual.test", 2, FamilyChoice::ipv6),
       "Ping to dual.test, buffer size 56 Bytes (IP+ICMP+DATA 104 Bytes)\n",
       {v6},
       {v6},
       {v6, v6}},
  };
  for (const auto& c : cases) {
    fake::reset();
    script_names();
    fake::state().on_send = [](const fake::Sent& r) {
      const std::vector<fake::Datagram> d =
          r.to.family == AddressFamily::ipv6 ? reply6_after(r, 2000) : reply_after(r, 2000);
      fake::state().inbound.insert(fake::state().inbound.end(), d.begin(), d.end());
    };
    const std::string out = captured_stdout([&] { run_requests(c.settings); });
    EXPECT_EQ(out.substr(0, out.find('\n') + 1), c.opening) << c.name;
    EXPECT_NE(out.find("Packets: Sent 2, Received 2 (0% Lost)"), std::string::npos) << c.name;
    EXPECT_EQ(fake::state().opened, c.opened) << c.name;
    EXPECT_EQ(fake::state().closed_families, c.closed) << c.name;
    EXPECT_EQ(fake::state().looked_up_families, c.lookups) << c.name;
    ASSERT_EQ(fake::state().sent.size(), 2u) << c.name;
    EXPECT_EQ(fake::state().sent[1].to.family, c.lookups.back()) << c.name;
  }
}

TEST(RunRequests, NameThatLosesItsFamilyEndsTheRun) {
  fake::reset();
  script_names();
  // IPv4 first; then the name has only an IPv6 address, which this run
  // does not take.
  fake::state().on_send = [](const fake::Sent& r) {
    fake::state().inbound.push_back(reply_after(r, 2000)[0]);
    fake::state().names.erase("dual.test");
  };
  const std::string out = captured_stdout([] { run_requests(settings_for("dual.test", 3)); });
  EXPECT_EQ(out,
            "Ping to dual.test, buffer size 56 Bytes (IP+ICMP+DATA 84 Bytes)\n"
            "10.0.0.2: Time: 2.000 ms, Sequence: 0, Ttl: 63\n"
            "Can not resolve IP address for dual.test\n"
            "\nPackets: Sent 1, Received 1 (0% Lost)\n"
            "Rount Trip Time (Min/Avg/Max): 2.000 ms/2.000 ms/2.000 ms\n");
}

TEST(RunRequests, ForcedFamilyConflictsCannotResolve) {
  const struct {
    RunSettings settings;
    const char* out;
    AddressFamily opened;
  } cases[] = {
      {forced("10.0.0.2", 3, FamilyChoice::ipv6),
       "Ping to 10.0.0.2, buffer size 56 Bytes (IP+ICMP+DATA 104 Bytes)\n"
       "Can not resolve IP address for 10.0.0.2\n"
       "Rount Trip Time (Min/Avg/Max): 0.000 ms/0.000 ms/0.000 ms\n",
       AddressFamily::ipv6},
      {forced("2001:db8::5", 3, FamilyChoice::ipv4),
       "Ping to 2001:db8::5, buffer size 56 Bytes (IP+ICMP+DATA 84 Bytes)\n"
       "Can not resolve IP address for 2001:db8::5\n"
       "Rount Trip Time (Min/Avg/Max): 0.000 ms/0.000 ms/0.000 ms\n",
       AddressFamily::ipv4},
      {forced("peer.test", 3, FamilyChoice::ipv6),
       "Ping to peer.test, buffer size 56 Bytes (IP+ICMP+DATA 104 Bytes)\n"
       "Can not resolve IP address for peer.test\n"
       "Rount Trip Time (Min/Avg/Max): 0.000 ms/0.000 ms/0.000 ms\n",
       AddressFamily::ipv6},
      {settings_for("fe80::1%nosuchif", 3),
       "Ping to fe80::1%nosuchif, buffer size 56 Bytes (IP+ICMP+DATA 104 Bytes)\n"
       "Can not resolve IP address for fe80::1%nosuchif\n"
       "Rount Trip Time (Min/Avg/Max): 0.000 ms/0.000 ms/0.000 ms\n",
       AddressFamily::ipv6},
  };
  for (const auto& c : cases) {
    fake::reset();
    script_names();
    EXPECT_EQ(captured_stdout([&] { run_requests(c.settings); }), c.out) << c.settings.host;
    EXPECT_TRUE(fake::state().sent.empty()) << c.settings.host;
    EXPECT_EQ(fake::state().opened, std::vector<AddressFamily>{c.opened}) << c.settings.host;
  }
}

// Where no ICMPv6 socket can be had (Wine: 10043), every request fails on
// its own, as with any socket that could not be opened.
TEST(RunRequests, UnopenableIpv6SocketFailsEveryRequest) {
  fake::reset();
  fake::state().ipv6_unopenable = true;
  fake::state().literals6["::1"] = fake::address6(0, 0, 0, 0, 0, 0, 0, 1);
  EXPECT_EQ(captured_stdout([] { run_requests(settings_for("::1", 3)); }),
            "Ping to ::1, buffer size 56 Bytes (IP+ICMP+DATA 104 Bytes)\n"
            "Error 10038.\n"
            "Error 10038.\n"
            "Error 10038.\n"
            "\nPackets: Sent 3, Received 0 (100% Lost)\n"
            "Rount Trip Time (Min/Avg/Max): 0.000 ms/0.000 ms/0.000 ms\n");
  EXPECT_TRUE(fake::state().sleeps.empty());
}

// What the system refused, or no socket at all, is said once on standard
// error, and the start object reports what is in effect.
TEST(RunRequests, RefusalsAreSaidOnceAndReportedAsInEffect) {
  // clang-format off
  const struct {
    const char* host;
    std::vector<SocketOption> refused;
    bool unopenable;
    const char* err;
    const char* start;  // part of the start object
  } cases[] = {
      {"10.0.0.2", {SocketOption::time_to_live}, false,
       "vexmo: TTL 300 refused by the system; its default is used\n", "\"ttl\":null,\"tos\":224,"},
      {"10.0.0.2", {SocketOption::type_of_service}, false,
       "vexmo: TOS 224 refused by the system; its default is used\n", "\"ttl\":300,\"tos\":null,"},
      {"::1", {SocketOption::time_to_live, SocketOption::type_of_service}, false,
       "vexmo: hop limit 300 refused by the system; its default is used\n"
       "vexmo: traffic class 224 refused by the system; its default is used\n",
       "\"ttl\":null,\"tos\":null,"},
      {"10.0.0.2", {SocketOption::time_to_live}, true,
       "vexmo: no ICMP socket: the hint\n", "\"ttl\":300,\"tos\":224,"},
      // No ICMPv6 in the system (Wine): nothing the user could mend.
      {"::1", {}, true, "", "\"ttl\":300,\"tos\":224,"},
  };
  // clang-format on
  for (const auto& c : cases) {
    fake::reset();
    fake::state().refused_options = c.refused;
    fake::state().ipv4_unopenable = fake::state().ipv6_unopenable = c.unopenable;
    fake::state().literals6["::1"] = fake::address6(0, 0, 0, 0, 0, 0, 0, 1);
    RunSettings settings = settings_for(c.host, 1);
    settings.json = true;
    settings.ttl = 300;
    settings.ttl_given = settings.tos_given = true;
    settings.tos = 0xE0;
    const auto printed = captured_streams([&] { run_requests(settings); });
    EXPECT_EQ(printed.second, c.err) << c.err;
    EXPECT_NE(printed.first.find(c.start), std::string::npos) << printed.first;
  }
}

TEST(VexmoMain, ExitStatus) {
  fake::reset();
  const char* usage[] = {"vexmo"};
  EXPECT_EQ(vexmo_main(1, usage), -1);
  const char* options_only[] = {"vexmo", "-c", "2"};
  captured_stdout([&] { EXPECT_EQ(vexmo_main(3, options_only), -1); });
  const char* run[] = {"vexmo", "-c", "1", "-w", "10", "10.0.0.2"};
  captured_stdout([&] { EXPECT_EQ(vexmo_main(6, run), 0); });
  EXPECT_EQ(fake::state().sent.size(), 1u);

  // Privileges that cannot be given up end the run before it sends or looks
  // anything up.
  fake::reset();
  fake::state().privilege_drop_fails = true;
  const char* named[] = {"vexmo", "peer.test"};
  EXPECT_EQ(captured_stdout([&] { EXPECT_EQ(vexmo_main(2, named), 1); }),
            "Can not give up elevated privileges.\n");
  EXPECT_TRUE(fake::state().sent.empty());
  EXPECT_TRUE(fake::state().looked_up.empty());

  // With --json the message goes to standard error: standard output holds
  // JSON alone, and here nothing at all.
  fake::reset();
  fake::state().privilege_drop_fails = true;
  const char* named_json[] = {"vexmo", "--json", "peer.test"};
  testing::internal::CaptureStderr();
  EXPECT_EQ(captured_stdout([&] { EXPECT_EQ(vexmo_main(3, named_json), 1); }), "");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Can not give up elevated privileges.\n");
}

TEST(VexmoMain, HelpAndVersionEndWithZeroAndSendNothing) {
  const std::vector<std::vector<const char*>> cases = {
      {"vexmo", "--help"},
      {"vexmo", "-h", "10.0.0.2"},
      {"vexmo", "10.0.0.2", "-?"},
      {"vexmo", "--version", "10.0.0.2"},
  };
  for (const auto& argv : cases) {
    fake::reset();
    captured_stdout([&] { EXPECT_EQ(vexmo_main(static_cast<int>(argv.size()), argv.data()), 0); });
    EXPECT_TRUE(fake::state().sent.empty()) << argv[1];
  }
}

}  // namespace
}  // namespace vexmo
