// The JSON Lines output (--json): one object per event (doc/vexmo.schema.json
// describes them), built as text from the event records.
#ifndef VEXMO_DRIVER_JSON_LINES_H
#define VEXMO_DRIVER_JSON_LINES_H

#include <cstdint>
#include <optional>

#include <cstdio>
#include <string>

#include "driver/histogram.h"
#include "driver/output.h"

namespace vexmo {

// Appends text as a JSON string with its quotes. Valid UTF-8 passes through
// unchanged; quotes, backslashes and control characters are escaped, and
// every byte that is not part of a valid UTF-8 sequence becomes U+FFFD, so
// the line stays valid UTF-8 whatever the text (a host argument, say).
void append_json_string(std::string* out, const char* text);

// Milliseconds since 1970-01-01 UTC as RFC 3339 UTC with milliseconds:
// 2024-02-29T23:59:59.999Z. Times before 1970 are not needed and give the
// epoch.
std::string utc_time_text(std::int64_t unix_ms);

// Each object as one line of text without the line feed.
// The version of doc/vexmo.schema.json the lines follow (its $id), which
// the start object names.
constexpr const char* kJsonSchemaVersion = "1.1";

std::string json_start(const StartFacts& facts);
std::string json_reply(const ReplyFacts& facts);
std::string json_icmp(const IcmpFacts& facts);
std::string json_failure(const FailureFacts& facts);
std::string json_unresolved(const UnresolvedFacts& facts);

enum class SummaryEvent { summary, interim };
// histogram: the counts the summary object shows (--histogram), or none.
std::string json_summary(const SummaryFacts& facts, SummaryEvent event,
                         const RttBucketCounts* histogram = nullptr);

// The JSON Lines output (--json): one object per event.
class JsonLines final : public Output {
 public:
  // out takes the objects; err the messages that are no object; quiet
  // (-q): no object of a single request; with_histogram: the summary
  // shows the round trips' distribution.
  JsonLines(std::FILE* out, std::FILE* err, bool quiet = false, bool with_histogram = false)
      : out_(out), err_(err), quiet_(quiet), with_histogram_(with_histogram) {}

  void start(const StartFacts& facts) override;
  void reply(const ReplyFacts& facts) override;
  void icmp(const IcmpFacts& facts) override;
  void failure(const FailureFacts& facts) override;
  void unresolved(const UnresolvedFacts& facts) override;
  void interim(const SummaryFacts& facts) override;
  void summary(const SummaryFacts& facts) override;
  void privileges_kept() override;

 private:
  std::FILE* out_;
  std::FILE* err_;
  bool quiet_;
  bool with_histogram_;
  RttBucketCounts counts_{};
};

}  // namespace vexmo

#endif  // VEXMO_DRIVER_JSON_LINES_H
