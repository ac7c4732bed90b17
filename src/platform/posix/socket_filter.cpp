// The identifier filter of the raw socket; see socket_filter.h.
#include "platform/posix/socket_filter.h"

#include <netinet/icmp6.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "common/icmp.h"

// Built without it (-DVEXMO_SOCKET_FILTER=OFF), only to measure what it buys.
#if !defined(VEXMO_SOCKET_FILTER)
#define VEXMO_SOCKET_FILTER 1
#endif

namespace vexmo {

#if defined(__linux__)
namespace {

constexpr sock_filter statement(std::uint16_t code, std::uint32_t k) {
  return sock_filter{code, 0, 0, k};
}

constexpr sock_filter jump(std::uint16_t code, std::uint32_t k, std::uint8_t if_true,
                           std::uint8_t if_false) {
  return sock_filter{code, if_true, if_false, k};
}

}  // namespace

void build_identifier_filter(std::uint16_t identifier,
                             sock_filter (&program)[kIdentifierFilterLength]) {
  // ldh loads in network order; the identifier is stored low byte first.
  const std::uint32_t wire =
      static_cast<std::uint32_t>((identifier & 0xFFu) << 8 | identifier >> 8);
  const sock_filter code[kIdentifierFilterLength] = {
      // X = where the message starts: behind an IPv4 header of 5 to 15 words
      // (first byte 0x45 to 0x4F), or at 0 when there is none.
      /* 0 */ statement(BPF_LD | BPF_B | BPF_ABS, 0),
      /* 1 */ jump(BPF_JMP | BPF_JGE | BPF_K, 0x45, 0, 3),
      /* 2 */ jump(BPF_JMP | BPF_JGT | BPF_K, 0x4F, 2, 0),
      /* 3 */ statement(BPF_LDX | BPF_B | BPF_MSH, 0),
      /* 4 */ statement(BPF_JMP | BPF_JA, 1),
      /* 5 */ statement(BPF_LDX | BPF_W | BPF_IMM, 0),
      // The type: errors carry the identifier of the request they quote.
      /* 6 */ statement(BPF_LD | BPF_B | BPF_IND, 0),
      /* 7 */ jump(BPF_JMP | BPF_JEQ | BPF_K, kTypeDestinationUnreachable, 6, 0),
      /* 8 */ jump(BPF_JMP | BPF_JEQ | BPF_K, kTypeSourceQuench, 5, 0),
      /* 9 */ jump(BPF_JMP | BPF_JEQ | BPF_K, kTypeRedirect, 4, 0),
      /* 10 */ jump(BPF_JMP | BPF_JEQ | BPF_K, kTypeTimeExceeded, 3, 0),
      /* 11 */ jump(BPF_JMP | BPF_JEQ | BPF_K, kTypeParameterProblem, 2, 0),
      /* 12 */ statement(BPF_LD | BPF_H | BPF_IND, kIdentifierOffset),
      /* 13 */ statement(BPF_JMP | BPF_JA, 6),
      // X += the quoted header's length, read from its first byte.
      /* 14 */ statement(BPF_LD | BPF_B | BPF_IND, kQuotedHeaderOffset),
      /* 15 */ statement(BPF_ALU | BPF_AND | BPF_K, 0x0F),
      /* 16 */ statement(BPF_ALU | BPF_LSH | BPF_K, 2),
      /* 17 */ statement(BPF_ALU | BPF_ADD | BPF_X, 0),
      /* 18 */ statement(BPF_MISC | BPF_TAX, 0),
      /* 19 */ statement(BPF_LD | BPF_H | BPF_IND, kQuotedHeaderOffset + kIdentifierOffset),
      // A load past the end has already ended the program with 0 (drop).
      /* 20 */ jump(BPF_JMP | BPF_JEQ | BPF_K, wire, 0, 1),
      /* 21 */ statement(BPF_RET | BPF_K, 0xFFFFFFFFu),
      /* 22 */ statement(BPF_RET | BPF_K, 0),
  };
  for (std::size_t i = 0; i < kIdentifierFilterLength; ++i) {
    program[i] = code[i];
  }
}

void build_identifier6_filter(std::uint16_t identifier,
                              sock_filter (&program)[kIdentifier6FilterLength]) {
  const std::uint32_t wire =
      static_cast<std::uint32_t>((identifier & 0xFFu) << 8 | identifier >> 8);
  // An ICMPv6 raw socket's filter sees the message from its type on.
  const sock_filter code[kIdentifier6FilterLength] = {
      /* 0 */ statement(BPF_LD | BPF_B | BPF_ABS, 0),
      // Error types 1 to 4 carry the identifier of the request they quote,
      // behind a Fragment header when the request was the first fragment.
      /* 1 */ jump(BPF_JMP | BPF_JGE | BPF_K, kType6DestinationUnreachable, 0, 7),
      /* 2 */ jump(BPF_JMP | BPF_JGT | BPF_K, kType6ParameterProblem, 6, 0),
      /* 3 */ statement(BPF_LD | BPF_B | BPF_ABS, kQuotedHeaderOffset + kIpv6NextHeaderOffset),
      /* 4 */ jump(BPF_JMP | BPF_JEQ | BPF_K, kNextHeaderFragment, 0, 2),
      /* 5 */ statement(BPF_LD | BPF_H | BPF_ABS, kQuoted6FragmentIdentifierOffset),
      /* 6 */ statement(BPF_JMP | BPF_JA, 3),
      /* 7 */ statement(BPF_LD | BPF_H | BPF_ABS, kQuoted6IdentifierOffset),
      /* 8 */ statement(BPF_JMP | BPF_JA, 1),
      /* 9 */ statement(BPF_LD | BPF_H | BPF_ABS, kIdentifierOffset),
      /* 10 */ jump(BPF_JMP | BPF_JEQ | BPF_K, wire, 0, 1),
      /* 11 */ statement(BPF_RET | BPF_K, 0xFFFFFFFFu),
      /* 12 */ statement(BPF_RET | BPF_K, 0),
  };
  for (std::size_t i = 0; i < kIdentifier6FilterLength; ++i) {
    program[i] = code[i];
  }
}
#endif

int attach_identifier_filter(int fd, AddressFamily family, std::uint16_t identifier) {
#if defined(__linux__) && VEXMO_SOCKET_FILTER
  sock_filter program4[kIdentifierFilterLength];
  sock_filter program6[kIdentifier6FilterLength];
  sock_fprog attached;
  if (family == AddressFamily::ipv6) {
    build_identifier6_filter(identifier, program6);
    attached.len = static_cast<unsigned short>(kIdentifier6FilterLength);
    attached.filter = program6;
  } else {
    build_identifier_filter(identifier, program4);
    attached.len = static_cast<unsigned short>(kIdentifierFilterLength);
    attached.filter = program4;
  }
  return setsockopt(fd, SOL_SOCKET, SO_ATTACH_FILTER, &attached, sizeof attached);
#else
  (void)fd;
  (void)family;
  (void)identifier;
  return 0;
#endif
}

int attach_icmp6_type_filter(int fd) {
  // Neighbour discovery, router advertisements, multicast listener
  // messages and echo requests (our own to a local address among them)
  // never reach the socket.
  icmp6_filter filter;
  ICMP6_FILTER_SETBLOCKALL(&filter);
  ICMP6_FILTER_SETPASS(kType6EchoReply, &filter);
  ICMP6_FILTER_SETPASS(kType6DestinationUnreachable, &filter);
  ICMP6_FILTER_SETPASS(kType6PacketTooBig, &filter);
  ICMP6_FILTER_SETPASS(kType6TimeExceeded, &filter);
  ICMP6_FILTER_SETPASS(kType6ParameterProblem, &filter);
  return setsockopt(fd, IPPROTO_ICMPV6, ICMP6_FILTER, &filter, sizeof filter);
}

}  // namespace vexmo
