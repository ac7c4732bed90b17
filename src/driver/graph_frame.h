// The live graph's picture: the latest requests' results as rows of
// terminal cells. Pure; live_graph.h puts the rows on the terminal.
#ifndef VEXMO_DRIVER_GRAPH_FRAME_H
#define VEXMO_DRIVER_GRAPH_FRAME_H

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace vexmo {

enum class GraphMark : std::uint8_t { reply, lost, icmp_error };

// One request's result: a reply with its round trip, or its mark.
struct GraphPoint {
  GraphMark mark = GraphMark::reply;
  std::uint32_t rtt_us = 0;
};

// More points than any terminal is wide; older ones are let go.
constexpr std::size_t kGraphMostPoints = 1024;

// The rows the chart takes of a terminal so many rows high: 10, or half of
// a small one; 0 where fewer than 4 would be left (a title, two rows of
// plot, a legend).
std::uint32_t graph_height(std::uint32_t terminal_rows);

// The chart, height rows of columns - 1 cells each (the last column stays
// empty, so that no terminal wraps a row), every row exactly that wide:
// - a title: the host, the latest result, the lost requests (and ICMP
//   errors) of those shown;
// - height - 2 rows of plot: the y axis labelled in ms at its top (the
//   largest round trip shown, rounded up to 1, 2 or 5 times a power of
//   ten) and its middle; one column per request, oldest at the left and
//   the newest right; a reply's bar in eighths of a row (whole rows of '#'
//   when ascii), a lost request "X" and an ICMP error "!" on the bottom row;
// - a legend.
// Empty where the plot would be less than 8 columns wide, or height is
// below 4.
std::vector<std::string> graph_frame(const std::deque<GraphPoint>& points, const char* host,
                                     std::uint32_t columns, std::uint32_t height, bool ascii);

}  // namespace vexmo

#endif  // VEXMO_DRIVER_GRAPH_FRAME_H
