#include "driver/statistics.h"

#include <algorithm>
#include <cmath>

namespace vexmo {
namespace {

// The position of the highest set bit; value > 0.
int highest_bit(std::uint32_t value) {
  int bit = 31;
  while ((value >> bit) == 0) {
    --bit;
  }
  return bit;
}

std::uint32_t rounded(double value) {
  if (value >= 4294967295.0) {
    return 0xFFFFFFFFu;
  }
  return static_cast<std::uint32_t>(value + 0.5);
}

}  // namespace

std::size_t histogram_bucket(std::uint32_t us) {
  if (us < RoundTripHistogram::kExactBelow) {
    return us;
  }
  const int doubling = highest_bit(us);  // 7 to 31
  const int shift = doubling - 6;        // 64 buckets per doubling
  const std::size_t within = (us >> shift) - RoundTripHistogram::kPerDoubling;
  return RoundTripHistogram::kExactBelow +
         static_cast<std::size_t>(doubling - 7) * RoundTripHistogram::kPerDoubling + within;
}

std::uint32_t histogram_bucket_middle(std::size_t bucket) {
  if (bucket < RoundTripHistogram::kExactBelow) {
    return static_cast<std::uint32_t>(bucket);
  }
  const std::size_t index = bucket - RoundTripHistogram::kExactBelow;
  const int shift = static_cast<int>(index / RoundTripHistogram::kPerDoubling) + 1;
  const std::uint32_t low = static_cast<std::uint32_t>(RoundTripHistogram::kPerDoubling +
                                                       index % RoundTripHistogram::kPerDoubling)
                            << shift;
  return low + (std::uint32_t{1} << shift) / 2;
}

void RoundTripHistogram::add(std::uint32_t us) {
  buckets_[histogram_bucket(us)] += 1;
  count_ += 1;
}

std::uint32_t RoundTripHistogram::at_rank(std::uint32_t rank) const {
  std::uint64_t seen = 0;
  for (std::size_t bucket = 0; bucket < kBuckets; ++bucket) {
    seen += buckets_[bucket];
    if (seen >= rank && seen > 0) {
      return histogram_bucket_middle(bucket);
    }
  }
  return 0;
}

std::uint32_t nearest_rank(std::uint32_t percent, std::uint32_t n) {
  const std::uint64_t rank = (std::uint64_t{percent} * n + 99) / 100;
  return rank == 0 ? 1 : static_cast<std::uint32_t>(rank);
}

std::uint32_t lost_percent(std::uint32_t sent, std::uint32_t received) {
  if (sent == 0) {
    return 0;  // nothing sent, nothing lost (an interim before the first request ended)
  }
  const std::uint64_t received_percent = std::uint64_t{received} * 100 / sent;
  return static_cast<std::uint32_t>(100 - received_percent);
}

void RunStatistics::record_answer() {
  sent_ += 1;
  loss_streak_ = 0;
}

void RunStatistics::record_reply(std::uint32_t rtt_us) {
  record_answer();
  if (replies_ < kExactSamples) {
    samples_[replies_] = rtt_us;
  }
  if (replies_ > 0) {
    jitter_sum_us_ += rtt_us > last_rtt_us_ ? rtt_us - last_rtt_us_ : last_rtt_us_ - rtt_us;
  }
  last_rtt_us_ = rtt_us;
  replies_ += 1;
  histogram_.add(rtt_us);
  rtt_sum_us_ += rtt_us;
  rtt_min_us_ = std::min(rtt_min_us_, rtt_us);
  rtt_max_us_ = std::max(rtt_max_us_, rtt_us);
  const double delta = rtt_us - rtt_mean_us_;
  rtt_mean_us_ += delta / replies_;
  rtt_squares_ += delta * (rtt_us - rtt_mean_us_);
}

void RunStatistics::record_error_message() {
  record_answer();
  errors_ += 1;
}

void RunStatistics::record_no_answer() {
  sent_ += 1;
  loss_streak_ += 1;
  longest_loss_streak_ = std::max(longest_loss_streak_, loss_streak_);
}

StatisticsSummary RunStatistics::summary() const {
  StatisticsSummary summary;
  summary.sent = sent_;
  summary.received = received();
  summary.replies = replies_;
  summary.errors = errors_;
  summary.longest_loss_streak = longest_loss_streak_;
  if (replies_ == 0) {
    return summary;
  }
  summary.min_us = rtt_min_us_;
  summary.max_us = rtt_max_us_;
  summary.avg_us = static_cast<std::uint32_t>(rtt_sum_us_ / replies_);
  const std::uint32_t percents[] = {50, 90, 99};
  std::uint32_t* const figures[] = {&summary.median_us, &summary.p90_us, &summary.p99_us};
  if (replies_ <= kExactSamples) {
    std::array<std::uint32_t, kExactSamples> sorted = samples_;
    std::sort(sorted.begin(), sorted.begin() + replies_);
    for (int i = 0; i < 3; ++i) {
      *figures[i] = sorted[nearest_rank(percents[i], replies_) - 1];
    }
  } else {
    // A bucket's middle may lie beyond the times it holds; the extremes
    // are known exactly.
    for (int i = 0; i < 3; ++i) {
      *figures[i] = std::clamp(histogram_.at_rank(nearest_rank(percents[i], replies_)), rtt_min_us_,
                               rtt_max_us_);
    }
  }
  if (replies_ >= 2) {
    summary.stddev_us = rounded(std::sqrt(rtt_squares_ / (replies_ - 1)));
    const std::uint64_t pairs = replies_ - 1;
    summary.jitter_us = static_cast<std::uint32_t>((jitter_sum_us_ + pairs / 2) / pairs);
  }
  return summary;
}

}  // namespace vexmo
