#include "driver/histogram.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "common/locale_name.h"

namespace vexmo {
namespace {

// Counts of each round trip (us) taken so many times.
RttBucketCounts counted(const std::vector<std::pair<std::uint32_t, int>>& round_trips) {
  RttBucketCounts counts{};
  for (const auto& [us, times] : round_trips) {
    for (int n = 0; n < times; ++n) {
      count_round_trip(&counts, us);
    }
  }
  return counts;
}

TEST(Histogram, RowsFromTheFirstToTheLastBucketHeld) {
  const struct {
    std::vector<std::pair<std::uint32_t, int>> round_trips;
    const char* rows;
  } cases[] = {
      {{}, ""},
      {{{0, 1}, {10, 1}, {11, 1}},
       "  0.000 -   0.010 ms |####################| 2\n"
       "  0.010 -   0.020 ms |##########          | 1\n"},
      // Empty buckets between stay; a count far below the largest keeps a cell.
      {{{60, 42}, {1500, 1}},
       "  0.050 -   0.100 ms |####################| 42\n"
       "  0.100 -   0.200 ms |                    | 0\n"
       "  0.200 -   0.500 ms |                    | 0\n"
       "  0.500 -   1.000 ms |                    | 0\n"
       "  1.000 -   2.000 ms |#                   | 1\n"},
      // Wider bounds widen every row alike; past the last bound counts in none.
      {{{99000000, 1}, {100000000, 1}, {100000001, 1}},
       " 50000.000 - 100000.000 ms |####################| 2\n"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(histogram_rows(counted(c.round_trips), false), c.rows) << c.rows;
  }
}

TEST(Histogram, JsonCountsAreCumulative) {
  EXPECT_EQ(histogram_json(counted({{5, 1}, {75, 2}, {150000, 1}})),
            "[{\"le_ms\":0.01,\"count\":1},{\"le_ms\":0.02,\"count\":1},"
            "{\"le_ms\":0.05,\"count\":1},{\"le_ms\":0.1,\"count\":3},{\"le_ms\":0.2,\"count\":3},"
            "{\"le_ms\":0.5,\"count\":3},{\"le_ms\":1,\"count\":3},{\"le_ms\":2,\"count\":3},"
            "{\"le_ms\":5,\"count\":3},{\"le_ms\":10,\"count\":3},{\"le_ms\":20,\"count\":3},"
            "{\"le_ms\":50,\"count\":3},{\"le_ms\":100,\"count\":3},{\"le_ms\":200,\"count\":4},"
            "{\"le_ms\":500,\"count\":4},{\"le_ms\":1000,\"count\":4},{\"le_ms\":2000,\"count\":4},"
            "{\"le_ms\":5000,\"count\":4},{\"le_ms\":10000,\"count\":4},"
            "{\"le_ms\":20000,\"count\":4},{\"le_ms\":50000,\"count\":4},"
            "{\"le_ms\":100000,\"count\":4}]");
}

TEST(Utf8Locale, TheFirstVariableSetDecides) {
  const struct {
    const char* lc_all;
    const char* lc_ctype;
    const char* lang;
    bool utf8;
  } cases[] = {
      {nullptr, nullptr, "en_US.UTF-8", true},
      {nullptr, nullptr, "C.utf8", true},
      {nullptr, "de_DE.Utf-8", "C", true},
      {"C", nullptr, "en_US.UTF-8", false},
      {"", "", "en_US.UTF-8", true},
      {nullptr, nullptr, nullptr, false},
      {nullptr, nullptr, "POSIX", false},
      {nullptr, nullptr, "en_US.ISO-8859-1", false},
      {nullptr, nullptr, "en_US.UTF-16", false},
      {nullptr, nullptr, "utf", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(utf8_locale(c.lc_all, c.lc_ctype, c.lang), c.utf8)
        << (c.lc_all ? c.lc_all : "-") << " " << (c.lc_ctype ? c.lc_ctype : "-") << " "
        << (c.lang ? c.lang : "-");
  }
}

}  // namespace
}  // namespace vexmo
