// ICMP datagram sockets behind the interface of a raw socket (Linux); see
// datagram_socket.h for what differs and why.
#include "platform/posix/datagram_socket.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/posix/error_queue.h"
#include "platform/posix/framing.h"
#include "platform/posix/kernel_stamps.h"
#include "platform/posix/timeouts.h"

namespace vexmo {

bool queued_icmp_error(const sock_extended_err& report, const sockaddr_in* offender,
                       const sockaddr_in& original_destination, int time_to_live,
                       QueuedIcmpError* error) {
  if (report.ee_origin != SO_EE_ORIGIN_ICMP) {
    return false;
  }
  error->type = report.ee_type;
  error->code = report.ee_code;
  error->info = report.ee_info;
  error->sender =
      offender != nullptr && offender->sin_family == AF_INET ? offender->sin_addr.s_addr : 0;
  error->destination = original_destination.sin_addr.s_addr;
  error->time_to_live =
      time_to_live >= 0 && time_to_live <= 255 ? static_cast<std::uint8_t>(time_to_live) : 0;
  return true;
}

namespace {

constexpr int kMaxReceiveRounds = 4096;

int set_flag(int fd, int level, int name) {
  const int on = 1;
  return setsockopt(fd, level, name, &on, sizeof on);
}

// Control data of one received datagram: the time to live and type of
// service of its IP header, or the error report with its offender.
union ControlBuffer {
  cmsghdr align;
  char bytes[CMSG_SPACE(sizeof(int)) + CMSG_SPACE(sizeof(int)) +
             CMSG_SPACE(sizeof(sock_extended_err) + sizeof(sockaddr_in)) + kStampControlBytes];
};

struct Control {
  int time_to_live = -1;
  int type_of_service = 0;
  bool has_report = false;
  sock_extended_err report;
  bool has_offender = false;
  sockaddr_in offender;
};

Control read_control(msghdr* message) {
  Control control;
  for (cmsghdr* c = CMSG_FIRSTHDR(message); c != nullptr; c = CMSG_NXTHDR(message, c)) {
    if (c->cmsg_level != IPPROTO_IP) {
      continue;
    }
    const unsigned char* data = CMSG_DATA(c);
    const std::size_t length = c->cmsg_len - CMSG_LEN(0);
    if (c->cmsg_type == IP_TTL && length >= sizeof(int)) {
      std::memcpy(&control.time_to_live, data, sizeof(int));
    } else if (c->cmsg_type == IP_TOS && length >= 1) {
      control.type_of_service = data[0];
    } else if (c->cmsg_type == IP_RECVERR && length >= sizeof(sock_extended_err)) {
      // The report, then the address of whoever sent the ICMP error.
      control.has_report = true;
      std::memcpy(&control.report, data, sizeof control.report);
      if (length >= sizeof(sock_extended_err) + sizeof(sockaddr_in)) {
        control.has_offender = true;
        std::memcpy(&control.offender, data + sizeof(sock_extended_err), sizeof control.offender);
      }
    }
  }
  return control;
}

// One datagram from the receive queue, framed; -1 with errno (EAGAIN when
// none is waiting, or a pending socket error the kernel reports once).
ssize_t receive_datagram(int fd, std::uint8_t* buffer, std::size_t length, sockaddr_in* from,
                         std::uint64_t* receive_ns) {
  iovec data = {buffer + kIpv4HeaderBytes, length - kIpv4HeaderBytes};
  ControlBuffer control_buffer;
  msghdr message;
  std::memset(&message, 0, sizeof message);
  message.msg_name = from;
  message.msg_namelen = sizeof *from;
  message.msg_iov = &data;
  message.msg_iovlen = 1;
  message.msg_control = control_buffer.bytes;
  message.msg_controllen = sizeof control_buffer.bytes;
  const ssize_t received = recvmsg(fd, &message, MSG_DONTWAIT);
  if (received < 0) {
    return -1;
  }
  const Control control = read_control(&message);
  *receive_ns = read_stamp_control(&message).stamp_ns;
  if (control.time_to_live < 0) {
    // No header to rebuild: the message goes up bare, as one without a
    // recognisable header does (its line then shows no Ttl).
    std::memmove(buffer, buffer + kIpv4HeaderBytes, static_cast<std::size_t>(received));
    return received;
  }
  Ipv4HeaderFields fields;
  fields.time_to_live = static_cast<std::uint8_t>(control.time_to_live);
  fields.type_of_service = static_cast<std::uint8_t>(control.type_of_service);
  fields.source = from->sin_addr.s_addr;
  return static_cast<ssize_t>(frame_echo_reply(buffer, static_cast<std::size_t>(received), fields));
}

// One report from the error queue: the framed ICMP error, 0 for a report
// that is none (consumed: a transmit stamp is kept in *transmit_ns, anything
// else skipped), -1 with errno (EAGAIN: queue empty).
ssize_t receive_error(int fd, std::uint8_t* buffer, std::size_t length, sockaddr_in* from,
                      std::uint64_t* transmit_ns) {
  sockaddr_in destination;
  std::memset(&destination, 0, sizeof destination);
  iovec data = {buffer + kQuotedRequestOffset, length - kQuotedRequestOffset};
  ControlBuffer control_buffer;
  msghdr message;
  std::memset(&message, 0, sizeof message);
  message.msg_name = &destination;
  message.msg_namelen = sizeof destination;
  message.msg_iov = &data;
  message.msg_iovlen = 1;
  message.msg_control = control_buffer.bytes;
  message.msg_controllen = sizeof control_buffer.bytes;
  const ssize_t received = recvmsg(fd, &message, MSG_ERRQUEUE | MSG_DONTWAIT);
  if (received < 0) {
    return -1;
  }
  const StampControl stamp = read_stamp_control(&message);
  if (stamp.transmit_report) {
    *transmit_ns = stamp.stamp_ns;
    return 0;
  }
  const Control control = read_control(&message);
  QueuedIcmpError error;
  if (!control.has_report ||
      !queued_icmp_error(control.report, control.has_offender ? &control.offender : nullptr,
                         destination, control.time_to_live, &error)) {
    return 0;
  }
  std::memset(from, 0, sizeof *from);
  from->sin_family = AF_INET;
  from->sin_addr.s_addr = error.sender;
  return static_cast<ssize_t>(frame_icmp_error(buffer, static_cast<std::size_t>(received), error));
}

std::int64_t monotonic_ms() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// The socket's receive timeout, which a raw socket's blocking receive
// obeys; -1 (no limit) when it is 0 or cannot be read.
std::int64_t receive_timeout_ms(int fd) {
  timeval timeout;
  socklen_t length = sizeof timeout;
  if (getsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, &length) != 0) {
    return -1;
  }
  const std::uint32_t ms = ms_from_timeval(timeout);
  return ms == 0 ? -1 : static_cast<std::int64_t>(ms);
}

bool error_queued(int fd) {
  pollfd ready = {fd, 0, 0};
  return poll(&ready, 1, 0) == 1 && (ready.revents & POLLERR) != 0;
}

bool bind_to_port(int fd, std::uint16_t port) {
  sockaddr_in local;
  std::memset(&local, 0, sizeof local);
  local.sin_family = AF_INET;
  local.sin_port = port;
  local.sin_addr.s_addr = htonl(INADDR_ANY);
  return bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0;
}

}  // namespace

