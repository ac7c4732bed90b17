#include "icmp/echo_socket.h"

#include <cstdlib>
#include <cstring>

#include "common/byte_order.h"
#include "common/icmp.h"
#include "common/winsock_errors.h"
#include "icmp/answer.h"
#include "icmp/echo_message.h"
#include "icmp/round_trip.h"

namespace vexmo {

void EchoSocket::open(std::uint16_t wanted_identifier) {
  close();
  identifier_ = wanted_identifier;
  handle_ = socket_open_icmp(&identifier_);
  wait_prepared_ = false;
}

void EchoSocket::apply(const RunSettings& settings) {
  wait_prepared_ = false;  // the deadline may change
  socket_set_option(handle_, SocketOption::receive_timeout_ms, settings.timeout_ms);
  socket_set_option(handle_, SocketOption::send_timeout_ms, settings.timeout_ms);
  socket_set_option(handle_, SocketOption::send_buffer_bytes, 65536);
  socket_set_option(handle_, SocketOption::receive_buffer_bytes, 65536);
  if (settings.ttl_given) {
    socket_set_option(handle_, SocketOption::time_to_live, settings.ttl);
  }
  if (settings.tos_given) {
    socket_set_option(handle_, SocketOption::type_of_service, settings.tos);
  }
  if (settings.dont_fragment) {
    socket_set_option(handle_, SocketOption::dont_fragment, 1);
  }
  // Other processes' ICMP traffic must not fill the receive buffer.
  socket_accept_only_identifier(handle_, identifier_);
}

void EchoSocket::discard_waiting() {
  wait_prepared_ = false;  // the buffer is written
  // Transmit stamps of requests that got no reply would otherwise pile up
  // on the error queue and take the room the replies need.
  socket_take_transmit_stamp(handle_, ~std::uint64_t{0});
  for (int i = 0; i < kMaxDiscardedDatagrams; ++i) {
    if (socket_take_queued(handle_, buffer_, sizeof buffer_) <= 0) {
      return;
    }
  }
}

void EchoSocket::prepare_wait() {
  // Zeroed once per wait: bytes past a short datagram read as zero (or as
  // what a longer datagram of the same wait left), never as stale memory.
  std::memset(buffer_, 0, sizeof buffer_);
  // The deadline is the timeout the socket actually has; 0 means none.
  deadline_ms_ = 0;
  socket_get_receive_timeout(handle_, &deadline_ms_);
  wait_prepared_ = true;
}

Outcome EchoSocket::send(const SocketAddress& to, std::uint16_t sequence, const std::uint8_t* data,
                         std::uint32_t size, std::uint64_t* send_stamp) {
  const std::size_t length = size + kIcmpHeaderBytes;
  auto* message = static_cast<std::uint8_t*>(std::malloc(length));
  if (message == nullptr) {
    return -kErrorNoBuffers;
  }
  write_echo_request(message, identifier_, sequence, data, size);
  // The copy of the data above stays outside the measured round trip:
  // only the checksum comes between this stamp and the send.
  *send_stamp = counter_now();
  seal_echo_request(message, size, *send_stamp);
  // On the clock the kernel stamps with: the fallback when it gives a
  // receive stamp but no transmit stamp.
  wall_sent_ns_ = wall_clock_ns();
  const Outcome sent = socket_send_to(handle_, message, length, to);
  std::free(message);
  return sent;
}

Outcome EchoSocket::wait(SocketAddress* from, ReplyView* view, std::uint64_t send_stamp) {
  if (!wait_prepared_) {
    prepare_wait();
  }
  wait_prepared_ = false;  // good for one wait
  *from = SocketAddress{};
  const std::uint32_t start_ms = tick_count_ms();
  KernelStamps stamps;

  for (;;) {
    const Outcome received = socket_receive_from(handle_, buffer_, sizeof buffer_, from, &stamps);
    if (received <= 0) {
      return received;
    }
    *view = view_datagram(buffer_);
    const std::size_t header_bytes = static_cast<std::size_t>(view->message - buffer_);
    const std::size_t length = static_cast<std::size_t>(received) > header_bytes
                                   ? static_cast<std::size_t>(received) - header_bytes
                                   : 0;
    const bool answer = is_answer(view->message, length, identifier_, send_stamp);
    if (answer && view->message[0] == kTypeEchoReply) {
      ExchangeClocks clocks;
      clocks.counter_recognised = counter_now();
      write_le64(view->message + kReceiveStampOffset, clocks.counter_recognised);
      clocks.counter_sent = send_stamp;
      clocks.counter_frequency = counter_frequency();
      clocks.wall_sent_ns = wall_sent_ns_;
      clocks.kernel_receive_ns = stamps.receive_ns;
      clocks.kernel_transmit_ns = stamps.transmit_ns >= wall_sent_ns_
                                      ? stamps.transmit_ns
                                      : socket_take_transmit_stamp(handle_, wall_sent_ns_);
      const RoundTrip round_trip = measure_round_trip(clocks);
      view->has_round_trip = true;
      view->round_trip_us = round_trip.us;
    }
    // Unsigned difference: a wrap of the tick count is harmless.
    if (deadline_ms_ != 0 && tick_count_ms() - start_ms > deadline_ms_) {
      return -kErrorTimedOut;
    }
    if (answer) {
      return received;
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
