// A scripted stand-in for the operating system, linked into the unit tests in
// place of the real platform backend. Time is simulated: a wait moves the
// clock to the arrival of the next datagram, to a scripted interruption or
// to its end, a pause moves it on, and nothing really sleeps.
#ifndef VEXMO_TESTS_FAKE_PLATFORM_H
#define VEXMO_TESTS_FAKE_PLATFORM_H

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/interruptions.h"
#include "platform/platform.h"

namespace vexmo {
namespace fake {

struct Datagram {
  std::vector<std::uint8_t> bytes;
  std::uint32_t from = 0;  // network order
  bool ipv6 = false;       // from an IPv6 sender: from6, not from
  SocketAddress from6;
  std::uint64_t arrive_us = 0;          // simulated time it is received at (never earlier than now)
  bool waiting = false;                 // queued by the time the next request is about to be sent
  int error = 0;                        // non-zero: this receive fails with that error instead
  std::uint64_t kernel_receive_ns = 0;  // the kernel's arrival stamp (0: none)
  std::uint64_t kernel_transmit_ns = 0;  // a transmit stamp met before it (0: none)
  std::uint64_t read_late_us = 0;        // the process comes to read it this long after it is ready
  // An error-queue report instead (ICMP datagram sockets): of this type,
  // code and second word, sent by from (from6), quoting bytes.
  bool reported = false;
  std::uint8_t type = 0;
  std::uint8_t code = 0;
  std::uint32_t info = 0;
};

struct ScriptedInterruption {
  std::uint64_t at_us = 0;
  Interruption kind = Interruption::none;
  bool taken = false;
};

struct Sent {
  std::vector<std::uint8_t> bytes;
  SocketAddress to;
  std::uint64_t at_us;
};

struct State {
  std::deque<Datagram> inbound;
  std::vector<Sent> sent;
  std::vector<std::pair<SocketOption, std::uint32_t>> options;
  // Each call of socket_accept_only_identifier: the identifier and how many
  // options had been set before it.
  std::vector<std::pair<std::uint16_t, std::size_t>> identifier_filters;
  std::vector<std::uint32_t> sleeps;               // the time each pause was given
  std::map<std::string, std::uint32_t> names;      // name -> address (network order)
  std::map<std::string, SocketAddress> names6;     // name -> first IPv6 address
  std::map<std::string, SocketAddress> literals6;  // IPv6 text that converts (no lookup)
  std::vector<std::string> looked_up;              // every name resolve_name was asked for
  std::uint64_t lookup_us = 0;                     // the simulated time each lookup takes
  std::vector<AddressFamily> looked_up_families;   // and the family it was asked for
  std::vector<AddressFamily> opened;               // every socket_open_icmp, in order
  std::vector<AddressFamily> closed_families;      // every socket_close, in order
  bool ipv6_unopenable = false;               // IPv6 sockets fail to open (as under Wine: 10043)
  bool ipv4_unopenable = false;               // IPv4 sockets fail to open (no privilege)
  std::vector<SocketOption> refused_options;  // socket_set_option fails for these
  std::uint64_t now_us = 1000000;             // the counter runs at 1 MHz on this clock
  std::uint64_t counter_offset = 0;           // added to the counter (to test far readings)
  std::uint32_t process_id = 0x00051234;
  // The run's timeout as apply set the send timeout to it (0: none): a wait
  // without one that nothing scripted can end fails as timed out.
  std::uint32_t send_timeout_ms = 3000;
  int send_error = 0;                   // non-zero: every send fails with it
  std::uint16_t opened_identifier = 0;  // the identifier the socket was opened for
  std::uint16_t kernel_identifier = 0;  // non-zero: the socket's requests must carry this instead
  bool privilege_drop_fails = false;
  int closed = 0;    // sockets closed
  int cleanups = 0;  // socket library shut-downs
  // Real-time clock: wall_offset_ns + the simulated time; queued transmit
  // stamps, taken by socket_take_transmit_stamp.
  std::uint64_t wall_offset_ns = 1700000000000000000ull;
  std::vector<std::uint64_t> transmit_stamps;
  bool utf8 = false;  // standard output is read as UTF-8
  // Standard output's terminal, its size (which a test may change between
  // events), and whether it was given back.
  TerminalKind terminal = TerminalKind::none;
  TerminalSize terminal_size{24, 80};
  int terminal_closes = 0;
  int discarded = 0;  // datagrams received without a wait before them (drained)
  int receives = 0;   // datagrams (or failures) received after a wait
  bool ready_for_receive = false;
  std::vector<std::uint32_t> waits;  // the time each socket wait was given
  // Files replace_file wrote (path -> text), and every text it wrote, in
  // order; paths it cannot write (file_writable says no, replace_file fails).
  std::map<std::string, std::string> files;
  std::vector<std::string> file_writes;
  std::vector<std::string> unwritable_paths;
  // Called after every send, to script answers to what was sent.
  std::function<void(const Sent&)> on_send;

