#include "driver/events.h"

#include <utility>

#include "common/winsock_errors.h"
#include "icmp/description.h"
#include "platform/platform.h"

namespace vexmo {

ReplyFacts reply_facts(const Answer& answer, std::uint32_t request, const char* from,
                       std::int64_t unix_ms) {
  ReplyFacts facts;
  facts.request = request;
  facts.from = from;
  facts.sequence = answer.sequence;
  facts.rtt_us = answer.round_trip_us;
  if (answer.ttl) {
    facts.ttl = *answer.ttl;
  }
  facts.unix_ms = unix_ms;
  return facts;
}

IcmpFacts icmp_facts(const Answer& answer, std::uint32_t request, const char* from,
                     std::int64_t unix_ms) {
  IcmpFacts facts;
  facts.request = request;
  facts.from = from;
  facts.type = answer.type;
  facts.code = answer.code;
  IcmpDescription description = describe_icmp(answer.type, answer.code, answer.family);
  facts.kind = description.kind;
  facts.reason = std::move(description.reason);
  facts.names_sender = description.names_sender;
  facts.mtu = answer.mtu;
  if (answer.gateway) {
    char gateway_text[16];
    format_dotted_address(*answer.gateway, gateway_text);
    facts.gateway = gateway_text;
  }
  facts.unix_ms = unix_ms;
  return facts;
}

std::string failure_message(std::uint32_t error) {
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
      return "Error " + std::to_string(error) + ".";
  }
}

}  // namespace vexmo
