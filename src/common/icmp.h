// The ICMP vocabulary: message types, header sizes and the layout of the echo
// messages vexmo sends, held once for the transport, the reports and the
// platform's kernel filter.
#ifndef VEXMO_COMMON_ICMP_H
#define VEXMO_COMMON_ICMP_H

#include <cstddef>
#include <cstdint>

namespace vexmo {

constexpr std::uint8_t kTypeEchoReply = 0;
constexpr std::uint8_t kTypeDestinationUnreachable = 3;
constexpr std::uint8_t kTypeSourceQuench = 4;
constexpr std::uint8_t kTypeRedirect = 5;
constexpr std::uint8_t kTypeEchoRequest = 8;
constexpr std::uint8_t kTypeTimeExceeded = 11;
constexpr std::uint8_t kTypeParameterProblem = 12;

constexpr std::uint8_t kCodeFragmentationNeeded = 4;  // of Destination Unreachable

constexpr std::uint8_t kProtocolIcmp = 1;  // in the IPv4 header
constexpr std::size_t kIpv4ProtocolOffset = 9;

// The ICMP error messages vexmo reports: each quotes the datagram it is about.
constexpr bool is_error_type(std::uint8_t type) {
  return type == kTypeDestinationUnreachable || type == kTypeSourceQuench ||
         type == kTypeRedirect || type == kTypeTimeExceeded || type == kTypeParameterProblem;
}

constexpr std::size_t kIpv4HeaderBytes = 20;  // without options
constexpr std::size_t kIcmpHeaderBytes = 8;

// The echo message (offsets from its first byte): 0 type, 1 code,
// 2 checksum, 4 identifier, 6 sequence, 8 send stamp, 16 receive stamp slot,
// 24 data. Identifier, sequence and stamps are least significant byte first.
constexpr std::size_t kIdentifierOffset = 4;
constexpr std::size_t kSequenceOffset = 6;
constexpr std::size_t kSendStampOffset = 8;
constexpr std::size_t kReceiveStampOffset = 16;
constexpr std::size_t kEchoDataOffset = 24;

// In an ICMP error message: the quoted IPv4 header behind the ICMP header,
// and the quoted request's identifier 4 bytes into the request behind it.
constexpr std::size_t kQuotedHeaderOffset = kIcmpHeaderBytes;
constexpr std::size_t kQuotedIdentifierOffset =
    kIcmpHeaderBytes + kIpv4HeaderBytes + kIdentifierOffset;

// ICMPv6 (RFC 4443): the echo messages have the IPv4 layout above; errors
// quote the request behind its 40-byte IPv6 header.
constexpr std::uint8_t kType6DestinationUnreachable = 1;
constexpr std::uint8_t kType6PacketTooBig = 2;
constexpr std::uint8_t kType6TimeExceeded = 3;
constexpr std::uint8_t kType6ParameterProblem = 4;
constexpr std::uint8_t kType6EchoRequest = 128;
constexpr std::uint8_t kType6EchoReply = 129;

constexpr bool is_icmp6_error_type(std::uint8_t type) {
  return type >= kType6DestinationUnreachable && type <= kType6ParameterProblem;
}

constexpr std::uint8_t kNextHeaderIcmp6 = 58;  // in the IPv6 header
constexpr std::uint8_t kNextHeaderFragment = 44;
constexpr std::size_t kIpv6FragmentHeaderBytes = 8;
constexpr std::size_t kFragmentOffsetOffset = 2;  // in the Fragment header: 13 bits, then flags
constexpr std::size_t kIpv6HeaderBytes = 40;
constexpr std::size_t kIpv6PayloadLengthOffset = 4;
constexpr std::size_t kIpv6NextHeaderOffset = 6;
constexpr std::size_t kIpv6HopLimitOffset = 7;
constexpr std::size_t kIpv6SourceOffset = 8;
constexpr std::size_t kIpv6DestinationOffset = 24;

constexpr std::size_t kQuoted6IdentifierOffset =
    kIcmpHeaderBytes + kIpv6HeaderBytes + kIdentifierOffset;  // 52
// Where a quote of a request's first fragment holds the identifier: behind
// the Fragment header too.
constexpr std::size_t kQuoted6FragmentIdentifierOffset =
    kQuoted6IdentifierOffset + kIpv6FragmentHeaderBytes;  // 60

}  // namespace vexmo

#endif  // VEXMO_COMMON_ICMP_H