  // Interruptions the user raises at a simulated time; each is pending from
  // then until taken.
  std::vector<ScriptedInterruption> interruptions;
  // Times at which a platform wait ends early without an interruption (a
  // signal that is none, a stop and continue of the process).
  std::vector<std::uint64_t> early_wakeups_us;
  // The longest wait the platform takes in one call, as poll and
  // WaitForMultipleObjects have one; a longer one ends early as elapsed.
  std::uint32_t longest_wait_ms = 0x7FFFFFFFu;
  int watch_calls = 0;
  // The simulated time of each take that found an interruption.
  std::vector<std::uint64_t> taken_at_us;
};

// More socket waits than any test needs: the fake fails the next one.
constexpr std::size_t kMostWaits = 100000;

State& state();
void reset();

// The datagram the socket gets next: the first to arrive, the first
// scripted among equals; with queued_only, only among those already queued
// (arrived, or marked waiting). inbound.end() for none.
std::deque<Datagram>::iterator next_datagram(bool queued_only);

// How a platform wait from now until until_us ends, on the script: at the
// first interruption raised by then (pending ones first: at once), at the
// first early wake-up, or at until_us; the clock is moved to that time.
// The same scripting serves the pause and the socket's wait.
WaitEnd wait_until(std::uint64_t until_us);

// True when nothing is scripted to come: no datagram, no interruption not
// taken yet, no wake-up still ahead.
bool nothing_scripted();

std::uint32_t address(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d);

// Records a scripted datagram of n bytes at bytes as a socket of the family
// receives it: IPv4 through the raw backends' own reading of the IPv4
// header; ICMPv6 behind the 40-byte header ipv6_datagram puts in front to
// carry the hop limit, or bare.
void record_datagram(const std::uint8_t* bytes, std::size_t n, AddressFamily family,
                     Received* received);

// An IPv4 datagram around an ICMP message: header_words 5 is a plain 20-byte
// header, more adds zero option words.
std::vector<std::uint8_t> ip_datagram(const std::vector<std::uint8_t>& icmp, std::uint8_t ttl,
                                      int header_words = 5);

// The echo reply a peer would send for a request: same bytes, type 0 (or 129
// for an ICMPv6 request).
std::vector<std::uint8_t> echo_reply_for(const std::vector<std::uint8_t>& request);

// An IPv6 address from its eight 16-bit groups.
SocketAddress address6(std::uint16_t g0, std::uint16_t g1, std::uint16_t g2, std::uint16_t g3,
                       std::uint16_t g4, std::uint16_t g5, std::uint16_t g6, std::uint16_t g7,
                       std::uint32_t scope_id = 0);

// An ICMPv6 message as the fake scripts it: behind a 40-byte IPv6 header
// that carries the hop limit the system reports beside it.
std::vector<std::uint8_t> ipv6_datagram(const std::vector<std::uint8_t>& icmp,
                                        std::uint8_t hop_limit);

// An ICMPv6 error message of the type and code that quotes request behind
// a 40-byte IPv6 header (next header 58); info fills the second word (the
// MTU of Packet Too Big), quoted_bytes limits the quote.
std::vector<std::uint8_t> error6_about(std::uint8_t type, std::uint8_t code,
                                       const std::vector<std::uint8_t>& request,
                                       std::uint32_t info = 0, std::size_t quoted_bytes = 64);

// An ICMP error message of the given type and code that quotes request
// (behind a 20-byte IP header, as routers quote it).
std::vector<std::uint8_t> error_about(std::uint8_t type, std::uint8_t code,
                                      const std::vector<std::uint8_t>& request,
                                      std::uint32_t gateway = 0);

}  // namespace fake
}  // namespace vexmo

#endif  // VEXMO_TESTS_FAKE_PLATFORM_H
