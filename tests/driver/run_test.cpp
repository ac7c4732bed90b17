#include "driver/run.h"

#include <gtest/gtest.h>

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
  EXPECT_EQ(fake::state().sleeps, std::vector<std::uint32_t>(5, 1000));
  for (const fake::Sent& sent : fake::state().sent) {
    EXPECT_EQ(read_le16(sent.bytes.data() + 4), 0x1234);
    EXPECT_EQ(ipv4_of(sent.to), kPeer);
  }
}

// The wait's set-up (zeroing the receive buffer, reading the deadline back)
// is done before each send, outside the measured round trip.
TEST(RunRequests, EachWaitIsSetUpBeforeItsSend) {
  fake::reset();
  const Answer ten_ms = [](const fake::Sent& r) { return reply_after(r, 10000); };
  run_with(settings_for("10.0.0.2", 3), {ten_ms, nullptr, ten_ms});
  EXPECT_EQ(fake::state().sent.size(), 3u);
  EXPECT_EQ(fake::state().timeout_reads, (std::vector<std::size_t>{0, 1, 2}));
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
  EXPECT_EQ(fake::state().sleeps.size(), 2u);
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
    EXPECT_EQ(fake::state().sleeps, std::vector<std::uint32_t>(2, 1000)) << int{c.type};
    // The sequence is the received count: errors advance it too.
    ASSERT_EQ(fake::state().sent.size(), 2u);
    EXPECT_EQ(read_le16(fake::state().sent[1].bytes.data() + 6), 1) << int{c.type};
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
  // The first reply comes 3.5 s after its request, inside the second
  // request's wait; the second request's own reply follows 20 ms later.
  const Answer late = [](const fake::Sent& r) { return reply_after(r, 3500000); };
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

TEST(RunRequests, NameThatStopsResolvingEndsTheRunThere) {
  fake::reset();
  fake::state().names["peer.test"] = kPeer;
  fake::state().on_send = [](const fake::Sent& r) {
    fake::state().inbound.push_back(reply_after(r, 2000)[0]);
    if (fake::state().sent.size() == 2) {
      fake::state().names.clear();
    }
  };
  const std::string out = captured_stdout([] { run_requests(settings_for("peer.test", 5)); });
  EXPECT_EQ(out,
            "Ping to peer.test, buffer size 56 Bytes (IP+ICMP+DATA 84 Bytes)\n"
            "10.0.0.2: Time: 2.000 ms, Sequence: 0, Ttl: 63\n"
            "10.0.0.2: Time: 2.000 ms, Sequence: 1, Ttl: 63\n"
            "Can not resolve IP address for peer.test\n"
            "\nPackets: Sent 2, Received 2 (0% Lost)\n"
            "Rount Trip Time (Min/Avg/Max): 2.000 ms/2.000 ms/2.000 ms\n");
  EXPECT_EQ(fake::state().looked_up.size(), 3u);
  EXPECT_EQ(fake::state().closed, 1);
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
            "{\"event\":\"start\",\"host\":\"10.0.0.2\",\"family\":4,\"size\":56,"
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
            "\"mtu\":1492,\"time\":\"2023-11-14T22:13:26.013Z\"}\n"
            "{\"event\":\"reply\",\"request\":4,\"from\":\"10.0.0.2\",\"sequence\":3,"
            "\"rtt_ms\":10.000,\"ttl\":63,\"time\":\"2023-11-14T22:13:27.023Z\"}\n"
            "{\"event\":\"summary\",\"sent\":5,\"received\":4,\"replies\":2,\"errors\":2,"
            "\"lost_percent\":20,\"rtt_ms\":{\"min\":10.000,\"avg\":10.000,\"max\":10.000,"
            "\"median\":10.000,\"p90\":10.000,\"p99\":10.000,\"stddev\":0.000,"
            "\"jitter\":0.000},\"longest_loss_streak\":1,\"interrupted\":false,"
            "\"time\":\"2023-11-14T22:13:28.023Z\"}\n");
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
            "{\"event\":\"start\",\"host\":\"no\\\"where\\\".invalid\",\"family\":4,"
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
TEST(RunRequests, StatsAddsOneLineToTheSummary) {
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
}

TEST(ResolveHost, DigitLedTextIsAnAddressOnlyWhenItConverts) {
  const struct {
    const char* host;
    bool resolved;
    std::uint32_t address;
    bool looked_up;
  } cases[] = {
      {"10.0.0.2", true, fake::address(10, 0, 0, 2), false},
      {"255.255.255.255", true, 0xFFFFFFFFu, false},
      {"10.0.0.256", false, 0, true},  // never the broadcast address
      {"3com.example", true, fake::address(10, 9, 9, 9), true},
      {"peer.test", true, fake::address(10, 0, 0, 2), true},
      {"unknown.test", false, 0, true},
  };
  for (const auto& c : cases) {
    fake::reset();
    fake::state().names["3com.example"] = fake::address(10, 9, 9, 9);
    fake::state().names["peer.test"] = kPeer;
    std::uint32_t address = 0;
    EXPECT_EQ(resolve_host(c.host, &address), c.resolved) << c.host;
    if (c.resolved) {
      EXPECT_EQ(address, c.address) << c.host;
    }
    EXPECT_EQ(!fake::state().looked_up.empty(), c.looked_up) << c.host;
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
