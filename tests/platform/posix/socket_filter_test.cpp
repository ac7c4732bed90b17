// The raw socket's identifier filter, run by the kernel itself: it is
// attached to one end of a datagram socket pair, and a datagram sent from the
// other end arrives exactly when the filter keeps it (a unix datagram socket
// hands its filter the datagram from its first byte, as a raw socket hands
// it the IPv4 header).
#include "platform/posix/socket_filter.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "common/byte_order.h"
#include "common/icmp.h"
#include "icmp/answer.h"
#include "platform/received_record.h"

namespace vexmo {
namespace {

constexpr std::uint16_t kOurs = 0x1234;

struct Pair {
  int sender = -1;
  int receiver = -1;
};

Pair filtered_pair(std::uint16_t identifier, AddressFamily family = AddressFamily::ipv4) {
  int fds[2];
  Pair pair;
  if (socketpair(AF_UNIX, SOCK_DGRAM, 0, fds) != 0) {
    ADD_FAILURE() << "socketpair: " << std::strerror(errno);
    return pair;
  }
  pair.sender = fds[0];
  pair.receiver = fds[1];
  EXPECT_EQ(attach_identifier_filter(pair.receiver, family, identifier), 0);
  return pair;
}

void close_pair(const Pair& pair) {
  close(pair.sender);
  close(pair.receiver);
}

// True when the datagram came through the filter whole.
bool passes(const Pair& pair, const std::vector<std::uint8_t>& datagram) {
  const std::uint8_t empty = 0;
  const ssize_t sent =
      send(pair.sender, datagram.empty() ? &empty : datagram.data(), datagram.size(), 0);
  EXPECT_EQ(sent, static_cast<ssize_t>(datagram.size()));
  std::uint8_t buffer[2048];
  const ssize_t got = recv(pair.receiver, buffer, sizeof buffer, MSG_DONTWAIT);
  if (got < 0) {
    EXPECT_TRUE(errno == EAGAIN || errno == EWOULDBLOCK) << std::strerror(errno);
    return false;
  }
  EXPECT_EQ(got, static_cast<ssize_t>(datagram.size())) << "the filter cut the datagram";
  return true;
}

// An IPv4 header of header_words words (options zero) in front of message.
std::vector<std::uint8_t> with_header(std::vector<std::uint8_t> message, int header_words = 5) {
  const std::size_t header = static_cast<std::size_t>(header_words) * 4;
  std::vector<std::uint8_t> datagram(header + message.size(), 0);
  datagram[0] = static_cast<std::uint8_t>(0x40 | header_words);
  datagram[8] = 64;
  datagram[9] = 1;
  // Byte by byte: GCC 12's -Warray-bounds misreads an insert of an empty
  // range at the end of this vector in optimised builds.
  for (std::size_t i = 0; i < message.size(); ++i) {
    datagram[header + i] = message[i];
  }
  return datagram;
}

// An ICMP message of the type with identifier stored low byte first at
// offset (4 for echo messages, 32 for errors: in the quoted request).
std::vector<std::uint8_t> message(std::uint8_t type, std::uint16_t identifier, std::size_t offset,
                                  std::size_t length) {
  std::vector<std::uint8_t> m(length, 0);
  m[0] = type;
  if (offset >= 12 && length > 8) {
    // An error: the quoted IPv4 header in front of the identifier's request.
    m[8] = static_cast<std::uint8_t>(0x40 | (offset - 12) / 4);
  }
  if (offset + 1 < length) {
    m[offset] = static_cast<std::uint8_t>(identifier);
    m[offset + 1] = static_cast<std::uint8_t>(identifier >> 8);
  }
  return m;
}

TEST(IdentifierFilter, KeepsWhatCouldBeOursAndDropsTheRest) {
  const Pair pair = filtered_pair(kOurs);
  std::vector<std::uint8_t> quoting_ours_at_4 = message(3, 0x9999, 32, 60);
  quoting_ours_at_4[4] = 0x34, quoting_ours_at_4[5] = 0x12;
  std::vector<std::uint8_t> bare_bad_header = message(0x44, kOurs, 4, 24);
  std::vector<std::uint8_t> ours_past_a_plain_quote = message(11, kOurs, 36, 40);
  ours_past_a_plain_quote[8] = 0x45;
  const struct {
    const char* name;
    std::vector<std::uint8_t> datagram;
    bool kept;
  } cases[] = {
      {"echo reply, ours", with_header(message(0, kOurs, 4, 64)), true},
      {"echo reply, foreign", with_header(message(0, 0x1235, 4, 64)), false},
      {"echo reply, ours in network order", with_header(message(0, 0x3412, 4, 64)), false},
      {"echo reply behind 4 option bytes", with_header(message(0, kOurs, 4, 64), 6), true},
      {"echo reply behind 40 option bytes", with_header(message(0, kOurs, 4, 64), 15), true},
      {"options: identifier where no options would put it",
       with_header(message(0, 0x0000, 4, 64), 6), false},
      {"destination unreachable quoting ours", with_header(message(3, kOurs, 32, 36)), true},
      {"source quench quoting ours", with_header(message(4, kOurs, 32, 36)), true},
      {"redirect quoting ours", with_header(message(5, kOurs, 32, 36)), true},
      {"time exceeded quoting ours", with_header(message(11, kOurs, 32, 36)), true},
      {"parameter problem quoting ours", with_header(message(12, kOurs, 32, 36)), true},
      {"time exceeded quoting ours, options", with_header(message(11, kOurs, 32, 36), 8), true},
      {"time exceeded quoting ours behind a quoted header with options",
       with_header(message(11, kOurs, 36, 40)), true},
      {"quoted header with options: ours where none would put it",
       with_header(ours_past_a_plain_quote), false},
      {"destination unreachable quoting a foreign request", with_header(message(3, 0x4321, 32, 36)),
       false},
      {"error: ours at offset 4 is not what it quotes", with_header(quoting_ours_at_4), false},
      {"error cut after the identifier", with_header(message(11, kOurs, 32, 34)), true},
      {"error cut inside the identifier", with_header(message(11, kOurs, 32, 33)), false},
      {"echo reply cut inside the identifier", with_header(message(0, kOurs, 4, 5)), false},
      {"header only", with_header({}), false},
      {"empty datagram", {}, false},
      {"other type carrying ours at 4", with_header(message(13, kOurs, 4, 20)), true},
      {"own echo request (loopback)", with_header(message(8, kOurs, 4, 64)), true},
      {"other type, foreign", with_header(message(13, 0x0001, 4, 20)), false},
      {"no IPv4 header: a bare echo reply", message(0, kOurs, 4, 24), true},
      {"no IPv4 header: a bare error", message(11, kOurs, 32, 40), true},
      {"first byte 0x44 (no valid header): bare", bare_bad_header, true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(passes(pair, c.datagram), c.kept) << c.name;
  }
  close_pair(pair);
}

// An ICMPv6 raw socket's filter is handed the message alone: the identifier
// of an error (types 1 to 4) in the request it quotes at 52, any other
// type's at 4.
TEST(IdentifierFilter, Icmp6KeepsWhatCouldBeOursAndDropsTheRest) {
  const Pair pair = filtered_pair(kOurs, AddressFamily::ipv6);
  const struct {
    const char* name;
    std::vector<std::uint8_t> datagram;
    bool kept;
  } cases[] = {
      {"echo reply, ours", message(129, kOurs, 4, 64), true},
      {"echo reply, foreign", message(129, 0x1235, 4, 64), false},
      {"echo reply, ours in network order", message(129, 0x3412, 4, 64), false},
      {"destination unreachable quoting ours", message(1, kOurs, 52, 64), true},
      {"packet too big quoting ours", message(2, kOurs, 52, 64), true},
      {"time exceeded quoting ours", message(3, kOurs, 52, 64), true},
      {"parameter problem quoting ours", message(4, kOurs, 52, 64), true},
      {"time exceeded quoting a foreign request", message(3, 0x4321, 52, 64), false},
      {"error: ours at 4 is not what it quotes", message(1, kOurs, 4, 64), false},
      {"error: ours at the IPv4 quote's place", message(3, kOurs, 32, 64), false},
      {"error cut after the identifier", message(3, kOurs, 52, 54), true},
      {"error cut inside the identifier", message(3, kOurs, 52, 53), false},
      {"type 0 carrying ours at 4", message(0, kOurs, 4, 24), true},
      {"type 5 (no error of ICMPv6) carrying ours at 4", message(5, kOurs, 4, 24), true},
      {"empty datagram", {}, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(passes(pair, c.datagram), c.kept) << c.name;
  }
  close_pair(pair);
}

// The filter keeps a datagram exactly when the wait would find the
// identifier in it; in particular it never drops an answer. The IPv4 filter
// sees the datagram from its IPv4 header on, as the raw socket's receive
// reads it; the ICMPv6 one sees the bare message, as the receive hands it on.
void expect_agreement_on_random_datagrams(AddressFamily family) {
  const bool ipv6 = family == AddressFamily::ipv6;
  const Pair pair = filtered_pair(kOurs, family);
  std::mt19937 random(20240611);
  const std::uint8_t types4[] = {0, 3, 4, 5, 8, 11, 12, 13, 0x45, 255};
  const std::uint8_t types6[] = {0, 1, 2, 3, 4, 5, 128, 129, 135, 255};
  const std::uint8_t* types = ipv6 ? types6 : types4;
  int kept = 0;
  for (int i = 0; i < 4000; ++i) {
    std::vector<std::uint8_t> datagram(random() % 120);
    for (auto& byte : datagram) {
      byte = static_cast<std::uint8_t>(random());
    }
    std::size_t start = 0;
    if (!ipv6 && !datagram.empty() && random() % 4 != 0) {
      datagram[0] = static_cast<std::uint8_t>(0x45 + random() % 11);
      start = static_cast<std::size_t>(datagram[0] & 0x0F) * 4;
    }
    if (start < datagram.size()) {
      datagram[start] = types[random() % 10];
      // The identifier at an echo message's place, or in a quoted request:
      // IPv4 behind a quoted header of 5 or 6 words, IPv6 at 52 or behind a
      // quoted Fragment header at 60.
      const std::size_t offsets4[] = {4, 32, 36};
      const std::size_t offsets6[] = {4, kQuoted6IdentifierOffset,
                                      kQuoted6FragmentIdentifierOffset};
      const std::size_t pick = random() % 3;
      const std::size_t at = start + (ipv6 ? offsets6 : offsets4)[pick];
      if (random() % 3 != 0 && at + 1 < datagram.size()) {
        if (pick != 0) {
          datagram[start + 8] = static_cast<std::uint8_t>(ipv6 ? 0x60 : pick == 1 ? 0x45 : 0x46);
          if (ipv6 && pick == 2) {
            datagram[start + kQuotedHeaderOffset + kIpv6NextHeaderOffset] = kNextHeaderFragment;
          }
        }
        datagram[at] = 0x34, datagram[at + 1] = 0x12;
      }
    }
    // What the wait sees: the record the raw socket makes of it (the IPv4
    // header read; an ICMPv6 message comes bare), in a buffer long enough
    // that no field of it lies past the end.
    std::vector<std::uint8_t> buffer(datagram);
    buffer.resize(datagram.size() + 64, 0);
    Received record;
    record.family = family;
    if (ipv6) {
      read_bare_message(buffer.data(), datagram.size(), -1, &record);
    } else {
      read_ipv4_datagram(buffer.data(), datagram.size(), &record);
    }
    const std::size_t length = record.length;
    const std::size_t offset =
        length > 0 ? identifier_offset(record.message, family) : kIdentifierOffset;
    const bool carries_ours =
        length >= offset + 2 && carried_identifier(record.message, family) == kOurs;
    const bool answer =
        length > 0 && is_answer(record, kOurs, length >= 16 ? read_le64(record.message + 8) : 0);
    const bool through = passes(pair, datagram);
    kept += through;
    ASSERT_EQ(through, carries_ours) << "datagram " << i << " of " << datagram.size() << " bytes";
    ASSERT_TRUE(through || !answer) << "datagram " << i << ": an answer was dropped";
  }
  EXPECT_GT(kept, 500);  // both sides were really exercised
  close_pair(pair);
}

TEST(IdentifierFilter, AgreesWithTheWaitOnRandomDatagrams) {
  expect_agreement_on_random_datagrams(AddressFamily::ipv4);
}

TEST(IdentifierFilter, Icmp6AgreesWithTheWaitOnRandomDatagrams) {
  expect_agreement_on_random_datagrams(AddressFamily::ipv6);
}

TEST(IdentifierFilter, ReportsAFailureToAttach) {
  int fds[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_DGRAM, 0, fds), 0);
  close(fds[0]);
  close(fds[1]);
  EXPECT_EQ(attach_identifier_filter(fds[1], AddressFamily::ipv4, kOurs), -1);
  EXPECT_EQ(errno, EBADF);
  EXPECT_EQ(attach_identifier_filter(fds[1], AddressFamily::ipv6, kOurs), -1);
  EXPECT_EQ(errno, EBADF);
}

}  // namespace
}  // namespace vexmo
