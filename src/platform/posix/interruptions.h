// SIGINT (stop), SIGQUIT (interim) and SIGWINCH (resize) as the run's
// interruptions, and the wait that wakes for them. A handler only counts its
// signal and writes a byte into a pipe that every wait polls beside its
// socket: a signal that comes just before poll blocks leaves its byte
// behind, and poll returns at once, so no interruption waits for a timeout.
#ifndef VEXMO_PLATFORM_POSIX_INTERRUPTIONS_H
#define VEXMO_PLATFORM_POSIX_INTERRUPTIONS_H

#include <cstdint>

#include "platform/interruptions.h"

namespace vexmo {

// watch_interruptions (interruptions.h) installs the handlers and makes the
// pipe. A signal the process was started with ignored (a background job of
// a shell without job control, nohup) stays ignored. On failure errno says
// why.

// Waits until fd is readable or has an error to report, an interruption is
// pending (not taken), or timeout_ms has passed. fd -1 waits for the
// interruptions alone: the pause. A wait longer than poll can take ends
// early as `elapsed`, as does one that a signal cut short or the byte of a
// signal taken already woke. `failed` leaves errno set.
WaitEnd wait_for_descriptor(int fd, std::uint32_t timeout_ms);

// Counts a resize and wakes the wait, as SIGWINCH does; safe in a signal
// handler (the terminal's, after a continue).
void note_resize();

// poll's timeout for a wait of ms milliseconds: ms itself where poll can take
// it, the longest it can take (2^31 - 1) above that.
int poll_timeout_from_ms(std::uint32_t ms);

}  // namespace vexmo

#endif  // VEXMO_PLATFORM_POSIX_INTERRUPTIONS_H
