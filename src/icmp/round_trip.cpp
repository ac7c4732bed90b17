#include "icmp/round_trip.h"

namespace vexmo {
namespace {

std::uint64_t counter_ns(const ExchangeClocks& clocks) {
  if (clocks.counter_frequency == 0) {
    return 0;
  }
  // Whole seconds and the rest apart, so ticks x 10^9 cannot overflow.
  const std::uint64_t ticks = clocks.counter_recognised - clocks.counter_sent;
  const std::uint64_t f = clocks.counter_frequency;
  return ticks / f * 1000000000u + ticks % f * 1000000000u / f;
}

// A real-time span from from_ns to to_ns, when both were read and it fits
// inside what the counter measured.
bool agrees(std::uint64_t from_ns, std::uint64_t to_ns, std::uint64_t counter_span_ns) {
  return from_ns != 0 && to_ns != 0 && to_ns >= from_ns &&
         to_ns - from_ns <= counter_span_ns + kClockAgreementNs;
}

std::uint32_t us_of(std::uint64_t ns) {
  return static_cast<std::uint32_t>(ns / 1000);
}

}  // namespace

std::uint32_t round_trip_us(std::uint64_t send_stamp, std::uint64_t receive_stamp,
                            std::uint64_t frequency) {
  if (frequency == 0) {
    return 0;
  }
  const std::uint64_t ticks = receive_stamp - send_stamp;
  const std::uint64_t us = ticks / frequency * 1000000u + ticks % frequency * 1000000u / frequency;
  return static_cast<std::uint32_t>(us);
}

RoundTrip measure_round_trip(const ExchangeClocks& clocks) {
  RoundTrip result;
  const std::uint64_t span_ns = counter_ns(clocks);
  // A transmit stamp older than this request's send belongs to an earlier one.
  const bool transmit_is_ours =
      clocks.wall_sent_ns == 0 || clocks.kernel_transmit_ns >= clocks.wall_sent_ns;
  if (transmit_is_ours && agrees(clocks.kernel_transmit_ns, clocks.kernel_receive_ns, span_ns)) {
    const std::uint64_t ns = clocks.kernel_receive_ns - clocks.kernel_transmit_ns;
    result.us = us_of(ns < span_ns ? ns : span_ns);
    result.clock = RoundTripClock::kernel;
  } else if (agrees(clocks.wall_sent_ns, clocks.kernel_receive_ns, span_ns)) {
    const std::uint64_t ns = clocks.kernel_receive_ns - clocks.wall_sent_ns;
    result.us = us_of(ns < span_ns ? ns : span_ns);
    result.clock = RoundTripClock::kernel_receive;
  } else {
    result.us =
        round_trip_us(clocks.counter_sent, clocks.counter_recognised, clocks.counter_frequency);
  }
  return result;
}

}  // namespace vexmo
