#include "driver/live_graph.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/capture.h"
#include "support/fake_platform.h"

namespace vexmo {
namespace {

// Whether each piece comes in text, in this order; '^' in a piece stands
// for the escape character.
bool in_order(const std::string& text, const std::vector<std::string>& pieces) {
  std::size_t at = 0;
  for (std::string piece : pieces) {
    for (char& c : piece) {
      c = c == '^' ? '\x1b' : c;
    }
    at = text.find(piece, at);
    if (at == std::string::npos) {
      return false;
    }
    at += piece.size();
  }
  return true;
}

// What the graph writes around the lines: the region kept at the foot, the
// chart drawn there, a resize followed, and the terminal given back on
// every way out.
TEST(LiveGraph, TerminalHandling) {
  const std::string room = "^7^[r^8" + std::string(10, '\n') + "^[10A^[J^7^[1;14r^8";
  const std::string restore = "^[r^[999;1H\n";
  // clang-format off
  const struct {
    const char* name;
    TerminalKind kind;
    std::vector<TerminalSize> sizes;  // at the start, then at each reply
    bool summary;
    std::vector<std::string> out;  // pieces, in order, the last at the end; {}: nothing
    int closes;
  } cases[] = {
      {"no terminal", TerminalKind::none, {{24, 80}, {24, 80}}, true, {}, 0},
      {"no control sequences", TerminalKind::plain, {{24, 80}}, true, {}, 0},
      {"room below, the region above, a chart per event, the cursor below",
       TerminalKind::controlled, {{24, 80}, {24, 80}}, true,
       {room, "^7^[15;1H", "^[24;1H", "^[K^8", "^7^[15;1H", "last: 1.000 ms", "^[K^8", restore}, 1},
      {"a resize: the region again, the old chart cleared", TerminalKind::controlled,
       {{24, 80}, {16, 50}}, true, {room, "^7^[r^8" + std::string(8, '\n') + "^[8A^[J^7^[1;8r^8^7^[9;1H", restore}, 1},
      {"too small, then big enough", TerminalKind::controlled, {{6, 80}, {24, 80}}, true,
       {room, restore}, 1},
      {"too small throughout: nothing to give back", TerminalKind::controlled,
       {{6, 80}, {6, 80}}, true, {}, 1},
      {"no summary: given back all the same", TerminalKind::controlled, {{24, 80}, {24, 80}},
       false, {room, restore}, 1},
  };
  // clang-format on
  for (const auto& c : cases) {
    fake::reset();
    fake::state().terminal = c.kind;
    const auto [out, err] = captured_streams([&] {
      LiveGraph graph(stdout, stderr, false);
      StartFacts start;
      start.host = "10.0.0.2";
      fake::state().terminal_size = c.sizes[0];
      graph.start(start);
      for (std::size_t i = 1; i < c.sizes.size(); ++i) {
        fake::state().terminal_size = c.sizes[i];
        ReplyFacts reply;
        reply.rtt_us = 1000;
        graph.reply(reply);
      }
      if (c.summary) {
        graph.summary(SummaryFacts{});
      }
    });
    EXPECT_TRUE(c.out.empty() ? out.empty() : in_order(out, c.out)) << c.name;
    EXPECT_TRUE(c.out.empty() || in_order(out.substr(out.size() - 13), {restore})) << c.name;
    EXPECT_EQ(err, c.kind == TerminalKind::plain
                       ? "vexmo: no graph: the terminal takes no control sequences\n"
                       : "")
        << c.name;
    EXPECT_EQ(fake::state().terminal_closes, c.closes) << c.name;
  }
}

}  // namespace
}  // namespace vexmo
