// One run: every request of the settings, one after another, and the summary.
#ifndef VEXMO_DRIVER_RUN_H
#define VEXMO_DRIVER_RUN_H

#include <cstdint>

#include "cli/settings.h"
#include "common/address.h"
#include "icmp/interruption.h"

namespace vexmo {

// The family of a host text as it stands, without a lookup: ipv6 for text
// with a colon (an IPv6 address, perhaps with a zone: fe80::1%eth0), ipv4
// for a dotted address, any for a name.
FamilyChoice literal_family(const char* host);

// Which sockets a run must open before it gives up its privileges: the
// forced family's, else the literal's, else both (a name's family is known
// only after its lookup).
struct SocketsNeeded {
  bool ipv4 = false;
  bool ipv6 = false;
};
SocketsNeeded sockets_needed(const RunSettings& settings);

// Host text to an address of the family (any: either). An IPv6 text is
// converted, never looked up. Text that begins with a digit is read as a
// dotted address; text that is no address after all (10.0.0.256,
// 3com.example) is looked up by name rather than sent to 255.255.255.255. A
// name gives its first IPv4 address, or without one (or with -6) its first
// IPv6 address. An address of the other family than the one asked for
// resolves to nothing.
// A lookup waits together with the interruptions: an interim is printed
// through report, and a stop ends it at once (stopped).
LookupEnd resolve_host(const char* host, FamilyChoice family, SocketAddress* address,
                       InterimReport* report = nullptr);

// The IP and ICMP header bytes the opening line adds to the size: 28 for
// IPv4, 48 for IPv6.
std::uint32_t header_bytes(FamilyChoice family);

// Runs the whole series of requests and prints every line of it; the exit
// status (0, or 1 when elevated privileges could not be given up; with
// --exit-status, the one exit_status.h gives). A stop
// from the user (Ctrl-C) ends the series early: the request in flight
// counts as sent and gets no line, and the summary follows as after the
// last request. An interim request prints the summary so far and the run
// goes on.
int run_requests(const RunSettings& settings);

// The program: returns the process exit status (0 after a run, -1 after the
// usage text or bad input, 1 when elevated privileges could not be given
// up; with --exit-status, the run's own).
int vexmo_main(int argc, const char* const* argv);

}  // namespace vexmo

#endif  // VEXMO_DRIVER_RUN_H
