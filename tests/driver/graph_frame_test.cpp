#include "driver/graph_frame.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vexmo {
namespace {

GraphPoint reply(std::uint32_t us) {
  return GraphPoint{GraphMark::reply, us};
}
const GraphPoint kLost{GraphMark::lost, 0};
const GraphPoint kError{GraphMark::icmp_error, 0};

std::size_t cells(const std::string& row) {
  std::size_t n = 0;
  for (const char c : row) {
    n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }
  return n;
}

// The exact cells of each frame, row under row as on the screen, without
// their padding (every row is exactly columns - 1 cells wide, checked apart).
TEST(GraphFrame, CellsOfAWindowOfResults) {
  // clang-format off
  const struct {
    std::deque<GraphPoint> points;
    const char* host;
    std::uint32_t columns;
    std::uint32_t height;
    bool ascii;
    std::vector<std::string> rows;
  } cases[] = {
      // Bars in the nearest eighth against a top of 0.100 ms; the marks on
      // the bottom row; the title after the newest.
      {{reply(50), reply(100), kLost, kError, reply(25), reply(7), reply(90)}, "10.0.0.2", 61, 6,
       false,
       {"── 10.0.0.2 ─ last: 0.090 ms ─ lost: 1/7, ICMP errors: 1 ───",
        "0.100 ┤ █    ▅",
        "      │ █    █",
        "0.050 ┤██    █",
        "      │██X!█▂█",
        "   ms  █ reply  X lost  ! ICMP error"}},
      // Only the newest that fit are shown and scaled (the 0.300 ms reply is
      // gone); whole rows of '#'; an odd plot labels its top alone.
      {{reply(300), reply(120), reply(120), reply(120), reply(120), reply(120), reply(120),
        reply(120), reply(120), reply(120), reply(120), reply(120), reply(120), reply(120)},
       "h", 21, 5, true,
       {"-- h - last: 0.120 m",
        "0.200 +",
        "      |#############",
        "      |#############",
        "   ms  # reply  X lo"}},
      // Nothing yet: the least top; a host's control characters are not
      // sent to the terminal.
      {{}, "a\x1b[2Jb", 31, 4, false,
       {"── a?[2Jb ────────────────────",
        "0.010 ┤",
        "0.005 ┤",
        "   ms  █ reply  X lost  ! ICMP"}},
      // A long round trip widens the labels; a reply far below the top
      // keeps its eighth.
      {{reply(1500000), reply(3), kLost}, "h", 31, 4, false,
       {"── h ─ last: no reply ─ lost:",
        "2000.000 ┤▄",
        "1000.000 ┤█▁X",
        "      ms  █ reply  X lost  ! I"}},
      // Too small: no rows.
      {{reply(10)}, "h", 31, 3, false, {}},
      {{reply(10)}, "h", 14, 10, false, {}},
  };
  // clang-format on
  for (const auto& c : cases) {
    const std::vector<std::string> rows =
        graph_frame(c.points, c.host, c.columns, c.height, c.ascii);
    std::vector<std::string> trimmed;
    for (const std::string& row : rows) {
      EXPECT_EQ(cells(row), c.columns - 1) << row;
      trimmed.push_back(row.substr(0, row.find_last_not_of(' ') + 1));
    }
    EXPECT_EQ(trimmed, c.rows) << c.host << " " << c.columns << "x" << c.height;
  }
}

TEST(GraphFrame, HeightOfTheTerminalsFoot) {
  const std::uint32_t cases[][2] = {{50, 10}, {24, 10}, {16, 8}, {9, 4}, {7, 0}, {0, 0}};
  for (const auto& c : cases) {
    EXPECT_EQ(graph_height(c[0]), c[1]) << c[0];
  }
}

}  // namespace
}  // namespace vexmo
