#include "driver/text_lines.h"

#include "driver/json_lines.h"
#include "driver/outputs.h"

namespace vexmo {

std::string milliseconds_text(std::uint64_t us) {
  const std::string fraction = std::to_string(1000 + us % 1000);  // 1007: "007" after its 1
  return std::to_string(us / 1000) + "." + fraction.substr(1);
}

std::string start_line(const StartFacts& facts) {
  return std::string("Ping to ") + facts.host + ", buffer size " + std::to_string(facts.size) +
         " Bytes (IP+ICMP+DATA " + std::to_string(facts.ip_bytes) + " Bytes)";
}

std::string reply_line(const ReplyFacts& facts) {
  std::string line = facts.from + ": Time: " + milliseconds_text(facts.rtt_us) +
                     " ms, Sequence: " + std::to_string(facts.sequence);
  if (facts.ttl) {
    line += ", Ttl: " + std::to_string(*facts.ttl);
  }
  return line;
}

std::string icmp_line(const IcmpFacts& facts) {
  std::string line = facts.names_sender ? facts.from + ": " : std::string();
  line += "ICMP: ";
  line += facts.kind;
  if (facts.gateway) {
    line += ", Gateway: " + *facts.gateway;
  }
  if (facts.mtu) {
    line += ", MTU: " + std::to_string(*facts.mtu);
  }
  if (facts.reason) {
    line += ", Reason: " + *facts.reason;
  }
  return line;
}

std::string summary_text(const StatisticsSummary& summary, bool with_stats, bool interim) {
  std::string text;
  if (summary.sent > 0 || interim) {
    char line[96];
    std::snprintf(line, sizeof line, "\nPackets: Sent %u, Received %u (%u%% Lost)\n", summary.sent,
                  summary.received, lost_percent(summary.sent, summary.received));
    text += line;
  }
  text += "Rount Trip Time (Min/Avg/Max): " + milliseconds_text(summary.min_us) + " ms/" +
          milliseconds_text(summary.avg_us) + " ms/" + milliseconds_text(summary.max_us) + " ms\n";
  if (with_stats) {
    text +=
        "Round Trip Time (Median/P90/P99/StdDev/Jitter): " + milliseconds_text(summary.median_us) +
        " ms/" + milliseconds_text(summary.p90_us) + " ms/" + milliseconds_text(summary.p99_us) +
        " ms/" + milliseconds_text(summary.stddev_us) + " ms/" +
        milliseconds_text(summary.jitter_us) + " ms\n";
  }
  return text;
}

std::string stamped_lines(const std::string& text, std::int64_t unix_ms) {
  const std::string stamp = "[" + utc_time_text(unix_ms) + "] ";
  std::string out;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    end = end == std::string::npos ? text.size() : end + 1;
    if (text[at] != '\n') {
      out += stamp;
    }
    out.append(text, at, end - at);
    at = end;
  }
  return out;
}

void TextLines::line(const std::string& text, std::int64_t unix_ms) {
  write_line(out_, timestamps_ ? stamped_lines(text, unix_ms) : text);
}

void TextLines::start(const StartFacts& facts) {
  write_line(out_, start_line(facts));
}

void TextLines::reply(const ReplyFacts& facts) {
  if (!quiet_) {
    line(reply_line(facts), facts.unix_ms);
  }
}

void TextLines::icmp(const IcmpFacts& facts) {
  if (!quiet_) {
    line(icmp_line(facts), facts.unix_ms);
  }
}

void TextLines::failure(const FailureFacts& facts) {
  if (!quiet_) {
    line(facts.message, facts.unix_ms);
  }
}

void TextLines::unresolved(const UnresolvedFacts& facts) {
  line(std::string("Can not resolve IP address for ") + facts.host, facts.unix_ms);
}

void TextLines::summary_lines(const SummaryFacts& facts, bool interim) {
  std::string text = summary_text(facts.figures, with_stats_, interim);
  text.pop_back();  // write_line ends the last line
  line(text, facts.unix_ms);
}

void TextLines::interim(const SummaryFacts& facts) {
  summary_lines(facts, true);
}

void TextLines::summary(const SummaryFacts& facts) {
  summary_lines(facts, false);
}

void TextLines::privileges_kept() {
  write_line(out_, "Can not give up elevated privileges.");
}

}  // namespace vexmo
