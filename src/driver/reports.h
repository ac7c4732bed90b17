// The lines vexmo prints for each outcome, and the summary.
#ifndef VEXMO_DRIVER_REPORTS_H
#define VEXMO_DRIVER_REPORTS_H

#include <cstdint>

#include "common/run_types.h"

namespace vexmo {

// Round-trip time in whole microseconds from two counter readings; the low
// 32 bits of the exact quotient, whatever the size of the tick difference.
std::uint32_t round_trip_us(std::uint64_t send_stamp, std::uint64_t receive_stamp,
                            std::uint64_t frequency);

// Folds one echo reply's round-trip time into the statistics.
void record_round_trip(RunStats* stats, std::uint32_t rtt_us);

// Prints the line of a failed send or wait (outcome < 0).
void report_failure(Outcome outcome);

// Prints the line of an ICMP error message (is_error_type) about one of our
// requests; address_text is its sender.
void report_icmp_message(const ReplyView& view, const char* address_text);

// Prints the time line of an echo reply and folds its round-trip time into
// stats (not the received count).
void report_echo_reply(const ReplyView& view, const char* address_text, std::uint64_t frequency,
                       RunStats* stats);

// The packets line (when anything was sent) and the round-trip line.
void print_summary(const RunStats& stats);

}  // namespace vexmo

#endif  // VEXMO_DRIVER_REPORTS_H
