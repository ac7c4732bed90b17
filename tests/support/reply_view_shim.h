// TEMPORARY, for tests/driver/reports_test.cpp only, until the driver tests'
// rewrite (which owns tests/driver/) builds its Answers directly: the view
// of a received datagram that the wait no longer gives (it yields an Answer
// from a received record), read as read_answer read it. Remove with it.
#ifndef VEXMO_TESTS_REPLY_VIEW_SHIM_H
#define VEXMO_TESTS_REPLY_VIEW_SHIM_H

#include <cstdint>

#include "common/byte_order.h"
#include "common/icmp.h"
#include "icmp/answer.h"
#include "icmp/round_trip.h"

namespace vexmo {

struct ReplyView {
  std::uint8_t* message = nullptr;
  const std::uint8_t* ip_header = nullptr;
  AddressFamily family = AddressFamily::ipv4;
};

// The answer in view: the round trip from the counter stamps it carries,
// the time to live (hop limit) from the header in front of it.
inline Answer read_answer(const ReplyView& view, std::uint64_t frequency) {
  Received received;
  received.family = view.family;
  received.message = view.message;
  received.length = kEchoDataOffset;
  if (view.ip_header != nullptr) {
    received.ttl = view.ip_header[view.family == AddressFamily::ipv6 ? kIpv6HopLimitOffset : 8];
  }
  return read_answer(received,
                     round_trip_us(read_le64(view.message + kSendStampOffset),
                                   read_le64(view.message + kReceiveStampOffset), frequency));
}

}  // namespace vexmo

#endif  // VEXMO_TESTS_REPLY_VIEW_SHIM_H
