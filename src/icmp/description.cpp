#include "icmp/description.h"

#include "common/icmp.h"

namespace vexmo {
namespace {

// Reason texts by code; a code past the end of its table has none.
// clang-format off
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
// clang-format on

template <std::size_t N>
std::optional<std::string> reason_of(const char* const (&reasons)[N], std::uint8_t code) {
  if (code < N) {
    return std::string(reasons[code]);
  }
  return "Unknown code " + std::to_string(code);
}

IcmpDescription time_exceeded(std::optional<std::string> reason) {
  return {"Time Exceeded", std::move(reason), true};
}

}  // namespace

IcmpDescription describe_icmp(std::uint8_t type, std::uint8_t code, AddressFamily family) {
  if (family == AddressFamily::ipv6) {
    switch (type) {
      case kType6DestinationUnreachable:
        return {"Destination Unreachable", reason_of(kUnreachable6Reasons, code)};
      case kType6PacketTooBig:
        return {"Packet Too Big", std::nullopt};
      case kType6TimeExceeded:
        return time_exceeded(reason_of(kTimeExceeded6Reasons, code));
      case kType6ParameterProblem:
        return {"Parameter Problem", std::nullopt};
      default:
        return {};
    }
  }
  switch (type) {
    case kTypeDestinationUnreachable:
      return {"Destination Unreachable", reason_of(kUnreachableReasons, code)};
    case kTypeTimeExceeded:
      return time_exceeded(reason_of(kTimeExceededReasons, code));
    case kTypeParameterProblem:
      return {"Parameter Problem", std::nullopt};
    case kTypeSourceQuench:
      return {"Source Quench", std::nullopt};
    case kTypeRedirect:
      return {"Redirect", reason_of(kRedirectReasons, code)};
    default:
      return {};
  }
}

}  // namespace vexmo
