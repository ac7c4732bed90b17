// Pieces of the POSIX backend that are pure translations, exposed for its tests.
#ifndef VEXMO_PLATFORM_PLATFORM_POSIX_H
#define VEXMO_PLATFORM_PLATFORM_POSIX_H

#include <sys/time.h>

#include <cstdint>

namespace vexmo {

// The Windows Sockets number for an errno value. An errno without a Windows
// Sockets counterpart is passed through unchanged: it stays below 10000, so it
// can never be mistaken for a Windows Sockets number.
int winsock_error_from_errno(int error);

// Socket timeouts are milliseconds to the rest of vexmo; 0 means no limit in
// both forms. Reading back rounds a partial millisecond up, so a timeout the
// kernel rounded to its clock tick never reads back as 0 (no limit).
timeval timeval_from_ms(std::uint32_t milliseconds);
std::uint32_t ms_from_timeval(const timeval& value);

// Keeps errno, translated, as the error socket_last_error reports: for the
// backend's socket operations that live in files of their own.
void remember_socket_errno();

}  // namespace vexmo

#endif  // VEXMO_PLATFORM_PLATFORM_POSIX_H
