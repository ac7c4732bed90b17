#include "driver/reports.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/byte_order.h"
#include "support/capture.h"
#include "support/fake_platform.h"

namespace vexmo {
namespace {

TEST(ReportFailure, LinesByErrorNumber) {
  const struct {
    Outcome outcome;
    const char* line;
  } cases[] = {
      {-10060, "Request timeout.\n"},
      {-10050, "The network subsystem has failed.\n"},
      {-10053, "Connection aborted.\n"},
      {-10054, "Connection reseted.\n"},
      {-10065, "Error 10065.\n"},
      {-10013, "Error 10013.\n"},
      {-10055, "Error 10055.\n"},  // no buffer space: also a message that cannot be allocated
      {-1, "Error 1.\n"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(captured_stdout([&] { report_failure(c.outcome); }), c.line);
  }
}

std::string icmp_line(std::uint8_t type, std::uint8_t code, std::uint32_t gateway = 0) {
  std::uint8_t message[64] = {};
  message[0] = type;
  message[1] = code;
  std::memcpy(message + 4, &gateway, sizeof gateway);
  ReplyView view;
  view.message = message;
  return captured_stdout([&] { report_icmp_message(view, "10.0.0.1"); });
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
    EXPECT_EQ(icmp_line(c.type, c.code, fake::address(192, 168, 1, 1)), c.line)
        << "type " << int{c.type} << " code " << int{c.code};
  }
}

TEST(RoundTrip, ExactMicrosecondsWithoutOverflow) {
  const struct {
    std::uint64_t send, receive, frequency;
    std::uint32_t us;
  } cases[] = {
      {1000, 13345, 1000000, 12345},
      {0, 7000, 1000000000, 7},                      // nanosecond counter
      {5, 5 + 123456789, 10000000, 12345678},        // 10 MHz counter
      {0xFFFFFFFFFFFFFF00ull, 0x100, 1000000, 512},  // counter wrapped between the stamps
      // Six hours of nanoseconds: ticks x 1,000,000 would not fit 64 bits.
      {0, 21600000000000ull, 1000000000, static_cast<std::uint32_t>(21600000000ull)},
      {10, 20, 0, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(round_trip_us(c.send, c.receive, c.frequency), c.us) << c.receive;
  }
}

TEST(ReportEchoReply, TimeLineAndStatistics) {
  std::uint8_t datagram[84] = {};
  datagram[0] = 0x45;
  datagram[8] = 57;
  std::uint8_t* message = datagram + 20;
  write_le16(message + 6, 65535);
  write_le64(message + 8, 1000);
  write_le64(message + 16, 13345);
  ReplyView view;
  view.message = message;
  view.ip_header = datagram;
  RunStats stats;
  EXPECT_EQ(captured_stdout([&] { report_echo_reply(view, "10.0.0.2", 1000000, &stats); }),
            "10.0.0.2: Time: 12.345 ms, Sequence: 65535, Ttl: 57\n");
  EXPECT_EQ(stats.replies, 1u);
  EXPECT_EQ(stats.rtt_min_us, 12345u);
  EXPECT_EQ(stats.rtt_max_us, 12345u);
  EXPECT_EQ(stats.received, 0u);  // the driver counts it

  write_le64(message + 16, 1007);
  view.ip_header = nullptr;
  EXPECT_EQ(captured_stdout([&] { report_echo_reply(view, "10.0.0.2", 1000000, &stats); }),
            "10.0.0.2: Time: 0.007 ms, Sequence: 65535\n");
  EXPECT_EQ(stats.rtt_min_us, 7u);
  EXPECT_EQ(stats.rtt_max_us, 12345u);
  EXPECT_EQ(stats.rtt_sum_us, 12352u);
}

RunStats stats_of(std::uint32_t sent, std::uint32_t received, std::vector<std::uint32_t> rtts) {
  RunStats stats;
  stats.sent = sent;
  stats.received = received;
  for (std::uint32_t rtt : rtts) {
    record_round_trip(&stats, rtt);
  }
  return stats;
}

TEST(PrintSummary, PacketsAndRoundTripLines) {
  const struct {
    const char* name;
    RunStats stats;
    std::string out;
  } cases[] = {
      {"all timed out", stats_of(5, 0, {}),
       "\nPackets: Sent 5, Received 0 (100% Lost)\n"
       "Rount Trip Time (Min/Avg/Max): 0.000 ms/0.000 ms/0.000 ms\n"},
      {"nothing sent", stats_of(0, 0, {}),
       "Rount Trip Time (Min/Avg/Max): 0.000 ms/0.000 ms/0.000 ms\n"},
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
    EXPECT_EQ(captured_stdout([&] { print_summary(c.stats); }), c.out) << c.name;
  }
}

}  // namespace
}  // namespace vexmo
