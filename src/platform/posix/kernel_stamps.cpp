#include "platform/posix/kernel_stamps.h"

#include <netinet/in.h>
#include <time.h>  // before errqueue.h, which uses timespec

#include <cstring>

#include "platform/posix/ancillary.h"

#if defined(__linux__)
#include <linux/errqueue.h>
#include <linux/net_tstamp.h>
#endif

// Built without them (-DVEXMO_KERNEL_STAMPS=OFF), only to measure what they buy.
#if !defined(VEXMO_KERNEL_STAMPS)
#define VEXMO_KERNEL_STAMPS 1
#endif

namespace vexmo {

#if defined(__linux__) && VEXMO_KERNEL_STAMPS

namespace {

constexpr int kMaxQueuedReports = 1024;

}  // namespace

void enable_kernel_stamps(int fd) {
  // TSONLY: the report carries no copy of the request, only the stamp.
  const int flags = SOF_TIMESTAMPING_TX_SOFTWARE | SOF_TIMESTAMPING_RX_SOFTWARE |
                    SOF_TIMESTAMPING_SOFTWARE | SOF_TIMESTAMPING_OPT_TSONLY;
  setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPING, &flags, sizeof flags);
}

StampControl read_stamp_control(msghdr* message) {
  StampControl control;
  for (cmsghdr* c = CMSG_FIRSTHDR(message); c != nullptr; c = CMSG_NXTHDR(message, c)) {
    const std::size_t length = c->cmsg_len - CMSG_LEN(0);
    if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPING &&
        length >= sizeof(scm_timestamping)) {
      scm_timestamping stamps;
      std::memcpy(&stamps, CMSG_DATA(c), sizeof stamps);
      // The software stamp; the other two are the hardware's.
      const timespec& stamp = stamps.ts[0];
      if (stamp.tv_sec > 0 || stamp.tv_nsec > 0) {
        control.stamp_ns = static_cast<std::uint64_t>(stamp.tv_sec) * 1000000000u +
                           static_cast<std::uint64_t>(stamp.tv_nsec);
      }
    } else if (((c->cmsg_level == SOL_IP && c->cmsg_type == IP_RECVERR) ||
                (c->cmsg_level == SOL_IPV6 && c->cmsg_type == IPV6_RECVERR)) &&
               length >= sizeof(sock_extended_err)) {
      sock_extended_err report;
      std::memcpy(&report, CMSG_DATA(c), sizeof report);
      // ICMP errors share the queue: only this origin is a stamp.
      control.transmit_report =
          report.ee_origin == SO_EE_ORIGIN_TIMESTAMPING && report.ee_info == SCM_TSTAMP_SND;
    }
  }
  if (!control.transmit_report && message->msg_flags & MSG_ERRQUEUE) {
    control.stamp_ns = 0;
  }
  return control;
}

std::uint64_t take_transmit_stamp(int fd, std::uint64_t not_before_ns) {
  std::uint64_t latest = 0;
  for (int i = 0; i < kMaxQueuedReports; ++i) {
    ReceivedMessage message;
    std::uint8_t data[64];
    if (message.receive(fd, data, sizeof data, nullptr, MSG_ERRQUEUE) < 0) {
      break;
    }
    const StampControl stamp = read_stamp_control(message.message());
    if (stamp.transmit_report && stamp.stamp_ns >= not_before_ns && stamp.stamp_ns > latest) {
      latest = stamp.stamp_ns;
    }
  }
  return latest;
}

#else

void enable_kernel_stamps(int) {}

StampControl read_stamp_control(msghdr*) {
  return StampControl{};
}

std::uint64_t take_transmit_stamp(int, std::uint64_t) {
  return 0;
}

#endif

}  // namespace vexmo
