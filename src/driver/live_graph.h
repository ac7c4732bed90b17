// --graph: a chart of the latest round trips in the bottom rows of the
// terminal, redrawn in place after every request while the lines scroll
// above it in a scrolling region. Nothing at all when standard output is
// no terminal.
#ifndef VEXMO_DRIVER_LIVE_GRAPH_H
#define VEXMO_DRIVER_LIVE_GRAPH_H

#include <cstdio>
#include <deque>
#include <string>

#include "driver/graph_frame.h"
#include "driver/output.h"
#include "platform/platform.h"

namespace vexmo {

class LiveGraph final : public Output {
 public:
  // ascii: draw with ASCII only. err: where to say that the terminal takes
  // no control sequences (the run then goes on without the chart).
  LiveGraph(std::FILE* out, std::FILE* err, bool ascii) : out_(out), err_(err), ascii_(ascii) {}
  // Gives the terminal back on a way out without a summary too.
  ~LiveGraph() override;
  LiveGraph(const LiveGraph&) = delete;
  LiveGraph& operator=(const LiveGraph&) = delete;

  void start(const StartFacts& facts) override;
  void reply(const ReplyFacts& facts) override;
  void icmp(const IcmpFacts& facts) override;
  void failure(const FailureFacts& facts) override;
  // Leaves the chart in place and the cursor below it, for the summary.
  void summary(const SummaryFacts& facts) override;
  // Drawn again at once, not only at the next request, and fitted anew:
  // after a resize or a suspension the region may be gone.
  void resized() override;

 private:
  void add(GraphPoint point);
  void draw();
  void finish();

  std::FILE* out_;
  std::FILE* err_;
  bool ascii_;
  Terminal terminal_;
  bool on_ = false;
  std::string host_;
  std::deque<GraphPoint> points_;
  // The size the scrolling region was set for; 0 rows: none is set.
  TerminalSize fitted_;
};

}  // namespace vexmo

#endif  // VEXMO_DRIVER_LIVE_GRAPH_H
