#include "cli/command_line.h"

#include <cstdio>
#include <cstring>

#include "cli/duration.h"

namespace vexmo {
namespace {

enum class Pending { none, size, tos, ttl, timeout, count };

bool is_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int digit_value(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'a' && c <= 'z') {
    return c - 'a' + 10;
  }
  if (c >= 'A' && c <= 'Z') {
    return c - 'A' + 10;
  }
  return 99;
}

std::uint32_t clamp_size(std::uint32_t size) {
  if (size < 16) {
    size = 16;
  } else if (size > 65536) {
    size = 65536;
  }
  return size & ~1u;
}

// What an option reader made of argv[*i]: taken (and *i moved past any
// value), not_mine, or bad (one line on standard error said why).
enum class OptionRead { not_mine, taken, bad };

// The options of scripts and monitoring, each with its value in the next
// argument.
OptionRead monitoring_option(int argc, const char* const* argv, int* i, RunSettings* settings) {
  const char* arg = argv[*i];
  if (std::strcmp(arg, "--exit-status") == 0) {
    settings->exit_status = true;
    return OptionRead::taken;
  }
  const bool max_loss = std::strcmp(arg, "--max-loss") == 0;
  if (!max_loss && std::strcmp(arg, "--metrics-file") != 0) {
    return OptionRead::not_mine;
  }
  const char* value = *i + 1 < argc ? argv[*i + 1] : nullptr;
  if (max_loss) {
    if (value == nullptr || !parse_percent(value, &settings->max_loss_thousandths)) {
      std::fprintf(stderr, "vexmo: --max-loss takes a percentage from 0 to 100, not %s\n",
                   value == nullptr ? "nothing" : value);
      return OptionRead::bad;
    }
    settings->exit_status = true;
  } else {
    if (value == nullptr || value[0] == '\0') {
      std::fprintf(stderr, "vexmo: --metrics-file takes the path of the file to write\n");
      return OptionRead::bad;
    }
    settings->metrics_file = value;
  }
  ++*i;
  return OptionRead::taken;
}

// No host name begins with '-' (RFC 952, RFC 1123): such an argument is an
// option, or a negative number given as a pending option's value.
bool is_stray_option(const char* arg, Pending pending) {
  if (arg[0] != '-') {
    return false;
  }
  return pending == Pending::none || !(arg[1] >= '0' && arg[1] <= '9');
}

// Standard output carries JSON only under --json, wherever it stands.
std::FILE* usage_stream(int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--json") == 0) {
      return stderr;
    }
  }
  return stdout;
}

// The shortest --interval: below it a run would flood rather than watch.
constexpr std::uint32_t kShortestIntervalMs = 10;

// The value of a duration option: "--name VALUE" or "--name=VALUE". False
// (with the line said) when it is missing or shorter than least_ms.
bool take_duration(const char* name, std::uint32_t least_ms, const char* what, int argc,
                   const char* const* argv, int* i, std::uint32_t* ms) {
  const char* arg = argv[*i];
  const std::size_t length = std::strlen(name);
  const char* value = nullptr;
  if (arg[length] == '=') {
    value = arg + length + 1;
  } else if (*i + 1 < argc) {
    value = argv[++*i];
  }
  const std::optional<std::uint32_t> parsed =
      value == nullptr ? std::nullopt : parse_duration_ms(value);
  if (!parsed || *parsed < least_ms) {
    std::fprintf(stderr, "vexmo: %s takes %s, such as 250ms, 1.5s, 10m or 1h (not \"%s\")\n", name,
                 what, value == nullptr ? "" : value);
    return false;
  }
  *ms = *parsed;
  return true;
}

// The options that watch a link (cadence, deadline, output shape).
OptionRead take_watch_option(int argc, const char* const* argv, int* i, RunSettings* settings) {
  const char* arg = argv[*i];
  const auto is = [arg](const char* name) {
    const std::size_t n = std::strlen(name);
    return std::strncmp(arg, name, n) == 0 && (arg[n] == '\0' || arg[n] == '=');
  };
  bool good = true;
  if (is("--interval")) {
    good = take_duration("--interval", kShortestIntervalMs, "a duration of 10 ms or more", argc,
                         argv, i, &settings->interval_ms);
  } else if (is("--deadline")) {
    good = take_duration("--deadline", 1, "a duration above zero", argc, argv, i,
                         &settings->deadline_ms);
  } else if (std::strcmp(arg, "--continuous") == 0) {
    settings->continuous = true;
  } else if (std::strcmp(arg, "-D") == 0 || std::strcmp(arg, "--timestamps") == 0) {
    settings->timestamps = true;
  } else if (std::strcmp(arg, "-q") == 0 || std::strcmp(arg, "--quiet") == 0) {
    settings->quiet = true;
  } else if (std::strcmp(arg, "--histogram") == 0) {
    settings->histogram = true;
  } else if (std::strcmp(arg, "--graph") == 0) {
    settings->graph = GraphChoice::automatic;
  } else if (is("--graph")) {
    settings->graph = GraphChoice::ascii;
    good = std::strcmp(arg, "--graph=ascii") == 0;
    if (!good) {
      std::fprintf(stderr, "vexmo: --graph takes nothing or =ascii (not \"%s\")\n",
                   arg + std::strlen("--graph="));
    }
  } else {
    return OptionRead::not_mine;
  }
  return good ? OptionRead::taken : OptionRead::bad;
}

}  // namespace

