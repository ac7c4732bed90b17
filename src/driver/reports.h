// The lines vexmo prints for each outcome and for the summary, as text or
// (--json) as JSON Lines.
#ifndef VEXMO_DRIVER_REPORTS_H
#define VEXMO_DRIVER_REPORTS_H

#include <cstdint>
#include <optional>

#include "common/run_types.h"
#include "common/text.h"
#include "driver/json_lines.h"
#include "driver/statistics.h"
#include "icmp/answer.h"

namespace vexmo {

// The line of a failed send or wait, without its line feed, by Windows
// Sockets error number: "Request timeout." for 10060.
Text failure_message(std::uint32_t error);

// An ICMP or ICMPv6 error message as its line names it: the kind ("Time
// Exceeded") and the reason its code gives, "Unknown code N" for a code
// without one, none for the kinds whose line has no reason (Source Quench,
// Parameter Problem, Packet Too Big).
struct IcmpDescription {
  const char* kind = "";
  std::optional<Text> reason;
};
IcmpDescription describe_icmp(std::uint8_t type, std::uint8_t code, AddressFamily family);

// What the line or the object of an answer tells. from (the sender's
// address text) is borrowed, not copied.
ReplyFacts reply_facts(const Answer& answer, std::uint32_t request, const char* from);
IcmpFacts icmp_facts(const Answer& answer, std::uint32_t request, const char* from);

// The text lines of an answer, without their line feed.
Text reply_line(const ReplyFacts& facts);
Text icmp_line(const IcmpFacts& facts);

// Prints a run's lines in the format its settings choose. Each line is
// written out (flushed) as soon as it is printed, so that a reader at the
// other end of a pipe sees every request's line when it happens, and a
// killed run loses no line it printed.
class Reporter {
 public:
  explicit Reporter(const RunSettings& settings) : settings_(settings) {}

  // The opening line: "Ping to ...", or the start object. ip_version: 4 or
  // 6; ip_bytes: the size with the IP and ICMP headers.
  void start(int ip_version, std::uint32_t ip_bytes);
  void reply(const ReplyFacts& facts);
  void icmp(const IcmpFacts& facts);
  // A failed send or wait (error: the Windows Sockets number).
  void failure(std::uint32_t request, std::uint32_t error);
  // The host could not be resolved before the request; the run ends.
  void unresolved(std::uint32_t request);
  // The statistics of the requests finished so far while the run goes on:
  // the blank line and the summary lines of the text, or an interim object.
  void interim(const RunStatistics& stats);
  // The summary that ends the run. interrupted: the user stopped it before
  // it ended by itself (the text does not show it; the JSON says so).
  void finish(const RunStatistics& stats, bool interrupted);
  // The run could not give up its elevated identity and ends before it
  // starts. With --json the message goes to standard error, which keeps
  // standard output to JSON alone.
  void privileges_kept();

 private:
  void emit(const Text& line);
  void summary(const RunStatistics& stats, SummaryEvent event, bool interrupted);

  RunSettings settings_;
};

}  // namespace vexmo

#endif  // VEXMO_DRIVER_REPORTS_H
