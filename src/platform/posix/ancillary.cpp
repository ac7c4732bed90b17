#include "platform/posix/ancillary.h"

#include <cstring>

namespace vexmo {
namespace {

#if defined(__linux__)
void read_report(const unsigned char* data, std::size_t length, std::size_t offender_bytes,
                 Control* control) {
  // The report, then the address of whoever sent the ICMP error.
  control->has_report = true;
  std::memcpy(&control->report, data, sizeof control->report);
  if (length >= sizeof(sock_extended_err) + offender_bytes) {
    control->has_offender = true;
    std::memcpy(&control->offender, data + sizeof(sock_extended_err), offender_bytes);
  }
}
#endif

}  // namespace

Control read_control(msghdr* message) {
  Control control;
#if defined(__linux__)
  std::memset(&control.report, 0, sizeof control.report);
  std::memset(&control.offender, 0, sizeof control.offender);
#endif
  for (cmsghdr* c = CMSG_FIRSTHDR(message); c != nullptr; c = CMSG_NXTHDR(message, c)) {
    const unsigned char* data = CMSG_DATA(c);
    const std::size_t length = c->cmsg_len - CMSG_LEN(0);
    if (c->cmsg_level == IPPROTO_IP) {
      if (c->cmsg_type == IP_TTL && length >= sizeof(int)) {
        std::memcpy(&control.time_to_live, data, sizeof(int));
      }
#if defined(__linux__)
      else if (c->cmsg_type == IP_RECVERR && length >= sizeof(sock_extended_err)) {
        read_report(data, length, sizeof(sockaddr_in), &control);
      }
#endif
    } else if (c->cmsg_level == IPPROTO_IPV6) {
      if (c->cmsg_type == IPV6_HOPLIMIT && length >= sizeof(int)) {
        std::memcpy(&control.time_to_live, data, sizeof(int));
      }
#if defined(__linux__)
      else if (c->cmsg_type == IPV6_RECVERR && length >= sizeof(sock_extended_err)) {
        read_report(data, length, sizeof(sockaddr_in6), &control);
      }
#endif
    }
  }
  return control;
}

ssize_t ReceivedMessage::receive(int fd, void* data, std::size_t length, sockaddr_storage* from,
                                 int flags) {
  part_.iov_base = data;
  part_.iov_len = length;
  std::memset(&message_, 0, sizeof message_);
  message_.msg_name = from;
  message_.msg_namelen = from != nullptr ? sizeof *from : 0;
  message_.msg_iov = &part_;
  message_.msg_iovlen = 1;
  message_.msg_control = control_;
  message_.msg_controllen = sizeof control_;
  return recvmsg(fd, &message_, flags | MSG_DONTWAIT);
}

}  // namespace vexmo