bool parse_percent(const char* text, std::uint32_t* thousandths) {
  std::uint32_t whole = 0;
  const char* p = text;
  for (; *p >= '0' && *p <= '9'; ++p) {
    whole = whole * 10 + static_cast<std::uint32_t>(*p - '0');
    if (whole > 100) {
      return false;
    }
  }
  if (p == text) {
    return false;
  }
  std::uint32_t fraction = 0;
  std::uint32_t scale = 100;
  if (*p == '.') {
    for (++p; *p >= '0' && *p <= '9' && scale > 0; ++p, scale /= 10) {
      fraction += static_cast<std::uint32_t>(*p - '0') * scale;
    }
  }
  const std::uint32_t value = whole * 1000 + fraction;
  if (*p != '\0' || value > 100000) {
    return false;
  }
  *thousandths = value;
  return true;
}

std::uint32_t parse_u32(const char* text, int base, const char** end) {
  const char* p = text;
  while (is_space(*p)) {
    ++p;
  }
  bool negative = false;
  if (*p == '+' || *p == '-') {
    negative = *p == '-';
    ++p;
  }
  const bool hex_prefix = p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && digit_value(p[2]) < 16;
  if (base == 0) {
    base = hex_prefix ? 16 : (p[0] == '0' ? 8 : 10);
  }
  if (base == 16 && hex_prefix) {
    p += 2;
  }
  const char* digits = p;
  std::uint64_t value = 0;
  bool overflow = false;
  while (digit_value(*p) < base) {
    value = value * static_cast<unsigned>(base) + static_cast<unsigned>(digit_value(*p));
    if (value > 0xFFFFFFFFu) {
      overflow = true;
      value = 0xFFFFFFFFu;
    }
    ++p;
  }
  if (end != nullptr) {
    *end = p == digits ? text : p;
  }
  if (p == digits) {
    return 0;
  }
  std::uint32_t result = overflow ? 0xFFFFFFFFu : static_cast<std::uint32_t>(value);
  if (negative) {
    result = 0u - result;
  }
  return result;
}

std::uint8_t parse_tos(const char* text) {
  const char* rest = text;
  const std::uint32_t precedence = parse_u32(text, 0, &rest) & 7u;
  std::uint32_t tos = precedence << 5;
  for (; *rest != '\0'; ++rest) {
    switch (*rest) {
      case 'd':
      case 'D':
        tos |= 0x10;
        break;
      case 't':
      case 'T':
        tos |= 0x08;
        break;
      case 'r':
      case 'R':
        tos |= 0x04;
        break;
      case 'm':
      case 'M':
        tos |= 0x02;
        break;
      default:  // ':' separates the flags; anything else is ignored
        break;
    }
  }
  return static_cast<std::uint8_t>(tos);
}

