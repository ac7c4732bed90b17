// One output of a run: the text lines, JSON Lines, and whatever else renders
// the run's events. Each output is one unit that implements what it shows;
// an event it does not show is left to the empty default.
#ifndef VEXMO_DRIVER_OUTPUT_H
#define VEXMO_DRIVER_OUTPUT_H

#include "driver/events.h"

namespace vexmo {

class Output {
 public:
  virtual ~Output() = default;

  virtual void start(const StartFacts&) {}
  virtual void reply(const ReplyFacts&) {}
  virtual void icmp(const IcmpFacts&) {}
  virtual void failure(const FailureFacts&) {}
  virtual void unresolved(const UnresolvedFacts&) {}
  virtual void interim(const SummaryFacts&) {}
  virtual void summary(const SummaryFacts&) {}
  // The terminal changed its size, in the middle of a wait or a pause.
  virtual void resized() {}
  // The run could not give up its elevated identity and ends before it
  // starts.
  virtual void privileges_kept() {}
};

}  // namespace vexmo

#endif  // VEXMO_DRIVER_OUTPUT_H
