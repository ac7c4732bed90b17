#include "icmp/round_trip.h"

#include <gtest/gtest.h>

#include <string>

namespace vexmo {
namespace {

TEST(RoundTrip, ExactMicrosecondsWithoutOverflow) {
  const struct {
    std::uint64_t send, receive, frequency;
    std::uint32_t us;
  } cases[] = {
      {1000, 13345, 1000000, 12345},
      {0, 7000, 1000000000, 7},                      // nanosecond counter
      {5, 5 + 123456789, 10000000, 12345678},        // 10 MHz counter
      {0xFFFFFFFFFFFFFF00ull, 0x100, 1000000, 512},  // counter wrapped between the stamps
      // Six hours of nanoseconds: ticks x 1,000,000 would not fit 64 bits.
      {0, 21600000000000ull, 1000000000, static_cast<std::uint32_t>(21600000000ull)},
      {10, 20, 0, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(round_trip_us(c.send, c.receive, c.frequency), c.us) << c.receive;
  }
}

// Which clock times the reply, for each situation the stamps can be in. The
// counter runs at 1 MHz here; the exchange took 100 us on it (50 us to the
// send stamp, then the counter), and the wall clock is read 2 us after the
// counter at the send.
TEST(RoundTrip, KernelStampsOnlyWhereTheyAgreeWithTheCounter) {
  constexpr std::uint64_t kWall = 1700000000000000000ull;  // the real-time clock at the send
  const struct {
    const char* name;
    std::uint64_t transmit;  // kernel stamps as offsets from kWall in ns; 0: none
    std::uint64_t receive;
    bool wall_read;
    std::uint32_t us;
    RoundTripClock clock;
  } cases[] = {
      {"both present and consistent", 5000, 20000, true, 15, RoundTripClock::kernel},
      {"transmit stamp missing", 0, 20000, true, 20, RoundTripClock::kernel_receive},
      {"receive stamp missing", 5000, 0, true, 100, RoundTripClock::counter},
      {"neither: the counter", 0, 0, true, 100, RoundTripClock::counter},
      {"no wall reading either: the counter", 0, 20000, false, 100, RoundTripClock::counter},
      // Received before it was sent: the clock went back between the stamps.
      {"kernel figure negative", 30000, 20000, true, 20, RoundTripClock::kernel_receive},
      // Longer than the counter saw: the clock went forward between them.
      {"kernel figure longer than the counter's", 5000, 5000000, true, 100,
       RoundTripClock::counter},
      {"stale transmit stamp from an earlier request", 0, 20000, true, 20,
       RoundTripClock::kernel_receive},
      {"within the clocks' agreement, cut to the counter's", 1, 110000, true, 100,
       RoundTripClock::kernel},
  };
  for (const auto& c : cases) {
    ExchangeClocks clocks;
    clocks.counter_sent = 1000;
    clocks.counter_recognised = 1100;
    clocks.counter_frequency = 1000000;
    clocks.wall_sent_ns = c.wall_read ? kWall : 0;
    clocks.kernel_transmit_ns = c.transmit != 0 ? kWall + c.transmit : 0;
    clocks.kernel_receive_ns = c.receive != 0 ? kWall + c.receive : 0;
    if (std::string(c.name).find("stale") != std::string::npos) {
      clocks.kernel_transmit_ns = kWall - 1000000;  // a millisecond before this send
    }
    const RoundTrip got = measure_round_trip(clocks);
    EXPECT_EQ(got.us, c.us) << c.name;
    EXPECT_EQ(static_cast<int>(got.clock), static_cast<int>(c.clock)) << c.name;
    EXPECT_LE(got.us, 100u) << c.name << ": longer than the request took";
  }
}

}  // namespace
}  // namespace vexmo
