// What an ICMP or ICMPv6 error message means, in the words vexmo prints:
// its kind and the reason its code gives.
#ifndef VEXMO_ICMP_DESCRIPTION_H
#define VEXMO_ICMP_DESCRIPTION_H

#include <cstdint>
#include <optional>
#include <string>

#include "common/address.h"

namespace vexmo {

// The kind ("Time Exceeded") and the reason its code gives, "Unknown code N"
// for a code without one, none for the kinds whose line has no reason
// (Source Quench, Parameter Problem, Packet Too Big). Only the Time Exceeded
// line names the router that sent it (names_sender). A type that is no
// reported error has an empty kind.
struct IcmpDescription {
  const char* kind = "";
  std::optional<std::string> reason;
  bool names_sender = false;
};
IcmpDescription describe_icmp(std::uint8_t type, std::uint8_t code, AddressFamily family);

}  // namespace vexmo

#endif  // VEXMO_ICMP_DESCRIPTION_H
