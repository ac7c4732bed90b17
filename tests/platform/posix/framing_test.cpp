// The framing that makes an ICMP datagram socket look like a raw one: what
// the wait reads from a framed datagram must be where a raw socket puts it.
#include "platform/posix/framing.h"
#include "platform/posix/error_queue.h"

#include "icmp/answer.h"
#include "platform/posix/ancillary.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "support/wire_checksum.h"

namespace vexmo {
namespace {

std::uint32_t address(const char* text) {
  return inet_addr(text);
}

std::uint16_t be16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] << 8 | p[1]);
}

// An echo request of 64 bytes as vexmo sends it: identifier 0x1234 and
// sequence 7, both least significant byte first.
std::vector<std::uint8_t> echo_request() {
  std::vector<std::uint8_t> request(64, 0);
  request[0] = 8;
  request[4] = 0x34;
  request[5] = 0x12;
  request[6] = 7;
  return request;
}

TEST(DatagramFraming, Ipv4HeaderIsValidAndCarriesTheFields) {
  const struct {
    std::uint8_t tos, ttl;
    std::size_t payload;
    std::uint16_t total;
  } cases[] = {
      {0, 64, 64, 84},
      {0xE2, 1, 0, 20},
      {0, 255, 65515, 65535},
      {0, 63, 70000, 65535},  // cannot be: kept at the largest IPv4 length
  };
  for (const auto& c : cases) {
    std::uint8_t header[kIpv4HeaderBytes];
    Ipv4HeaderFields fields;
    fields.type_of_service = c.tos;
    fields.time_to_live = c.ttl;
    fields.source = address("198.18.1.2");
    fields.destination = address("198.18.0.2");
    write_ipv4_header(header, fields, c.payload);
    EXPECT_EQ(header[0], 0x45);
    EXPECT_EQ(header[1], c.tos);
    EXPECT_EQ(be16(header + 2), c.total);
    EXPECT_EQ(header[8], c.ttl);
    EXPECT_EQ(header[9], 1);  // ICMP
    EXPECT_EQ(std::memcmp(header + 12, &fields.source, 4), 0);
    EXPECT_EQ(std::memcmp(header + 16, &fields.destination, 4), 0);
    EXPECT_EQ(test::ones_complement_sum(header, sizeof header), 0xFFFFu) << c.payload;
  }
}

TEST(DatagramFraming, EchoReplyKeepsTheMessageBehindTheHeader) {
  std::vector<std::uint8_t> datagram(kIpv4HeaderBytes + 64, 0xAA);
  std::vector<std::uint8_t> reply = echo_request();
  reply[0] = 0;
  std::memcpy(datagram.data() + kIpv4HeaderBytes, reply.data(), reply.size());
  Ipv4HeaderFields fields;
  fields.time_to_live = 63;
  fields.source = address("198.18.1.2");
  EXPECT_EQ(frame_echo_reply(datagram.data(), reply.size(), fields), 84u);
  EXPECT_EQ(datagram[0], 0x45);
  EXPECT_EQ(datagram[8], 63);
  EXPECT_EQ(std::memcmp(datagram.data() + kIpv4HeaderBytes, reply.data(), reply.size()), 0);
}

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

sockaddr_in inet(const char* text) {
  sockaddr_in a;
  std::memset(&a, 0, sizeof a);
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = address(text);
  return a;
}

