// The floor of a path: round trips whose arrival is stamped by the kernel.
//
//   floor_probe TARGET COUNT INTERVAL_MS
//
// Sends COUNT echo requests (56 data bytes) to the dotted address TARGET, one
// every INTERVAL_MS, and prints one line per request: the round trip in
// microseconds from the kernel's software stamp of the request as it left to
// its stamp of the reply as it arrived (SO_TIMESTAMPING), or "-" when no
// reply (or no stamp) came within a second. No tool that times the exchange
// from outside the kernel can report less than this. Linux only; needs a raw
// socket (root).
#include <arpa/inet.h>
#include <linux/net_tstamp.h>
#include <time.h>  // before errqueue.h, which uses timespec

#include <linux/errqueue.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int kDataBytes = 56;
constexpr int kMaxRequests = 10000;
constexpr int kMaxDatagramsPerWait = 1000;

std::int64_t ns_of(const timespec& t) {
  return static_cast<std::int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

std::int64_t now_ns(clockid_t clock) {
  timespec t;
  clock_gettime(clock, &t);
  return ns_of(t);
}

std::uint16_t checksum(const std::uint8_t* bytes, std::size_t length) {
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i + 1 < length; i += 2) {
    sum += static_cast<std::uint32_t>(bytes[i] << 8 | bytes[i + 1]);
  }
  sum = (sum & 0xFFFF) + (sum >> 16);
  sum += sum >> 16;
  return static_cast<std::uint16_t>(~sum);
}

// The kernel's software stamp (CLOCK_REALTIME) carried by a received message, or -1.
std::int64_t kernel_stamp_ns(msghdr* header) {
  for (cmsghdr* c = CMSG_FIRSTHDR(header); c != nullptr; c = CMSG_NXTHDR(header, c)) {
    if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPING) {
      scm_timestamping stamps;
      std::memcpy(&stamps, CMSG_DATA(c), sizeof stamps);
      return ns_of(stamps.ts[0]);
    }
  }
  return -1;
}

// The transmit stamp of the request just sent, from the error queue (the
// only thing on it: the socket asks for no ICMP errors), or -1.
std::int64_t transmit_stamp_ns(int fd) {
  std::int64_t latest = -1;
  for (int i = 0; i < kMaxDatagramsPerWait; ++i) {
    alignas(cmsghdr) char control[256];
    std::uint8_t data[64];
    iovec part = {data, sizeof data};
    msghdr header = {};
    header.msg_iov = &part;
    header.msg_iovlen = 1;
    header.msg_control = control;
    header.msg_controllen = sizeof control;
    if (recvmsg(fd, &header, MSG_ERRQUEUE | MSG_DONTWAIT) < 0) {
      break;
    }
    latest = kernel_stamp_ns(&header);
  }
  return latest;
}

// One request; the round trip in nanoseconds, or -1 when it got no reply.
std::int64_t round_trip_ns(int fd, const sockaddr_in& target, std::uint16_t identifier,
                           std::uint16_t sequence) {
  std::uint8_t message[8 + kDataBytes] = {};
  message[0] = 8;
  message[4] = static_cast<std::uint8_t>(identifier >> 8);
  message[5] = static_cast<std::uint8_t>(identifier);
  message[6] = static_cast<std::uint8_t>(sequence >> 8);
  message[7] = static_cast<std::uint8_t>(sequence);
  transmit_stamp_ns(fd);  // drops the stamps of requests that got no reply
  const std::uint16_t sum = checksum(message, sizeof message);
  message[2] = static_cast<std::uint8_t>(sum >> 8);
  message[3] = static_cast<std::uint8_t>(sum);
  if (sendto(fd, message, sizeof message, 0, reinterpret_cast<const sockaddr*>(&target),
             sizeof target) < 0) {
    return -1;
  }
  const std::int64_t give_up_ns = now_ns(CLOCK_MONOTONIC) + 1000000000;
  for (int i = 0; i < kMaxDatagramsPerWait; ++i) {
    const std::int64_t left_ms = (give_up_ns - now_ns(CLOCK_MONOTONIC)) / 1000000;
    pollfd readable = {fd, POLLIN, 0};
    if (left_ms <= 0 || poll(&readable, 1, static_cast<int>(left_ms)) != 1) {
      return -1;
    }
    std::uint8_t datagram[2048];
    alignas(cmsghdr) char control[256];
    iovec part = {datagram, sizeof datagram};
    msghdr header = {};
    header.msg_iov = &part;
    header.msg_iovlen = 1;
    header.msg_control = control;
    header.msg_controllen = sizeof control;
    const ssize_t n = recvmsg(fd, &header, 0);
    if (n < 28) {
      continue;
    }
    const std::uint8_t* icmp = datagram + (datagram[0] & 0x0F) * 4;
    if (icmp + 8 > datagram + n) {
      continue;
    }
    const bool ours = icmp[0] == 0 && (icmp[4] << 8 | icmp[5]) == identifier &&
                      (icmp[6] << 8 | icmp[7]) == sequence;
    if (ours) {
      const std::int64_t received_ns = kernel_stamp_ns(&header);
      const std::int64_t sent_ns = transmit_stamp_ns(fd);
      return received_ns < 0 || sent_ns < 0 || received_ns < sent_ns ? -1 : received_ns - sent_ns;
    }
  }
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: floor_probe TARGET COUNT INTERVAL_MS\n");
    return 2;
  }
  sockaddr_in target = {};
  target.sin_family = AF_INET;
  if (inet_pton(AF_INET, argv[1], &target.sin_addr) != 1) {
    std::fprintf(stderr, "floor_probe: not a dotted address: %s\n", argv[1]);
    return 2;
  }
  const int count = std::atoi(argv[2]);
  const std::int64_t interval_ns = static_cast<std::int64_t>(std::atoi(argv[3])) * 1000000;
  const int fd = socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
  const int flags = SOF_TIMESTAMPING_TX_SOFTWARE | SOF_TIMESTAMPING_RX_SOFTWARE |
                    SOF_TIMESTAMPING_SOFTWARE | SOF_TIMESTAMPING_OPT_TSONLY;
  if (fd < 0 || setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPING, &flags, sizeof flags) != 0) {
    std::perror("floor_probe");
    return 1;
  }
  const std::uint16_t identifier = static_cast<std::uint16_t>(getpid() ^ 0x5A5A);
  const std::int64_t start_ns = now_ns(CLOCK_MONOTONIC);
  for (int i = 0; i < count && i < kMaxRequests; ++i) {
    const std::int64_t rtt_ns =
        round_trip_ns(fd, target, identifier, static_cast<std::uint16_t>(i));
    if (rtt_ns < 0) {
      std::printf("-\n");
    } else {
      std::printf("%.3f\n", static_cast<double>(rtt_ns) / 1000.0);
    }
    std::fflush(stdout);
    const std::int64_t next_ns = start_ns + (i + 1) * interval_ns;
    timespec next = {static_cast<time_t>(next_ns / 1000000000),
                     static_cast<long>(next_ns % 1000000000)};
    for (int tries = 0; tries < 100; ++tries) {
      if (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr) != EINTR) {
        break;
      }
    }
  }
  close(fd);
  return 0;
}
