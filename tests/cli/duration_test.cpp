#include "cli/duration.h"

#include <gtest/gtest.h>

namespace vexmo {
namespace {

TEST(ParseDuration, MillisecondsOrANumberWithItsUnit) {
  const struct {
    const char* text;
    std::optional<std::uint32_t> ms;
  } cases[] = {
      // clang-format off
      {"250", 250}, {"250ms", 250}, {"1.5s", 1500}, {"10m", 600000}, {"1h", 3600000},
      {"0.25s", 250}, {".5s", 500}, {"2.", 2}, {"1.9ms", 1}, {"0", 0},
      {"4294967295", 4294967295u}, {"1193h", 4294800000u},
      // No duration: empty, signed, spaced, an unknown unit, too long.
      {"", std::nullopt}, {"abc", std::nullopt}, {"1x", std::nullopt}, {"-1", std::nullopt},
      {"+5", std::nullopt}, {" 5", std::nullopt}, {"5 ", std::nullopt}, {"s", std::nullopt},
      {".", std::nullopt}, {"1.2.3", std::nullopt}, {"1sec", std::nullopt},
      {"1MS", std::nullopt}, {"4294967296", std::nullopt}, {"1194h", std::nullopt},
      {"99999999999999999999ms", std::nullopt},
      // clang-format on
  };
  for (const auto& c : cases) {
    EXPECT_EQ(parse_duration_ms(c.text), c.ms) << '"' << c.text << '"';
  }
}

}  // namespace
}  // namespace vexmo
