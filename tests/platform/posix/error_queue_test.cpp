// What an ICMP datagram socket records of an error-queue report (the
// report, who sent it, the quoted request) must be what the wait recognises
// as the answer to the request, with the fields the lines print.
#include "platform/posix/error_queue.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "icmp/answer.h"
#include "platform/posix/ancillary.h"
#include "platform/posix/datagram_socket.h"

namespace vexmo {
namespace {

sock_extended_err report(std::uint8_t origin, std::uint8_t type, std::uint8_t code,
                         std::uint32_t info) {
  sock_extended_err r;
  std::memset(&r, 0, sizeof r);
  r.ee_errno = EHOSTUNREACH;
  r.ee_origin = origin;
  r.ee_type = type;
  r.ee_code = code;
  r.ee_info = info;
  return r;
}

// The offender as the kernel gives it: an address of the family af (AF_INET
// or AF_INET6, or another one), or none for nullptr.
Control reported(const sock_extended_err& report, const char* offender, int af, int ttl) {
  Control control;
  control.time_to_live = ttl;
  control.has_report = true;
  control.report = report;
  std::memset(&control.offender, 0, sizeof control.offender);
  control.has_offender = offender != nullptr;
  if (offender != nullptr) {
    sockaddr_in6 ipv6;
    sockaddr_in ipv4;
    std::memset(&ipv6, 0, sizeof ipv6);
    std::memset(&ipv4, 0, sizeof ipv4);
    if (inet_pton(AF_INET6, offender, &ipv6.sin6_addr) == 1) {
      ipv6.sin6_family = static_cast<sa_family_t>(af);
      ipv6.sin6_scope_id = 7;  // not part of the sender the lines print
      std::memcpy(&control.offender, &ipv6, sizeof ipv6);
    } else {
      inet_pton(AF_INET, offender, &ipv4.sin_addr);
      ipv4.sin_family = static_cast<sa_family_t>(af);
      std::memcpy(&control.offender, &ipv4, sizeof ipv4);
    }
  }
  return control;
}

TEST(ErrorQueue, ReportsBecomeRecordsThatAnswerTheRequest) {
  using F = AddressFamily;
  constexpr std::uint8_t kIcmp = SO_EE_ORIGIN_ICMP, kIcmp6 = SO_EE_ORIGIN_ICMP6;
  constexpr std::uint8_t kLocal = SO_EE_ORIGIN_LOCAL, kNone = SO_EE_ORIGIN_NONE;
  const struct {
    const char* name;
    AddressFamily family;
    std::uint8_t origin, type, code;
    std::uint32_t info;
    const char* offender;  // nullptr: none given
    int offender_af;
    int ttl;
    bool recorded;
    const char* from;      // the sender the record names
    std::int64_t gateway;  // of the answer, as dotted bytes in network order; -1: none
    std::int64_t mtu;      // -1: none
  } cases[] = {
      // clang-format off
      {"time exceeded", F::ipv4, kIcmp, 11, 0, 0, "198.18.0.1", AF_INET, 64, true, "198.18.0.1", -1, -1},
      {"host unreachable", F::ipv4, kIcmp, 3, 1, 0, "198.18.0.1", AF_INET, 64, true, "198.18.0.1", -1, -1},
      {"fragmentation needed, next-hop MTU 576", F::ipv4, kIcmp, 3, 4, 576, "198.18.0.1", AF_INET, 64, true, "198.18.0.1", -1, -1},
      {"redirect for the host, gateway 198.18.0.3", F::ipv4, kIcmp, 5, 1, 0xC6120003u, "198.18.0.1", AF_INET, 64, true, "198.18.0.1", 0xC6120003u, -1},
      {"parameter problem at byte 9", F::ipv4, kIcmp, 12, 0, 9, "198.18.0.1", AF_INET, 64, true, "198.18.0.1", -1, -1},
      {"source quench", F::ipv4, kIcmp, 4, 0, 0, "198.18.0.1", AF_INET, 64, true, "198.18.0.1", -1, -1},
      {"no offender: unspecified sender", F::ipv4, kIcmp, 11, 0, 0, nullptr, AF_INET, -1, true, "0.0.0.0", -1, -1},
      {"offender of no family: unspecified sender", F::ipv4, kIcmp, 11, 0, 0, "198.18.0.1", AF_UNSPEC, 300, true, "0.0.0.0", -1, -1},
      {"send refused locally for its size", F::ipv4, kLocal, 0, 0, 576, "198.18.0.2", AF_INET, -1, false, "", -1, -1},
      {"no origin", F::ipv4, kNone, 0, 0, 0, "198.18.0.2", AF_INET, -1, false, "", -1, -1},
      {"an ICMPv6 report on an IPv4 socket", F::ipv4, kIcmp6, 3, 0, 0, "198.18.0.2", AF_INET, -1, false, "", -1, -1},
      {"hop limit exceeded", F::ipv6, kIcmp6, 3, 0, 0, "2001:db8::1", AF_INET6, 64, true, "2001:db8::1", -1, -1},
      {"address unreachable", F::ipv6, kIcmp6, 1, 3, 0, "2001:db8::1", AF_INET6, 64, true, "2001:db8::1", -1, -1},
      {"packet too big, MTU 1280", F::ipv6, kIcmp6, 2, 0, 1280, "2001:db8::1", AF_INET6, 64, true, "2001:db8::1", -1, 1280},
      {"parameter problem at byte 40", F::ipv6, kIcmp6, 4, 1, 40, "2001:db8::1", AF_INET6, 64, true, "2001:db8::1", -1, -1},
      {"no hop limit reported", F::ipv6, kIcmp6, 1, 4, 0, "2001:db8::1", AF_INET6, -1, true, "2001:db8::1", -1, -1},
      {"ICMPv6, no offender: unspecified sender", F::ipv6, kIcmp6, 3, 0, 0, nullptr, AF_INET6, 300, true, "::", -1, -1},
      {"ICMPv6, send refused locally", F::ipv6, kLocal, 0, 0, 1280, "2001:db8::1", AF_INET6, -1, false, "", -1, -1},
      {"an ICMP (IPv4) report on an IPv6 socket", F::ipv6, kIcmp, 11, 0, 0, "2001:db8::1", AF_INET6, -1, false, "", -1, -1},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    // The quoted request: an echo request of 64 bytes as vexmo sends it,
    // identifier 0x1234 least significant byte first, send stamp 0.
    std::vector<std::uint8_t> request(64, 0);
    request[0] = c.family == F::ipv6 ? 128 : 8;
    request[4] = 0x34;
    request[5] = 0x12;
    Received received;
    ASSERT_EQ(record_report(reported(report(c.origin, c.type, c.code, c.info), c.offender,
                                     c.offender_af, c.ttl),
                            c.family, request.data(), request.size(), &received),
              c.recorded);
    if (!c.recorded) {
      continue;
    }
    EXPECT_TRUE(received.reported);
    EXPECT_EQ(received.family, c.family);
    EXPECT_EQ(received.type, c.type);
    EXPECT_EQ(received.code, c.code);
    EXPECT_EQ(received.info, c.info);
    EXPECT_EQ(received.quoted_request, request.data());
    EXPECT_EQ(received.quoted_length, request.size());
    EXPECT_EQ(received.from.family, c.family);
    EXPECT_EQ(received.from.scope_id, 0u);
    char from[INET6_ADDRSTRLEN];
    inet_ntop(c.family == F::ipv6 ? AF_INET6 : AF_INET, received.from.bytes, from, sizeof from);
    EXPECT_STREQ(from, c.from);
    EXPECT_TRUE(is_answer(received, 0x1234, 0));
    EXPECT_FALSE(is_answer(received, 0x1235, 0));
    const Answer answer = read_answer(received, 0);
    EXPECT_FALSE(answer.echo_reply);
    EXPECT_EQ(answer.type, c.type);
    EXPECT_EQ(answer.code, c.code);
    EXPECT_EQ(answer.gateway.has_value(), c.gateway >= 0);
    if (answer.gateway && c.gateway >= 0) {
      EXPECT_EQ(*answer.gateway, htonl(static_cast<std::uint32_t>(c.gateway)));
    }
    EXPECT_EQ(answer.mtu.has_value(), c.mtu >= 0);
    if (answer.mtu && c.mtu >= 0) {
      EXPECT_EQ(*answer.mtu, c.mtu);
    }
  }
}

// Control messages as the kernel lays them out, read back.
class ControlBuilder {
 public:
  template <typename T>
  void add(int level, int type, const T& value, std::size_t length = sizeof(T)) {
    const std::size_t at = bytes_.size();
    bytes_.resize(at + CMSG_SPACE(length), 0);
    cmsghdr header;
    std::memset(&header, 0, sizeof header);
    header.cmsg_level = level;
    header.cmsg_type = type;
    header.cmsg_len = CMSG_LEN(length);
    std::memcpy(bytes_.data() + at, &header, sizeof header);
    std::memcpy(bytes_.data() + at + CMSG_LEN(0), &value, std::min(length, sizeof(T)));
  }
  Control read() {
    msghdr message;
    std::memset(&message, 0, sizeof message);
    message.msg_control = bytes_.data();
    message.msg_controllen = bytes_.size();
    return read_control(&message);
  }

