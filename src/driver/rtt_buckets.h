// The round-trip buckets vexmo reports a distribution in: log-spaced at
// 1-2-5 per decade from 10 us to 100 s. One table for every output that
// shows the distribution (the histogram after the summary, the metrics).
#ifndef VEXMO_DRIVER_RTT_BUCKETS_H
#define VEXMO_DRIVER_RTT_BUCKETS_H

#include <array>
#include <cstddef>
#include <cstdint>

namespace vexmo {

// Upper bounds in microseconds; a time belongs to the first bucket whose
// bound it does not exceed (Prometheus' "le"). A time past the last bound
// is counted only in the total.
// clang-format off
constexpr std::uint32_t kRttBucketBoundsUs[] = {
    10,        20,        50,
    100,       200,       500,
    1000,      2000,      5000,
    10000,     20000,     50000,
    100000,    200000,    500000,
    1000000,   2000000,   5000000,
    10000000,  20000000,  50000000,
    100000000,
};
// clang-format on
constexpr std::size_t kRttBuckets = sizeof kRttBucketBoundsUs / sizeof kRttBucketBoundsUs[0];

// The index of the bucket that holds us, or kRttBuckets past the last bound.
constexpr std::size_t rtt_bucket(std::uint32_t us) {
  std::size_t i = 0;
  while (i < kRttBuckets && us > kRttBucketBoundsUs[i]) {
    ++i;
  }
  return i;
}

// Replies counted per bucket; a time past the last bound is in none.
using RttBucketCounts = std::array<std::uint64_t, kRttBuckets>;

inline void count_round_trip(RttBucketCounts* counts, std::uint32_t us) {
  const std::size_t bucket = rtt_bucket(us);
  if (bucket < kRttBuckets) {
    ++(*counts)[bucket];
  }
}

}  // namespace vexmo

#endif  // VEXMO_DRIVER_RTT_BUCKETS_H