void print_usage(std::FILE* stream) {
  std::fprintf(stream, "vexmo - ICMP echo diagnostic for IPv4 and IPv6 hosts\n");
  std::fprintf(stream, "Syntax: vexmo [options] host\n");
  std::fprintf(stream, "Options:\n");
  std::fprintf(stream, " -n <size>\tSize of the buffer to use. (16 ... 65536, Default is 56)\n");
  std::fprintf(stream, " -c <count>\tMessage count (Default is 5)\n");
  std::fprintf(stream, " -f\t\tDon't fragment packets\n");
  std::fprintf(stream, " -i <ttl>\tLimit to specified Time To Life.\n");
  std::fprintf(stream, " -t <tos>\tType Of Service. (Priority[:D][:T][:R][:M])\n");
  std::fprintf(stream, "\t\tPriority: 0 ... 7 (Routine ... Network control)\n");
  std::fprintf(stream, "\t\tD (Low delay)\n");
  std::fprintf(stream, "\t\tT (High throughput)\n");
  std::fprintf(stream, "\t\tR (High reliability)\n");
  std::fprintf(stream, "\t\tM (Minimize monetary cost)\n");
  std::fprintf(stream, " -w <timelimit>\tTimeout. (Default is 3000 ms)\n");
  std::fprintf(stream, " -4\t\tForce using IPv4\n");
  std::fprintf(stream, " -6\t\tForce using IPv6\n");
  std::fprintf(stream, " --stats\tMore round-trip figures. (Median, P90, P99, StdDev, Jitter)\n");
  std::fprintf(stream, " --json\t\tJSON Lines on standard output. (One object per line)\n");
  std::fprintf(stream,
               " --interval <duration>\tA request every duration. (10ms or more: 250ms, 1.5s)\n");
  std::fprintf(stream, " --deadline <duration>\tEnd the run after so long.\n");
  std::fprintf(stream, " --continuous\tRequests until stopped. (-c is ignored)\n");
  std::fprintf(stream, " -D, --timestamps\tThe time before every line.\n");
  std::fprintf(stream, " -q, --quiet\tThe opening line and the summary only.\n");
  std::fprintf(stream, " --histogram\tThe round trips' distribution after the summary.\n");
  std::fprintf(stream, " --graph[=ascii]\tA live chart at the foot of the terminal.\n");
  std::fprintf(stream,
               " --exit-status\tExit status 0 with a reply, 1 without, 2 when it cannot start.\n");
  std::fprintf(stream, " --max-loss <percent>\tAlso status 1 above this loss. (0 ... 100)\n");
  std::fprintf(stream,
               " --metrics-file <path>\tPrometheus metrics, rewritten after each request.\n");
  std::fprintf(stream, " -h, -?, --help\tShow this text.\n");
  std::fprintf(stream, " --version\tShow the version.\n");
  std::fprintf(stream, "\n");
  std::fprintf(stream, "Example: vexmo -f -t 2:d:t -i 64 gateway.example.net\n");
  std::fprintf(stream, " (Don't fragment, TTL 64, Priority 2, Low Delay, High throughput)\n");
}

void print_version() {
  std::printf("vexmo %s\n", VEXMO_VERSION);
}

CommandLineResult parse_command_line(int argc, const char* const* argv, RunSettings* settings) {
  *settings = RunSettings{};
  std::FILE* const usage_to = usage_stream(argc, argv);
  Pending pending = Pending::none;
  int hosts = 0;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    OptionRead read = monitoring_option(argc, argv, &i, settings);
    if (read == OptionRead::not_mine) {
      read = take_watch_option(argc, argv, &i, settings);
    }
    if (read == OptionRead::bad) {
      return CommandLineResult::bad_input;
    }
    if (read == OptionRead::taken) {
      continue;
    }
    if (std::strcmp(arg, "-n") == 0) {
      pending = Pending::size;
    } else if (std::strcmp(arg, "-c") == 0) {
      pending = Pending::count;
    } else if (std::strcmp(arg, "-f") == 0) {
      settings->dont_fragment = true;
    } else if (std::strcmp(arg, "-i") == 0) {
      pending = Pending::ttl;
    } else if (std::strcmp(arg, "-t") == 0) {
      pending = Pending::tos;
    } else if (std::strcmp(arg, "-w") == 0) {
      pending = Pending::timeout;
    } else if (std::strcmp(arg, "-4") == 0) {
      settings->family = FamilyChoice::ipv4;
    } else if (std::strcmp(arg, "-6") == 0) {
      settings->family = FamilyChoice::ipv6;
    } else if (std::strcmp(arg, "--json") == 0) {
      settings->json = true;
    } else if (std::strcmp(arg, "--stats") == 0) {
      settings->stats = true;
    } else if (std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "-?") == 0 ||
               std::strcmp(arg, "--help") == 0) {
      print_usage(usage_to);
      return CommandLineResult::help_shown;
    } else if (std::strcmp(arg, "--version") == 0) {
      print_version();
      return CommandLineResult::version_shown;
    } else if (is_stray_option(arg, pending)) {
      std::fprintf(stderr, "vexmo: unknown option %s\n", arg);
      print_usage(usage_to);
      return CommandLineResult::usage_shown;
    } else {
      switch (pending) {
        case Pending::size:
          settings->size = clamp_size(parse_u32(arg, 10, nullptr));
          break;
        case Pending::tos:
          settings->tos = parse_tos(arg);
          settings->tos_given = true;
          break;
        case Pending::ttl:
          settings->ttl = parse_u32(arg, 0, nullptr);
          settings->ttl_given = true;
          break;
        case Pending::timeout:
          settings->timeout_ms = parse_u32(arg, 0, nullptr);
          break;
        case Pending::count:
          settings->count = parse_u32(arg, 0, nullptr);
          if (settings->count == 0) {
            settings->count = 1;
          }
          break;
        case Pending::none:
          settings->host = arg;
          ++hosts;
          break;
      }
      pending = Pending::none;
    }
  }
  // Without a host there is nothing to ping: the run would have no
  // destination, so the usage text tells how to name one.
  if (settings->host == nullptr) {
    print_usage(usage_to);
    return CommandLineResult::usage_shown;
  }
  if (hosts > 1) {
    std::fprintf(stderr, "vexmo: more than one host given; using %s\n", settings->host);
  }
  return CommandLineResult::run;
}

}  // namespace vexmo
