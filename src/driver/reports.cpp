#include "driver/reports.h"

#include <cstdio>
#include <cstring>

#include "common/byte_order.h"
#include "common/icmp.h"
#include "common/winsock_errors.h"
#include "platform/platform.h"

namespace vexmo {
namespace {

// Reason texts by code; a code past the end of its table has none.
const char* const kUnreachableReasons[] = {
    "Network unreachable",
    "Host unreachable",
    "Protocol unreachable",
    "Port unreachable",
    "Fragmentation needed and DF set",
    "Source route failed",
    "Destination network unknown",
    "Destination host unknown",
    "Source host isolated",
    "Network administratively prohibited",
    "Host administratively prohibited",
    "Network unreachable for TOS",
    "Host unreachable for TOS",
    "Communication administratively prohibited",
    "Host precedence violation",
    "Precedence cutoff in effect",
};

const char* const kTimeExceededReasons[] = {
    "Time To Live exceeded in transit",
    "Fragment reassembly time exceeded",
};

const char* const kRedirectReasons[] = {
    "Redirect datagrams for the Network",
    "Redirect datagrams for the Host",
    "Redirect datagrams for the Type of Service and Network",
    "Redirect datagrams for the Type of Service and Host",
};

template <std::size_t N>
void print_reason(const char* const (&reasons)[N], std::uint8_t code) {
  // Every line ends with its line feed, even for a code without a reason.
  if (code < N) {
    std::printf("%s\n", reasons[code]);
  } else {
    std::printf("Unknown code %u\n", static_cast<unsigned>(code));
  }
}

}  // namespace

std::uint32_t round_trip_us(std::uint64_t send_stamp, std::uint64_t receive_stamp,
                            std::uint64_t frequency) {
  if (frequency == 0) {
    return 0;
  }
  // Whole seconds and the rest apart, so ticks x 1,000,000 cannot overflow.
  const std::uint64_t ticks = receive_stamp - send_stamp;
  const std::uint64_t us = ticks / frequency * 1000000u + ticks % frequency * 1000000u / frequency;
  return static_cast<std::uint32_t>(us);
}

void record_round_trip(RunStats* stats, std::uint32_t rtt_us) {
  stats->rtt_sum_us += rtt_us;
  stats->replies += 1;
  if (rtt_us < stats->rtt_min_us) {
    stats->rtt_min_us = rtt_us;
  }
  if (rtt_us > stats->rtt_max_us) {
    stats->rtt_max_us = rtt_us;
  }
}

void report_failure(Outcome outcome) {
  switch (-outcome) {
    case kErrorTimedOut:
      std::printf("Request timeout.\n");
      break;
    case kErrorNetworkDown:
      std::printf("The network subsystem has failed.\n");
      break;
    case kErrorConnAborted:
      std::printf("Connection aborted.\n");
      break;
    case kErrorConnReset:
      std::printf("Connection reseted.\n");
      break;
    default:
      std::printf("Error %d.\n", -outcome);
      break;
  }
}

void report_icmp_message(const ReplyView& view, const char* address_text) {
  const std::uint8_t type = view.message[0];
  const std::uint8_t code = view.message[1];
  if (type == kTypeDestinationUnreachable) {
    std::printf("ICMP: Destination Unreachable, Reason: ");
    print_reason(kUnreachableReasons, code);
  } else if (type == kTypeTimeExceeded) {
    std::printf("%s: ICMP: Time Exceeded, Reason: ", address_text);
    print_reason(kTimeExceededReasons, code);
  } else if (type == kTypeParameterProblem) {
    std::printf("ICMP: Parameter Problem\n");
  } else if (type == kTypeSourceQuench) {
    std::printf("ICMP: Source Quench\n");
  } else if (type == kTypeRedirect) {
    std::uint32_t gateway = 0;
    std::memcpy(&gateway, view.message + 4, sizeof gateway);  // already network order
    char gateway_text[16];
    format_dotted_address(gateway, gateway_text);
    std::printf("ICMP: Redirect, Gateway: %s, Reason: ", gateway_text);
    print_reason(kRedirectReasons, code);
  }
}

void report_echo_reply(const ReplyView& view, const char* address_text, std::uint64_t frequency,
                       RunStats* stats) {
  const std::uint8_t* message = view.message;
  const std::uint32_t rtt_us = round_trip_us(read_le64(message + kSendStampOffset),
                                             read_le64(message + kReceiveStampOffset), frequency);
  record_round_trip(stats, rtt_us);
  const unsigned sequence = read_le16(message + kSequenceOffset);
  if (view.ip_header != nullptr) {
    std::printf("%s: Time: %u.%.3u ms, Sequence: %u, Ttl: %u\n", address_text, rtt_us / 1000,
                rtt_us % 1000, sequence, static_cast<unsigned>(view.ip_header[8]));
  } else {
    std::printf("%s: Time: %u.%.3u ms, Sequence: %u\n", address_text, rtt_us / 1000, rtt_us % 1000,
                sequence);
  }
}

void print_summary(const RunStats& stats) {
  const std::uint32_t average_us =
      stats.replies == 0 ? 0 : static_cast<std::uint32_t>(stats.rtt_sum_us / stats.replies);
  const std::uint32_t min_us = stats.rtt_min_us == 0xFFFFFFFFu ? 0 : stats.rtt_min_us;
  if (stats.sent > 0) {
    // Truncating the received share rounds the loss up.
    const std::uint64_t received_percent = std::uint64_t{stats.received} * 100 / stats.sent;
    std::printf("\nPackets: Sent %u, Received %u (%u%% Lost)\n", stats.sent, stats.received,
                static_cast<unsigned>(100 - received_percent));
  }
  std::printf("Rount Trip Time (Min/Avg/Max): %u.%.3u ms/%u.%.3u ms/%u.%.3u ms\n", min_us / 1000,
              min_us % 1000, average_us / 1000, average_us % 1000, stats.rtt_max_us / 1000,
              stats.rtt_max_us % 1000);
}

}  // namespace vexmo
