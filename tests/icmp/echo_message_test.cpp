#include "icmp/echo_message.h"

#include <gtest/gtest.h>

#include <vector>

#include "common/byte_order.h"
#include "support/fake_platform.h"

namespace vexmo {
namespace {

TEST(InternetChecksum, KnownVectors) {
  // A bare 24-byte echo request: the type is the only non-zero word.
  std::vector<std::uint8_t> request(24, 0);
  request[0] = 8;
  const std::uint16_t checksum = static_cast<std::uint16_t>(internet_checksum(request.data(), 24));
  write_le16(request.data() + 2, checksum);
  EXPECT_EQ(request[2], 0xF7);
  EXPECT_EQ(request[3], 0xFF);

  // RFC 1071's example words 0001 f203 f4f5 f6f7 sum to ddf2, complement 220d
  // (in the order the bytes are read).
  const std::uint8_t rfc[] = {0x00, 0x01, 0xf2, 0x03, 0xf4, 0xf5, 0xf6, 0xf7};
  const std::uint16_t folded = static_cast<std::uint16_t>(internet_checksum(rfc, sizeof rfc));
  EXPECT_EQ(folded, static_cast<std::uint16_t>(~0xf2ddu));

  EXPECT_EQ(internet_checksum(rfc, 0) & 0xFFFFu, 0xFFFFu);
}

TEST(InternetChecksum, MessageCarryingItsChecksumSumsToZero) {
  for (std::uint32_t size : {16u, 56u, 1000u, 65536u}) {
    std::vector<std::uint8_t> data(size, 0);
    std::vector<std::uint8_t> message(size + 8);
    write_echo_request(message.data(), 0xBEEF, 0x1234, data.data(), size);
    // Stamps with every byte set, so the sum must fold carries.
    seal_echo_request(message.data(), size, 0xFFFFFFFFFFFFFFFFull);
    EXPECT_EQ(internet_checksum(message.data(), message.size()) & 0xFFFFu, 0u) << size;
  }
}

TEST(EchoRequest, LayoutAtEverySize) {
  for (std::uint32_t size : {16u, 56u, 65536u}) {
    // Data buffer deliberately not zero past what is copied: only size - 16
    // bytes may reach the message.
    std::vector<std::uint8_t> data(size, 0);
    std::vector<std::uint8_t> message(size + 8 + 4, 0xAA);
    write_echo_request(message.data(), 0x1234, 0xABCD, data.data(), size);
    seal_echo_request(message.data(), size, 0x0102030405060708ull);
    EXPECT_EQ(message[0], 8);
    EXPECT_EQ(message[1], 0);
    EXPECT_EQ(message[4], 0x34);  // least significant byte first
    EXPECT_EQ(message[5], 0x12);
    EXPECT_EQ(message[6], 0xCD);
    EXPECT_EQ(message[7], 0xAB);
    EXPECT_EQ(read_le64(message.data() + kSendStampOffset), 0x0102030405060708ull);
    EXPECT_EQ(message[8], 0x08);
    for (std::size_t i = kEchoDataOffset; i < size + 8; ++i) {
      ASSERT_EQ(message[i], 0) << "size " << size << " byte " << i;
    }
    for (std::size_t i = size + 8; i < message.size(); ++i) {
      ASSERT_EQ(message[i], 0xAA) << "wrote past the message at " << i;
    }
  }
}

TEST(SendEchoRequest, SendsTheStampedMessage) {
  fake::reset();
  fake::state().now_us = 7777;
  std::vector<std::uint8_t> data(56, 0);
  const SocketAddress to = {kFamilyInet, 0, fake::address(10, 0, 0, 2)};
  std::uint64_t stamp = 0;
  EXPECT_EQ(send_echo_request(3, to, 0x4321, 2, data.data(), 56, &stamp), 64);
  EXPECT_EQ(stamp, 7777u);
  ASSERT_EQ(fake::state().sent.size(), 1u);
  const fake::Sent& sent = fake::state().sent[0];
  ASSERT_EQ(sent.bytes.size(), 64u);
  EXPECT_EQ(sent.to.address, fake::address(10, 0, 0, 2));
  EXPECT_EQ(read_le64(sent.bytes.data() + kSendStampOffset), 7777u);
  EXPECT_EQ(read_le16(sent.bytes.data() + 4), 0x4321);
  EXPECT_EQ(read_le16(sent.bytes.data() + 6), 2);
  EXPECT_EQ(internet_checksum(sent.bytes.data(), sent.bytes.size()) & 0xFFFFu, 0u);
}

TEST(SendEchoRequest, FailureIsMinusTheErrorNumber) {
  fake::reset();
  fake::state().send_error = 10040;
  std::vector<std::uint8_t> data(65536, 0);
  const SocketAddress to = {kFamilyInet, 0, fake::address(10, 0, 0, 2)};
  std::uint64_t stamp = 0;
  EXPECT_EQ(send_echo_request(3, to, 1, 0, data.data(), 65536, &stamp), -10040);
}

}  // namespace
}  // namespace vexmo