int datagram_socket_open(std::uint16_t* identifier) {
  const int fd = socket(AF_INET, SOCK_DGRAM, IPPROTO_ICMP);
  if (fd < 0) {
    return -1;
  }
  // Errors about our requests are reported only with IP_RECVERR; the time
  // to live and type of service rebuild the header of every reply. Address
  // reuse, which the kernel grants ping sockets, would let another socket
  // share our identifier and take our replies: with it off, a taken
  // identifier fails the bind instead.
  const int off = 0;
  if (set_flag(fd, IPPROTO_IP, IP_RECVERR) != 0 || set_flag(fd, IPPROTO_IP, IP_RECVTTL) != 0 ||
      set_flag(fd, IPPROTO_IP, IP_RECVTOS) != 0 ||
      setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &off, sizeof off) != 0) {
    const int error = errno;
    close(fd);
    errno = error;
    return -1;
  }
  // Port 0 (an identifier of 0, or one another socket holds) lets the kernel
  // choose; the requests then carry the identifier it chose.
  if (*identifier == 0 || !bind_to_port(fd, port_for_identifier(*identifier))) {
    sockaddr_in local;
    socklen_t local_length = sizeof local;
    if (!bind_to_port(fd, 0) ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&local), &local_length) != 0) {
      const int error = errno;
      close(fd);
      errno = error;
      return -1;
    }
    *identifier = identifier_for_port(local.sin_port);
  }
  return fd;
}

