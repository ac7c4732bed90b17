#include "driver/cadence.h"

#include <algorithm>

namespace vexmo {
namespace {

// Whole milliseconds, rounded up: a pause or wait never ends before its
// time, so the request after it is never early and a deadline has passed.
std::uint32_t ceil_ms(std::uint64_t us) {
  return static_cast<std::uint32_t>(std::min<std::uint64_t>((us + 999) / 1000, 0xFFFFFFFFu));
}

std::uint64_t until(std::uint64_t at_us, std::uint64_t now_us) {
  return at_us > now_us ? at_us - now_us : 0;
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
  std::optional<std::uint64_t> cut_us;
  if (cadence.interval_us != 0) {
    cut_us = until((std::uint64_t{k} + 1) * cadence.interval_us, now_us);
  }
  if (cadence.deadline_us != 0) {
    cut_us = std::min(cut_us.value_or(UINT64_MAX), until(cadence.deadline_us, now_us));
  }
  if (!cut_us) {
    return std::nullopt;
  }
  return ceil_ms(*cut_us);
}

std::uint32_t pause_after_ms(const Cadence& cadence, std::uint32_t k, std::uint64_t now_us,
                             bool answered) {
  if (!more_requests(cadence, k + 1)) {
    return 0;  // the summary follows the last answer at once
  }
  std::uint64_t pause_us = answered ? std::uint64_t{kPauseAfterAnswerMs} * 1000 : 0;
  if (cadence.interval_us != 0) {
    pause_us = until((std::uint64_t{k} + 1) * cadence.interval_us, now_us);
  }
  if (cadence.deadline_us != 0) {
    pause_us = std::min(pause_us, until(cadence.deadline_us, now_us));
  }
  return ceil_ms(pause_us);
}

std::uint64_t elapsed_us(std::uint64_t start_ticks, std::uint64_t now_ticks,
                         std::uint64_t frequency) {
  if (now_ticks <= start_ticks || frequency == 0) {
    return 0;
  }
  const std::uint64_t ticks = now_ticks - start_ticks;
  return ticks / frequency * 1000000 + ticks % frequency * 1000000 / frequency;
}

}  // namespace vexmo
