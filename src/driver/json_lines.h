// The objects of --json, one per line (doc/vexmo.schema.json describes
// them), built as text from plain records; nothing here prints.
#ifndef VEXMO_DRIVER_JSON_LINES_H
#define VEXMO_DRIVER_JSON_LINES_H

#include <cstdint>
#include <optional>

#include "common/text.h"
#include "driver/statistics.h"

namespace vexmo {

// Appends text as a JSON string with its quotes. Valid UTF-8 passes through
// unchanged; quotes, backslashes and control characters are escaped, and
// every byte that is not part of a valid UTF-8 sequence becomes U+FFFD, so
// the line stays valid UTF-8 whatever the text (a host argument, say).
void append_json_string(Text* out, const char* text);

// Milliseconds since 1970-01-01 UTC as RFC 3339 UTC with milliseconds:
// 2024-02-29T23:59:59.999Z. Times before 1970 are not needed and give the
// epoch.
Text utc_time_text(std::int64_t unix_ms);

// What the opening line tells.
struct StartFacts {
  const char* host = "";
  int family = 4;
  std::uint32_t size = 0;
  std::uint32_t ip_bytes = 0;
  std::uint32_t count = 0;
  std::uint32_t timeout_ms = 0;
  std::optional<std::uint32_t> ttl;  // only where the option was given
  std::optional<std::uint32_t> tos;
  bool dont_fragment = false;
};

// request is the 0-based index of the request in the run.
struct ReplyFacts {
  std::uint32_t request = 0;
  const char* from = "";
  std::uint32_t sequence = 0;
  std::uint32_t rtt_us = 0;
  std::optional<std::uint32_t> ttl;  // none without a recognised IP header
};

struct IcmpFacts {
  std::uint32_t request = 0;
  const char* from = "";  // the sender of the ICMP message
  std::uint32_t type = 0;
  std::uint32_t code = 0;
  const char* kind = "";             // as the text line names it: "Time Exceeded"
  std::optional<Text> reason;        // the line's reason; none where it has none
  std::optional<Text> gateway;       // redirects only
  std::optional<std::uint32_t> mtu;  // ICMPv6 Packet Too Big only
};

struct FailureFacts {
  std::uint32_t request = 0;
  std::uint32_t error = 0;   // Windows Sockets number
  const char* message = "";  // the line without its line feed: "Request timeout."
};

// Each object as one line of text without the line feed; unix_ms is the
// time of the event.
Text json_start(const StartFacts& facts, std::int64_t unix_ms);
Text json_reply(const ReplyFacts& facts, std::int64_t unix_ms);
Text json_icmp(const IcmpFacts& facts, std::int64_t unix_ms);
Text json_failure(const FailureFacts& facts, std::int64_t unix_ms);
Text json_unresolved(std::uint32_t request, const char* host, std::int64_t unix_ms);

enum class SummaryEvent { summary, interim };
Text json_summary(const StatisticsSummary& summary, SummaryEvent event, bool interrupted,
                  std::int64_t unix_ms);

}  // namespace vexmo

#endif  // VEXMO_DRIVER_JSON_LINES_H
