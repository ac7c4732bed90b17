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
std::string milliseconds_text(std::uint64_t us);

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

// Every line of text that is not blank begun with the time, as JSON gives
// it, in brackets: "[2026-12-08T10:15:00.123Z] ".
std::string stamped_lines(const std::string& text, std::int64_t unix_ms);

class TextLines final : public Output {
 public:
  // with_stats: --stats, the fuller round-trip line in the summary;
  // timestamps: -D, the event's time before every line after the opening;
  // quiet: -q, no line of a single request.
  TextLines(std::FILE* out, bool with_stats, bool timestamps = false, bool quiet = false)
      : out_(out), with_stats_(with_stats), timestamps_(timestamps), quiet_(quiet) {}

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
  void line(const std::string& text, std::int64_t unix_ms);

  std::FILE* out_;
  bool with_stats_;
  bool timestamps_;
  bool quiet_;
};

}  // namespace vexmo

#endif  // VEXMO_DRIVER_TEXT_LINES_H
