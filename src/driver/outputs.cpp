#include "driver/outputs.h"

#include <utility>

#include "driver/histogram.h"
#include "driver/json_lines.h"
#include "driver/live_graph.h"
#include "driver/metrics_file.h"
#include "driver/text_lines.h"
#include "platform/platform.h"

namespace vexmo {

void write_line(std::FILE* stream, const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stream);
  std::fputc('\n', stream);
  std::fflush(stream);
}

void Outputs::add(std::unique_ptr<Output> output) {
  outputs_.push_back(std::move(output));
}

void Outputs::start(const StartFacts& facts) {
  each(&Output::start, facts);
}
void Outputs::reply(const ReplyFacts& facts) {
  each(&Output::reply, facts);
}
void Outputs::icmp(const IcmpFacts& facts) {
  each(&Output::icmp, facts);
}
void Outputs::failure(const FailureFacts& facts) {
  each(&Output::failure, facts);
}
void Outputs::unresolved(const UnresolvedFacts& facts) {
  each(&Output::unresolved, facts);
}
void Outputs::interim(const SummaryFacts& facts) {
  each(&Output::interim, facts);
}
void Outputs::summary(const SummaryFacts& facts) {
  each(&Output::summary, facts);
}
void Outputs::resized() {
  for (auto& output : outputs_) {
    output->resized();
  }
}
void Outputs::privileges_kept() {
  for (auto& output : outputs_) {
    output->privileges_kept();
  }
}

Outputs outputs_for(const RunSettings& settings, std::FILE* out, std::FILE* err) {
  Outputs outputs;
  // First: it keeps the terminal's foot for itself before the opening line,
  // and gives it back before the summary's lines.
  if (settings.graph != GraphChoice::none) {
    outputs.add(std::make_unique<LiveGraph>(
        out, err, settings.graph == GraphChoice::ascii || !output_is_utf8()));
  }
  if (settings.json) {
    outputs.add(std::make_unique<JsonLines>(out, err, settings.quiet, settings.histogram));
  } else {
    outputs.add(
        std::make_unique<TextLines>(out, settings.stats, settings.timestamps, settings.quiet));
  }
  // After the summary's lines: the outputs are fed in the order added.
  if (settings.histogram && !settings.json) {
    outputs.add(std::make_unique<Histogram>(out, output_is_utf8(), settings.timestamps));
  }
  if (settings.metrics_file != nullptr) {
    outputs.add(std::make_unique<MetricsFile>(settings.metrics_file, err));
  }
  return outputs;
}

}  // namespace vexmo
