#include "driver/statistics.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace vexmo {
namespace {

// A run as the outcomes of its requests in order: a round-trip time in
// microseconds for an echo reply, or one of these.
constexpr std::int64_t kError = -1;  // an ICMP error message: an answer
constexpr std::int64_t kLoss = -2;   // a failure, a timeout or a request cut off

RunStatistics run_of(const std::vector<std::int64_t>& outcomes) {
  RunStatistics stats;
  for (std::int64_t outcome : outcomes) {
    if (outcome == kError) {
      stats.record_error_message();
    } else if (outcome == kLoss) {
      stats.record_no_answer();
    } else {
      stats.record_reply(static_cast<std::uint32_t>(outcome));
    }
  }
  return stats;
}

std::vector<std::int64_t> milliseconds(std::int64_t from, std::int64_t to) {
  std::vector<std::int64_t> values;
  for (std::int64_t ms = from; ms <= to; ++ms) {
    values.push_back(ms * 1000);
  }
  return values;
}

struct Expected {
  std::uint32_t sent, received, replies, errors;
  std::uint32_t min, avg, max, median, p90, p99, stddev, jitter;
  std::uint32_t longest_loss_streak;
};

TEST(RunStatistics, FiguresOfKnownRuns) {
  const struct {
    const char* name;
    std::vector<std::int64_t> outcomes;
    Expected expected;
  } cases[] = {
      {"nothing sent", {}, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
      {"no replies", {kLoss, kLoss, kLoss}, {3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 3}},
      {"errors only: answers without times",
       {kError, kError},
       {2, 2, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
      {"one reply", {12345}, {1, 1, 1, 0, 12345, 12345, 12345, 12345, 12345, 12345, 0, 0, 0}},
      {"equal values",
       {10000, 10000, 10000, 10000, 10000},
       {5, 5, 5, 0, 10000, 10000, 10000, 10000, 10000, 10000, 0, 0, 0}},
      // Median rank ceil(2) = 2, p90 rank ceil(3.6) = 4; deviations of 15 and
      // 5 ms give sqrt(500/3) ms; every step is 10 ms.
      {"four in order",
       {10000, 20000, 30000, 40000},
       {4, 4, 4, 0, 10000, 25000, 40000, 20000, 40000, 40000, 12910, 10000, 0}},
      // Out of order: ranks 5, 9 and 10 of 1 ... 10 ms; steps 4+8+6+4+5+6+4+6+4
      // = 47 ms over 9; the average of 5.5 ms is truncated as the text does.
      {"ten shuffled",
       {5000, 1000, 9000, 3000, 7000, 2000, 8000, 4000, 10000, 6000},
       {10, 10, 10, 0, 1000, 5500, 10000, 5000, 9000, 10000, 3028, 5222, 0}},
      {"one to a hundred ms: each percentile its own rank",
       milliseconds(1, 100),
       {100, 100, 100, 0, 1000, 50500, 100000, 50000, 90000, 99000, 29011, 1000, 0}},
      {"jitter of a half rounds up", {0, 1, 1}, {3, 3, 3, 0, 0, 0, 1, 1, 1, 1, 1, 1, 0}},
      {"the extremes of 32 bits",
       {0, 4294967295},
       {2, 2, 2, 0, 0, 2147483647, 4294967295u, 0, 4294967295u, 4294967295u, 3037000499u,
        4294967295u, 0}},
      {"errors are answers but not samples",
       {kError, 10000, kError, 30000},
       {4, 4, 2, 2, 10000, 20000, 30000, 10000, 30000, 30000, 14142, 20000, 0}},
      {"jitter between replies, across losses",
       {10000, kLoss, 14000, kError, 12000},
       {5, 4, 3, 1, 10000, 12000, 14000, 12000, 14000, 14000, 2000, 3000, 1}},
      {"an error message ends a loss streak",
       {kLoss, kLoss, kError, kLoss, kLoss, kLoss, 10000, kLoss, kLoss},
       {9, 2, 1, 1, 10000, 10000, 10000, 10000, 10000, 10000, 0, 0, 3}},
      {"the longest streak may be the last",
       {10000, kLoss, kLoss, kLoss, kLoss},
       {5, 1, 1, 0, 10000, 10000, 10000, 10000, 10000, 10000, 0, 0, 4}},
      {"single losses between answers",
       {kLoss, kError, kLoss},
       {3, 1, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 1}},
  };
  for (const auto& c : cases) {
    const StatisticsSummary s = run_of(c.outcomes).summary();
    const Expected& e = c.expected;
    const std::uint32_t got[] = {s.sent,
                                 s.received,
                                 s.replies,
                                 s.errors,
                                 s.min_us,
                                 s.avg_us,
                                 s.max_us,
                                 s.median_us,
                                 s.p90_us,
                                 s.p99_us,
                                 s.stddev_us,
                                 s.jitter_us,
                                 s.longest_loss_streak};
    const std::uint32_t want[] = {e.sent,
                                  e.received,
                                  e.replies,
                                  e.errors,
                                  e.min,
                                  e.avg,
                                  e.max,
                                  e.median,
                                  e.p90,
                                  e.p99,
                                  e.stddev,
                                  e.jitter,
                                  e.longest_loss_streak};
    const char* const names[] = {"sent",
                                 "received",
                                 "replies",
                                 "errors",
                                 "min",
                                 "avg",
                                 "max",
                                 "median",
                                 "p90",
                                 "p99",
                                 "stddev",
                                 "jitter",
                                 "longest_loss_streak"};
    for (std::size_t i = 0; i < std::size(got); ++i) {
      EXPECT_EQ(got[i], want[i]) << c.name << ": " << names[i];
    }
  }
}

TEST(RunStatistics, CountsWhatTheRequestsNeed) {
  RunStatistics stats = run_of({10000, kError, kLoss});
  EXPECT_EQ(stats.sent(), 3u);
  EXPECT_EQ(stats.received(), 2u);  // the next request's sequence number
  EXPECT_EQ(stats.replies(), 1u);
}

TEST(NearestRank, CeilingOfTheShareAtLeastOne) {
  const struct {
    std::uint32_t percent, n, rank;
  } cases[] = {
      {50, 1, 1},
      {50, 2, 1},
      {50, 3, 2},
      {50, 4, 2},
      {90, 10, 9},
      {90, 11, 10},
      {99, 100, 99},
      {99, 101, 100},
      {0, 5, 1},
      {100, 7, 7},
      {99, 4294967295u, 4252017623u},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(nearest_rank(c.percent, c.n), c.rank) << c.percent << " of " << c.n;
  }
}

bool within_bound(std::uint32_t figure, std::uint32_t exact) {
  const std::uint32_t error = figure > exact ? figure - exact : exact - figure;
  return error <= std::max<std::uint32_t>(1, exact / 100);
}

// Every time from a tenth below to a tenth above each magnitude reads back
// within 1 us or 1 % from its bucket.
TEST(RoundTripHistogram, ErrorBoundAroundEachMagnitude) {
  const std::uint32_t magnitudes[] = {10, 1000, 10000000};
  for (std::uint32_t magnitude : magnitudes) {
    const std::uint32_t step = std::max<std::uint32_t>(1, magnitude / 5000);
    for (std::uint32_t us = magnitude - magnitude / 10; us <= magnitude + magnitude / 10;
         us += step) {
      const std::uint32_t middle = histogram_bucket_middle(histogram_bucket(us));
      ASSERT_TRUE(within_bound(middle, us)) << us << " reads " << middle;
    }
  }
}

TEST(RoundTripHistogram, BucketsCoverEveryTimeInOrder) {
  const std::uint32_t edges[] = {0,    127,  128,         129,         255,        256,
                                 4095, 4096, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu};
  std::size_t previous = 0;
  for (std::uint32_t us : edges) {
    const std::size_t bucket = histogram_bucket(us);
    ASSERT_LT(bucket, RoundTripHistogram::kBuckets) << us;
    EXPECT_GE(bucket, previous) << us;
    EXPECT_TRUE(within_bound(histogram_bucket_middle(bucket), us)) << us;
    previous = bucket;
  }
  EXPECT_EQ(histogram_bucket(0xFFFFFFFFu), RoundTripHistogram::kBuckets - 1);
  EXPECT_EQ(histogram_bucket(127), 127u);  // exact below 128 us
}

TEST(RoundTripHistogram, RanksAcrossBuckets) {
  RoundTripHistogram histogram;
  EXPECT_EQ(histogram.at_rank(1), 0u);
  for (std::uint32_t us : {5u, 5u, 7u, 1000000u}) {
    histogram.add(us);
  }
  EXPECT_EQ(histogram.count(), 4u);
  EXPECT_EQ(histogram.at_rank(1), 5u);
  EXPECT_EQ(histogram.at_rank(2), 5u);
  EXPECT_EQ(histogram.at_rank(3), 7u);
  EXPECT_TRUE(within_bound(histogram.at_rank(4), 1000000));
}

// A run longer than the exact store: its percentiles come from the
// histogram, within the bound, and never beyond the extremes.
TEST(RunStatistics, LongRunsKeepTheBound) {
  const struct {
    const char* name;
    std::uint32_t low_us, high_us;
  } cases[] = {
      {"tens of microseconds", 9, 11},
      {"around a millisecond", 900, 1100},
      {"around ten seconds", 9000000, 11000000},
  };
  for (const auto& c : cases) {
    std::vector<std::uint32_t> times;
    for (std::uint32_t i = 0; i < kExactSamples + 1000; ++i) {
      // A spread that is not in order and covers the whole range.
      times.push_back(c.low_us + static_cast<std::uint32_t>(std::uint64_t{i} * 7919 %
                                                            (c.high_us - c.low_us + 1)));
    }
    RunStatistics stats;
    for (std::uint32_t us : times) {
      stats.record_reply(us);
    }
    std::sort(times.begin(), times.end());
    const auto n = static_cast<std::uint32_t>(times.size());
    const StatisticsSummary s = stats.summary();
    EXPECT_TRUE(within_bound(s.median_us, times[nearest_rank(50, n) - 1])) << c.name;
    EXPECT_TRUE(within_bound(s.p90_us, times[nearest_rank(90, n) - 1])) << c.name;
    EXPECT_TRUE(within_bound(s.p99_us, times[nearest_rank(99, n) - 1])) << c.name;
    EXPECT_LE(s.p99_us, times.back()) << c.name;
    EXPECT_EQ(s.min_us, times.front()) << c.name;
    EXPECT_EQ(s.max_us, times.back()) << c.name;
  }
  // Equal times stay exact however many there are.
  RunStatistics equal;
  for (std::uint32_t i = 0; i < kExactSamples + 1; ++i) {
    equal.record_reply(10000);
  }
  EXPECT_EQ(equal.summary().median_us, 10000u);
  EXPECT_EQ(equal.summary().p99_us, 10000u);
}

}  // namespace
}  // namespace vexmo
