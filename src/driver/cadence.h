// The rhythm of a run: when each request goes out, how long its wait may
// last, and when the run ends by time. Pure functions of the request's
// index and the time since the run started, in microseconds.
#ifndef VEXMO_DRIVER_CADENCE_H
#define VEXMO_DRIVER_CADENCE_H

#include <cstdint>
#include <optional>

#include "cli/settings.h"

namespace vexmo {

// Pause after every request that got a message for this process, where no
// interval is set.
constexpr std::uint32_t kPauseAfterAnswerMs = 1000;

struct Cadence {
  std::uint64_t interval_us = 0;  // request k is due at k x interval; 0: no fixed beat
  std::uint64_t deadline_us = 0;  // the run ends then; 0: never by time
  std::uint32_t count = 0;        // requests in the run; 0: until stopped
};

Cadence cadence_of(const RunSettings& settings);

// Whether request k (0-based) is still to be sent.
bool more_requests(const Cadence& cadence, std::uint32_t k);

bool deadline_passed(const Cadence& cadence, std::uint64_t now_us);

// The longest the wait for request k's answer may take, at now_us: until
// the next request is due (for the last one, the end of its slot) or the
// deadline, whichever is first; none where neither applies and only the
// run's timeout ends it.
std::optional<std::uint32_t> wait_cut_ms(const Cadence& cadence, std::uint32_t k,
                                         std::uint64_t now_us);

// The pause after request k, at now_us: until the next request is due, or
// without an interval a second after an answer and none after a failure;
// never past the deadline, and none after the last request.
std::uint32_t pause_after_ms(const Cadence& cadence, std::uint32_t k, std::uint64_t now_us,
                             bool answered);

}  // namespace vexmo

#endif  // VEXMO_DRIVER_CADENCE_H
