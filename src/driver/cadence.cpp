#include "driver/cadence.h"

#include <algorithm>

namespace vexmo {
namespace {

constexpr std::uint64_t kMostMs = 0xFFFFFFFFu;
constexpr std::uint32_t kLeastWaitMs = 1;

// Whole milliseconds, rounded up: a pause or wait cut by the deadline never
// ends before it, so that the deadline has passed when it ends.
std::uint32_t ceil_ms(std::uint64_t us) {
  return static_cast<std::uint32_t>(std::min<std::uint64_t>((us + 999) / 1000, kMostMs));
}

// Whole milliseconds, rounded to the nearest: the platform pauses in whole
// milliseconds and a slot is kept best by half a millisecond either way.
std::uint32_t nearest_ms(std::uint64_t us) {
  return static_cast<std::uint32_t>(std::min<std::uint64_t>((us + 500) / 1000, kMostMs));
}

std::uint64_t until(std::uint64_t at_us, std::uint64_t now_us) {
  return at_us > now_us ? at_us - now_us : 0;
}

// Until request k is due, or until the deadline where it comes first: a
// request due at the deadline is not sent, so its time is waited out whole.
std::uint32_t until_slot_ms(const Cadence& cadence, std::uint32_t k, std::uint64_t now_us) {
  const std::uint64_t slot_us = std::uint64_t{k} * cadence.interval_us;
  if (cadence.deadline_us != 0 && cadence.deadline_us <= slot_us) {
    return ceil_ms(until(cadence.deadline_us, now_us));
  }
  return nearest_ms(until(slot_us, now_us));
}

}  // namespace

Cadence cadence_of(const RunSettings& settings) {
  Cadence cadence;
  cadence.interval_us = std::uint64_t{settings.interval_ms} * 1000;
  cadence.deadline_us = std::uint64_t{settings.deadline_ms} * 1000;
  cadence.count = settings.continuous ? 0 : settings.count;
  return cadence;
}

bool more_requests(const Cadence& cadence, std::uint32_t k) {
  return cadence.count == 0 || k < cadence.count;
}

bool deadline_passed(const Cadence& cadence, std::uint64_t now_us) {
  return cadence.deadline_us != 0 && now_us >= cadence.deadline_us;
}

std::optional<std::uint32_t> wait_cut_ms(const Cadence& cadence, std::uint32_t k,
                                         std::uint64_t now_us) {
  std::optional<std::uint32_t> cut_ms;
  if (cadence.interval_us != 0) {
    // A request sent late (the process was not scheduled in time) still
    // gets a millisecond for its answer: on a fast path it is there by
    // then, and the beat catches up at the next slot.
    cut_ms = std::max<std::uint32_t>(kLeastWaitMs, until_slot_ms(cadence, k + 1, now_us));
  }
  if (cadence.deadline_us != 0) {
    cut_ms = std::min(cut_ms.value_or(UINT32_MAX), ceil_ms(until(cadence.deadline_us, now_us)));
  }
  return cut_ms;
}

std::uint32_t pause_after_ms(const Cadence& cadence, std::uint32_t k, std::uint64_t now_us,
                             bool answered) {
  if (!more_requests(cadence, k + 1)) {
    return 0;  // the summary follows the last answer at once
  }
  std::uint32_t pause_ms = answered ? kPauseAfterAnswerMs : 0;
  if (cadence.interval_us != 0) {
    pause_ms = until_slot_ms(cadence, k + 1, now_us);
  }
  if (cadence.deadline_us != 0) {
    pause_ms = std::min(pause_ms, ceil_ms(until(cadence.deadline_us, now_us)));
  }
  return pause_ms;
}

}  // namespace vexmo
