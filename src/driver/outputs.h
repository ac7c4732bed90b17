// The outputs a run's settings turn on, fed every event in turn. A new
// output is one unit (an Output) and one line in outputs_for.
#ifndef VEXMO_DRIVER_OUTPUTS_H
#define VEXMO_DRIVER_OUTPUTS_H

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "cli/settings.h"
#include "driver/output.h"

namespace vexmo {

// Writes line and a line feed, then flushes: a reader at the other end of
// a pipe sees every request's line when it happens, and a killed run loses
// no line it printed.
void write_line(std::FILE* stream, const std::string& line);

class Outputs final : public Output {
 public:
  void add(std::unique_ptr<Output> output);
  bool empty() const {
    return outputs_.empty();
  }

  void start(const StartFacts& facts) override;
  void reply(const ReplyFacts& facts) override;
  void icmp(const IcmpFacts& facts) override;
  void failure(const FailureFacts& facts) override;
  void unresolved(const UnresolvedFacts& facts) override;
  void interim(const SummaryFacts& facts) override;
  void summary(const SummaryFacts& facts) override;
  void resized() override;
  void privileges_kept() override;

 private:
  // Hands one event to every output, in the order they were added.
  template <typename Facts>
  void each(void (Output::*event)(const Facts&), const Facts& facts) {
    for (auto& output : outputs_) {
      ((*output).*event)(facts);
    }
  }

  std::vector<std::unique_ptr<Output>> outputs_;
};

// The outputs of the settings: the text lines, or JSON Lines with --json.
// out takes the lines; err what must not mix into JSON.
Outputs outputs_for(const RunSettings& settings, std::FILE* out, std::FILE* err);

}  // namespace vexmo

#endif  // VEXMO_DRIVER_OUTPUTS_H
