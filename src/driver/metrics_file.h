// --metrics-file: the run's metrics in the Prometheus text exposition
// format 0.0.4, as node_exporter's and windows_exporter's textfile
// collectors read it. The file is rewritten whole after every request and
// at the end, through the platform's atomic replacement.
#ifndef VEXMO_DRIVER_METRICS_FILE_H
#define VEXMO_DRIVER_METRICS_FILE_H

#include <cstdint>
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <utility>

#include "driver/output.h"
#include "driver/rtt_buckets.h"

namespace vexmo {

// What the metrics show: counters of the run so far.
struct MetricsCounters {
  std::string host;  // as given on the command line
  int family = 4;
  std::uint64_t requests = 0;
  std::uint64_t replies = 0;
  std::map<std::pair<std::uint32_t, std::uint32_t>, std::uint64_t> icmp_errors;  // (type, code)
  std::map<std::uint32_t, std::uint64_t> failures;  // by Windows Sockets number
  // Replies per bucket of kRttBucketBoundsUs (not cumulative); those past
  // the last bound count in replies alone.
  RttBucketCounts rtt_buckets{};
  std::uint64_t rtt_sum_us = 0;
  std::optional<std::uint32_t> last_rtt_us;  // none until the first reply
  std::int64_t last_reply_unix_ms = 0;       // 0 until the first reply
  std::int64_t start_unix_ms = 0;
};

// The text of the file: every family with # HELP and # TYPE, no time
// stamps, a line feed at the end.
std::string render_metrics(const MetricsCounters& counters);

// A label value as the exposition format escapes it: \\, \" and \n.
std::string escape_label(const std::string& value);

// Seconds from microseconds (milliseconds), in decimal without trailing
// zeros: 1500 us -> "0.0015".
std::string seconds_from_us(std::uint64_t us);
std::string seconds_from_ms(std::int64_t ms);

// Whether the file at path (nullptr: no --metrics-file) can be written
// when the run starts; if not, one line on err says why.
bool metrics_file_writable(const char* path, std::FILE* err);

class MetricsFile final : public Output {
 public:
  // err takes the line about the first write that fails.
  MetricsFile(const char* path, std::FILE* err) : path_(path), err_(err) {}

  void start(const StartFacts& facts) override;
  void reply(const ReplyFacts& facts) override;
  void icmp(const IcmpFacts& facts) override;
  void failure(const FailureFacts& facts) override;
  void unresolved(const UnresolvedFacts& facts) override;
  void summary(const SummaryFacts& facts) override;

  const MetricsCounters& counters() const {
    return counters_;
  }

 private:
  void finished(std::uint32_t request);
  void write();

  const char* path_;
  std::FILE* err_;
  MetricsCounters counters_;
  bool write_failed_ = false;
};

}  // namespace vexmo

#endif  // VEXMO_DRIVER_METRICS_FILE_H
