#include "driver/json_lines.h"

#include <gtest/gtest.h>

#include <string>

#include "driver/text_lines.h"

namespace vexmo {
namespace {

std::string encoded(const char* text) {
  std::string out;
  append_json_string(&out, text);
  return out;
}

TEST(AppendJsonString, EscapesAndKeepsUtf8Valid) {
  const struct {
    const char* name;
    const char* text;
    const char* json;
  } cases[] = {
      {"plain", "gateway.example.net", "\"gateway.example.net\""},
      {"empty", "", "\"\""},
      {"quotes and backslashes", "a\"b\\c", "\"a\\\"b\\\\c\""},
      {"short escapes", "\b\f\n\r\t", "\"\\b\\f\\n\\r\\t\""},
      {"other control characters", "\x01x\x1f\x1b", "\"\\u0001x\\u001f\\u001b\""},
      {"delete and slash pass", "\x7f/", "\"\x7f/\""},
      {"two-byte UTF-8", "Z\xc3\xbcrich", "\"Z\xc3\xbcrich\""},
      {"three-byte UTF-8", "\xe6\x97\xa5\xe6\x9c\xac", "\"\xe6\x97\xa5\xe6\x9c\xac\""},
      {"four-byte UTF-8", "\xf0\x9f\x98\x80", "\"\xf0\x9f\x98\x80\""},
      {"highest code point", "\xf4\x8f\xbf\xbf", "\"\xf4\x8f\xbf\xbf\""},
      {"Latin-1 byte", "Z\xfcrich", "\"Z\xef\xbf\xbdrich\""},
      {"stray continuation", "\x80", "\"\xef\xbf\xbd\""},
      {"cut short at the end", "a\xe2\x82", "\"a\xef\xbf\xbd\xef\xbf\xbd\""},
      {"cut short by ASCII", "\xc3x", "\"\xef\xbf\xbdx\""},
      {"overlong slash", "\xc0\xaf", "\"\xef\xbf\xbd\xef\xbf\xbd\""},
      {"overlong three bytes", "\xe0\x80\xaf", "\"\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\""},
      {"surrogate", "\xed\xa0\x80", "\"\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\""},
      {"above U+10FFFF", "\xf4\x90\x80\x80",
       "\"\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(encoded(c.text), c.json) << c.name;
  }
}

TEST(UtcTimeText, Rfc3339WithMilliseconds) {
  const struct {
    std::int64_t unix_ms;
    const char* text;
  } cases[] = {
      {0, "1970-01-01T00:00:00.000Z"},
      {1234567890123, "2009-02-13T23:31:30.123Z"},
      {951868799999, "2000-02-29T23:59:59.999Z"},   // leap day of a 400th year
      {1709251199999, "2024-02-29T23:59:59.999Z"},  // leap day
      {1709251200000, "2024-03-01T00:00:00.000Z"},
      {4102444800000, "2100-01-01T00:00:00.000Z"},  // 2100 is no leap year
      {4107542400000, "2100-03-01T00:00:00.000Z"},
      {253402300799999, "9999-12-31T23:59:59.999Z"},
      {-5, "1970-01-01T00:00:00.000Z"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(utc_time_text(c.unix_ms), c.text) << c.unix_ms;
  }
}

constexpr std::int64_t kNoon = 1709294400250;  // 2024-03-01T12:00:00.250Z
#define AT_NOON "\"time\":\"2024-03-01T12:00:00.250Z\"}"

template <typename Facts>
Facts at_noon(Facts facts) {
  facts.unix_ms = kNoon;
  return facts;
}

TEST(JsonLines, EveryEvent) {
  StartFacts start;
  start.host = "peer \"one\"\n";
  start.size = 56;
  start.ip_bytes = 84;
  start.count = 5;
  start.timeout_ms = 3000;
  StartFacts start_options = start;
  start_options.host = "10.0.0.2";
  start_options.ttl = 64;
  start_options.tos = 0x58;
  start_options.dont_fragment = true;
  start_options.count.reset();  // --continuous

  ReplyFacts reply;
  reply.request = 7;
  reply.from = "10.0.0.2";
  reply.sequence = 65535;
  reply.rtt_us = 7;
  reply.ttl = 63;
  ReplyFacts bare_reply = reply;
  bare_reply.rtt_us = 4000000000u;
  bare_reply.ttl.reset();

  IcmpFacts exceeded;
  exceeded.request = 0;
  exceeded.from = "10.0.0.1";
  exceeded.type = 11;
  exceeded.code = 0;
  exceeded.kind = "Time Exceeded";
  exceeded.reason = "Time To Live exceeded in transit";
  IcmpFacts quench = exceeded;
  quench.type = 4;
  quench.code = 9;
  quench.kind = "Source Quench";
  quench.reason.reset();
  IcmpFacts redirect = exceeded;
  redirect.type = 5;
  redirect.code = 4;
  redirect.kind = "Redirect";
  redirect.reason = "Unknown code 4";
  redirect.gateway = "192.168.1.1";
  IcmpFacts too_big = exceeded;
  too_big.from = "2001:db8::1";
  too_big.type = 2;
  too_big.kind = "Packet Too Big";
  too_big.reason.reset();
  too_big.mtu = 1280;

  FailureFacts timeout;
  timeout.request = 4294967294u;
  timeout.error = 10060;
  timeout.message = "Request timeout.";

  const struct {
    const char* name;
    std::string line;
    const char* expected;
  } cases[] = {
      {"start, options not given", json_start(at_noon(start)),
       "{\"event\":\"start\",\"schema_version\":\"1.1\",\"host\":\"peer "
       "\\\"one\\\"\\n\",\"family\":4,\"size\":56,"
       "\"ip_bytes\":84,\"count\":5,\"timeout_ms\":3000,\"ttl\":null,\"tos\":null,"
       "\"dont_fragment\":false," AT_NOON},
      {"start, options given", json_start(at_noon(start_options)),
       "{\"event\":\"start\",\"schema_version\":\"1.1\",\"host\":\"10.0.0.2\",\"family\":4,"
       "\"size\":56,\"ip_bytes\":84,"
       "\"count\":null,\"timeout_ms\":3000,\"ttl\":64,\"tos\":88,\"dont_fragment\":true," AT_NOON},
      {"reply", json_reply(at_noon(reply)),
       "{\"event\":\"reply\",\"request\":7,\"from\":\"10.0.0.2\",\"sequence\":65535,"
       "\"rtt_ms\":0.007,\"ttl\":63," AT_NOON},
      {"reply without an IP header", json_reply(at_noon(bare_reply)),
       "{\"event\":\"reply\",\"request\":7,\"from\":\"10.0.0.2\",\"sequence\":65535,"
       "\"rtt_ms\":4000000.000,\"ttl\":null," AT_NOON},
      {"icmp with a reason", json_icmp(at_noon(exceeded)),
       "{\"event\":\"icmp\",\"request\":0,\"from\":\"10.0.0.1\",\"type\":11,\"code\":0,"
       "\"kind\":\"Time Exceeded\",\"reason\":\"Time To Live exceeded in transit\"," AT_NOON},
      {"icmp without a reason", json_icmp(at_noon(quench)),
       "{\"event\":\"icmp\",\"request\":0,\"from\":\"10.0.0.1\",\"type\":4,\"code\":9,"
       "\"kind\":\"Source Quench\",\"reason\":null," AT_NOON},
      {"redirect", json_icmp(at_noon(redirect)),
       "{\"event\":\"icmp\",\"request\":0,\"from\":\"10.0.0.1\",\"type\":5,\"code\":4,"
       "\"kind\":\"Redirect\",\"reason\":\"Unknown code 4\",\"gateway\":\"192.168.1.1\"," AT_NOON},
      {"packet too big", json_icmp(at_noon(too_big)),
       "{\"event\":\"icmp\",\"request\":0,\"from\":\"2001:db8::1\",\"type\":2,\"code\":0,"
       "\"kind\":\"Packet Too Big\",\"reason\":null,\"mtu\":1280," AT_NOON},
      {"failure", json_failure(at_noon(timeout)),
       "{\"event\":\"failure\",\"request\":4294967294,\"error\":10060,"
       "\"message\":\"Request timeout.\"," AT_NOON},
      {"unresolved", json_unresolved(UnresolvedFacts{0, "no\tsuch\x01host", kNoon}),
       "{\"event\":\"unresolved\",\"request\":0,\"host\":\"no\\tsuch\\u0001host\"," AT_NOON},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.line, c.expected) << c.name;
  }
}

StatisticsSummary summary_of(const std::vector<std::int64_t>& outcomes) {
  RunStatistics stats;
  for (std::int64_t outcome : outcomes) {
    if (outcome == -1) {
      stats.record_error_message();
    } else if (outcome == -2) {
      stats.record_no_answer();
    } else {
      stats.record_reply(static_cast<std::uint32_t>(outcome));
    }
  }
  return stats.summary();
}

// The JSON summary and the text summary of the same runs: the same figures.
TEST(Summaries, JsonAndText) {
  const struct {
    const char* name;
    StatisticsSummary summary;
    SummaryEvent event;
    bool interrupted;
    const char* json;
    const char* text;
  } cases[] = {
      {"nothing sent", summary_of({}), SummaryEvent::summary, false,
       "{\"event\":\"summary\",\"sent\":0,\"received\":0,\"replies\":0,\"errors\":0,"
       "\"lost_percent\":null,\"rtt_ms\":null,\"longest_loss_streak\":0,"
       "\"interrupted\":false," AT_NOON,
       "Rount Trip Time (Min/Avg/Max): 0.000 ms/0.000 ms/0.000 ms\n"
       "Round Trip Time (Median/P90/P99/StdDev/Jitter): 0.000 ms/0.000 ms/0.000 ms/0.000 ms/"
       "0.000 ms\n"},
      {"no echo reply, interrupted", summary_of({-2, -1, -2, -2}), SummaryEvent::summary, true,
       "{\"event\":\"summary\",\"sent\":4,\"received\":1,\"replies\":0,\"errors\":1,"
       "\"lost_percent\":75,\"rtt_ms\":null,\"longest_loss_streak\":2,"
       "\"interrupted\":true," AT_NOON,
       "\nPackets: Sent 4, Received 1 (75% Lost)\n"
       "Rount Trip Time (Min/Avg/Max): 0.000 ms/0.000 ms/0.000 ms\n"
       "Round Trip Time (Median/P90/P99/StdDev/Jitter): 0.000 ms/0.000 ms/0.000 ms/0.000 ms/"
       "0.000 ms\n"},
      {"interim, loss rounded up", summary_of({10000, 20000, 30000, 40000, -2, -2}),
       SummaryEvent::interim, false,
       "{\"event\":\"interim\",\"sent\":6,\"received\":4,\"replies\":4,\"errors\":0,"
       "\"lost_percent\":34,\"rtt_ms\":{\"min\":10.000,\"avg\":25.000,\"max\":40.000,"
       "\"median\":20.000,\"p90\":40.000,\"p99\":40.000,\"stddev\":12.910,\"jitter\":10.000},"
       "\"longest_loss_streak\":2,\"interrupted\":false," AT_NOON,
       "\nPackets: Sent 6, Received 4 (34% Lost)\n"
       "Rount Trip Time (Min/Avg/Max): 10.000 ms/25.000 ms/40.000 ms\n"
       "Round Trip Time (Median/P90/P99/StdDev/Jitter): 20.000 ms/40.000 ms/40.000 ms/12.910 ms/"
       "10.000 ms\n"},
      {"small times keep their zeros", summary_of({7, 50, 999}), SummaryEvent::summary, false,
       "{\"event\":\"summary\",\"sent\":3,\"received\":3,\"replies\":3,\"errors\":0,"
       "\"lost_percent\":0,\"rtt_ms\":{\"min\":0.007,\"avg\":0.352,\"max\":0.999,"
       "\"median\":0.050,\"p90\":0.999,\"p99\":0.999,\"stddev\":0.561,\"jitter\":0.496},"
       "\"longest_loss_streak\":0,\"interrupted\":false," AT_NOON,
       "\nPackets: Sent 3, Received 3 (0% Lost)\n"
       "Rount Trip Time (Min/Avg/Max): 0.007 ms/0.352 ms/0.999 ms\n"
       "Round Trip Time (Median/P90/P99/StdDev/Jitter): 0.050 ms/0.999 ms/0.999 ms/0.561 ms/"
       "0.496 ms\n"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(json_summary(SummaryFacts{c.summary, c.interrupted, kNoon}, c.event), c.json)
        << c.name;
    EXPECT_EQ(summary_text(c.summary, true), c.text) << c.name;
    // Without --stats the text ends with the round-trip line, as it always did.
    const std::string plain = summary_text(c.summary, false);
    EXPECT_EQ(plain, std::string(c.text).substr(0, plain.size())) << c.name;
    EXPECT_EQ(plain.find("Median"), std::string::npos) << c.name;
  }
}

}  // namespace
}  // namespace vexmo
