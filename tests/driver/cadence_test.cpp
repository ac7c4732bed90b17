#include "driver/cadence.h"

#include <gtest/gtest.h>

namespace vexmo {
namespace {

// The cut of request k's wait and the pause after it, at a time in the run.
TEST(Cadence, WaitCutAndPauseBySlotAndDeadline) {
  const struct {
    const char* name;
    Cadence cadence;
    std::uint32_t k;
    std::uint64_t now_us;
    bool answered;
    std::optional<std::uint32_t> cut_ms;
    std::uint32_t pause_ms;
  } cases[] = {
      {"no beat, no deadline: the timeout alone", {0, 0, 5}, 1, 1500, true, std::nullopt, 1000},
      {"no beat: no pause after a failure", {0, 0, 5}, 1, 1500, false, std::nullopt, 0},
      {"the last request: no pause", {0, 0, 5}, 4, 1500, true, std::nullopt, 0},
      {"to the next slot, nearest ms", {100000, 0, 5}, 1, 100400, true, 100, 100},
      {"nearest ms, down", {100000, 0, 5}, 1, 100600, true, 99, 99},
      {"late for its slot: a millisecond still", {100000, 0, 5}, 1, 230000, true, 1, 0},
      {"the last slot ends too", {100000, 0, 5}, 4, 400000, true, 100, 0},
      {"the deadline first, rounded up", {100000, 250000, 5}, 2, 200600, true, 50, 50},
      {"a slot at the deadline: waited out", {100000, 300000, 5}, 2, 200600, true, 100, 100},
      {"deadline past", {0, 1000000, 0}, 7, 1000500, true, 0, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(wait_cut_ms(c.cadence, c.k, c.now_us), c.cut_ms) << c.name;
    EXPECT_EQ(pause_after_ms(c.cadence, c.k, c.now_us, c.answered), c.pause_ms) << c.name;
  }
}

}  // namespace
}  // namespace vexmo