ssize_t datagram_socket_send(int fd, const std::uint8_t* data, std::size_t length,
                             const sockaddr_in& to) {
  const sockaddr* address = reinterpret_cast<const sockaddr*>(&to);
  ssize_t sent = sendto(fd, data, length, 0, address, sizeof to);
  if (sent < 0 && error_queued(fd)) {
    // An ICMP error that came in since the last receive leaves its number
    // pending on the socket, and the kernel fails the next send with it;
    // that send was never made, so it is made once more.
    sent = sendto(fd, data, length, 0, address, sizeof to);
  }
  return sent;
}

ssize_t datagram_socket_receive(int fd, std::uint8_t* buffer, std::size_t length, sockaddr_in* from,
                                bool wait, std::uint64_t* transmit_ns, std::uint64_t* receive_ns) {
  if (length < kQuotedRequestOffset + kIcmpHeaderBytes) {
    errno = EINVAL;
    return -1;
  }
  const std::int64_t timeout_ms = wait ? receive_timeout_ms(fd) : 0;
  const std::int64_t start_ms = monotonic_ms();
  // Every round that does not return consumes a report or clears an error;
  // the bound only guards against a kernel that would report one forever.
  for (int round = 0; round < kMaxReceiveRounds; ++round) {
    int poll_ms = -1;
    if (timeout_ms >= 0) {
      const std::int64_t left = timeout_ms - (monotonic_ms() - start_ms);
      poll_ms = left > 0 ? static_cast<int>(left) : 0;
    }
    // An ICMP error shows as POLLERR, never as POLLIN: wait for both.
    pollfd ready = {fd, POLLIN, 0};
    const int count = poll(&ready, 1, poll_ms);
    if (count < 0) {
      return -1;
    }
    if (count == 0) {
      errno = EAGAIN;
      return -1;
    }
    if ((ready.revents & POLLNVAL) != 0) {
      errno = EBADF;
      return -1;
    }
    if ((ready.revents & POLLERR) != 0) {
      const ssize_t received = receive_error(fd, buffer, length, from, transmit_ns);
      if (received > 0) {
        return received;
      }
      if (received < 0) {
        if (errno != EAGAIN) {
          return -1;
        }
        // A pending error number with nothing queued behind it: clear it,
        // or every poll would report it again.
        int pending = 0;
        socklen_t pending_length = sizeof pending;
        getsockopt(fd, SOL_SOCKET, SO_ERROR, &pending, &pending_length);
      }
      continue;
    }
    if ((ready.revents & POLLIN) != 0) {
      const ssize_t received = receive_datagram(fd, buffer, length, from, receive_ns);
      if (received >= 0) {
        return received;
      }
      // EAGAIN, or the number of an error whose report is queued: the
      // next round takes the report.
    }
  }
  errno = EAGAIN;
  return -1;
}

}  // namespace vexmo
