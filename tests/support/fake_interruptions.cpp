// The fake platform's interruptions and pause: scripted at simulated times.
#include <algorithm>

#include "support/fake_platform.h"

namespace vexmo {
namespace fake {
namespace {

bool is_pending(const ScriptedInterruption& i) {
  return !i.taken && i.at_us <= state().now_us;
}

}  // namespace

bool nothing_scripted() {
  const State& s = state();
  if (!s.inbound.empty()) {
    return false;
  }
  for (const ScriptedInterruption& i : s.interruptions) {
    if (!i.taken) {
      return false;
    }
  }
  for (const std::uint64_t at : s.early_wakeups_us) {
    if (at > s.now_us) {
      return false;
    }
  }
  return true;
}

WaitEnd wait_until(std::uint64_t until_us) {
  State& s = state();
  std::uint64_t end_us = until_us;
  WaitEnd end = WaitEnd::elapsed;
  for (const ScriptedInterruption& i : s.interruptions) {
    if (!i.taken && std::max(i.at_us, s.now_us) <= end_us) {
      end_us = std::max(i.at_us, s.now_us);
      end = WaitEnd::interrupted;
    }
  }
  for (const std::uint64_t at : s.early_wakeups_us) {
    if (at > s.now_us && at < end_us) {
      end_us = at;
      end = WaitEnd::elapsed;
    }
  }
  s.now_us = std::max(s.now_us, end_us);
  return end;
}

}  // namespace fake

using fake::state;

bool watch_interruptions() {
  state().watch_calls += 1;
  return true;
}

Interruption take_interruption() {
  fake::State& s = state();
  Interruption found = Interruption::none;
  for (fake::ScriptedInterruption& i : s.interruptions) {
    if (fake::is_pending(i)) {
      i.taken = true;
      if (found != Interruption::stop) {
        found = i.kind;
      }
    }
  }
  if (found != Interruption::none) {
    s.taken_at_us.push_back(s.now_us);
  }
  return found;
}

WaitEnd pause_for(std::uint32_t milliseconds) {
  fake::State& s = state();
  s.sleeps.push_back(milliseconds);
  const std::uint32_t slice = std::min(milliseconds, s.longest_wait_ms);
  return fake::wait_until(s.now_us + std::uint64_t{slice} * 1000);
}

}  // namespace vexmo
