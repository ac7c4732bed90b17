#include "driver/metrics_file.h"

#include "platform/platform.h"

namespace vexmo {
namespace {

// Appends a family's # HELP and # TYPE lines.
void family_head(std::string* text, const char* name, const char* type, const char* help) {
  *text += "# HELP ";
  *text += name;
  *text += ' ';
  *text += help;
  *text += "\n# TYPE ";
  *text += name;
  *text += ' ';
  *text += type;
  *text += '\n';
}

// Appends one sample: name{host="...",family="N"<extra>} value.
void sample(std::string* text, const MetricsCounters& counters, const std::string& name,
            const std::string& extra_labels, const std::string& value) {
  *text += name;
  *text += "{host=\"";
  *text += escape_label(counters.host);
  *text += "\",family=\"";
  *text += std::to_string(counters.family);
  *text += '"';
  *text += extra_labels;
  *text += "} ";
  *text += value;
  *text += '\n';
}

std::string label(const char* name, const std::string& value) {
  return std::string(",") + name + "=\"" + value + "\"";
}

}  // namespace

std::string escape_label(const std::string& value) {
  std::string escaped;
  for (const char c : value) {
    if (c == '\\') {
      escaped += "\\\\";
    } else if (c == '"') {
      escaped += "\\\"";
    } else if (c == '\n') {
      escaped += "\\n";
    } else {
      escaped += c;
    }
  }
  return escaped;
}

std::string seconds_from_us(std::uint64_t us) {
  std::string text = std::to_string(us / 1000000);
  std::string fraction = std::to_string(us % 1000000);
  fraction.insert(0, 6 - fraction.size(), '0');
  while (!fraction.empty() && fraction.back() == '0') {
    fraction.pop_back();
  }
  if (!fraction.empty()) {
    text += '.';
    text += fraction;
  }
  return text;
}

std::string seconds_from_ms(std::int64_t ms) {
  if (ms < 0) {
    return "-" + seconds_from_us(static_cast<std::uint64_t>(-ms) * 1000);
  }
  return seconds_from_us(static_cast<std::uint64_t>(ms) * 1000);
}

std::string render_metrics(const MetricsCounters& c) {
  std::string text;
  family_head(&text, "vexmo_requests_total", "counter", "Echo requests sent.");
  sample(&text, c, "vexmo_requests_total", "", std::to_string(c.requests));
  family_head(&text, "vexmo_replies_total", "counter", "Echo replies received.");
  sample(&text, c, "vexmo_replies_total", "", std::to_string(c.replies));
  family_head(&text, "vexmo_icmp_errors_total", "counter",
              "ICMP error messages about a request, by type and code.");
  for (const auto& entry : c.icmp_errors) {
    sample(&text, c, "vexmo_icmp_errors_total",
           label("type", std::to_string(entry.first.first)) +
               label("code", std::to_string(entry.first.second)),
           std::to_string(entry.second));
  }
  family_head(&text, "vexmo_failures_total", "counter",
              "Requests that failed or timed out, by Windows Sockets error number.");
  for (const auto& entry : c.failures) {
    sample(&text, c, "vexmo_failures_total", label("error", std::to_string(entry.first)),
           std::to_string(entry.second));
  }
  family_head(&text, "vexmo_rtt_seconds", "histogram", "Round-trip time of the echo replies.");
  std::uint64_t cumulative = 0;
  for (std::size_t i = 0; i < kRttBuckets; ++i) {
    cumulative += c.rtt_buckets[i];
    sample(&text, c, "vexmo_rtt_seconds_bucket",
           label("le", seconds_from_us(kRttBucketBoundsUs[i])), std::to_string(cumulative));
  }
  sample(&text, c, "vexmo_rtt_seconds_bucket", label("le", "+Inf"), std::to_string(c.replies));
  sample(&text, c, "vexmo_rtt_seconds_sum", "", seconds_from_us(c.rtt_sum_us));
  sample(&text, c, "vexmo_rtt_seconds_count", "", std::to_string(c.replies));
  family_head(&text, "vexmo_last_rtt_seconds", "gauge", "Round-trip time of the last echo reply.");
  if (c.last_rtt_us) {
    sample(&text, c, "vexmo_last_rtt_seconds", "", seconds_from_us(*c.last_rtt_us));
  }
  family_head(&text, "vexmo_last_reply_timestamp_seconds", "gauge",
              "When the last echo reply came, in seconds since 1970 (0: none yet).");
  sample(&text, c, "vexmo_last_reply_timestamp_seconds", "", seconds_from_ms(c.last_reply_unix_ms));
  family_head(&text, "vexmo_start_time_seconds", "gauge",
              "When the run started, in seconds since 1970.");
  sample(&text, c, "vexmo_start_time_seconds", "", seconds_from_ms(c.start_unix_ms));
  return text;
}

bool metrics_file_writable(const char* path, std::FILE* err) {
  std::string reason;
  if (path == nullptr || file_writable(path, &reason)) {
    return true;
  }
  std::fprintf(err, "vexmo: cannot write the metrics file %s: %s\n", path, reason.c_str());
  return false;
}

void MetricsFile::start(const StartFacts& facts) {
  counters_.host = facts.host;
  counters_.family = facts.family;
  counters_.start_unix_ms = facts.unix_ms;
  write();
}

void MetricsFile::reply(const ReplyFacts& facts) {
  ++counters_.replies;
  count_round_trip(&counters_.rtt_buckets, facts.rtt_us);
  counters_.rtt_sum_us += facts.rtt_us;
  counters_.last_rtt_us = facts.rtt_us;
  counters_.last_reply_unix_ms = facts.unix_ms;
  finished(facts.request);
}

void MetricsFile::icmp(const IcmpFacts& facts) {
  ++counters_.icmp_errors[{facts.type, facts.code}];
  finished(facts.request);
}

void MetricsFile::failure(const FailureFacts& facts) {
  ++counters_.failures[facts.error];
  finished(facts.request);
}

void MetricsFile::unresolved(const UnresolvedFacts&) {
  write();
}

void MetricsFile::summary(const SummaryFacts& facts) {
  // The run's own count: it includes the requests that got no line (a
  // stop in the middle of one, a wait that ended without a message).
  counters_.requests = facts.figures.sent;
  write();
}

void MetricsFile::finished(std::uint32_t request) {
  if (request + std::uint64_t{1} > counters_.requests) {
    counters_.requests = request + std::uint64_t{1};
  }
  write();
}

void MetricsFile::write() {
  std::string reason;
  if (!replace_file(path_, render_metrics(counters_), &reason) && !write_failed_) {
    write_failed_ = true;
    std::fprintf(err_, "vexmo: cannot write the metrics file %s: %s\n", path_, reason.c_str());
    std::fflush(err_);
  }
}

}  // namespace vexmo
