#include "driver/live_graph.h"

#include <vector>

namespace vexmo {
namespace {

constexpr char kEscape = '\x1b';

// The whole screen scrolls again and the cursor goes below the chart (a
// row past the last is the last), onto a new line. Fixed text, so that a
// kill can write it too.
constexpr const char* kRestore = "\x1b[r\x1b[999;1H\n";

std::string csi(std::uint32_t number, char command) {
  return std::string(1, kEscape) + "[" + std::to_string(number) + command;
}

std::string scrolling_region(std::uint32_t last_row) {
  return std::string(1, kEscape) + "[1;" + std::to_string(last_row) + "r";
}

// The chart's rows at the foot, the rows above them the scrolling region,
// and the cursor where the next line goes, on the fresh line after the last
// one. At the start, and again after a resize or a suspension, which may
// have kept, moved or dropped the region: it is given up first (the cursor
// kept), room is made below the cursor (the screen scrolls where it is too
// low), and whatever stands below the cursor is cleared: an old chart, or
// what a resize left of it.
std::string begin_region(std::uint32_t rows, std::uint32_t height) {
  return std::string(1, kEscape) + "7" + kEscape + "[r" + kEscape + "8" +
         std::string(height, '\n') + csi(height, 'A') + kEscape + "[J" + kEscape + "7" +
         scrolling_region(rows - height) + kEscape + "8";
}

std::string drawn(const std::vector<std::string>& frame, std::uint32_t rows) {
  std::string bytes = std::string(1, kEscape) + "7";
  const std::uint32_t first = rows - static_cast<std::uint32_t>(frame.size()) + 1;
  for (std::size_t i = 0; i < frame.size(); ++i) {
    bytes += csi(first + static_cast<std::uint32_t>(i), ';') + "1H" + frame[i] + kEscape + "[K";
  }
  return bytes + kEscape + "8";
}

}  // namespace

LiveGraph::~LiveGraph() {
  finish();
}

void LiveGraph::start(const StartFacts& facts) {
  terminal_ = terminal_open(kRestore);
  if (terminal_.kind == TerminalKind::plain) {
    std::fprintf(err_, "vexmo: no graph: the terminal takes no control sequences\n");
  }
  on_ = terminal_.kind == TerminalKind::controlled;
  host_ = facts.host;
  if (on_) {
    draw();
  }
}

void LiveGraph::reply(const ReplyFacts& facts) {
  add(GraphPoint{GraphMark::reply, facts.rtt_us});
}

void LiveGraph::icmp(const IcmpFacts&) {
  add(GraphPoint{GraphMark::icmp_error, 0});
}

void LiveGraph::failure(const FailureFacts&) {
  add(GraphPoint{GraphMark::lost, 0});
}

void LiveGraph::summary(const SummaryFacts&) {
  finish();
}

void LiveGraph::resized() {
  if (on_) {
    fitted_ = TerminalSize{};  // the region is begun again, whatever the size
    draw();
  }
}

void LiveGraph::add(GraphPoint point) {
  if (!on_) {
    return;
  }
  points_.push_back(point);
  if (points_.size() > kGraphMostPoints) {
    points_.pop_front();
  }
  draw();
}

void LiveGraph::draw() {
  // Asked every time: a resize the system does not announce is followed at
  // the next request.
  const TerminalSize size = terminal_size();
  const std::uint32_t height = graph_height(size.rows);
  const std::vector<std::string> frame =
      height == 0 ? std::vector<std::string>()
                  : graph_frame(points_, host_.c_str(), size.columns, height, ascii_);
  std::string bytes;
  if (frame.empty()) {
    // Too small for a chart: the lines get the whole screen until it grows.
    if (fitted_.rows != 0) {
      bytes = kRestore;
      fitted_ = TerminalSize{};
    }
  } else {
    if (fitted_.rows != size.rows || fitted_.columns != size.columns) {
      bytes = begin_region(size.rows, height);
    }
    fitted_ = size;
    bytes += drawn(frame, size.rows);
  }
  std::fwrite(bytes.data(), 1, bytes.size(), out_);
  std::fflush(out_);
}

void LiveGraph::finish() {
  if (!on_) {
    return;
  }
  if (fitted_.rows != 0) {
    std::fputs(kRestore, out_);
    std::fflush(out_);
    fitted_ = TerminalSize{};
  }
  terminal_close(terminal_);
  on_ = false;
}

}  // namespace vexmo
