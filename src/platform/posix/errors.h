// errno, translated into the Windows Sockets numbers every failure is
// reported in (common/winsock_errors.h); the one table of the POSIX backend.
#ifndef VEXMO_PLATFORM_POSIX_ERRORS_H
#define VEXMO_PLATFORM_POSIX_ERRORS_H

#include "platform/platform.h"

namespace vexmo {

// The Windows Sockets number for an errno value. An errno without a Windows
// Sockets counterpart is passed through unchanged: it stays below 10000, so it
// can never be mistaken for a Windows Sockets number.
int winsock_error_from_errno(int error);

// The failure of the system call that just set errno, as an outcome.
Outcome errno_outcome();

}  // namespace vexmo

#endif  // VEXMO_PLATFORM_POSIX_ERRORS_H
