// The operating-system services vexmo needs: the one seam between the
// portable code and the system. One backend per platform (win32/, posix/),
// the build links one. Everything above this header is portable and
// free of system headers.
//
// Nothing here prints or ends the process. Every socket call reports its
// failure as a value: minus a Windows Sockets error number (see
// common/winsock_errors.h), on every platform, so that the reports print the
// same number for the same failure everywhere.
#ifndef VEXMO_PLATFORM_PLATFORM_H
#define VEXMO_PLATFORM_PLATFORM_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "common/address.h"
#include "platform/interruptions.h"

namespace vexmo {

// Outcome of a socket call, a send or a wait: a positive byte count (0 where
// the call carries no message), or minus a Windows Sockets error number.
using Outcome = std::int32_t;

// How the ICMP socket was opened, decided once: a raw socket, or (POSIX,
// without the right to a raw one) an ICMP datagram socket.
enum class SocketKind : std::uint8_t { none, raw, datagram };

// A socket as the platform knows it: a SOCKET on Windows, a descriptor on
// POSIX, with the kind and the address family it was opened as.
struct SocketHandle {
  std::uintptr_t native = ~static_cast<std::uintptr_t>(0);
  SocketKind kind = SocketKind::none;
  AddressFamily family = AddressFamily::ipv4;
  // Windows: the event the system sets when a datagram is queued, which the
  // wait watches beside the interruptions. Unused elsewhere.
  std::uintptr_t event = 0;
  // Not opened for want of a right (an elevated identity, a capability, a
  // group the system admits), rather than for a fault of the system.
  bool refused_for_privilege = false;
};

// Socket options the transport sets; values are passed as 32-bit integers.
// On an IPv6 socket time_to_live sets the unicast hop limit,
// type_of_service the traffic class and dont_fragment IPV6_DONTFRAG.
// No receive blocks (the wait polls), so there is no receive timeout: the
// deadline of a wait is the run's own (icmp/echo_socket.h).
enum class SocketOption {
  send_timeout_ms,
  send_buffer_bytes,
  receive_buffer_bytes,
  time_to_live,
  type_of_service,
  dont_fragment,
};

// Socket library start-up and shut-down (no-ops where there is no library).
void net_startup();
void net_cleanup();

// An ICMP socket of the family.
// - IPv6 (ICMPv6): the stack fills in the checksum of what is sent; the
//   socket receives echo replies and error messages (types 1 to 4 and 129).
// *identifier is the echo identifier the caller wants its requests to carry;
// on return it is the one they must carry (a datagram socket may have to
// take another from the kernel). On failure the handle's kind is none, and
// every call on it fails as on a closed socket (-10038).
SocketHandle socket_open_icmp(AddressFamily family, std::uint16_t* identifier);
void socket_close(SocketHandle socket);

// 0 on success, or minus the error.
Outcome socket_set_option(SocketHandle socket, SocketOption option, std::uint32_t value);

// Keeps from the socket, where the system can filter in its kernel, every
// datagram that cannot answer a request carrying identifier (see
// is_answer): under a flood of other traffic the receive buffer then still
// has room for the answer. Where it cannot, or where the kernel already
// hands the socket only its own replies, this does nothing. 0 on success,
// or minus the error.
Outcome socket_accept_only_identifier(SocketHandle socket, std::uint16_t identifier);

// Sends one datagram: the byte count, or minus the error; -10004 when an
// interruption came (pending, not taken) while the send waited for room.
Outcome socket_send_to(SocketHandle socket, const std::uint8_t* data, std::size_t length,
                       const SocketAddress& to);

// Waits until a datagram (or an ICMP error about a request) is queued on the
// socket, an interruption is pending (interruptions.h), or timeout_ms has
// passed. `elapsed` may come early: a signal or a stop and continue of the
// process cut the wait short, or the system cannot take so long a wait in
// one call; the caller waits again for what is left. `failed` sets *failure
// to minus the error. A socket that is not open is `ready` at once, so that
// the receive reports why.
WaitEnd socket_wait(SocketHandle socket, std::uint32_t timeout_ms, Outcome* failure);

// Time stamps the kernel took of the socket's traffic, on the real-time clock
// (nanoseconds since 1970); 0 where it took none or the system has none.
struct KernelStamps {
  std::uint64_t transmit_ns = 0;  // of a request as it left (where a receive met it)
  std::uint64_t receive_ns = 0;   // of the datagram just received
};

// Takes every transmit stamp the kernel has queued on the socket, never
// blocking: the latest one not older than not_before_ns, or 0.
std::uint64_t socket_take_transmit_stamp(SocketHandle socket, std::uint64_t not_before_ns);

// What one receive got, as fields: the system's IP header (where it hands
// one over) is already read, nothing is rebuilt. Either an ICMP message as
// it came (message), or, where the system reports an ICMP error about one
// of our requests beside the traffic (Linux ICMP datagram sockets: the
// error queue), that report (reported). Pointers lie in the caller's
// buffer.
struct Received {
  AddressFamily family = AddressFamily::ipv4;
  // The sender; of a report, the router or host that sent the error (the
  // family's unspecified address when the system named none).
  SocketAddress from;
  // The time to live (IPv6: hop limit) of the datagram, where the system
  // reports one.
  std::optional<std::uint8_t> ttl;
  // The ICMP message from its type on; without a valid IPv4 header in front
  // of it an IPv4 datagram is taken whole as a bare message.
  const std::uint8_t* message = nullptr;
  std::size_t length = 0;
  KernelStamps stamps;  // transmit_ns: a transmit stamp met on the way, or 0
  // A report: the error's type and code, its second word as a number (a
  // redirect's gateway, an MTU or a pointer) and what it quotes of the
  // request, from the request's ICMP header on (nullptr and 0 where the
  // system gives none).
  bool reported = false;
  std::uint8_t type = 0;
  std::uint8_t code = 0;
  std::uint32_t info = 0;
  const std::uint8_t* quoted_request = nullptr;
  std::size_t quoted_length = 0;
};

// Receives one datagram (or report) if one is queued, never blocking, into
// buffer: the byte count the system gave, with *received describing it, or
// minus the error: -10035 when none is queued (a wait may end for something
// that turns out to be nothing to receive).
Outcome socket_receive_queued(SocketHandle socket, std::uint8_t* buffer, std::size_t length,
                              Received* received);

// Gives up an elevated identity (set-uid root, file capabilities) once the
// socket is open. False when that could not be done: the caller must not go
// on. True where there is nothing to give up.
bool drop_elevated_privileges();

// When no ICMP socket could be opened: what is missing and how to get it,
// one line without its line feed, for the run to show once.
const char* no_socket_hint();

// How a name lookup ended: stopped when the user stopped the run during it.
enum class LookupEnd : std::uint8_t { found, not_found, stopped };

// What a wait does with an interruption that is pending: takes it and says
// whether to go on (false: stop).
struct InterruptionHandler {
  bool (*carry_on)(void* context) = nullptr;
  void* context = nullptr;
};

// Name lookup: the first address of the family that a host name has. The
// lookup runs beside the caller, who waits for it together with the
// interruptions: each one pending goes to handler (when there is one), and
// a stop ends the wait at once, however long the resolver takes (the
// lookup is then left to finish unheard).
LookupEnd resolve_name(const char* name, AddressFamily family, SocketAddress* address,
                       InterruptionHandler handler = {});

// An IPv6 address in text (RFC 4291 forms), with an optional zone after '%'
// (an interface name or number): false when it is none. Converts only; no
// name is looked up.
bool parse_ipv6_address(const char* text, SocketAddress* address);

// Room for the text of any address: an IPv6 address in RFC 5952 form
// (without zone) and the terminator.
constexpr std::size_t kAddressTextBytes = 46;

// The text of an address: dotted for IPv4, RFC 5952 for IPv6.
void format_address(const SocketAddress& address, char (&text)[kAddressTextBytes]);

// Dotted text to an address as inet_addr converts it (a, a.b, a.b.c, a.b.c.d,
// each part decimal, octal or hexadecimal); 0xFFFFFFFF when it cannot.
std::uint32_t parse_dotted_address(const char* text);

// The dotted form of an address, at most 15 characters and the terminator.
void format_dotted_address(std::uint32_t address, char (&text)[16]);

std::uint32_t current_process_id();

// Files written whole (the metrics file). replace_file writes text to a
// temporary file in path's folder, then renames it over path in one step
// (POSIX rename; Windows MoveFileExW with MOVEFILE_REPLACE_EXISTING), so
// that a reader sees the old file or the new one, never a part. false with
// *reason (the system's words) when it could not; no temporary file is left.
bool replace_file(const char* path, const std::string& text, std::string* reason);

// Whether replace_file could write path: a temporary file can be made in
// its folder, and path is no folder. Leaves nothing behind.
bool file_writable(const char* path, std::string* reason);

// Monotonic high-resolution counter and its fixed frequency in ticks per second.
std::uint64_t counter_now();
std::uint64_t counter_frequency();

// The real-time clock the kernel stamps with, in nanoseconds since 1970.
std::uint64_t wall_clock_ns();

// Whether text on standard output is read as UTF-8: by the locale the
// environment names (POSIX), by the console's output code page (Windows).
bool output_is_utf8();

// Standard output as a terminal, for a picture redrawn in place with ANSI
// control sequences (the live graph).
enum class TerminalKind : std::uint8_t {
  none,        // no terminal: a file, a pipe
  plain,       // a terminal that takes no control sequences (TERM=dumb, a
               // Windows console without virtual-terminal processing)
  controlled,  // control sequences work (on Windows, turned on for the run)
};

struct Terminal {
  TerminalKind kind = TerminalKind::none;
  std::uint32_t saved_mode = 0;  // Windows: the console's mode before
};

struct TerminalSize {
  std::uint32_t rows = 0;  // 0 x 0: cannot tell
  std::uint32_t columns = 0;
};

// Takes standard output for control sequences. restore_on_kill: what to
// write to it should a termination signal end the process (POSIX), so that
// a kill leaves the terminal as sane as an ordinary end; a literal, kept
// until terminal_close.
Terminal terminal_open(const char* restore_on_kill);
// Gives the terminal back as terminal_open found it.
void terminal_close(const Terminal& terminal);
TerminalSize terminal_size();

}  // namespace vexmo

#endif  // VEXMO_PLATFORM_PLATFORM_H
