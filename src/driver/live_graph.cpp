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

// Room for the chart below the cursor (scrolling the screen where the
// cursor is too low), and the rows above it as the scrolling region. The
// cursor stays where the next line goes.
std::string begin_region(std::uint32_t rows, std::uint32_t height) {
  return std::string(height, '\n') + csi(height, 'A') + kEscape + "7" +
         scrolling_region(rows - height) + kEscape + "8";
}

// After a resize, which may move the cursor anywhere and which terminals
// answer by dropping the region: the region again, the cursor on a fresh
// line at its foot, and the old chart's rows cleared.
std::string refit_region(std::uint32_t rows, std::uint32_t height) {
  return scrolling_region(rows - height) + csi(rows - height, ';') + "1H\n" + kEscape + "[J";
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
    if (fitted_.rows == 0) {
      bytes = begin_region(size.rows, height);
    } else if (fitted_.rows != size.rows || fitted_.columns != size.columns) {
      bytes = refit_region(size.rows, height);
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
