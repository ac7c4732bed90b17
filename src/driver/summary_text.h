// The text of the summary that ends a run (and of an interim report).
#ifndef VEXMO_DRIVER_SUMMARY_TEXT_H
#define VEXMO_DRIVER_SUMMARY_TEXT_H

#include <cstdint>

#include "common/text.h"
#include "driver/statistics.h"

namespace vexmo {

// Whole microseconds as milliseconds with three decimals: 12345 -> 12.345,
// 7 -> 0.007.
Text milliseconds_text(std::uint32_t us);

// The blank line and the packets line (only when anything was sent), the
// round-trip line, and with_stats the line of median, percentiles, standard
// deviation and jitter.
Text summary_text(const StatisticsSummary& summary, bool with_stats);

}  // namespace vexmo

#endif  // VEXMO_DRIVER_SUMMARY_TEXT_H
