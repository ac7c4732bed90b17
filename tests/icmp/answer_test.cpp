#include "icmp/answer.h"

#include <gtest/gtest.h>

#include "common/byte_order.h"
#include "common/icmp.h"

namespace vexmo {
namespace {

constexpr std::uint64_t kStamp = 500000;

TEST(ViewDatagram, FindsTheMessageBehindAnyHeaderLength) {
  const struct {
    std::uint8_t first;
    bool has_header;
    std::size_t offset;
  } cases[] = {
      {0x45, true, 20}, {0x46, true, 24}, {0x4F, true, 60}, {0x44, false, 0},
      {0x40, false, 0}, {0x00, false, 0}, {0x08, false, 0}, {0x55, false, 0},
  };
  for (const auto& c : cases) {
    std::uint8_t datagram[128] = {};
    datagram[0] = c.first;
    const ReplyView view = view_datagram(datagram);
    EXPECT_EQ(view.ip_header != nullptr, c.has_header) << int{c.first};
    EXPECT_EQ(view.message - datagram, static_cast<std::ptrdiff_t>(c.offset)) << int{c.first};
  }
}

TEST(IsAnswer, ErrorTypesQuoteTheRequestRepliesEchoTheStamp) {
  for (int type = 0; type < 256; ++type) {
    std::uint8_t message[64] = {};
    message[0] = static_cast<std::uint8_t>(type);
    write_le16(message + 4, 0x1111);
    write_le16(message + 32, 0x2222);
    write_le64(message + kSendStampOffset, kStamp);
    const bool error = type == 3 || type == 4 || type == 5 || type == 11 || type == 12;
    EXPECT_EQ(carried_identifier(message), error ? 0x2222 : 0x1111) << type;
    // Only echo replies and the error kinds that are reported answer.
    EXPECT_EQ(is_answer(message, sizeof message, error ? 0x2222 : 0x1111, kStamp),
              error || type == 0)
        << type;
    EXPECT_FALSE(is_answer(message, sizeof message, 0x3333, kStamp)) << type;
    EXPECT_FALSE(is_answer(message, error ? 33 : 23, error ? 0x2222 : 0x1111, kStamp)) << type;
  }
}

}  // namespace
}  // namespace vexmo
