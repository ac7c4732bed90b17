#include "cli/command_line.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/capture.h"

namespace vexmo {
namespace {

struct NumberCase {
  const char* text;
  int base;
  std::uint32_t value;
  std::size_t consumed;  // characters read; 0 when no number was read
};

TEST(ParseU32, ReadsLikeA32BitStrtoul) {
  const NumberCase cases[] = {
      {"64", 0, 64, 2},
      {"0x40", 0, 64, 4},
      {"0X40", 0, 64, 4},
      {"010", 0, 8, 3},
      {"08", 0, 0, 1},     // octal stops at the 8
      {"0x40", 10, 0, 1},  // base 10 stops at the x
      {"0x", 0, 0, 1},     // a prefix without digits is just the 0
      {"0xg", 16, 0, 1},
      {"  \t\n\v\f\r12", 10, 12, 9},
      {"+7", 10, 7, 2},
      {"-5", 10, 4294967291u, 2},
      {"4294967295", 10, 4294967295u, 10},
      {"4294967296", 10, 4294967295u, 10},  // too large for 32 bits
      {"99999999999999999999999", 0, 4294967295u, 23},
      {"-4294967296", 10, 1, 11},  // overflow, then negated
      {"12abc", 10, 12, 2},
      {"abc", 10, 0, 0},
      {"", 0, 0, 0},
      {"-", 0, 0, 0},
      {" - 5", 0, 0, 0},
  };
  for (const NumberCase& c : cases) {
    const char* end = nullptr;
    EXPECT_EQ(parse_u32(c.text, c.base, &end), c.value) << c.text << " base " << c.base;
    EXPECT_EQ(static_cast<std::size_t>(end - c.text), c.consumed) << c.text;
  }
}

TEST(ParseTos, BuildsTheTypeOfServiceByte) {
  const struct {
    const char* text;
    unsigned byte;
  } cases[] = {
      {"2:d:t", 0x58}, {"D", 0x10},  {"9", 0x20},  {"7:m", 0xE2},   {"0x2d", 0xA0},
      {"0", 0x00},     {"7", 0xE0},  {":r", 0x04}, {"dtrm", 0x1E},  {"1:D:T:R:M", 0x3E},
      {"x", 0x00},     {"-d", 0x10}, {"-1", 0xE0}, {"3:q:d", 0x70}, {"", 0x00},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(parse_tos(c.text), c.byte) << c.text;
  }
}

struct ParsedCase {
  std::vector<const char*> args;  // without the program name
  RunSettings expected;
  const char* err = "";  // standard error
};

RunSettings with(void (*change)(RunSettings*)) {
  RunSettings settings;
  settings.host = "h";
  change(&settings);
  return settings;
}

TEST(ParseCommandLine, FillsTheSettings) {
  const ParsedCase cases[] = {
      {{"h"}, with([](RunSettings*) {})},
      {{"-n", "5", "h"}, with([](RunSettings* s) { s->size = 16; })},
      {{"-n", "15", "h"}, with([](RunSettings* s) { s->size = 16; })},
      {{"-n", "16", "h"}, with([](RunSettings* s) { s->size = 16; })},
      {{"-n", "17", "h"}, with([](RunSettings* s) { s->size = 16; })},
      {{"-n", "65536", "h"}, with([](RunSettings* s) { s->size = 65536; })},
      {{"-n", "65537", "h"}, with([](RunSettings* s) { s->size = 65536; })},
      {{"-n", "1001", "h"}, with([](RunSettings* s) { s->size = 1000; })},
      {{"-n", "100000", "h"}, with([](RunSettings* s) { s->size = 65536; })},
      {{"-n", "abc", "h"}, with([](RunSettings* s) { s->size = 16; })},
      {{"-n", "0x40", "h"}, with([](RunSettings* s) { s->size = 16; })},
      {{"-n", "-5", "h"}, with([](RunSettings* s) { s->size = 65536; })},
      {{"-n", "65535", "h"}, with([](RunSettings* s) { s->size = 65534; })},
      {{"-i", "0x40", "h"}, with([](RunSettings* s) { s->ttl = 64, s->ttl_given = true; })},
      {{"-i", "64", "h"}, with([](RunSettings* s) { s->ttl = 64, s->ttl_given = true; })},
      {{"-i", "010", "h"}, with([](RunSettings* s) { s->ttl = 8, s->ttl_given = true; })},
      {{"-i", "300", "h"}, with([](RunSettings* s) { s->ttl = 300, s->ttl_given = true; })},
      {{"-c", "0", "h"}, with([](RunSettings* s) { s->count = 1; })},
      {{"-c", "0x10", "h"}, with([](RunSettings* s) { s->count = 16; })},
      {{"h", "-c"}, with([](RunSettings*) {})},
      {{"-w", "0", "h"}, with([](RunSettings* s) { s->timeout_ms = 0; })},
      {{"-w", "1500", "h"}, with([](RunSettings* s) { s->timeout_ms = 1500; })},
      {{"-t", "3", "h"}, with([](RunSettings* s) { s->tos = 0x60, s->tos_given = true; })},
      {{"-f", "h"}, with([](RunSettings* s) { s->dont_fragment = true; })},
      {{"-n", "-f", "100", "h"},
       with([](RunSettings* s) { s->size = 100, s->dont_fragment = true; })},
      {{"-n", "-c", "3", "h"}, with([](RunSettings* s) { s->count = 3; })},
      {{"-4", "h"}, with([](RunSettings* s) { s->family = FamilyChoice::ipv4; })},
      {{"-6", "h"}, with([](RunSettings* s) { s->family = FamilyChoice::ipv6; })},
      {{"-4", "-6", "h"}, with([](RunSettings* s) { s->family = FamilyChoice::ipv6; })},
      {{"-6", "-4", "h"}, with([](RunSettings* s) { s->family = FamilyChoice::ipv4; })},
      // Like -f, neither takes a value nor ends one that is pending.
      {{"-n", "-6", "100", "h"},
       with([](RunSettings* s) { s->size = 100, s->family = FamilyChoice::ipv6; })},
      {{"--json", "h"}, with([](RunSettings* s) { s->json = true; })},
      {{"h", "--stats"}, with([](RunSettings* s) { s->stats = true; })},
      {{"--stats", "--json", "h"}, with([](RunSettings* s) { s->json = s->stats = true; })},
      // Like -f, the new flags leave a pending value option waiting.
      {{"-c", "--json", "3", "h"}, with([](RunSettings* s) { s->count = 3, s->json = true; })},
      {{"-w", "-5", "h"}, with([](RunSettings* s) { s->timeout_ms = 4294967291u; })},
      {{"g", "-c", "2", "h"},
       with([](RunSettings* s) { s->count = 2; }),
       "vexmo: more than one host given; using h\n"},
      {{"--interval", "250ms", "h"}, with([](RunSettings* s) { s->interval_ms = 250; })},
      {{"--interval=10", "h"}, with([](RunSettings* s) { s->interval_ms = 10; })},
      {{"-c", "--deadline", "1.5s", "3", "h"},
       with([](RunSettings* s) { s->deadline_ms = 1500, s->count = 3; })},
      {{"--continuous", "-D", "-q", "--histogram", "h"}, with([](RunSettings* s) {
         s->continuous = s->timestamps = s->quiet = s->histogram = true;
       })},
      {{"--timestamps", "--quiet", "h"},
       with([](RunSettings* s) { s->timestamps = s->quiet = true; })},
      {{"--graph", "h"}, with([](RunSettings* s) { s->graph = GraphChoice::automatic; })},
      {{"h", "--graph=ascii"}, with([](RunSettings* s) { s->graph = GraphChoice::ascii; })},
  };
  for (const ParsedCase& c : cases) {
    std::vector<const char*> argv = {"vexmo"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    RunSettings got;
    std::string label;
    for (const char* arg : c.args) {
      label += std::string(arg) + " ";
    }
    CommandLineResult result = CommandLineResult::usage_shown;
    const auto printed = captured_streams(
        [&] { result = parse_command_line(static_cast<int>(argv.size()), argv.data(), &got); });
    ASSERT_EQ(result, CommandLineResult::run) << label;
    EXPECT_EQ(printed.second, c.err) << label;
    ASSERT_NE(got.host, nullptr) << label;
    EXPECT_STREQ(got.host, c.expected.host) << label;
    EXPECT_EQ(got.size, c.expected.size) << label;
    EXPECT_EQ(got.count, c.expected.count) << label;
    EXPECT_EQ(got.timeout_ms, c.expected.timeout_ms) << label;
    EXPECT_EQ(got.ttl_given, c.expected.ttl_given) << label;
    if (got.ttl_given) {
      EXPECT_EQ(got.ttl, c.expected.ttl) << label;
    }
    EXPECT_EQ(got.tos_given, c.expected.tos_given) << label;
    if (got.tos_given) {
      EXPECT_EQ(got.tos, c.expected.tos) << label;
    }
    EXPECT_EQ(got.dont_fragment, c.expected.dont_fragment) << label;
    EXPECT_EQ(got.family, c.expected.family) << label;
    EXPECT_EQ(got.json, c.expected.json) << label;
    EXPECT_EQ(got.stats, c.expected.stats) << label;
    EXPECT_EQ(got.interval_ms, c.expected.interval_ms) << label;
    EXPECT_EQ(got.deadline_ms, c.expected.deadline_ms) << label;
    EXPECT_EQ(got.continuous, c.expected.continuous) << label;
    EXPECT_EQ(got.timestamps, c.expected.timestamps) << label;
    EXPECT_EQ(got.quiet, c.expected.quiet) << label;
    EXPECT_EQ(got.histogram, c.expected.histogram) << label;
    EXPECT_EQ(got.graph, c.expected.graph) << label;
  }
}

// A value the watching options cannot take ends the reading before anything
// is sent; the message (on standard error) names the option.
TEST(ParseCommandLine, RefusesWhatTheWatchingOptionsCannotTake) {
  const std::vector<std::vector<const char*>> cases = {
      {"vexmo", "--interval", "0", "h"},  {"vexmo", "--interval", "5ms", "h"},
      {"vexmo", "--interval", "9", "h"},  {"vexmo", "--interval", "abc", "h"},
      {"vexmo", "h", "--interval"},       {"vexmo", "--interval=", "h"},
      {"vexmo", "--deadline", "-1", "h"}, {"vexmo", "--deadline", "1x", "h"},
      {"vexmo", "--deadline", "0", "h"},  {"vexmo", "--deadline", "4294967296", "h"},
      {"vexmo", "h", "--graph=foo"},      {"vexmo", "h", "--graph="},
  };
  for (const auto& argv : cases) {
    RunSettings settings;
    CommandLineResult result = CommandLineResult::run;
    const std::string out = captured_stdout([&] {
      result = parse_command_line(static_cast<int>(argv.size()), argv.data(), &settings);
    });
    EXPECT_EQ(result, CommandLineResult::bad_input) << argv[2];
    EXPECT_EQ(out, "") << argv[2];
  }
}

// Nothing to ping, or an argument that begins with '-' and is no option: the
// usage text, on standard error under --json, after the refusal's line.
TEST(ParseCommandLine, ShowsTheUsageWhenThereIsNothingToPing) {
  // clang-format off
  const struct {
    std::vector<const char*> args;
    const char* err;  // the first line on standard error; "" for none
  } cases[] = {
      {{"vexmo"}, ""},
      {{"vexmo", "-f"}, ""},
      {{"vexmo", "-n", "100", "-c", "3"}, ""},
      {{"vexmo", "-6"}, ""},
      {{"vexmo", "-4", "-f"}, ""},
      {{"vexmo", "-c", "2", "127.0.0.1", "-W", "1"}, "vexmo: unknown option -W\n"},
      {{"vexmo", "127.0.0.1", "-c2"}, "vexmo: unknown option -c2\n"},
      {{"vexmo", "-x", "a", "h"}, "vexmo: unknown option -x\n"},
      {{"vexmo", "-c", "-x", "h"}, "vexmo: unknown option -x\n"},
      {{"vexmo", "h", "-46"}, "vexmo: unknown option -46\n"},
      // Only the exact words are options.
      {{"vexmo", "--JSON", "h"}, "vexmo: unknown option --JSON\n"},
      {{"vexmo", "--json=1", "h"}, "vexmo: unknown option --json=1\n"},
      {{"vexmo", "--help=1"}, "vexmo: unknown option --help=1\n"},
      {{"vexmo", "-"}, "vexmo: unknown option -\n"},
      {{"vexmo", "--"}, "vexmo: unknown option --\n"},
      {{"vexmo", "--version1", "-c", "2"}, "vexmo: unknown option --version1\n"},
      {{"vexmo", "--json", "-v", "h"}, "vexmo: unknown option -v\n"},
      {{"vexmo", "-c", "3", "--json"}, ""},
  };
  // clang-format on
  for (const auto& c : cases) {
    RunSettings settings;
    CommandLineResult result = CommandLineResult::run;
    const auto printed = captured_streams([&] {
      result = parse_command_line(static_cast<int>(c.args.size()), c.args.data(), &settings);
    });
    bool json = false;
    for (const char* arg : c.args) {
      json = json || std::string(arg) == "--json";
    }
    const std::string& usage_stream = json ? printed.second : printed.first;
    EXPECT_EQ(result, CommandLineResult::usage_shown) << c.args.back();
    EXPECT_EQ(printed.second.compare(0, std::strlen(c.err), c.err), 0) << c.args.back();
    EXPECT_NE(usage_stream.find("Syntax: vexmo [options] host\n"), std::string::npos)
        << c.args.back();
    EXPECT_EQ(json ? printed.first : "", "") << c.args.back();
  }
}

// The words that ask for the usage text or the version end the reading,
// wherever they stand, even in the place of a pending value.
TEST(ParseCommandLine, HelpAndVersionWhenAsked) {
  const std::string usage = captured_stdout([] { print_usage(); });
  const std::string version = std::string("vexmo ") + VEXMO_VERSION + "\n";
  const std::string none;
  const struct {
    std::vector<const char*> args;
    CommandLineResult result;
    const std::string& out;
  } cases[] = {
      {{"-h"}, CommandLineResult::help_shown, usage},
      {{"-?"}, CommandLineResult::help_shown, usage},
      {{"--help"}, CommandLineResult::help_shown, usage},
      {{"10.0.0.2", "-c", "3", "--help"}, CommandLineResult::help_shown, usage},
      {{"-n", "-h", "10.0.0.2"}, CommandLineResult::help_shown, usage},
      {{"--json", "-?"}, CommandLineResult::help_shown, none},  // JSON only on standard output
      {{"--version"}, CommandLineResult::version_shown, version},
      {{"10.0.0.2", "--version"}, CommandLineResult::version_shown, version},
      {{"--version", "--help"}, CommandLineResult::version_shown, version},
      {{"--help", "--version"}, CommandLineResult::help_shown, usage},
  };
  for (const auto& c : cases) {
    std::vector<const char*> argv = {"vexmo"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    RunSettings settings;
    CommandLineResult result = CommandLineResult::run;
    const std::string out = captured_stdout([&] {
      result = parse_command_line(static_cast<int>(argv.size()), argv.data(), &settings);
    });
    EXPECT_EQ(result, c.result) << c.args.back();
    EXPECT_EQ(out, c.out) << c.args.back();
  }
}

TEST(PrintUsage, PrintsEveryLineInOrder) {
  const std::string out = captured_stdout([] { print_usage(); });
  const char* const lines[] = {
      "Syntax: vexmo [options] host\n",
      "Options:\n",
      " -n <size>\tSize of the buffer to use. (16 ... 65536, Default is 56)\n",
      " -c <count>\tMessage count (Default is 5)\n",
      " -f\t\tDon't fragment packets\n",
      " -i <ttl>\tLimit to specified Time To Life.\n",
      " -t <tos>\tType Of Service. (Priority[:D][:T][:R][:M])\n",
      "\t\tPriority: 0 ... 7 (Routine ... Network control)\n",
      "\t\tD (Low delay)\n",
      "\t\tT (High throughput)\n",
      "\t\tR (High reliability)\n",
      "\t\tM (Minimize monetary cost)\n",
      " -w <timelimit>\tTimeout. (Default is 3000 ms)\n",
      " -4\t\tForce using IPv4\n",
      " -6\t\tForce using IPv6\n",
      " --stats\tMore round-trip figures. (Median, P90, P99, StdDev, Jitter)\n",
      " --json\t\tJSON Lines on standard output. (One object per line)\n",
      " --interval <duration>\tA request every duration. (10ms or more: 250ms, 1.5s)\n",
      " --deadline <duration>\tEnd the run after so long.\n",
      " --continuous\tRequests until stopped. (-c is ignored)\n",
      " -D, --timestamps\tThe time before every line.\n",
      " -q, --quiet\tThe opening line and the summary only.\n",
      " --histogram\tThe round trips' distribution after the summary.\n",
      " --graph[=ascii]\tA live chart at the foot of the terminal.\n",
      " --exit-status\tExit status 0 with a reply, 1 without, 2 when it cannot start.\n",
      " --max-loss <percent>\tAlso status 1 above this loss. (0 ... 100)\n",
      " --metrics-file <path>\tPrometheus metrics, rewritten after each request.\n",
      " -h, -?, --help\tShow this text.\n",
      " --version\tShow the version.\n",
      "\n",
      "Example: vexmo -f -t 2:d:t -i 64 ",
      " (Don't fragment, TTL 64, Priority 2, Low Delay, High throughput)\n",
  };
  // One banner line, then the lines above, each right after the previous one.
  std::size_t at = out.find('\n') + 1;
  for (const char* line : lines) {
    ASSERT_EQ(out.compare(at, std::strlen(line), line), 0) << "expected: " << line;
    at = line[std::strlen(line) - 1] == '\n' ? at + std::strlen(line) : out.find('\n', at) + 1;
  }
  EXPECT_EQ(at, out.size());
}

}  // namespace
}  // namespace vexmo
