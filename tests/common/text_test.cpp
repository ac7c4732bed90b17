#include "common/text.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "support/text_print.h"

namespace vexmo {
namespace {

// Appends of every size across the first growths, each checked against
// std::string doing the same, terminator included.
TEST(Text, AppendsAcrossGrowthAsAStringWould) {
  Text text;
  std::string model;
  for (std::size_t piece = 0; piece < 300; piece += 7) {
    const std::string part(piece, static_cast<char>('a' + piece % 26));
    text.append(part.data(), part.size());
    model += part;
    ASSERT_EQ(text, model);
    ASSERT_EQ(text.c_str()[text.size()], '\0');
  }
}

// A text appended to itself reads the part before its buffer moves.
TEST(Text, AppendsItselfThroughAGrowth) {
  Text text(std::string(60, 'x').c_str());
  for (int i = 0; i < 4; ++i) {
    text += text;
  }
  EXPECT_EQ(text, std::string(960, 'x'));
  Text tail("abcdef");
  tail.append(tail.data() + 3, 3);
  EXPECT_EQ(tail, "abcdefdef");
}

TEST(Text, OperationsAsTheLinesUseThem) {
  Text moved_from("kept");
  const Text moved = std::move(moved_from);
  Text assigned("old");
  assigned = moved;
  Text empty;
  empty.pop_back();  // nothing to take
  Text line("Packets\n");
  line.pop_back();
  const struct {
    const char* name;
    Text text;
    const char* expected;
  } cases[] = {
      {"default", Text(), ""},
      {"moved", moved, "kept"},
      {"copy assigned", assigned, "kept"},
      {"pop_back of an empty text", empty, ""},
      {"pop_back", line, "Packets"},
      {"text + literal", Text("Error ") + "10040.", "Error 10040."},
      {"literal + text", "Unknown code " + decimal(255), "Unknown code 255"},
      {"text + text", Text("a") + Text("b"), "ab"},
      {"char", Text("x") += '"', "x\""},
      {"decimal 0", decimal(0), "0"},
      {"decimal of the largest value", decimal(18446744073709551615ull), "18446744073709551615"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.text, c.expected) << c.name;
    EXPECT_EQ(c.text.size(), std::string(c.expected).size()) << c.name;
  }
  EXPECT_TRUE(Text().empty());
  EXPECT_STREQ(Text().c_str(), "");
}

}  // namespace
}  // namespace vexmo
