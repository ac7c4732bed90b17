// Records shared by the command line, the transport and the run driver.
#ifndef VEXMO_COMMON_RUN_TYPES_H
#define VEXMO_COMMON_RUN_TYPES_H

#include <cstdint>

#include "common/address.h"

namespace vexmo {

// The address family -4 or -6 asks for; any: as the host text and the name
// lookup give it.
enum class FamilyChoice : std::uint8_t { any, ipv4, ipv6 };

// The run's settings, filled once from the command line.
struct RunSettings {
  const char* host = nullptr;       // points into the argument list; nullptr: none given
  std::uint32_t size = 56;          // data bytes per request: even, 16 to 65536
  std::uint32_t count = 5;          // at least 1
  std::uint32_t timeout_ms = 3000;  // 0: no time limit
  std::uint32_t ttl = 0;
  bool ttl_given = false;
  std::uint8_t tos = 0;
  bool tos_given = false;
  bool dont_fragment = false;
  bool json = false;   // --json: JSON Lines instead of the text lines
  bool stats = false;  // --stats: the fuller round-trip line in the text summary
  FamilyChoice family = FamilyChoice::any;
};

// Outcome of a socket call, a send or a wait: a positive byte count (0 where
// the call carries no message), or minus a Windows Sockets error number.
using Outcome = std::int32_t;

}  // namespace vexmo

#endif  // VEXMO_COMMON_RUN_TYPES_H
