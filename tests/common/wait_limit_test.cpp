#include "common/wait_limit.h"

#include <gtest/gtest.h>

namespace vexmo {
namespace {

TEST(WaitLimit, ElapsedMilliseconds) {
  constexpr std::uint64_t kGigahertz = 1000000000u;
  const struct {
    std::uint64_t start, now, frequency, ms;
  } cases[] = {
      {0, 0, kGigahertz, 0},
      {5, 4, kGigahertz, 0},  // backwards: nothing has passed
      {0, 999999, kGigahertz, 0},
      {0, 1000000, kGigahertz, 1},
      {1000, 1000 + 3000u * 1000000, kGigahertz, 3000},
      // 2^32 ms at 1 GHz: ticks * 1000 would overflow 64 bits.
      {0, 4294967296000000ull, kGigahertz, 4294967296ull},
      {7, 7 + 4294967295000000ull, kGigahertz, 4294967295ull},
      // A Windows counter at 10 MHz, and an odd one.
      {0, 25000, 10000000, 2},
      {0, 3, 3, 1000},
      {0, 0xFFFFFFFFFFFFFFFFull, 1000, 0xFFFFFFFFFFFFFFFFull},
      {0, 1, 0, 0},  // no frequency: nothing can be measured
  };
  for (const auto& c : cases) {
    EXPECT_EQ(elapsed_ms(c.start, c.now, c.frequency), c.ms) << c.start << " " << c.now;
  }
}

TEST(WaitLimit, TimeLeft) {
  const struct {
    std::uint32_t limit;
    std::uint64_t elapsed;
    std::uint32_t left;
  } cases[] = {
      {3000, 0, 3000},
      {3000, 2999, 1},
      {3000, 3000, 0},
      {3000, 3001, 0},
      {0, 0, 0},
      {0x80000000u, 0, 0x80000000u},  // 2^31 ms: more than one poll can take
      {0xFFFFFFFFu, 0x7FFFFFFFu, 0x80000000u},
      {0xFFFFFFFFu, 0xFFFFFFFFu, 0},
      {0xFFFFFFFFu, 0x100000000ull, 0},  // past 2^32 ms: no wrap back to a long wait
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ms_left(c.limit, c.elapsed), c.left) << c.limit << " " << c.elapsed;
  }
}

}  // namespace
}  // namespace vexmo
