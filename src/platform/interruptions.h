// What the user can ask of a running program from outside it, and the waits
// that notice it. Portable declarations; each backend watches for its own
// system's events (POSIX signals, Windows console control events).
#ifndef VEXMO_PLATFORM_INTERRUPTIONS_H
#define VEXMO_PLATFORM_INTERRUPTIONS_H

#include <cstdint>

namespace vexmo {

enum class Interruption : std::uint8_t {
  none,
  stop,     // end the run now, with its summary (Ctrl-C, closing the console)
  interim,  // report the statistics so far and go on (Ctrl-\, Ctrl-Break)
};

// How one platform wait ended. `elapsed` may come before the time asked
// for (a signal that is no interruption, a stop and continue of the
// process, a time the system call cannot take whole): whoever waits keeps
// the deadline and measures the time left itself.
enum class WaitEnd : std::uint8_t {
  ready,        // something to receive (or a pending error to collect)
  interrupted,  // an interruption is pending: see interruption_take
  elapsed,
  failed,
};

}  // namespace vexmo

#endif  // VEXMO_PLATFORM_INTERRUPTIONS_H
