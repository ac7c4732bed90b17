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
  resize,   // the terminal changed its size (POSIX: SIGWINCH): what is drawn
            // on it is drawn again, and the run goes on
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

// Starts watching for interruptions, once; later calls only report how
// that went. Until then they keep the system's default actions (a Ctrl-C
// ends the process at once). False when the system refused.
bool watch_interruptions();

// The interruption that came since the last take, taken: a stop before an
// interim (and the stop takes any interim with it, since the summary that
// follows says all an interim report would); several interims in a row
// count as one.
Interruption take_interruption();

// The counts of interruptions raised (by a signal handler or a console
// handler) and taken so far.
struct InterruptionCounts {
  long stops = 0;
  long interims = 0;
  long resizes = 0;
};

// What take_interruption gives for the counts raised against those taken,
// which it brings up to date.
inline Interruption take_from_counts(InterruptionCounts raised, InterruptionCounts* taken) {
  if (raised.stops != taken->stops) {
    *taken = raised;
    return Interruption::stop;
  }
  if (raised.interims != taken->interims) {
    taken->interims = raised.interims;
    return Interruption::interim;
  }
  if (raised.resizes != taken->resizes) {
    taken->resizes = raised.resizes;
    return Interruption::resize;
  }
  return Interruption::none;
}

// The pause between requests: waits for milliseconds unless an
// interruption is pending or comes (`interrupted`, not taken).
WaitEnd pause_for(std::uint32_t milliseconds);

}  // namespace vexmo

#endif  // VEXMO_PLATFORM_INTERRUPTIONS_H
