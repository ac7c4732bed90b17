// What happens in a run, one record per event. The run fills each record
// once, with the time it happened, and hands it to every output that is on
// (outputs.h); the outputs only render them.
#ifndef VEXMO_DRIVER_EVENTS_H
#define VEXMO_DRIVER_EVENTS_H

#include <cstdint>
#include <optional>
#include <string>

#include "driver/statistics.h"
#include "icmp/answer.h"

namespace vexmo {

// unix_ms in every record: milliseconds of the real-time clock at the event.
// request is the 0-based index of the request in the run.

// The opening: what the run is about to do.
struct StartFacts {
  const char* host = "";
  int family = 4;
  std::uint32_t size = 0;
  std::uint32_t ip_bytes = 0;          // the size with the IP and ICMP headers
  std::optional<std::uint32_t> count;  // none: --continuous, requests until stopped
  std::uint32_t timeout_ms = 0;
  std::optional<std::uint32_t> ttl;  // only where the option was given
  std::optional<std::uint32_t> tos;
  bool dont_fragment = false;
  std::int64_t unix_ms = 0;
};

// An echo reply.
struct ReplyFacts {
  std::uint32_t request = 0;
  std::string from;
  std::uint32_t sequence = 0;
  std::uint32_t rtt_us = 0;
  std::optional<std::uint32_t> ttl;  // none where the system reported none
  std::int64_t unix_ms = 0;
};

// An ICMP error message about the request.
struct IcmpFacts {
  std::uint32_t request = 0;
  std::string from;  // the sender of the ICMP message
  std::uint32_t type = 0;
  std::uint32_t code = 0;
  const char* kind = "";               // as the text line names it: "Time Exceeded"
  std::optional<std::string> reason;   // the line's reason; none where it has none
  bool names_sender = false;           // the text line starts with the sender
  std::optional<std::string> gateway;  // redirects only
  std::optional<std::uint32_t> mtu;    // ICMPv6 Packet Too Big only
  std::int64_t unix_ms = 0;
};

// A send or wait that failed (a timeout among them).
struct FailureFacts {
  std::uint32_t request = 0;
  std::uint32_t error = 0;  // Windows Sockets number
  std::string message;      // the line without its line feed: "Request timeout."
  std::int64_t unix_ms = 0;
};

// The host could not be resolved before the request; the run ends.
struct UnresolvedFacts {
  std::uint32_t request = 0;
  const char* host = "";
  std::int64_t unix_ms = 0;
};

// The statistics so far (an interim report) or of the whole run (the
// summary). interrupted: the user stopped the run before it ended by itself.
struct SummaryFacts {
  StatisticsSummary figures;
  bool interrupted = false;
  std::int64_t unix_ms = 0;
};

// The records of an answer. from is the sender's address text.
ReplyFacts reply_facts(const Answer& answer, std::uint32_t request, const char* from,
                       std::int64_t unix_ms);
IcmpFacts icmp_facts(const Answer& answer, std::uint32_t request, const char* from,
                     std::int64_t unix_ms);

// The line of a failed send or wait, without its line feed, by Windows
// Sockets error number: "Request timeout." for 10060.
std::string failure_message(std::uint32_t error);

}  // namespace vexmo

#endif  // VEXMO_DRIVER_EVENTS_H