 private:
  std::vector<std::uint8_t> bytes_;
};

TEST(Ancillary, ReadsTheHopLimitAndTheReportOfEitherFamily) {
  {
    ControlBuilder control;
    control.add(IPPROTO_IPV6, IPV6_HOPLIMIT, 57);
    const Control read = control.read();
    EXPECT_EQ(read.time_to_live, 57);
    EXPECT_FALSE(read.has_report);
  }
  {
    // An IPv6 error report with its offender.
    struct {
      sock_extended_err report;
      sockaddr_in6 offender;
    } data;
    data.report = report(SO_EE_ORIGIN_ICMP6, 2, 0, 1280);
    std::memset(&data.offender, 0, sizeof data.offender);
    data.offender.sin6_family = AF_INET6;
    ControlBuilder control;
    control.add(IPPROTO_IPV6, IPV6_RECVERR, data);
    const Control read = control.read();
    EXPECT_EQ(read.time_to_live, -1);
    ASSERT_TRUE(read.has_report);
    EXPECT_EQ(read.report.ee_info, 1280u);
    ASSERT_TRUE(read.has_offender);
    EXPECT_EQ(read.offender.ss_family, AF_INET6);
  }
  {
    // IPv4 as before; a report without room for its offender keeps none;
    // a hop limit cut short and other kinds are skipped.
    ControlBuilder control;
    control.add(IPPROTO_IP, IP_TTL, 63);
    control.add(IPPROTO_IP, IP_RECVERR, report(SO_EE_ORIGIN_ICMP, 11, 0, 0));
    control.add(IPPROTO_IPV6, IPV6_HOPLIMIT, 99, 2);
    control.add(IPPROTO_IPV6, IPV6_PKTINFO, 12345);
    const Control read = control.read();
    EXPECT_EQ(read.time_to_live, 63);
    ASSERT_TRUE(read.has_report);
    EXPECT_EQ(read.report.ee_type, 11);
    EXPECT_FALSE(read.has_offender);
  }
}

TEST(DatagramSocket, BoundPortPutsTheIdentifierOnTheWireUnchanged) {
  const struct {
    std::uint8_t low, high;
  } cases[] = {{0x34, 0x12}, {0x01, 0x00}, {0x00, 0x01}, {0xFF, 0xFF}};
  for (const auto& c : cases) {
    const std::uint16_t identifier = static_cast<std::uint16_t>(c.high << 8 | c.low);
    const std::uint16_t port = port_for_identifier(identifier);
    EXPECT_EQ(identifier_for_port(port), identifier);
    // The kernel writes the port in network order into bytes 4 and 5.
    const std::uint16_t host_order_port = ntohs(port);
    EXPECT_EQ(host_order_port >> 8, c.low);
    EXPECT_EQ(host_order_port & 0xFF, c.high);
  }
}

}  // namespace
}  // namespace vexmo
