#include "platform/posix/timeouts.h"

namespace vexmo {

timeval timeval_from_ms(std::uint32_t milliseconds) {
  timeval value;
  value.tv_sec = static_cast<time_t>(milliseconds / 1000);
  value.tv_usec = static_cast<suseconds_t>((milliseconds % 1000) * 1000);
  return value;
}

}  // namespace vexmo
