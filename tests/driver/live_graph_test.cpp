#include "driver/live_graph.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/capture.h"
#include "support/fake_platform.h"

namespace vexmo {
namespace {

// Whether each piece comes in text, in this order.
bool in_order(const std::string& text, const std::vector<std::string>& pieces) {
  std::size_t at = 0;
  for (const std::string& piece : pieces) {
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
  const std::string restore = "\x1b[r\x1b[999;1H\n";
  const struct {
    const char* name;
    TerminalKind kind;
    std::vector<TerminalSize> sizes;  // at the start, then at each reply
    bool summary;
    std::vector<std::string> out;  // pieces, in order; {}: nothing at all
    int closes;
  } cases[] = {
      {"no terminal: nothing", TerminalKind::none, {{24, 80}, {24, 80}}, true, {}, 0},
      {"no control sequences: nothing", TerminalKind::plain, {{24, 80}}, true, {}, 0},
      {"room below, the region above, a chart per request, the cursor below",
       TerminalKind::controlled,
       {{24, 80}, {24, 80}},
       true,
       {std::string(10, '\n') + "\x1b[10A\x1b"
                                "7\x1b[1;14r\x1b"
                                "8",
        "\x1b"
        "7\x1b[15;1H",
        "\x1b[24;1H",
        "\x1b[K\x1b"
        "8",
        "\x1b[15;1H", "last: 1.000 ms",
        "\x1b"
        "8",
        restore},
       1},
      {"a resize: the region again, the old chart cleared",
       TerminalKind::controlled,
       {{24, 80}, {16, 50}},
       true,
       {"\x1b[1;14r",
        "\x1b[1;8r\x1b[8;1H\n\x1b[J\x1b"
        "7\x1b[9;1H",
        restore},
       1},
      {"too small, then big enough: the region once there is room",
       TerminalKind::controlled,
       {{6, 80}, {24, 80}},
       true,
       {"\x1b[1;14r", restore},
       1},
      {"too small throughout: nothing to give back",
       TerminalKind::controlled,
       {{6, 80}, {6, 80}},
       true,
       {},
       1},
      {"no summary: given back all the same",
       TerminalKind::controlled,
       {{24, 80}, {24, 80}},
       false,
       {"\x1b[1;14r", restore},
       1},
  };
  for (const auto& c : cases) {
    fake::reset();
    fake::state().terminal = c.kind;
    std::string out;
    std::string err;
    std::tie(out, err) = captured_streams([&] {
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
    if (c.out.empty()) {
      EXPECT_EQ(out, "") << c.name;
    } else {
      EXPECT_TRUE(in_order(out, c.out)) << c.name;
      EXPECT_EQ(out.substr(out.size() - restore.size()), restore) << c.name;
    }
    EXPECT_EQ(err, c.kind == TerminalKind::plain
                       ? "vexmo: no graph: the terminal takes no control sequences\n"
                       : "")
        << c.name;
    EXPECT_EQ(fake::state().terminal_closes, c.closes) << c.name;
  }
}

}  // namespace
}  // namespace vexmo
