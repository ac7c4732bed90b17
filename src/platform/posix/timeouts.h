// Socket timeouts are milliseconds to the rest of vexmo; 0 means no limit in
// both forms.
#ifndef VEXMO_PLATFORM_POSIX_TIMEOUTS_H
#define VEXMO_PLATFORM_POSIX_TIMEOUTS_H

#include <sys/time.h>

#include <cstdint>

namespace vexmo {

timeval timeval_from_ms(std::uint32_t milliseconds);

// Reading back rounds a partial millisecond up, so a timeout the kernel
// rounded to its clock tick never reads back as 0 (no limit).
std::uint32_t ms_from_timeval(const timeval& value);

}  // namespace vexmo

#endif  // VEXMO_PLATFORM_POSIX_TIMEOUTS_H
