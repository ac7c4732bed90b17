// The send timeout is milliseconds to the rest of vexmo; 0 means no limit in
// both forms.
#ifndef VEXMO_PLATFORM_POSIX_TIMEOUTS_H
#define VEXMO_PLATFORM_POSIX_TIMEOUTS_H

#include <sys/time.h>

#include <cstdint>

namespace vexmo {

timeval timeval_from_ms(std::uint32_t milliseconds);

}  // namespace vexmo

#endif  // VEXMO_PLATFORM_POSIX_TIMEOUTS_H
