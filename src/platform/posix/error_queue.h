// Reading a Linux error-queue report about one of our requests.
#ifndef VEXMO_PLATFORM_POSIX_ERROR_QUEUE_H
#define VEXMO_PLATFORM_POSIX_ERROR_QUEUE_H

#include <netinet/in.h>
#include <time.h>  // before errqueue.h, which uses timespec

#include <linux/errqueue.h>

#include "platform/platform.h"
#include "platform/posix/ancillary.h"

namespace vexmo {

// Records the error-queue report that control holds (the report, who sent
// it, the hop limit) about a request of the family, of which the error
// quotes quoted_length bytes at quoted (from its ICMP header on). False for
// a report that is no ICMP message of the family from the network (a local
// error such as a send refused for its size, or none at all).
bool record_report(const Control& control, AddressFamily family, const std::uint8_t* quoted,
                   std::size_t quoted_length, Received* received);

}  // namespace vexmo

#endif  // VEXMO_PLATFORM_POSIX_ERROR_QUEUE_H
