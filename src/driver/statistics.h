// The statistics of a run: counts, round-trip figures and loss streaks, in
// bounded memory whatever the number of requests (up to 2^32 - 1).
#ifndef VEXMO_DRIVER_STATISTICS_H
#define VEXMO_DRIVER_STATISTICS_H

#include <array>
#include <cstddef>
#include <cstdint>

namespace vexmo {

// Round-trip times counted in buckets: one per microsecond below 128 us,
// then 64 per doubling. The middle of a bucket is within 1/128 of every
// time in it, so a figure read from it is off by at most 1 us or 1 %,
// whichever is larger.
class RoundTripHistogram {
 public:
  static constexpr std::size_t kExactBelow = 128;
  static constexpr std::size_t kPerDoubling = 64;
  static constexpr std::size_t kBuckets = kExactBelow + (32 - 7) * kPerDoubling;

  void add(std::uint32_t us);
  std::uint32_t count() const {
    return count_;
  }
  // The middle of the bucket holding the time of the given rank (1 for the
  // smallest time, count() for the largest); 0 when empty.
  std::uint32_t at_rank(std::uint32_t rank) const;

 private:
  std::array<std::uint32_t, kBuckets> buckets_{};
  std::uint32_t count_ = 0;
};

// Which bucket holds a time, and the time that stands for a bucket.
std::size_t histogram_bucket(std::uint32_t us);
std::uint32_t histogram_bucket_middle(std::size_t bucket);

// 1-based nearest rank of the percentile among n values (n > 0):
// ceil(percent x n / 100), at least 1.
std::uint32_t nearest_rank(std::uint32_t percent, std::uint32_t n);

// The loss as the text summary prints it: 100 minus the truncated received
// share, so it rounds up; 0 when nothing was sent.
std::uint32_t lost_percent(std::uint32_t sent, std::uint32_t received);

// Everything a summary prints, in whole microseconds. The round-trip
// figures are 0 when no echo reply came.
struct StatisticsSummary {
  std::uint32_t sent = 0;
  std::uint32_t received = 0;  // replies + errors
  std::uint32_t replies = 0;   // echo replies
  std::uint32_t errors = 0;    // ICMP error messages about a request
  std::uint32_t min_us = 0;
  std::uint32_t avg_us = 0;  // truncated
  std::uint32_t max_us = 0;
  std::uint32_t median_us = 0;
  std::uint32_t p90_us = 0;
  std::uint32_t p99_us = 0;
  std::uint32_t stddev_us = 0;  // sample standard deviation, rounded
  std::uint32_t jitter_us = 0;  // mean absolute difference of consecutive replies, rounded
  std::uint32_t longest_loss_streak = 0;
};

// Runs of this many echo replies or fewer give exact percentiles; longer
// runs read them from the histogram.
constexpr std::uint32_t kExactSamples = 4096;

// The statistics of one run. Every finished request is recorded exactly
// once, as an echo reply, an ICMP error message (an answer, too) or no
// answer (a failure, a timeout, a message that is not reported, or the
// request cut off when the run is stopped).
class RunStatistics {
 public:
  void record_reply(std::uint32_t rtt_us);
  void record_error_message();
  void record_no_answer();

  std::uint32_t sent() const {
    return sent_;
  }
  std::uint32_t received() const {
    return replies_ + errors_;
  }
  std::uint32_t replies() const {
    return replies_;
  }

  StatisticsSummary summary() const;

 private:
  void record_answer();

  std::uint32_t sent_ = 0;
  std::uint32_t replies_ = 0;
  std::uint32_t errors_ = 0;
  std::uint32_t loss_streak_ = 0;
  std::uint32_t longest_loss_streak_ = 0;
  std::uint64_t rtt_sum_us_ = 0;  // at most (2^32 - 1)^2: fits
  std::uint32_t rtt_min_us_ = 0xFFFFFFFFu;
  std::uint32_t rtt_max_us_ = 0;
  double rtt_mean_us_ = 0;  // running mean and sum of squared deviations (Welford)
  double rtt_squares_ = 0;
  std::uint32_t last_rtt_us_ = 0;
  std::uint64_t jitter_sum_us_ = 0;  // at most (2^32 - 2) x (2^32 - 1): fits
  std::array<std::uint32_t, kExactSamples> samples_{};
  RoundTripHistogram histogram_;
};

}  // namespace vexmo

#endif  // VEXMO_DRIVER_STATISTICS_H
