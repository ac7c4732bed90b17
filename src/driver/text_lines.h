// The text output: one line per event, as people read them.
#ifndef VEXMO_DRIVER_TEXT_LINES_H
#define VEXMO_DRIVER_TEXT_LINES_H

#include <cstdint>
#include <cstdio>
#include <string>

#include "driver/output.h"

namespace vexmo {

// Whole microseconds as milliseconds with three decimals: 12345 -> 12.345,
// 7 -> 0.007.
std::string milliseconds_text(std::uint32_t us);

// The lines of the events, without their line feed.
std::string start_line(const StartFacts& facts);
std::string reply_line(const ReplyFacts& facts);
std::string icmp_line(const IcmpFacts& facts);

// The blank line and the packets line (in a summary only when anything was
// sent; an interim report always has it, and so looks the same whenever it
// comes), the round-trip line, and with_stats the line of median,
// percentiles, standard deviation and jitter; every line ends with its line
// feed.
std::string summary_text(const StatisticsSummary& summary, bool with_stats, bool interim = false);

class TextLines final : public Output {
 public:
  // with_stats: --stats, the fuller round-trip line in the summary.
  TextLines(std::FILE* out, bool with_stats) : out_(out), with_stats_(with_stats) {}

  void start(const StartFacts& facts) override;
  void reply(const ReplyFacts& facts) override;
  void icmp(const IcmpFacts& facts) override;
  void failure(const FailureFacts& facts) override;
  void unresolved(const UnresolvedFacts& facts) override;
  void interim(const SummaryFacts& facts) override;
  void summary(const SummaryFacts& facts) override;
  void privileges_kept() override;

 private:
  void summary_lines(const SummaryFacts& facts, bool interim);

  std::FILE* out_;
  bool with_stats_;
};

}  // namespace vexmo

#endif  // VEXMO_DRIVER_TEXT_LINES_H
