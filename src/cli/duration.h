// Durations on the command line: a number of milliseconds, or a number with
// a unit (250ms, 1.5s, 10m, 1h).
#ifndef VEXMO_CLI_DURATION_H
#define VEXMO_CLI_DURATION_H

#include <cstdint>
#include <optional>

namespace vexmo {

// The duration in whole milliseconds (a fraction of a millisecond is
// dropped), or none for text that is no duration: empty, signed, with
// spaces or an unknown unit, or too long to count in 32-bit milliseconds.
std::optional<std::uint32_t> parse_duration_ms(const char* text);

}  // namespace vexmo

#endif  // VEXMO_CLI_DURATION_H
