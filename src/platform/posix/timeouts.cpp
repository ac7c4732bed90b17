#include "platform/posix/timeouts.h"

namespace vexmo {

timeval timeval_from_ms(std::uint32_t milliseconds) {
  timeval value;
  value.tv_sec = static_cast<time_t>(milliseconds / 1000);
  value.tv_usec = static_cast<suseconds_t>((milliseconds % 1000) * 1000);
  return value;
}

std::uint32_t ms_from_timeval(const timeval& value) {
  if (value.tv_sec < 0 || value.tv_usec < 0) {
    return 0;
  }
  const std::uint64_t ms = static_cast<std::uint64_t>(value.tv_sec) * 1000 +
                           (static_cast<std::uint64_t>(value.tv_usec) + 999) / 1000;
  return ms > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(ms);
}

}  // namespace vexmo
