#include "cli/duration.h"

#include <cstring>

namespace vexmo {
namespace {

// Milliseconds per unit; 0 for text that names no unit.
std::uint64_t unit_ms(const char* unit) {
  // clang-format off
  static const struct { const char* name; std::uint64_t ms; } kUnits[] = {
      {"", 1}, {"ms", 1}, {"s", 1000}, {"m", 60000}, {"h", 3600000},
  };
  // clang-format on
  for (const auto& u : kUnits) {
    if (std::strcmp(unit, u.name) == 0) {
      return u.ms;
    }
  }
  return 0;
}

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

}  // namespace

std::optional<std::uint32_t> parse_duration_ms(const char* text) {
  constexpr std::uint64_t kMostMs = 0xFFFFFFFFu;
  const char* p = text;
  std::uint64_t whole = 0;
  bool digits = false;
  for (; is_digit(*p); ++p, digits = true) {
    whole = whole * 10 + static_cast<std::uint64_t>(*p - '0');
    if (whole > kMostMs) {
      return std::nullopt;  // too long already, whatever the unit
    }
  }
  // The fraction as a number of millionths: more digits say nothing in ms.
  std::uint64_t millionths = 0;
  if (*p == '.') {
    std::uint64_t scale = 100000;
    for (++p; is_digit(*p); ++p, digits = true) {
      millionths += static_cast<std::uint64_t>(*p - '0') * scale;
      scale /= 10;
    }
  }
  const std::uint64_t unit = unit_ms(p);
  if (!digits || unit == 0) {
    return std::nullopt;
  }
  const std::uint64_t ms = whole * unit + millionths * unit / 1000000;
  if (ms > kMostMs) {
    return std::nullopt;
  }
  return static_cast<std::uint32_t>(ms);
}

}  // namespace vexmo
