#include "icmp/interruption.h"

#include "common/wait_limit.h"
#include "platform/platform.h"

namespace vexmo {

bool carry_on_after_interruption(InterimReport* report) {
  // One take gives one kind; an interim and a resize may both be pending.
  for (;;) {
    switch (take_interruption()) {
      case Interruption::stop:
        return false;
      case Interruption::interim:
        if (report != nullptr) {
          report->print_interim();
        }
        break;
      case Interruption::resize:
        if (report != nullptr) {
          report->redraw_terminal();
        }
        break;
      case Interruption::none:
        return true;
    }
  }
}

bool pause_unless_stopped(std::uint32_t milliseconds, InterimReport* report) {
  const std::uint64_t frequency = counter_frequency();
  const std::uint64_t start = counter_now();
  for (;;) {
    const std::uint32_t left = ms_left(milliseconds, elapsed_ms(start, counter_now(), frequency));
    if (left == 0) {
      return true;
    }
    const WaitEnd end = pause_for(left);
    if (end == WaitEnd::interrupted && !carry_on_after_interruption(report)) {
      return false;
    }
    if (end == WaitEnd::failed) {
      return true;  // cannot pause: better on at once than a busy loop
    }
  }
}

}  // namespace vexmo
