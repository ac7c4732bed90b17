// Every socket option the transport sets, read back from the kernel at the
// level and name of the socket's family: an IPv6 option set at the IPv4
// level (IP_TOS for -6 -t) would fail or go unseen otherwise.
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <gtest/gtest.h>

#include "platform/platform.h"

namespace vexmo {
namespace {

// The kernel's value of the option: an int, or for a timeout milliseconds.
int read_back(int fd, int level, int name) {
  if (level == SOL_SOCKET && name == SO_SNDTIMEO) {
    timeval value{};
    socklen_t length = sizeof value;
    getsockopt(fd, level, name, &value, &length);
    return static_cast<int>(value.tv_sec * 1000 + value.tv_usec / 1000);
  }
  int value = -1;
  socklen_t length = sizeof value;
  return getsockopt(fd, level, name, &value, &length) == 0 ? value : -1;
}

TEST(SocketOptions, ReadBackAtTheFamilysLevelAndName) {
  using F = AddressFamily;
  using O = SocketOption;
#if defined(__linux__)
  constexpr int kBufferFactor = 2;  // Linux keeps twice what it is given
#else
  constexpr int kBufferFactor = 1;
#endif
  const struct {
    AddressFamily family;
    SocketOption option;
    std::uint32_t value;
    int level, name, expected;
  } cases[] = {
      // clang-format off
      {F::ipv4, O::time_to_live, 9, IPPROTO_IP, IP_TTL, 9},
      {F::ipv6, O::time_to_live, 9, IPPROTO_IPV6, IPV6_UNICAST_HOPS, 9},
      {F::ipv4, O::type_of_service, 0xB8, IPPROTO_IP, IP_TOS, 0xB8},
      {F::ipv6, O::type_of_service, 0xB8, IPPROTO_IPV6, IPV6_TCLASS, 0xB8},
#if defined(IP_MTU_DISCOVER)
      {F::ipv4, O::dont_fragment, 1, IPPROTO_IP, IP_MTU_DISCOVER, IP_PMTUDISC_DO},
      {F::ipv4, O::dont_fragment, 0, IPPROTO_IP, IP_MTU_DISCOVER, IP_PMTUDISC_DONT},
#endif
      {F::ipv6, O::dont_fragment, 1, IPPROTO_IPV6, IPV6_DONTFRAG, 1},
      {F::ipv6, O::dont_fragment, 0, IPPROTO_IPV6, IPV6_DONTFRAG, 0},
      {F::ipv4, O::send_buffer_bytes, 65536, SOL_SOCKET, SO_SNDBUF, 65536 * kBufferFactor},
      {F::ipv6, O::send_buffer_bytes, 65536, SOL_SOCKET, SO_SNDBUF, 65536 * kBufferFactor},
      {F::ipv4, O::receive_buffer_bytes, 65536, SOL_SOCKET, SO_RCVBUF, 65536 * kBufferFactor},
      {F::ipv6, O::receive_buffer_bytes, 65536, SOL_SOCKET, SO_RCVBUF, 65536 * kBufferFactor},
      {F::ipv4, O::send_timeout_ms, 1500, SOL_SOCKET, SO_SNDTIMEO, 1500},
      {F::ipv6, O::send_timeout_ms, 1500, SOL_SOCKET, SO_SNDTIMEO, 1500},
      // clang-format on
  };
  for (const auto& c : cases) {
    const char* family = c.family == F::ipv6 ? "IPv6" : "IPv4";
    std::uint16_t identifier = 0;
    const SocketHandle socket = socket_open_icmp(c.family, &identifier);
    if (socket.kind == SocketKind::none) {
      GTEST_SKIP() << family << ": no ICMP socket (raw needs root; datagram needs "
                   << "net.ipv4.ping_group_range)";
    }
    EXPECT_EQ(socket_set_option(socket, c.option, c.value), 0)
        << family << " option " << static_cast<int>(c.option);
    EXPECT_EQ(read_back(static_cast<int>(socket.native), c.level, c.name), c.expected)
        << family << " option " << static_cast<int>(c.option) << " = " << c.value;
    socket_close(socket);
  }
}

}  // namespace
}  // namespace vexmo
