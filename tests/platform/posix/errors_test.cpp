#include "platform/posix/errors.h"
#include "platform/posix/timeouts.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace vexmo {
namespace {

TEST(WinsockErrorFromErrno, TranslationTable) {
  const struct {
    int error;
    int winsock;
  } cases[] = {
      {EAGAIN, 10060},       {EWOULDBLOCK, 10060},   {ETIMEDOUT, 10060},
      {ENETDOWN, 10050},     {ECONNABORTED, 10053},  {ECONNRESET, 10054},
      {EMSGSIZE, 10040},     {EACCES, 10013},        {EPERM, 10013},
      {EBADF, 10038},        {ENOTSOCK, 10038},      {EINVAL, 10022},
      {ENOBUFS, 10055},      {ENOMEM, 10055},        {ENETUNREACH, 10051},
      {EHOSTUNREACH, 10065}, {EHOSTDOWN, 10064},     {ECONNREFUSED, 10061},
      {EINTR, 10004},        {EADDRNOTAVAIL, 10049}, {EIO, EIO},
      {ENOENT, ENOENT},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(winsock_error_from_errno(c.error), c.winsock) << c.error;
  }
}

TEST(Timeval, FromMilliseconds) {
  const struct {
    std::uint32_t ms;
    long sec, usec;
  } cases[] = {
      {0, 0, 0}, {1, 0, 1000}, {999, 0, 999000}, {3000, 3, 0}, {4294967295u, 4294967, 295000},
  };
  for (const auto& c : cases) {
    const timeval tv = timeval_from_ms(c.ms);
    EXPECT_EQ(tv.tv_sec, c.sec) << c.ms;
    EXPECT_EQ(tv.tv_usec, c.usec) << c.ms;
  }
}

}  // namespace
}  // namespace vexmo
