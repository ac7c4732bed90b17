// The ICMP socket of a run, with what belongs to it: the identifier its
// requests carry, the receive buffer the answers land in, and the wait
// prepared before each send.
#ifndef VEXMO_ICMP_ECHO_SOCKET_H
#define VEXMO_ICMP_ECHO_SOCKET_H

#include <cstddef>
#include <cstdint>
#include <optional>

#include "common/address.h"
#include "icmp/answer.h"
#include "icmp/interruption.h"
#include "platform/platform.h"

namespace vexmo {

// Room for the largest datagram a socket hands over: an IPv4 datagram with
// its header, or an ICMPv6 message of up to 65,535 bytes (the IPv6 payload
// limit), with room to spare.
constexpr std::size_t kReceiveBufferBytes = 65535 + 40;

// Bound on the datagrams discarded before a send, so that a flood cannot
// keep a request from ever being sent.
constexpr int kMaxDiscardedDatagrams = 1024;

// What a wait without deadline asks of the platform each time: as long as
// it can take (the platform shortens it where it must).
constexpr std::uint32_t kWaitWithoutLimitMs = 0xFFFFFFFFu;

// What a run asks of its socket: the wait's timeout (0: none), and the
// options of the requests where they were given.
struct EchoOptions {
  std::uint32_t timeout_ms = 3000;
  std::optional<std::uint32_t> ttl;
  std::optional<std::uint8_t> tos;
  bool dont_fragment = false;
};

// The options the system refused when they were set: the requests leave
// with its own values of those instead.
struct RefusedOptions {
  bool ttl = false;
  bool tos = false;
};

class EchoSocket {
 public:
  EchoSocket() = default;
  ~EchoSocket() {
    close();
  }
  EchoSocket(const EchoSocket&) = delete;
  EchoSocket& operator=(const EchoSocket&) = delete;

  // Opens the socket of the family for requests that carry
  // wanted_identifier, or the one the system gives instead (identifier()).
  // A socket that cannot be opened fails every later call with its error,
  // as the requests then report.
  void open(AddressFamily family, std::uint16_t wanted_identifier);
  std::uint16_t identifier() const {
    return identifier_;
  }
  AddressFamily family() const {
    return family_;
  }
  // Whether open got a socket from the system.
  bool is_open() const {
    return handle_.kind != SocketKind::none;
  }

  // Sets the run's options, and takes its timeout as the deadline of every
  // wait (0: none; none before the first apply). Returns which of the TTL
  // and type of service the system refused (a socket that is not open
  // refuses nothing here: its requests fail on their own).
  RefusedOptions apply(const EchoOptions& options);
  // Not opened for want of a right: what the user can mend.
  bool refused_for_privilege() const {
    return handle_.refused_for_privilege;
  }

  // Discards the datagrams already queued: answers that came after their own
  // wait ended must not be taken for the next request's.
  void discard_waiting();

  // Does before the send what the wait would otherwise do first, so that
  // none of it falls inside the measured round trip: zeroes the receive
  // buffer. Good for the next wait only; a discard undoes it, and a wait
  // that finds nothing prepared does it itself.
  void prepare_wait();

  // Builds, stamps and sends one echo request of size data bytes taken from
  // data: the bytes sent (size + 8), or minus the error number (-10055 when
  // the message buffer cannot be allocated). *send_stamp is the stamp the
  // request carries, which its echo reply must bring back.
  Outcome send(const SocketAddress& to, std::uint16_t sequence, const std::uint8_t* data,
               std::uint32_t size, std::uint64_t* send_stamp);

  // Waits for the answer to the request that carried send_stamp (see
  // is_answer): the byte count received with *answer filled, or minus the
  // error number: -10060 when the deadline (the run's timeout, 0: none)
  // passed, counted from the start of the wait however the platform splits
  // it up. A stop from the user ends it with kOutcomeStopped; an interim is
  // printed through report and the wait goes on. cut_ms, where given, ends
  // the wait sooner than the deadline (when the next request is due), as
  // the deadline would. An echo reply's round trip
  // is timed at its recognition, by the kernel's stamps where they can be
  // trusted (round_trip.h). *from is left holding the sender of the last
  // datagram received (of an error-queue report: who sent the error).
  Outcome wait(SocketAddress* from, Answer* answer, std::uint64_t send_stamp,
               InterimReport* report = nullptr, std::optional<std::uint32_t> cut_ms = std::nullopt);

  void close();

 private:
  SocketHandle handle_;
  AddressFamily family_ = AddressFamily::ipv4;
  std::uint16_t identifier_ = 0;
  bool wait_prepared_ = false;
  std::uint32_t deadline_ms_ = 0;   // the run's timeout; 0: none
  std::uint64_t wall_sent_ns_ = 0;  // real-time clock at the last send
  std::uint8_t buffer_[kReceiveBufferBytes];
};

}  // namespace vexmo

#endif  // VEXMO_ICMP_ECHO_SOCKET_H
