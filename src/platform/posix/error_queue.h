// Reading a Linux error-queue report about one of our requests.
#ifndef VEXMO_PLATFORM_POSIX_ERROR_QUEUE_H
#define VEXMO_PLATFORM_POSIX_ERROR_QUEUE_H

#include <netinet/in.h>
#include <time.h>  // before errqueue.h, which uses timespec

#include <linux/errqueue.h>

#include "platform/posix/framing.h"

namespace vexmo {

// False for a report that is no ICMP message from the network (a local
// error such as a send refused for its size). offender may be null when the
// kernel gave none.
bool queued_icmp_error(const sock_extended_err& report, const sockaddr_in* offender,
                       const sockaddr_in& original_destination, int time_to_live,
                       QueuedIcmpError* error);

// The same for an ICMPv6 error (IPV6_RECVERR); hop_limit -1 when none was
// reported.
bool queued_icmp6_error(const sock_extended_err& report, const sockaddr_in6* offender,
                        const sockaddr_in6& original_destination, int hop_limit,
                        QueuedIcmp6Error* error);

}  // namespace vexmo

#endif  // VEXMO_PLATFORM_POSIX_ERROR_QUEUE_H
