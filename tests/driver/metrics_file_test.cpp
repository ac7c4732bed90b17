// The metrics file: its text from the counters (a table), and the output
// that keeps the counters and writes the file through the platform seam.
#include "driver/metrics_file.h"

#include <gtest/gtest.h>

#include <string>

#include "driver/run.h"
#include "support/capture.h"
#include "support/fake_platform.h"

namespace vexmo {
namespace {

// The histogram's lines with n replies in bucket (0-based), none elsewhere.
std::string buckets(const char* labels, std::size_t bucket, int n, const char* sum) {
  std::string text;
  for (std::size_t i = 0; i < kRttBuckets; ++i) {
    text += "vexmo_rtt_seconds_bucket{" + std::string(labels) + ",le=\"" +
            seconds_from_us(kRttBucketBoundsUs[i]) + "\"} " +
            (i >= bucket ? std::to_string(n) : "0") + "\n";
  }
  text += "vexmo_rtt_seconds_bucket{" + std::string(labels) + ",le=\"+Inf\"} " + std::to_string(n) +
          "\n";
  text += "vexmo_rtt_seconds_sum{" + std::string(labels) + "} " + sum + "\n";
  text += "vexmo_rtt_seconds_count{" + std::string(labels) + "} " + std::to_string(n) + "\n";
  return text;
}

const char* const kHeads[] = {
    "# HELP vexmo_requests_total Echo requests sent.\n# TYPE vexmo_requests_total counter\n",
    "# HELP vexmo_replies_total Echo replies received.\n# TYPE vexmo_replies_total counter\n",
    "# HELP vexmo_icmp_errors_total ICMP error messages about a request, by type and code.\n"
    "# TYPE vexmo_icmp_errors_total counter\n",
    "# HELP vexmo_failures_total Requests that failed or timed out, by Windows Sockets error "
    "number.\n# TYPE vexmo_failures_total counter\n",
    "# HELP vexmo_rtt_seconds Round-trip time of the echo replies.\n"
    "# TYPE vexmo_rtt_seconds histogram\n",
    "# HELP vexmo_last_rtt_seconds Round-trip time of the last echo reply.\n"
    "# TYPE vexmo_last_rtt_seconds gauge\n",
    "# HELP vexmo_last_reply_timestamp_seconds When the last echo reply came, in seconds since "
    "1970 (0: none yet).\n# TYPE vexmo_last_reply_timestamp_seconds gauge\n",
    "# HELP vexmo_start_time_seconds When the run started, in seconds since 1970.\n"
    "# TYPE vexmo_start_time_seconds gauge\n",
};

TEST(RenderMetrics, EveryFamilyFromTheCounters) {
  MetricsCounters fresh;
  fresh.host = "peer";
  fresh.start_unix_ms = 1700000000123;
  MetricsCounters busy = fresh;
  busy.host = "a\"b\\c\nd";
  busy.family = 6;
  busy.requests = 5;
  busy.replies = 2;
  busy.icmp_errors[{1, 3}] = 1;
  busy.icmp_errors[{3, 0}] = 2;
  busy.failures[10060] = 1;
  busy.rtt_buckets[rtt_bucket(1500)] = 2;
  busy.rtt_sum_us = 3000;
  busy.last_rtt_us = 1500;
  busy.last_reply_unix_ms = 1700000001000;
  const std::string p = "host=\"peer\",family=\"4\"";
  const std::string b = "host=\"a\\\"b\\\\c\\nd\",family=\"6\"";
  const struct {
    const MetricsCounters* counters;
    std::string text;
  } cases[] = {
      {&fresh, kHeads[0] + ("vexmo_requests_total{" + p + "} 0\n") + kHeads[1] +
                   "vexmo_replies_total{" + p + "} 0\n" + kHeads[2] + kHeads[3] + kHeads[4] +
                   buckets(p.c_str(), kRttBuckets, 0, "0") + kHeads[5] + kHeads[6] +
                   "vexmo_last_reply_timestamp_seconds{" + p + "} 0\n" + kHeads[7] +
                   "vexmo_start_time_seconds{" + p + "} 1700000000.123\n"},
      {&busy, kHeads[0] + ("vexmo_requests_total{" + b + "} 5\n") + kHeads[1] +
                  "vexmo_replies_total{" + b + "} 2\n" + kHeads[2] + "vexmo_icmp_errors_total{" +
                  b + ",type=\"1\",code=\"3\"} 1\n" + "vexmo_icmp_errors_total{" + b +
                  ",type=\"3\",code=\"0\"} 2\n" + kHeads[3] + "vexmo_failures_total{" + b +
                  ",error=\"10060\"} 1\n" + kHeads[4] + buckets(b.c_str(), 7, 2, "0.003") +
                  kHeads[5] + "vexmo_last_rtt_seconds{" + b + "} 0.0015\n" + kHeads[6] +
                  "vexmo_last_reply_timestamp_seconds{" + b + "} 1700000001\n" + kHeads[7] +
                  "vexmo_start_time_seconds{" + b + "} 1700000000.123\n"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(render_metrics(*c.counters), c.text);
  }
}

TEST(RenderMetrics, SecondsAndLabels) {
  const struct {
    std::uint64_t us;
    const char* text;
  } seconds[] = {{0, "0"},       {10, "0.00001"},    {1500, "0.0015"},
                 {1000000, "1"}, {100000000, "100"}, {1234567, "1.234567"}};
  for (const auto& c : seconds) {
    EXPECT_EQ(seconds_from_us(c.us), c.text);
  }
  EXPECT_EQ(seconds_from_ms(-1500), "-1.5");
  EXPECT_EQ(escape_label("plain.example"), "plain.example");
  EXPECT_EQ(escape_label("q\"b\\n\n"), "q\\\"b\\\\n\\n");
}

// Over the fake: the file is written at the start, after every request and
// at the end; its counts are the summary's.
TEST(MetricsFile, RewrittenAfterEveryRequestAndAgreesWithTheSummary) {
  fake::reset();
  fake::state().on_send = [](const fake::Sent& r) {
    if (fake::state().sent.size() % 2 == 1) {
      fake::Datagram d;
      d.from = ipv4_of(r.to);
      d.arrive_us = r.at_us + 1500;
      d.bytes = fake::ip_datagram(fake::echo_reply_for(r.bytes), 63);
      fake::state().inbound.push_back(d);
    }
  };
  RunSettings settings;
  settings.host = "10.0.0.2";
  settings.count = 3;
  settings.timeout_ms = 100;
  settings.metrics_file = "vexmo.prom";
  captured_stdout([&] { run_requests(settings); });
  // start, three requests, the end
  ASSERT_EQ(fake::state().file_writes.size(), 5u);
  const std::string& last = fake::state().files["vexmo.prom"];
  EXPECT_EQ(last, fake::state().file_writes.back());
  const std::string labels = "{host=\"10.0.0.2\",family=\"4\"}";
  EXPECT_NE(last.find("vexmo_requests_total" + labels + " 3\n"), std::string::npos) << last;
  EXPECT_NE(last.find("vexmo_replies_total" + labels + " 2\n"), std::string::npos);
  EXPECT_NE(last.find("vexmo_rtt_seconds_count" + labels + " 2\n"), std::string::npos);
  EXPECT_NE(last.find("vexmo_failures_total{host=\"10.0.0.2\",family=\"4\",error=\"10060\"} 1\n"),
            std::string::npos);
  EXPECT_NE(fake::state().file_writes[1].find("vexmo_requests_total" + labels + " 1\n"),
            std::string::npos);
  EXPECT_EQ(fake::state().file_writes[0].find("vexmo_last_rtt_seconds{"), std::string::npos);
}

// A write that fails later: one line on standard error, the first time
// only; the lines go on.
TEST(MetricsFile, LaterWriteFailureIsReportedOnce) {
  fake::reset();
  fake::state().unwritable_paths.push_back("gone/vexmo.prom");
  MetricsFile file("gone/vexmo.prom", stderr);
  testing::internal::CaptureStderr();
  file.start(StartFacts{});
  file.failure(FailureFacts{});
  file.summary(SummaryFacts{});
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "vexmo: cannot write the metrics file gone/vexmo.prom: Permission denied\n");
}

}  // namespace
}  // namespace vexmo
