// The exit status a run ends with under --exit-status and --max-loss: 0
// when an echo reply came, 1 when none came (or the loss was above the
// limit), 2 when the run could not start. Without them it stays 0.
#ifndef VEXMO_DRIVER_EXIT_STATUS_H
#define VEXMO_DRIVER_EXIT_STATUS_H

#include <cstdint>

#include "cli/settings.h"

namespace vexmo {

constexpr int kStatusReplied = 0;
constexpr int kStatusNoReply = 1;
constexpr int kStatusNotStarted = 2;

// How the run ended, as far as the status is concerned. not_started: the
// host could not be resolved before the first request, or the socket of
// the run's family could not be opened.
struct RunEnd {
  bool not_started = false;
  std::uint32_t sent = 0;
  std::uint32_t replies = 0;  // echo replies only: ICMP errors are no reply
};

// The status of a run that went to its end (or was stopped and summed up).
int exit_status(const RunSettings& settings, const RunEnd& end);

}  // namespace vexmo

#endif  // VEXMO_DRIVER_EXIT_STATUS_H
