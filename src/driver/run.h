// One run: every request of the settings, one after another, and the summary.
#ifndef VEXMO_DRIVER_RUN_H
#define VEXMO_DRIVER_RUN_H

#include <cstdint>

#include "common/run_types.h"

namespace vexmo {

// Pause after every request that got a message for this process.
constexpr std::uint32_t kPauseAfterAnswerMs = 1000;

// Host text to IPv4 address (network order). Text that begins with a digit is
// read as a dotted address; text that is no address after all (10.0.0.256,
// 3com.example) is looked up by name rather than sent to 255.255.255.255.
bool resolve_host(const char* host, std::uint32_t* address);

// Runs the whole series of requests and prints every line of it; the exit
// status (0, or 1 when elevated privileges could not be given up).
int run_requests(const RunSettings& settings);

// The program: returns the process exit status (0 after a run, -1 after the
// usage text, 1 when elevated privileges could not be given up).
int vexmo_main(int argc, const char* const* argv);

}  // namespace vexmo

#endif  // VEXMO_DRIVER_RUN_H
