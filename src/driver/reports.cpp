#include "driver/reports.h"

#include <cstdio>
#include <cstring>
#include <utility>

#include "common/icmp.h"
#include "common/winsock_errors.h"
#include "driver/summary_text.h"
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

const char* const kKindTimeExceeded = "Time Exceeded";  // the one line that names its sender

template <std::size_t N>
std::optional<Text> reason_of(const char* const (&reasons)[N], std::uint8_t code) {
  if (code < N) {
    return Text(reasons[code]);
  }
  return "Unknown code " + decimal(code);
}

// The time of an event: milliseconds of the real-time clock.
std::int64_t now_ms() {
  return static_cast<std::int64_t>(wall_clock_ns() / 1000000);
}

}  // namespace

Text failure_message(std::uint32_t error) {
  switch (error) {
    case kErrorTimedOut:
      return "Request timeout.";
    case kErrorNetworkDown:
      return "The network subsystem has failed.";
    case kErrorConnAborted:
      return "Connection aborted.";
    case kErrorConnReset:
      return "Connection reseted.";
    default:
      return "Error " + decimal(error) + ".";
  }
}

IcmpDescription describe_icmp(std::uint8_t type, std::uint8_t code, AddressFamily family) {
  if (family == AddressFamily::ipv6) {
    switch (type) {
      case kType6DestinationUnreachable:
        return {"Destination Unreachable", reason_of(kUnreachable6Reasons, code)};
      case kType6PacketTooBig:
        return {"Packet Too Big", std::nullopt};
      case kType6TimeExceeded:
        return {kKindTimeExceeded, reason_of(kTimeExceeded6Reasons, code)};
      case kType6ParameterProblem:
        return {"Parameter Problem", std::nullopt};
      default:
        return {"", std::nullopt};
    }
  }
  switch (type) {
    case kTypeDestinationUnreachable:
      return {"Destination Unreachable", reason_of(kUnreachableReasons, code)};
    case kTypeTimeExceeded:
      return {kKindTimeExceeded, reason_of(kTimeExceededReasons, code)};
    case kTypeParameterProblem:
      return {"Parameter Problem", std::nullopt};
    case kTypeSourceQuench:
      return {"Source Quench", std::nullopt};
    case kTypeRedirect:
      return {"Redirect", reason_of(kRedirectReasons, code)};
    default:
      return {"", std::nullopt};
  }
}

ReplyFacts reply_facts(const Answer& answer, std::uint32_t request, const char* from) {
  ReplyFacts facts;
  facts.request = request;
  facts.from = from;
  facts.sequence = answer.sequence;
  facts.rtt_us = answer.round_trip_us;
  if (answer.ttl) {
    facts.ttl = *answer.ttl;
  }
  return facts;
}

IcmpFacts icmp_facts(const Answer& answer, std::uint32_t request, const char* from) {
  IcmpFacts facts;
  facts.request = request;
  facts.from = from;
  facts.type = answer.type;
  facts.code = answer.code;
  IcmpDescription description = describe_icmp(answer.type, answer.code, answer.family);
  facts.kind = description.kind;
  facts.reason = std::move(description.reason);
  facts.mtu = answer.mtu;
  if (answer.gateway) {
    char gateway_text[16];
    format_dotted_address(*answer.gateway, gateway_text);
    facts.gateway = gateway_text;
  }
  return facts;
}

Text reply_line(const ReplyFacts& facts) {
  Text line = Text(facts.from) + ": Time: " + milliseconds_text(facts.rtt_us) +
              " ms, Sequence: " + decimal(facts.sequence);
  if (facts.ttl) {
    line += ", Ttl: " + decimal(*facts.ttl);
  }
  return line;
}

Text icmp_line(const IcmpFacts& facts) {
  // Only the Time Exceeded line names the sender.
  Text line = std::strcmp(facts.kind, kKindTimeExceeded) == 0 ? Text(facts.from) + ": " : Text();
  line += "ICMP: ";
  line += facts.kind;
  if (facts.gateway) {
    line += ", Gateway: " + *facts.gateway;
  }
  if (facts.mtu) {
    line += ", MTU: " + decimal(*facts.mtu);
  }
  if (facts.reason) {
    line += ", Reason: " + *facts.reason;
  }
  return line;
}

void Reporter::emit(const Text& line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

void Reporter::start(int ip_version, std::uint32_t ip_bytes) {
  if (!settings_.json) {
    emit(Text("Ping to ") + settings_.host + ", buffer size " + decimal(settings_.size) +
         " Bytes (IP+ICMP+DATA " + decimal(ip_bytes) + " Bytes)");
    return;
  }
  StartFacts facts;
  facts.host = settings_.host;
  facts.family = ip_version;
  facts.size = settings_.size;
  facts.ip_bytes = ip_bytes;
  facts.count = settings_.count;
  facts.timeout_ms = settings_.timeout_ms;
  if (settings_.ttl_given) {
    facts.ttl = settings_.ttl;
  }
  if (settings_.tos_given) {
    facts.tos = settings_.tos;
  }
  facts.dont_fragment = settings_.dont_fragment;
  emit(json_start(facts, now_ms()));
}

void Reporter::reply(const ReplyFacts& facts) {
  emit(settings_.json ? json_reply(facts, now_ms()) : reply_line(facts));
}

void Reporter::icmp(const IcmpFacts& facts) {
  emit(settings_.json ? json_icmp(facts, now_ms()) : icmp_line(facts));
}

void Reporter::failure(std::uint32_t request, std::uint32_t error) {
  const Text message = failure_message(error);
  if (!settings_.json) {
    emit(message);
    return;
  }
  FailureFacts facts;
  facts.request = request;
  facts.error = error;
  facts.message = message.c_str();
  emit(json_failure(facts, now_ms()));
}

void Reporter::unresolved(std::uint32_t request) {
  emit(settings_.json ? json_unresolved(request, settings_.host, now_ms())
                      : Text("Can not resolve IP address for ") + settings_.host);
}

void Reporter::summary(const RunStatistics& stats, SummaryEvent event, bool interrupted) {
  const StatisticsSummary figures = stats.summary();
  if (settings_.json) {
    emit(json_summary(figures, event, interrupted, now_ms()));
    return;
  }
  Text text = summary_text(figures, settings_.stats);
  text.pop_back();  // emit ends the last line
  emit(text);
}

void Reporter::interim(const RunStatistics& stats) {
  summary(stats, SummaryEvent::interim, false);
}

void Reporter::finish(const RunStatistics& stats, bool interrupted) {
  summary(stats, SummaryEvent::summary, interrupted);
}

void Reporter::privileges_kept() {
  const char* const message = "Can not give up elevated privileges.\n";
  std::FILE* const stream = settings_.json ? stderr : stdout;
  std::fputs(message, stream);
  std::fflush(stream);
}

}  // namespace vexmo
