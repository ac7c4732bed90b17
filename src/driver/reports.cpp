#include "driver/reports.h"

#include <cstdio>
#include <cstring>

#include "common/byte_order.h"
#include "common/icmp.h"
#include "common/winsock_errors.h"
#include "icmp/round_trip.h"
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

const char* const kUnreachable6Reasons[] = {
    "No route to destination",
    "Communication with destination administratively prohibited",
    "Beyond scope of source address",
    "Address unreachable",
    "Port unreachable",
    "Source address failed ingress/egress policy",
    "Reject route to destination",
};

const char* const kTimeExceeded6Reasons[] = {
    "Hop limit exceeded in transit",
    "Fragment reassembly time exceeded",
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

std::uint32_t read_be32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
         static_cast<std::uint32_t>(p[2]) << 8 | p[3];
}

void report_icmp6_message(const ReplyView& view, const char* address_text) {
  const std::uint8_t type = view.message[0];
  const std::uint8_t code = view.message[1];
  if (type == kType6DestinationUnreachable) {
    std::printf("ICMP: Destination Unreachable, Reason: ");
    print_reason(kUnreachable6Reasons, code);
  } else if (type == kType6PacketTooBig) {
    std::printf("ICMP: Packet Too Big, MTU: %u\n",
                static_cast<unsigned>(read_be32(view.message + 4)));
  } else if (type == kType6TimeExceeded) {
    std::printf("%s: ICMP: Time Exceeded, Reason: ", address_text);
    print_reason(kTimeExceeded6Reasons, code);
  } else if (type == kType6ParameterProblem) {
    std::printf("ICMP: Parameter Problem\n");
  }
}

}  // namespace

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
  if (view.family == AddressFamily::ipv6) {
    report_icmp6_message(view, address_text);
    return;
  }
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
  // The wait's figure where it measured one, else the counter stamps the
  // message carries.
  const std::uint32_t rtt_us =
      view.has_round_trip ? view.round_trip_us
                          : round_trip_us(read_le64(message + kSendStampOffset),
                                          read_le64(message + kReceiveStampOffset), frequency);
  record_round_trip(stats, rtt_us);
  const unsigned sequence = read_le16(message + kSequenceOffset);
  if (view.ip_header != nullptr) {
    // The time to live of IPv4, the hop limit of IPv6.
    const std::size_t at = view.family == AddressFamily::ipv6 ? kIpv6HopLimitOffset : 8;
    std::printf("%s: Time: %u.%.3u ms, Sequence: %u, Ttl: %u\n", address_text, rtt_us / 1000,
                rtt_us % 1000, sequence, static_cast<unsigned>(view.ip_header[at]));
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