TEST(DatagramFraming, ErrorQueueReportsBecomeTheDatagramARawSocketReceives) {
  const sockaddr_in destination = inet("198.18.1.30");
  const struct {
    const char* what;
    std::uint8_t type, code;
    std::uint32_t info;
    std::uint8_t second_word[4];  // ICMP header bytes 4 to 7 on the wire
  } cases[] = {
      {"time exceeded", 11, 0, 0, {0, 0, 0, 0}},
      {"host unreachable", 3, 1, 0, {0, 0, 0, 0}},
      {"fragmentation needed, next-hop MTU 576", 3, 4, 576, {0, 0, 0x02, 0x40}},
      {"redirect for the host, gateway 198.18.0.3", 5, 1, 0xC6120003u, {198, 18, 0, 3}},
      {"parameter problem at byte 9", 12, 0, 9, {9, 0, 0, 0}},
      {"source quench", 4, 0, 0, {0, 0, 0, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const sockaddr_in offender = inet("198.18.0.1");
    QueuedIcmpError error;
    ASSERT_TRUE(queued_icmp_error(report(SO_EE_ORIGIN_ICMP, c.type, c.code, c.info), &offender,
                                  destination, 64, &error));
    EXPECT_EQ(error.sender, address("198.18.0.1"));

    const std::vector<std::uint8_t> request = echo_request();
    std::vector<std::uint8_t> datagram(1024, 0xAA);
    std::memcpy(datagram.data() + kQuotedRequestOffset, request.data(), request.size());
    const std::size_t length = frame_icmp_error(datagram.data(), request.size(), error);
    ASSERT_EQ(length, 20u + 8u + 20u + 64u);

    const std::uint8_t* ip = datagram.data();
    EXPECT_EQ(ip[0], 0x45);
    EXPECT_EQ(be16(ip + 2), length);
    EXPECT_EQ(ip[8], 64);
    EXPECT_EQ(std::memcmp(ip + 12, &error.sender, 4), 0);
    EXPECT_EQ(test::ones_complement_sum(ip, 20), 0xFFFFu);

    const std::uint8_t* icmp = ip + 20;
    EXPECT_EQ(icmp[0], c.type);
    EXPECT_EQ(icmp[1], c.code);
    EXPECT_EQ(std::memcmp(icmp + 4, c.second_word, 4), 0);
    EXPECT_EQ(test::ones_complement_sum(icmp, length - 20), 0xFFFFu);

    // The quoted request behind its own header, as the wait reads it: the
    // identifier 32 bytes into the message, least significant byte first.
    EXPECT_EQ(icmp[8], 0x45);
    EXPECT_EQ(std::memcmp(icmp + 8 + 16, &destination.sin_addr.s_addr, 4), 0);
    EXPECT_EQ(icmp[28], 8);
    EXPECT_EQ(icmp[32] | icmp[33] << 8, 0x1234);
    EXPECT_EQ(std::memcmp(icmp + 28, request.data(), request.size()), 0);
  }
}

TEST(DatagramFraming, ReportsThatAreNoIcmpMessageAreSkipped) {
  const sockaddr_in destination = inet("198.18.2.2");
  const sockaddr_in offender = inet("198.18.0.2");
  QueuedIcmpError error;
  // A send refused for its size is reported locally, not by the network.
  EXPECT_FALSE(
      queued_icmp_error(report(SO_EE_ORIGIN_LOCAL, 0, 0, 576), &offender, destination, -1, &error));
  EXPECT_FALSE(
      queued_icmp_error(report(SO_EE_ORIGIN_NONE, 0, 0, 0), &offender, destination, -1, &error));
}

TEST(DatagramFraming, MissingOffenderAndTimeToLiveLeaveZeros) {
  QueuedIcmpError error;
  ASSERT_TRUE(queued_icmp_error(report(SO_EE_ORIGIN_ICMP, 11, 0, 0), nullptr, inet("198.18.1.30"),
                                -1, &error));
  EXPECT_EQ(error.sender, 0u);
  EXPECT_EQ(error.time_to_live, 0);
  sockaddr_in unspecified = inet("198.18.0.1");
  unspecified.sin_family = AF_UNSPEC;
  ASSERT_TRUE(queued_icmp_error(report(SO_EE_ORIGIN_ICMP, 11, 0, 0), &unspecified,
                                inet("198.18.1.30"), 300, &error));
  EXPECT_EQ(error.sender, 0u);
  EXPECT_EQ(error.time_to_live, 0);
}

sockaddr_in6 inet6(const char* text) {
  sockaddr_in6 a;
  std::memset(&a, 0, sizeof a);
  a.sin6_family = AF_INET6;
  inet_pton(AF_INET6, text, &a.sin6_addr);
  return a;
}

// The ICMPv6 error a datagram socket reports becomes the message a raw
// ICMPv6 socket would receive: the wait finds our identifier at 52 and the
// request behind a quoted IPv6 header.
TEST(DatagramFraming, Icmp6ErrorReportsBecomeTheMessageARawSocketReceives) {
  const sockaddr_in6 destination = inet6("2001:db8:1::30");
  const sockaddr_in6 offender = inet6("2001:db8::1");
  const struct {
    const char* what;
    std::uint8_t type, code;
    std::uint32_t info;
    std::uint8_t second_word[4];
    int hop_limit;
  } cases[] = {
      {"hop limit exceeded", 3, 0, 0, {0, 0, 0, 0}, 64},
      {"address unreachable", 1, 3, 0, {0, 0, 0, 0}, 64},
      {"packet too big, MTU 1280", 2, 0, 1280, {0, 0, 0x05, 0x00}, 64},
      {"parameter problem at byte 40", 4, 1, 40, {0, 0, 0, 40}, 64},
      {"no hop limit reported: the message goes up bare", 1, 4, 0, {0, 0, 0, 0}, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    QueuedIcmp6Error error;
    ASSERT_TRUE(queued_icmp6_error(report(SO_EE_ORIGIN_ICMP6, c.type, c.code, c.info), &offender,
                                   destination, c.hop_limit, &error));
    std::vector<std::uint8_t> request = echo_request();
    request[0] = 128;
    std::vector<std::uint8_t> datagram(1024, 0xAA);
    std::memcpy(datagram.data() + kQuoted6RequestOffset, request.data(), request.size());
    const std::size_t length = frame_icmp6_error(datagram.data(), request.size(), error);
    const std::size_t header = c.hop_limit >= 0 ? 40 : 0;
    ASSERT_EQ(length, header + 8u + 40u + 64u);

    const ReplyView view = view_datagram(datagram.data(), AddressFamily::ipv6);
    ASSERT_EQ(view.message - datagram.data(), static_cast<std::ptrdiff_t>(header));
    if (header != 0) {
      EXPECT_EQ(datagram[7], c.hop_limit);
      EXPECT_EQ(be16(datagram.data() + 4), length - 40);
      EXPECT_EQ(std::memcmp(datagram.data() + 8, &offender.sin6_addr, 16), 0);
    }
    const std::uint8_t* icmp = view.message;
    EXPECT_EQ(icmp[0], c.type);
    EXPECT_EQ(icmp[1], c.code);
    EXPECT_EQ(std::memcmp(icmp + 4, c.second_word, 4), 0);
    EXPECT_EQ(icmp[8] >> 4, 6);
    EXPECT_EQ(icmp[8 + 6], 58);
    EXPECT_EQ(be16(icmp + 8 + 4), 64);
    EXPECT_EQ(std::memcmp(icmp + 8 + 24, &destination.sin6_addr, 16), 0);
    EXPECT_EQ(std::memcmp(icmp + 48, request.data(), request.size()), 0);
    EXPECT_EQ(carried_identifier(icmp, AddressFamily::ipv6), 0x1234);
    EXPECT_TRUE(is_answer(icmp, length - header, 0x1234, 0, AddressFamily::ipv6));
  }
  // Local reports (a send refused for its size) are no ICMPv6 message; nor is
  // an ICMP (IPv4) report.
  QueuedIcmp6Error error;
  EXPECT_FALSE(queued_icmp6_error(report(SO_EE_ORIGIN_LOCAL, 0, 0, 1280), &offender, destination,
                                  -1, &error));
  EXPECT_FALSE(
      queued_icmp6_error(report(SO_EE_ORIGIN_ICMP, 11, 0, 0), &offender, destination, -1, &error));
  // No offender: the sender is unknown, not garbage.
  ASSERT_TRUE(
      queued_icmp6_error(report(SO_EE_ORIGIN_ICMP6, 3, 0, 0), nullptr, destination, 300, &error));
  EXPECT_EQ(error.hop_limit, -1);
  EXPECT_EQ(std::memcmp(error.sender, std::vector<std::uint8_t>(16, 0).data(), 16), 0);
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
    control.add(IPPROTO_IPV6, IPV6_TCLASS, 0xB8);
    const Control read = control.read();
    EXPECT_EQ(read.time_to_live, 57);
    EXPECT_EQ(read.type_of_service, 0xB8);
    EXPECT_FALSE(read.has_report);
  }
  {
    // An IPv6 error report with its offender.
    struct {
      sock_extended_err report;
      sockaddr_in6 offender;
    } data;
    data.report = report(SO_EE_ORIGIN_ICMP6, 2, 0, 1280);
    data.offender = inet6("2001:db8::1");
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

TEST(DatagramFraming, BoundPortPutsTheIdentifierOnTheWireUnchanged) {
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
