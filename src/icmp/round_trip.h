// Which clock times a round trip. The kernel can stamp a request as it
// leaves and its reply as it arrives; those stamps are closest to the wire
// but come from the real-time clock, which can be stepped. They are used
// only where they agree with the monotonic counter read around the same
// exchange; otherwise the receive stamp against a real-time reading taken
// just before the send; otherwise the counter alone.
#ifndef VEXMO_ICMP_ROUND_TRIP_H
#define VEXMO_ICMP_ROUND_TRIP_H

#include <cstdint>

namespace vexmo {

// The readings of one exchange; 0 where a reading was not taken.
struct ExchangeClocks {
  std::uint64_t counter_sent = 0;        // counter ticks just before the send
  std::uint64_t counter_recognised = 0;  // when the answer was recognised
  std::uint64_t counter_frequency = 0;   // ticks per second
  std::uint64_t wall_sent_ns = 0;        // real-time clock just before the send
  std::uint64_t kernel_transmit_ns = 0;  // real-time, by the kernel as it left
  std::uint64_t kernel_receive_ns = 0;   // real-time, by the kernel as it arrived
};

enum class RoundTripClock { kernel, kernel_receive, counter };

struct RoundTrip {
  std::uint32_t us = 0;
  RoundTripClock clock = RoundTripClock::counter;
};

// How far a real-time figure may exceed the counter's send-to-recognition
// time and still be trusted: the two clocks are read at slightly different
// moments, a step of the real-time clock is far larger.
constexpr std::uint64_t kClockAgreementNs = 20000;

// Whole microseconds from two counter readings; the low 32 bits of the exact
// quotient, whatever the size of the tick difference.
std::uint32_t round_trip_us(std::uint64_t send_stamp, std::uint64_t receive_stamp,
                            std::uint64_t frequency);

// The figure to print: never negative and never longer than the counter's
// send-to-recognition time.
RoundTrip measure_round_trip(const ExchangeClocks& clocks);

}  // namespace vexmo

#endif  // VEXMO_ICMP_ROUND_TRIP_H
