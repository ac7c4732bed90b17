#include "icmp/echo_socket.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "common/icmp.h"
#include "common/wait_limit.h"
#include "common/winsock_errors.h"
#include "icmp/answer.h"
#include "icmp/echo_message.h"
#include "icmp/round_trip.h"

namespace vexmo {

void EchoSocket::open(AddressFamily family, std::uint16_t wanted_identifier) {
  close();
  family_ = family;
  identifier_ = wanted_identifier;
  handle_ = socket_open_icmp(family, &identifier_);
  wait_prepared_ = false;
}

RefusedOptions EchoSocket::apply(const EchoOptions& options) {
  // The wait keeps the run's timeout itself, to the millisecond (0: none).
  deadline_ms_ = options.timeout_ms;
  socket_set_option(handle_, SocketOption::send_timeout_ms, options.timeout_ms);
  socket_set_option(handle_, SocketOption::send_buffer_bytes, 65536);
  socket_set_option(handle_, SocketOption::receive_buffer_bytes, 65536);
  RefusedOptions refused;
  if (options.ttl) {
    refused.ttl = socket_set_option(handle_, SocketOption::time_to_live, *options.ttl) < 0;
  }
  if (options.tos) {
    refused.tos = socket_set_option(handle_, SocketOption::type_of_service, *options.tos) < 0;
  }
  if (options.dont_fragment) {
    socket_set_option(handle_, SocketOption::dont_fragment, 1);
  }
  // Other processes' ICMP traffic must not fill the receive buffer.
  socket_accept_only_identifier(handle_, identifier_);
  if (!is_open()) {
    return RefusedOptions{};
  }
  return refused;
}

void EchoSocket::discard_waiting() {
  wait_prepared_ = false;  // the buffer is written
  // Transmit stamps of requests that got no reply would otherwise pile up
  // on the error queue and take the room the replies need.
  socket_take_transmit_stamp(handle_, ~std::uint64_t{0});
  Received ignored;
  for (int i = 0; i < kMaxDiscardedDatagrams; ++i) {
    if (socket_receive_queued(handle_, buffer_, sizeof buffer_, &ignored) <= 0) {
      return;
    }
  }
}

void EchoSocket::prepare_wait() {
  // Zeroed once per wait: bytes past a short datagram read as zero (or as
  // what a longer datagram of the same wait left), never as stale memory.
  std::memset(buffer_, 0, sizeof buffer_);
  wait_prepared_ = true;
}

Outcome EchoSocket::send(const SocketAddress& to, std::uint16_t sequence, const std::uint8_t* data,
                         std::uint32_t size, std::uint64_t* send_stamp) {
  const std::size_t length = size + kIcmpHeaderBytes;
  auto* message = static_cast<std::uint8_t*>(std::malloc(length));
  if (message == nullptr) {
    return -kErrorNoBuffers;
  }
  write_echo_request(message, family_, identifier_, sequence, data, size);
  // The copy of the data above stays outside the measured round trip:
  // only the checksum comes between this stamp and the send.
  *send_stamp = counter_now();
  seal_echo_request(message, family_, size, *send_stamp);
  // On the clock the kernel stamps with: the fallback when it gives a
  // receive stamp but no transmit stamp.
  wall_sent_ns_ = wall_clock_ns();
  const Outcome sent = socket_send_to(handle_, message, length, to);
  std::free(message);
  return sent;
}

Outcome EchoSocket::wait(SocketAddress* from, Answer* answer, std::uint64_t send_stamp,
                         InterimReport* report, std::optional<std::uint32_t> cut_ms) {
  if (!wait_prepared_) {
    prepare_wait();
  }
  wait_prepared_ = false;  // good for one wait
  *from = SocketAddress{};
  const std::uint64_t frequency = counter_frequency();
  const std::uint64_t start = counter_now();
  std::uint64_t transmit_ns = 0;  // a transmit stamp met on the way
  std::optional<std::uint32_t> limit_ms = cut_ms;
  if (deadline_ms_ != 0 && (!limit_ms || deadline_ms_ < *limit_ms)) {
    limit_ms = deadline_ms_;
  }

  for (;;) {
    // The platform may end a wait early or take it in pieces: each round
    // waits for what is left of the deadline, and only the deadline ends
    // the wait by time.
    std::uint32_t left_ms = kWaitWithoutLimitMs;
    if (limit_ms) {
      left_ms = ms_left(*limit_ms, elapsed_ms(start, counter_now(), frequency));
      if (left_ms == 0) {
        return -kErrorTimedOut;
      }
    }
    Outcome failure = 0;
    const WaitEnd end = socket_wait(handle_, left_ms, &failure);
    if (end == WaitEnd::interrupted) {
      if (!carry_on_after_interruption(report)) {
        return kOutcomeStopped;
      }
      continue;
    }
    if (end == WaitEnd::failed) {
      return failure;
    }
    if (end == WaitEnd::elapsed) {
      continue;
    }
    Received received;
    received.family = family_;
    const Outcome count = socket_receive_queued(handle_, buffer_, sizeof buffer_, &received);
    if (received.stamps.transmit_ns != 0) {
      transmit_ns = received.stamps.transmit_ns;  // met on the way, whatever came of it
    }
    if (count == -kErrorWouldBlock) {
      continue;  // woken for nothing to receive after all
    }
    if (count <= 0) {
      return count;
    }
    *from = received.from;
    const bool answered = is_answer(received, identifier_, send_stamp);
    std::uint32_t round_trip = 0;
    const bool echo_reply =
        answered && !received.reported && is_echo_reply(received.message[0], family_);
    if (echo_reply) {
      ExchangeClocks clocks;
      clocks.counter_recognised = counter_now();
      clocks.counter_sent = send_stamp;
      clocks.counter_frequency = frequency;
      clocks.wall_sent_ns = wall_sent_ns_;
      clocks.kernel_receive_ns = received.stamps.receive_ns;
      clocks.kernel_transmit_ns = transmit_ns >= wall_sent_ns_
                                      ? transmit_ns
                                      : socket_take_transmit_stamp(handle_, wall_sent_ns_);
      round_trip = measure_round_trip(clocks).us;
    }
    // An echo reply is late by when it arrived, its round trip from the
    // send (by the kernel's stamps where there are any) less the time from
    // the send to this wait: on a busy machine this process may come to read
    // an answer that arrived in time only after the limit.
    const std::uint64_t waited_ms =
        echo_reply ? (round_trip - std::min<std::uint64_t>(
                                       round_trip, elapsed_us(send_stamp, start, frequency))) /
                         1000
                   : elapsed_ms(start, counter_now(), frequency);
    if (limit_ms && waited_ms > *limit_ms) {
      return -kErrorTimedOut;
    }
    if (answered) {
      *answer = read_answer(received, round_trip);
      return count;
    }
  }
}

void EchoSocket::close() {
  if (handle_.kind != SocketKind::none) {
    socket_close(handle_);
  }
  handle_ = SocketHandle{};
}

}  // namespace vexmo
