// Console control events through an event object; see interruptions.h.
#include "platform/win32/interruptions.h"

namespace vexmo {
namespace {

// What the console handler shares with the program. The handler only
// counts; the program counts what it has taken, so that an event that comes
// between a read and a reset is never lost.
struct InterruptionWatch {
  HANDLE wake = nullptr;  // manual reset: set while something may be pending
  volatile LONG stops_raised = 0;
  volatile LONG interims_raised = 0;
  InterruptionCounts taken;
  bool tried = false;
  bool watching = false;
  DWORD setup_error = 0;
};
InterruptionWatch g_watch;

// Closing the console ends the process as soon as the handler returns
// (and after five seconds whatever it does): the handler holds on so that
// the run can write its summary first. The run's end ends the process,
// this thread with it.
constexpr DWORD kCloseGraceMs = 4500;

LONG read_count(volatile LONG* count) {
  return InterlockedCompareExchange(count, 0, 0);
}

BOOL WINAPI on_console_event(DWORD event) {
  const Interruption interruption = interruption_for_console_event(event);
  if (interruption == Interruption::none) {
    return FALSE;
  }
  note_interruption(interruption);
  if (event == CTRL_CLOSE_EVENT) {
    Sleep(kCloseGraceMs);
  }
  return TRUE;
}

bool interruption_pending() {
  return read_count(&g_watch.stops_raised) != g_watch.taken.stops ||
         read_count(&g_watch.interims_raised) != g_watch.taken.interims;
}

HANDLE wake_event() {
  if (g_watch.wake == nullptr) {
    g_watch.wake = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  }
  return g_watch.wake;
}

}  // namespace

Interruption interruption_for_console_event(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_CLOSE_EVENT:
      return Interruption::stop;
    case CTRL_BREAK_EVENT:
      return Interruption::interim;
    default:
      return Interruption::none;
  }
}

void note_interruption(Interruption interruption) {
  if (interruption == Interruption::stop) {
    InterlockedIncrement(&g_watch.stops_raised);
  } else if (interruption == Interruption::interim) {
    InterlockedIncrement(&g_watch.interims_raised);
  }
  if (g_watch.wake != nullptr) {
    SetEvent(g_watch.wake);
  }
}

bool watch_interruptions() {
  if (g_watch.tried) {
    SetLastError(g_watch.setup_error);
    return g_watch.watching;
  }
  g_watch.tried = true;
  // The event exists before the handler can run.
  if (wake_event() == nullptr || !SetConsoleCtrlHandler(on_console_event, TRUE)) {
    g_watch.setup_error = GetLastError();
    return false;
  }
  g_watch.watching = true;
  return true;
}

Interruption take_interruption() {
  // Reset before reading the counts: an event that comes after this sets
  // it again, so none goes unnoticed by the next wait.
  if (g_watch.wake != nullptr) {
    ResetEvent(g_watch.wake);
  }
  return take_from_counts({read_count(&g_watch.stops_raised), read_count(&g_watch.interims_raised)},
                          &g_watch.taken);
}

DWORD wait_timeout_from_ms(std::uint32_t ms) {
  return ms == INFINITE ? INFINITE - 1 : static_cast<DWORD>(ms);
}

WaitEnd wait_for_event(HANDLE socket_event, std::uint32_t timeout_ms) {
  // The interruption first: WaitForMultipleObjects names the lowest index
  // of those set, and a stop goes before a waiting datagram.
  HANDLE events[2] = {wake_event(), socket_event};
  const DWORD count = socket_event != nullptr ? 2 : 1;
  if (events[0] == nullptr) {
    return WaitEnd::failed;
  }
  const DWORD end = WaitForMultipleObjects(count, events, FALSE, wait_timeout_from_ms(timeout_ms));
  if (end == WAIT_OBJECT_0) {
    if (interruption_pending()) {
      return WaitEnd::interrupted;
    }
    // Set for an event that was taken already: reset, or every wait would
    // end at once. An event that comes after the reset sets it again.
    ResetEvent(events[0]);
    return interruption_pending() ? WaitEnd::interrupted : WaitEnd::elapsed;
  }
  if (end == WAIT_OBJECT_0 + 1) {
    return WaitEnd::ready;
  }
  if (end == WAIT_TIMEOUT) {
    return WaitEnd::elapsed;
  }
  return WaitEnd::failed;
}

int winsock_error_of_wait(DWORD error) {
  switch (error) {
    case ERROR_INVALID_HANDLE:
      return WSAENOTSOCK;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return WSAENOBUFS;
    default:
      return WSAEINVAL;
  }
}

WaitEnd wait_for_room(SOCKET socket, std::uint32_t timeout_ms) {
  // Short enough that a Ctrl-C ends the wait at once, as it ends any other.
  constexpr std::uint32_t kSliceMs = 20;
  const ULONGLONG start = GetTickCount64();
  for (;;) {
    if (interruption_pending()) {
      return WaitEnd::interrupted;
    }
    std::uint32_t slice = kSliceMs;
    if (timeout_ms != 0) {
      const ULONGLONG passed = GetTickCount64() - start;
      if (passed >= timeout_ms) {
        return WaitEnd::elapsed;
      }
      const ULONGLONG left = timeout_ms - passed;
      slice = left < kSliceMs ? static_cast<std::uint32_t>(left) : kSliceMs;
    }
    fd_set writable;
    FD_ZERO(&writable);
    FD_SET(socket, &writable);
    timeval limit = {0, static_cast<long>(slice * 1000)};
    const int ready = select(0, nullptr, &writable, nullptr, &limit);
    if (ready == SOCKET_ERROR) {
      return WaitEnd::failed;
    }
    if (ready > 0) {
      return WaitEnd::ready;
    }
  }
}

WaitEnd pause_for(std::uint32_t milliseconds) {
  return wait_for_event(nullptr, milliseconds);
}

}  // namespace vexmo
