#include "driver/histogram.h"

#include <algorithm>

#include "driver/outputs.h"
#include "driver/text_lines.h"

namespace vexmo {
namespace {

constexpr std::size_t kBarWidth = 20;

// A bound as the shortest JSON number of milliseconds: 10 us -> 0.01.
std::string json_ms(std::uint32_t us) {
  std::string text = milliseconds_text(us);
  while (text.back() == '0') {
    text.pop_back();
  }
  if (text.back() == '.') {
    text.pop_back();
  }
  return text;
}

std::string padded(const std::string& text, std::size_t width) {
  return std::string(width > text.size() ? width - text.size() : 0, ' ') + text;
}

}  // namespace

std::string histogram_rows(const RttBucketCounts& counts, bool blocks) {
  const auto held = [](std::uint64_t count) { return count != 0; };
  const auto first = std::find_if(counts.begin(), counts.end(), held);
  if (first == counts.end()) {
    return "";
  }
  const auto last = std::find_if(counts.rbegin(), counts.rend(), held).base();
  const std::uint64_t most = *std::max_element(first, last);
  const std::size_t from = static_cast<std::size_t>(first - counts.begin());
  const std::size_t to = static_cast<std::size_t>(last - counts.begin());
  // Every bound right-aligned to the longest shown, at least "  0.050".
  std::size_t width = 7;
  for (std::size_t i = from; i < to; ++i) {
    width = std::max(width, milliseconds_text(kRttBucketBoundsUs[i]).size());
  }
  const std::string full = blocks ? "\xE2\x96\x88" : "#";
  std::string rows;
  for (std::size_t i = from; i < to; ++i) {
    const std::uint32_t lower_us = i == 0 ? 0 : kRttBucketBoundsUs[i - 1];
    // Rounded to the nearest cell, yet never none for a bucket that holds
    // anything.
    std::size_t cells = static_cast<std::size_t>((counts[i] * kBarWidth + most / 2) / most);
    if (counts[i] != 0 && cells == 0) {
      cells = 1;
    }
    rows += padded(milliseconds_text(lower_us), width) + " - " +
            padded(milliseconds_text(kRttBucketBoundsUs[i]), width) + " ms |";
    for (std::size_t c = 0; c < cells; ++c) {
      rows += full;
    }
    rows += std::string(kBarWidth - cells, ' ') + "| " + std::to_string(counts[i]) + "\n";
  }
  return rows;
}

std::string histogram_json(const RttBucketCounts& counts) {
  std::string json = "[";
  std::uint64_t total = 0;
  for (std::size_t i = 0; i < kRttBuckets; ++i) {
    total += counts[i];
    json += (i == 0 ? "{\"le_ms\":" : ",{\"le_ms\":") + json_ms(kRttBucketBoundsUs[i]) +
            ",\"count\":" + std::to_string(total) + "}";
  }
  return json + "]";
}

void Histogram::reply(const ReplyFacts& facts) {
  count_round_trip(&counts_, facts.rtt_us);
}

void Histogram::summary(const SummaryFacts& facts) {
  std::string rows = histogram_rows(counts_, blocks_);
  if (!rows.empty()) {
    rows.pop_back();  // write_line ends the last row
    write_line(out_, timestamps_ ? stamped_lines(rows, facts.unix_ms) : rows);
  }
}

}  // namespace vexmo
