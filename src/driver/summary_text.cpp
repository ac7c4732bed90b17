#include "driver/summary_text.h"

#include <cstdio>

namespace vexmo {

Text milliseconds_text(std::uint32_t us) {
  char text[16];
  std::snprintf(text, sizeof text, "%u.%.3u", us / 1000, us % 1000);
  return text;
}

Text summary_text(const StatisticsSummary& summary, bool with_stats) {
  Text text;
  if (summary.sent > 0) {
    char line[96];
    std::snprintf(line, sizeof line, "\nPackets: Sent %u, Received %u (%u%% Lost)\n", summary.sent,
                  summary.received, lost_percent(summary.sent, summary.received));
    text += line;
  }
  text += "Rount Trip Time (Min/Avg/Max): " + milliseconds_text(summary.min_us) + " ms/" +
          milliseconds_text(summary.avg_us) + " ms/" + milliseconds_text(summary.max_us) + " ms\n";
  if (with_stats) {
    text +=
        "Round Trip Time (Median/P90/P99/StdDev/Jitter): " + milliseconds_text(summary.median_us) +
        " ms/" + milliseconds_text(summary.p90_us) + " ms/" + milliseconds_text(summary.p99_us) +
        " ms/" + milliseconds_text(summary.stddev_us) + " ms/" +
        milliseconds_text(summary.jitter_us) + " ms\n";
  }
  return text;
}

}  // namespace vexmo
