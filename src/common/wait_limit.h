// How long a wait has had and has left, on the high-resolution counter. The
// platform cannot take every wait in one call (poll takes at most 2^31 - 1
// ms) and may end one early (a signal, a stop and continue of the process):
// whoever waits calls again with what is left until the whole time has
// passed. 64-bit milliseconds: no timeout a user can give wraps.
#ifndef VEXMO_COMMON_WAIT_LIMIT_H
#define VEXMO_COMMON_WAIT_LIMIT_H

#include <cstdint>

namespace vexmo {

// Whole milliseconds between two counter readings; 0 if the counter seems
// to run backwards. Split so that no product overflows at any frequency.
inline std::uint64_t elapsed_ms(std::uint64_t start_ticks, std::uint64_t now_ticks,
                                std::uint64_t frequency) {
  if (now_ticks <= start_ticks || frequency == 0) {
    return 0;
  }
  const std::uint64_t ticks = now_ticks - start_ticks;
  return ticks / frequency * 1000 + ticks % frequency * 1000 / frequency;
}

// Whole microseconds between two counter readings, alike. elapsed_ms is not
// this over 1000: it reaches a thousand times further before it overflows.
inline std::uint64_t elapsed_us(std::uint64_t start_ticks, std::uint64_t now_ticks,
                                std::uint64_t frequency) {
  if (now_ticks <= start_ticks || frequency == 0) {
    return 0;
  }
  const std::uint64_t ticks = now_ticks - start_ticks;
  return ticks / frequency * 1000000 + ticks % frequency * 1000000 / frequency;
}

// What is left of limit_ms after elapsed: 0 once it has all passed.
inline std::uint32_t ms_left(std::uint32_t limit_ms, std::uint64_t elapsed) {
  return elapsed >= limit_ms ? 0 : static_cast<std::uint32_t>(limit_ms - elapsed);
}

}  // namespace vexmo

#endif  // VEXMO_COMMON_WAIT_LIMIT_H
