// --exit-status and --max-loss over the fake platform: the status each kind
// of run ends with, and the bad input that ends it before anything is sent.
#include "driver/exit_status.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/command_line.h"
#include "driver/run.h"
#include "support/capture.h"
#include "support/fake_platform.h"

namespace vexmo {
namespace {

enum class Net { reply, silent, icmp_error };

// Scripts the answer to each request in turn; requests past the script get
// the last entry's.
void script(const std::vector<Net>& answers) {
  fake::state().on_send = [answers](const fake::Sent& r) {
    const std::size_t n = fake::state().sent.size() - 1;
    const Net net = answers[n < answers.size() ? n : answers.size() - 1];
    fake::Datagram d;
    d.from = ipv4_of(r.to);
    d.arrive_us = r.at_us + 2000;
    if (net == Net::reply) {
      d.bytes = fake::ip_datagram(fake::echo_reply_for(r.bytes), 63);
    } else if (net == Net::icmp_error) {
      d.bytes = fake::ip_datagram(fake::error_about(3, 1, r.bytes), 255);
    } else {
      return;
    }
    fake::state().inbound.push_back(d);
  };
}

TEST(ExitStatus, EachKindOfRun) {
  const Net R = Net::reply, S = Net::silent, E = Net::icmp_error;
  const std::uint64_t kNever = 0;
  const struct {
    const char* name;
    const char* host;
    bool exit_status;
    std::uint32_t max_loss;  // thousandths of a percent
    std::vector<Net> answers;
    std::uint64_t stop_at_us;  // a Ctrl-C at this simulated time; kNever: none
    int status;
  } cases[] = {
      {"replies", "10.0.0.2", true, 100000, {R}, kNever, 0},
      {"one reply among timeouts", "10.0.0.2", true, 100000, {S, S, R, S}, kNever, 0},
      {"only timeouts", "10.0.0.2", true, 100000, {S}, kNever, 1},
      {"only ICMP errors", "10.0.0.2", true, 100000, {E}, kNever, 1},
      {"errors and timeouts", "10.0.0.2", true, 100000, {E, S}, kNever, 1},
      {"unresolved", "nowhere.test", true, 100000, {R}, kNever, 2},
      {"no socket", "::1", true, 100000, {R}, kNever, 2},
      {"25% lost, limit 25", "10.0.0.2", true, 25000, {R, R, R, S}, kNever, 0},
      {"25% lost, limit 24.999", "10.0.0.2", true, 24999, {R, R, R, S}, kNever, 1},
      {"none lost, limit 0", "10.0.0.2", true, 0, {R}, kNever, 0},
      {"25% lost, limit 0", "10.0.0.2", true, 0, {R, R, R, S}, kNever, 1},
      {"75% lost, limit 100", "10.0.0.2", true, 100000, {R, S}, kNever, 0},
      {"errors count as lost", "10.0.0.2", true, 50000, {R, E, E, R}, kNever, 0},
      {"errors count as lost, 49.9", "10.0.0.2", true, 49900, {R, E, E, R}, kNever, 1},
      {"Ctrl-C after a reply", "10.0.0.2", true, 100000, {R}, 1500000, 0},
      {"Ctrl-C before any reply", "10.0.0.2", true, 100000, {S}, 1500000, 1},
      // Ctrl-C during the second request: it counts, 1 of 2 lost.
      {"Ctrl-C counts the cut request, 49", "10.0.0.2", true, 49000, {R, S}, 2100000, 1},
      {"Ctrl-C counts the cut request, 50", "10.0.0.2", true, 50000, {R, S}, 2100000, 0},
      // Without the option the status stays 0, whatever happened.
      {"no option, timeouts", "10.0.0.2", false, 100000, {S}, kNever, 0},
      {"no option, unresolved", "nowhere.test", false, 100000, {R}, kNever, 0},
      {"no option, no socket", "::1", false, 100000, {R}, kNever, 0},
  };
  for (const auto& c : cases) {
    fake::reset();
    fake::state().ipv6_unopenable = true;
    fake::state().literals6["::1"] = fake::address6(0, 0, 0, 0, 0, 0, 0, 1);
    if (c.stop_at_us != kNever) {
      fake::state().interruptions.push_back({c.stop_at_us, Interruption::stop});
    }
    script(c.answers);
    RunSettings settings;
    settings.host = c.host;
    settings.count = 4;
    settings.timeout_ms = 200;
    settings.exit_status = c.exit_status;
    settings.max_loss_thousandths = c.max_loss;
    int status = -1;
    captured_stdout([&] { status = run_requests(settings); });
    EXPECT_EQ(status, c.status) << c.name;
  }
}

TEST(ExitStatus, BadInputSendsNothing) {
  const struct {
    std::vector<const char*> args;
    const char* line;
  } cases[] = {
      {{"--max-loss", "101", "10.0.0.2"},
       "vexmo: --max-loss takes a percentage from 0 to 100, not 101\n"},
      {{"--max-loss", "x", "10.0.0.2"},
       "vexmo: --max-loss takes a percentage from 0 to 100, not x\n"},
      {{"10.0.0.2", "--max-loss"},
       "vexmo: --max-loss takes a percentage from 0 to 100, not nothing\n"},
      {{"10.0.0.2", "--metrics-file"},
       "vexmo: --metrics-file takes the path of the file to write\n"},
      {{"--metrics-file", "/no/such/folder/x.prom", "10.0.0.2"},
       "vexmo: cannot write the metrics file /no/such/folder/x.prom: Permission denied\n"},
  };
  for (const auto& c : cases) {
    fake::reset();
    fake::state().unwritable_paths.push_back("/no/such/folder/x.prom");
    std::vector<const char*> argv = {"vexmo"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    testing::internal::CaptureStderr();
    const std::string out = captured_stdout(
        [&] { EXPECT_EQ(vexmo_main(static_cast<int>(argv.size()), argv.data()), -1); });
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.line);
    EXPECT_EQ(out, "");
    EXPECT_TRUE(fake::state().sent.empty());
    EXPECT_TRUE(fake::state().files.empty());
  }
}

TEST(ParsePercent, ZeroToHundredWithThreeDecimals) {
  const struct {
    const char* text;
    bool valid;
    std::uint32_t thousandths;
  } cases[] = {
      {"0", true, 0},          {"100", true, 100000},    {"2.5", true, 2500},
      {"99.999", true, 99999}, {"100.0", true, 100000},  {"100.001", false, 0},
      {"101", false, 0},       {"x", false, 0},          {"", false, 0},
      {"-1", false, 0},        {"5%", false, 0},         {"1.2345", false, 0},
      {"007", true, 7000},     {"4294967301", false, 0},
  };
  for (const auto& c : cases) {
    std::uint32_t value = 12345;
    EXPECT_EQ(parse_percent(c.text, &value), c.valid) << c.text;
    if (c.valid) {
      EXPECT_EQ(value, c.thousandths) << c.text;
    }
  }
  RunSettings settings;
  const char* argv[] = {"vexmo", "--max-loss", "5", "--metrics-file", "m.prom", "host"};
  ASSERT_EQ(parse_command_line(6, argv, &settings), CommandLineResult::run);
  EXPECT_TRUE(settings.exit_status);  // implied
  EXPECT_EQ(settings.max_loss_thousandths, 5000u);
  EXPECT_STREQ(settings.metrics_file, "m.prom");
  EXPECT_STREQ(settings.host, "host");
}

}  // namespace
}  // namespace vexmo
