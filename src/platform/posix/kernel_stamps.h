// Software time stamps from the Linux kernel (SO_TIMESTAMPING): one as a
// request leaves, read back from the socket's error queue, and one as each
// datagram arrives, beside it. Closer to the wire than any clock read in
// user space: the figure then leaves out the system calls at both ends.
#ifndef VEXMO_PLATFORM_POSIX_KERNEL_STAMPS_H
#define VEXMO_PLATFORM_POSIX_KERNEL_STAMPS_H

#include <sys/socket.h>

#include <cstdint>

namespace vexmo {

// Asks the kernel to stamp what the socket sends and receives. Without the
// option (another system, or a build without it) nothing is stamped and the
// round trips fall back to user-space clocks.
void enable_kernel_stamps(int fd);

// What a received message's control data says about time stamps.
struct StampControl {
  std::uint64_t stamp_ns = 0;    // the software stamp, real-time clock
  bool transmit_report = false;  // an error-queue report of a sent request's stamp
};
StampControl read_stamp_control(msghdr* message);

// Reads every report queued on the error queue (bounded): the latest transmit
// stamp not older than not_before_ns, or 0.
std::uint64_t take_transmit_stamp(int fd, std::uint64_t not_before_ns);

}  // namespace vexmo

#endif  // VEXMO_PLATFORM_POSIX_KERNEL_STAMPS_H
