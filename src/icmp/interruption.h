// What the run's waits do when the user interrupts them: a stop ends the
// wait or the pause it comes in, and with it the run; an interim report is
// printed by whoever reports the run, and the wait or pause then goes on
// with the time it has left.
#ifndef VEXMO_ICMP_INTERRUPTION_H
#define VEXMO_ICMP_INTERRUPTION_H

#include <cstdint>

#include "platform/platform.h"

namespace vexmo {

// The outcome of a wait that the user stopped: neither a byte count nor
// minus any error number.
constexpr Outcome kOutcomeStopped = INT32_MIN;

// What the run does for the user in the middle of a wait or a pause: print
// the statistics so far, and draw again what it keeps on the terminal once
// the terminal changed its size. Plain callbacks with context: the waits
// need no more, and the program no runtime type information.
struct InterimReport {
  void (*print)(void* context) = nullptr;
  void* context = nullptr;
  void (*redraw)(void* context) = nullptr;

  void print_interim() const {
    if (print != nullptr) {
      print(context);
    }
  }
  void redraw_terminal() const {
    if (redraw != nullptr) {
      redraw(context);
    }
  }
};

// Takes the interruptions a platform wait ended for, if any: false for a
// stop. An interim is printed and a resize drawn through report (when there
// is one); they give true, as does nothing at all.
bool carry_on_after_interruption(InterimReport* report);

// The pause between requests: milliseconds long, unless the user stops the
// run (then false, at once). Interims are printed as they come.
bool pause_unless_stopped(std::uint32_t milliseconds, InterimReport* report);

}  // namespace vexmo

#endif  // VEXMO_ICMP_INTERRUPTION_H
