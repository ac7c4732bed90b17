// The control messages beside a received datagram (Linux): the time to live
// or hop limit of its IP header, and on the error queue the report of an
// ICMP or ICMPv6 error with the address of whoever sent it.
#ifndef VEXMO_PLATFORM_POSIX_ANCILLARY_H
#define VEXMO_PLATFORM_POSIX_ANCILLARY_H

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <time.h>  // before errqueue.h, which uses timespec
#include <cstddef>
#include <cstdint>

#if defined(__linux__)
#include <linux/errqueue.h>
#endif

namespace vexmo {

#if defined(__linux__)
constexpr std::size_t kReportBytes = sizeof(sock_extended_err) + sizeof(sockaddr_in6);
#else
constexpr std::size_t kReportBytes = 0;  // no error queue
#endif

// Space for the kernel's time stamp control messages (kernel_stamps.h) in a
// receive's control buffer.
constexpr std::size_t kStampControlBytes = 256;

// Room for every control message asked for, of either family.
union ControlBuffer {
  cmsghdr align;
  char bytes[CMSG_SPACE(sizeof(int)) + CMSG_SPACE(sizeof(int)) + CMSG_SPACE(kReportBytes)];
};

struct Control {
  int time_to_live = -1;  // IPv4 time to live or IPv6 hop limit; -1: none given
#if defined(__linux__)
  bool has_report = false;
  sock_extended_err report;
  bool has_offender = false;
  sockaddr_storage offender;  // AF_INET or AF_INET6
#endif
};

// Reads what message carries; control messages of other kinds, or too short
// for their kind, are skipped.
Control read_control(msghdr* message);

// One message taken from a socket without waiting, with room for every
// control message asked for (the hop limit, an error report, the kernel's
// stamps); message() describes them for read_control and
// read_stamp_control until the next receive.
class ReceivedMessage {
 public:
  // Receives into data[0, length) with MSG_DONTWAIT and flags, the sender's
  // address into *from (nullptr: not wanted): the byte count, or -1 with
  // errno (EAGAIN when none is waiting).
  ssize_t receive(int fd, void* data, std::size_t length, sockaddr_storage* from, int flags);
  msghdr* message() {
    return &message_;
  }

 private:
  iovec part_;
  msghdr message_;
  alignas(cmsghdr) char control_[sizeof(ControlBuffer) + kStampControlBytes];
};

}  // namespace vexmo

#endif  // VEXMO_PLATFORM_POSIX_ANCILLARY_H
