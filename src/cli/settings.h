// The run's settings, filled once from the command line.
#ifndef VEXMO_CLI_SETTINGS_H
#define VEXMO_CLI_SETTINGS_H

#include <cstdint>

namespace vexmo {

// The address family -4 or -6 asks for; any: as the host text and the name
// lookup give it.
enum class FamilyChoice : std::uint8_t { any, ipv4, ipv6 };

// --graph: none, drawn with block characters where the output is read as
// UTF-8 (else ASCII), or --graph=ascii.
enum class GraphChoice : std::uint8_t { none, automatic, ascii };

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
  // --exit-status, --max-loss: a status that tells (exit_status.h).
  bool exit_status = false;
  std::uint32_t max_loss_thousandths = 100000;  // --max-loss in thousandths of a percent
  const char* metrics_file = nullptr;           // --metrics-file; nullptr: none
  // Watching a link: a fixed cadence, an end in time, the output's shape.
  std::uint32_t interval_ms = 0;          // --interval: request k at start + k x interval; 0: none
  std::uint32_t deadline_ms = 0;          // --deadline: the run ends after so long; 0: none
  bool continuous = false;                // --continuous: requests until stopped; count ignored
  bool timestamps = false;                // -D: the time before every text line after the first
  bool quiet = false;                     // -q: the opening and the summary only
  bool histogram = false;                 // --histogram: the round trips' distribution
  GraphChoice graph = GraphChoice::none;  // --graph: a live chart on a terminal
};

}  // namespace vexmo

#endif  // VEXMO_CLI_SETTINGS_H
