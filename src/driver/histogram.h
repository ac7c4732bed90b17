// The distribution of the echo replies' round trips (--histogram), on the
// buckets of rtt_buckets.h: rows of text after the summary, or the summary
// object's cumulative counts in JSON.
#ifndef VEXMO_DRIVER_HISTOGRAM_H
#define VEXMO_DRIVER_HISTOGRAM_H

#include <cstdint>
#include <cstdio>
#include <string>

#include "driver/output.h"
#include "driver/rtt_buckets.h"

namespace vexmo {

// One row per bucket from the first to the last that holds anything, each
// with its line feed: the range in ms, a bar scaled to the largest count
// (blocks: of block characters, else of '#') and the count:
// "  0.050 -   0.100 ms |##########          | 42". Empty when every bucket
// is.
std::string histogram_rows(const RttBucketCounts& counts, bool blocks);

// The JSON array of every bucket, counts cumulative as Prometheus has them:
// [{"le_ms":0.01,"count":0},...,{"le_ms":100000,"count":42}].
std::string histogram_json(const RttBucketCounts& counts);

class Histogram final : public Output {
 public:
  // timestamps: -D, as the text lines have it.
  Histogram(std::FILE* out, bool blocks, bool timestamps)
      : out_(out), blocks_(blocks), timestamps_(timestamps) {}

  void reply(const ReplyFacts& facts) override;
  void summary(const SummaryFacts& facts) override;

 private:
  std::FILE* out_;
  bool blocks_;
  bool timestamps_;
  RttBucketCounts counts_{};
};

}  // namespace vexmo

#endif  // VEXMO_DRIVER_HISTOGRAM_H
