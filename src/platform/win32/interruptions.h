// Console control events as the run's interruptions, and the wait that
// wakes for them. Windows calls the handler on a thread of its own; it
// counts the event and sets a manual-reset event that every wait watches
// beside its socket's, so an interruption that comes just before the wait
// blocks ends it at once.
#ifndef VEXMO_PLATFORM_WIN32_INTERRUPTIONS_H
#define VEXMO_PLATFORM_WIN32_INTERRUPTIONS_H

// winsock2.h first: it must come before windows.h wherever both are used.
#include <winsock2.h>
#include <windows.h>

#include <cstdint>

#include "platform/interruptions.h"

namespace vexmo {

// What a console control event asks: Ctrl-C and closing the console stop
// the run, Ctrl-Break asks for the statistics so far. Log-off and shut-down
// are left to the next handler (none: the process ends).
Interruption interruption_for_console_event(DWORD event);

// Counts one interruption and wakes the waits, as the console handler does
// for its events (exposed for the tests, which cannot raise the events).
void note_interruption(Interruption interruption);

// WaitForMultipleObjects's timeout for a wait of ms: ms itself, except that
// 0xFFFFFFFF would mean no limit and becomes the longest finite wait.
DWORD wait_timeout_from_ms(std::uint32_t ms);

// Waits until socket_event is set, an interruption is pending (not taken),
// or timeout_ms has passed. socket_event nullptr waits for the
// interruptions alone: the pause. `elapsed` may come early (an event that
// was taken already woke it). `failed` leaves GetLastError set.
WaitEnd wait_for_event(HANDLE socket_event, std::uint32_t timeout_ms);

// The Windows Sockets number of a wait on the socket's event that failed
// with error (GetLastError, a Win32 code): an invalid handle is a socket
// that is gone (10038), a lack of memory 10055, anything else 10022.
int winsock_error_of_wait(DWORD error);

// Waits until socket has room to send, an interruption is pending (not
// taken), or timeout_ms has passed (0: no limit). select cannot watch the
// interruptions, so it waits in short slices between which they are
// looked at. `failed` leaves WSAGetLastError set.
WaitEnd wait_for_room(SOCKET socket, std::uint32_t timeout_ms);

}  // namespace vexmo

#endif  // VEXMO_PLATFORM_WIN32_INTERRUPTIONS_H
