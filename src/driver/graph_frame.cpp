#include "driver/graph_frame.h"

#include <algorithm>

#include "driver/text_lines.h"

namespace vexmo {
namespace {

constexpr std::uint32_t kTallest = 10;
constexpr std::uint32_t kNarrowestPlot = 8;

struct Glyphs {
  const char* rule;      // the title's line
  const char* labelled;  // the axis beside a label
  const char* axis;
  const char* full;
  const char* eighths[7];  // a bar's top, 1/8 to 7/8 of a row; none in ASCII
};

constexpr Glyphs kBlocks = {"\xE2\x94\x80",
                            "\xE2\x94\xA4",
                            "\xE2\x94\x82",
                            "\xE2\x96\x88",
                            {"\xE2\x96\x81", "\xE2\x96\x82", "\xE2\x96\x83", "\xE2\x96\x84",
                             "\xE2\x96\x85", "\xE2\x96\x86", "\xE2\x96\x87"}};
constexpr Glyphs kAscii = {"-", "+", "|", "#", {}};

// A row of cells; every glyph used takes one cell, so cells are counted
// as they are added.
class Row {
 public:
  explicit Row(std::uint32_t width) : width_(width) {}

  // Text of one byte per cell; what a terminal would act on (control
  // characters, bytes of other scripts in a host name) shows as '?'.
  Row& text(const std::string& text) {
    for (const char c : text) {
      cell(c >= 0x20 && c < 0x7F ? std::string(1, c) : std::string("?"));
    }
    return *this;
  }
  Row& cell(const std::string& glyph) {
    if (cells_ < width_) {
      row_ += glyph;
      ++cells_;
    }
    return *this;
  }
  std::string filled(const char* glyph) {
    while (cells_ < width_) {
      cell(glyph);
    }
    return row_;
  }

 private:
  std::uint32_t width_;
  std::uint32_t cells_ = 0;
  std::string row_;
};

// The axis' top: the largest round trip rounded up to 1, 2 or 5 times a
// power of ten microseconds, at least 10 us.
std::uint64_t axis_top_us(std::uint64_t largest_us) {
  for (std::uint64_t decade = 10;; decade *= 10) {
    for (const std::uint64_t step : {1, 2, 5}) {
      if (step * decade >= largest_us) {
        return step * decade;
      }
    }
  }
}

std::string right_aligned(const std::string& text, std::size_t width) {
  return std::string(width > text.size() ? width - text.size() : 0, ' ') + text;
}

std::string last_result(const GraphPoint& point) {
  switch (point.mark) {
    case GraphMark::reply:
      return milliseconds_text(point.rtt_us) + " ms";
    case GraphMark::lost:
      return "no reply";
    case GraphMark::icmp_error:
      return "ICMP error";
  }
  return "";
}

// The cell of a point's column in plot row `row` of `plot` (0: the top).
std::string point_cell(const GraphPoint& point, std::uint64_t top_us, std::uint32_t row,
                       std::uint32_t plot, const Glyphs& glyphs) {
  const std::uint32_t from_bottom = plot - 1 - row;
  if (point.mark != GraphMark::reply) {
    return from_bottom != 0 ? " " : point.mark == GraphMark::lost ? "X" : "!";
  }
  // The bar in eighths of a row, never less than one: a reply is never
  // mistaken for nothing.
  const std::uint64_t most = std::uint64_t{plot} * 8;
  const std::uint64_t eighths =
      std::clamp<std::uint64_t>((point.rtt_us * most + top_us / 2) / top_us, 1, most);
  if (glyphs.eighths[0] == nullptr) {
    const std::uint64_t rows = std::max<std::uint64_t>((eighths + 4) / 8, 1);
    return from_bottom < rows ? glyphs.full : " ";
  }
  const std::uint64_t base = std::uint64_t{from_bottom} * 8;
  if (eighths >= base + 8) {
    return glyphs.full;
  }
  return eighths > base ? glyphs.eighths[eighths - base - 1] : " ";
}

}  // namespace

std::uint32_t graph_height(std::uint32_t terminal_rows) {
  const std::uint32_t height = std::min(kTallest, terminal_rows / 2);
  return height >= 4 ? height : 0;
}

std::vector<std::string> graph_frame(const std::deque<GraphPoint>& points, const char* host,
                                     std::uint32_t columns, std::uint32_t height, bool ascii) {
  const Glyphs& glyphs = ascii ? kAscii : kBlocks;
  const std::uint32_t width = columns > 0 ? columns - 1 : 0;
  const std::uint32_t plot = height >= 4 ? height - 2 : 0;

  std::size_t first = points.size();
  std::uint32_t largest_us = 0;
  std::uint32_t lost = 0;
  std::uint32_t errors = 0;
  // The label's width depends on the top, the top on the points shown, and
  // how many are shown on the label's width: widened until the labels fit.
  std::size_t label_width = 2;
  for (;;) {
    const std::size_t plot_width = width > label_width + 2 ? width - label_width - 2 : 0;
    first = points.size() - std::min(points.size(), plot_width);
    largest_us = 0;
    lost = errors = 0;
    for (std::size_t i = first; i < points.size(); ++i) {
      largest_us = std::max(largest_us, points[i].mark == GraphMark::reply ? points[i].rtt_us : 0);
      lost += points[i].mark == GraphMark::lost;
      errors += points[i].mark == GraphMark::icmp_error;
    }
    const std::size_t needed = milliseconds_text(axis_top_us(largest_us)).size();
    if (needed <= label_width) {
      break;
    }
    label_width = needed;
  }
  if (plot < 2 || width < label_width + 2 + kNarrowestPlot) {
    return {};
  }
  const std::uint64_t top_us = axis_top_us(largest_us);

  std::vector<std::string> rows;
  Row title(width);
  title.cell(glyphs.rule).cell(glyphs.rule).text(" ").text(host).text(" ");
  if (!points.empty()) {
    const std::size_t shown = points.size() - first;
    title.cell(glyphs.rule).text(" last: " + last_result(points.back()) + " ");
    title.cell(glyphs.rule).text(" lost: " + std::to_string(lost) + "/" + std::to_string(shown));
    if (errors != 0) {
      title.text(", ICMP errors: " + std::to_string(errors));
    }
    title.text(" ");
  }
  rows.push_back(title.filled(glyphs.rule));

  for (std::uint32_t r = 0; r < plot; ++r) {
    // Labels where a row's top edge is a round figure: the top, the middle.
    const bool labelled = r == 0 || (plot % 2 == 0 && r == plot / 2);
    const std::string label = labelled ? milliseconds_text(top_us * (plot - r) / plot) : "";
    Row row(width);
    row.text(right_aligned(label, label_width) + " ")
        .cell(labelled ? glyphs.labelled : glyphs.axis);
    for (std::size_t i = first; i < points.size(); ++i) {
      row.cell(point_cell(points[i], top_us, r, plot, glyphs));
    }
    rows.push_back(row.filled(" "));
  }

  Row legend(width);
  legend.text(right_aligned("ms", label_width) + "  ")
      .cell(glyphs.full)
      .text(" reply  X lost  ! ICMP error");
  rows.push_back(legend.filled(" "));
  return rows;
}

}  // namespace vexmo
