// SIGINT, SIGQUIT and SIGWINCH through a self-pipe; see interruptions.h.
#include "platform/posix/interruptions.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

namespace vexmo {
namespace {

// What the handlers share with the program, and nothing else. The handlers
// only count; the program counts what it has taken, so that a signal that
// comes between a read and a reset is never lost.
struct InterruptionWatch {
  int wake_read = -1;
  int wake_write = -1;
  volatile sig_atomic_t stops_raised = 0;
  volatile sig_atomic_t interims_raised = 0;
  volatile sig_atomic_t resizes_raised = 0;
  InterruptionCounts taken;
  bool tried = false;
  bool watching = false;
  int setup_error = 0;
};
InterruptionWatch g_watch;

void note_interruption(int signal_number) {
  const int saved_errno = errno;
  if (signal_number == SIGINT) {
    g_watch.stops_raised = g_watch.stops_raised + 1;
  } else if (signal_number == SIGQUIT) {
    g_watch.interims_raised = g_watch.interims_raised + 1;
  } else {
    g_watch.resizes_raised = g_watch.resizes_raised + 1;
  }
  // A full pipe is as good as a written byte: it is readable already.
  const char byte = 0;
  const ssize_t written = write(g_watch.wake_write, &byte, 1);
  (void)written;
  errno = saved_errno;
}

}  // namespace

void note_resize() {
  if (g_watch.wake_write >= 0) {
    note_interruption(SIGWINCH);
  }
}

namespace {

bool make_nonblocking_pipe(int (&ends)[2]) {
  if (pipe(ends) != 0) {
    return false;
  }
  for (const int fd : ends) {
    if (fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK) != 0 ||
        fcntl(fd, F_SETFD, FD_CLOEXEC) != 0) {
      const int error = errno;
      close(ends[0]);
      close(ends[1]);
      errno = error;
      return false;
    }
  }
  return true;
}

// Restarting calls (writes to the terminal above all) keeps the summary
// whole when a second Ctrl-C comes while it is written; poll is never
// restarted, and the pipe wakes it anyway.
bool install_handler(int signal_number) {
  struct sigaction previous;
  if (sigaction(signal_number, nullptr, &previous) != 0) {
    return false;
  }
  if (previous.sa_handler == SIG_IGN) {
    return true;
  }
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = note_interruption;
  sigemptyset(&action.sa_mask);
  sigaddset(&action.sa_mask, SIGINT);
  sigaddset(&action.sa_mask, SIGQUIT);
  action.sa_flags = SA_RESTART;
  return sigaction(signal_number, &action, nullptr) == 0;
}

bool interruption_pending() {
  return g_watch.stops_raised != g_watch.taken.stops ||
         g_watch.interims_raised != g_watch.taken.interims ||
         g_watch.resizes_raised != g_watch.taken.resizes;
}

void drain_wake_pipe() {
  char bytes[64];
  while (read(g_watch.wake_read, bytes, sizeof bytes) > 0) {
  }
}

}  // namespace

bool watch_interruptions() {
  if (g_watch.tried) {
    errno = g_watch.setup_error;
    return g_watch.watching;
  }
  g_watch.tried = true;
  int ends[2];
  if (!make_nonblocking_pipe(ends)) {
    g_watch.setup_error = errno;
    return false;
  }
  g_watch.wake_read = ends[0];
  g_watch.wake_write = ends[1];
  if (!install_handler(SIGINT) || !install_handler(SIGQUIT)) {
    g_watch.setup_error = errno;
    return false;
  }
  // Without it a chart is drawn again only at the next request.
  install_handler(SIGWINCH);
  g_watch.watching = true;
  return true;
}

Interruption take_interruption() {
  if (g_watch.wake_read < 0) {
    return Interruption::none;
  }
  // Empty the pipe before reading the counts: a signal that comes after
  // this leaves a byte for the next wait, so none goes unnoticed.
  drain_wake_pipe();
  return take_from_counts({g_watch.stops_raised, g_watch.interims_raised, g_watch.resizes_raised},
                          &g_watch.taken);
}

int poll_timeout_from_ms(std::uint32_t ms) {
  return ms > static_cast<std::uint32_t>(INT_MAX) ? INT_MAX : static_cast<int>(ms);
}

WaitEnd wait_for_descriptor(int fd, std::uint32_t timeout_ms) {
  // poll skips an entry whose descriptor is negative: the pause, or a wait
  // before the watch is set up.
  pollfd watched[2] = {{g_watch.wake_read, POLLIN, 0}, {fd, POLLIN, 0}};
  const int count = poll(watched, 2, poll_timeout_from_ms(timeout_ms));
  if (count < 0) {
    if (errno != EINTR) {
      return WaitEnd::failed;
    }
    // The handler that cut poll short may have been ours.
    return interruption_pending() ? WaitEnd::interrupted : WaitEnd::elapsed;
  }
  if (watched[0].revents != 0) {
    if (interruption_pending()) {
      return WaitEnd::interrupted;
    }
    // A byte of a signal that was taken already: empty the pipe, or every
    // wait would end at once. A signal after this writes another.
    drain_wake_pipe();
    if (interruption_pending()) {
      return WaitEnd::interrupted;
    }
  }
  if (watched[1].revents != 0) {
    return WaitEnd::ready;
  }
  return WaitEnd::elapsed;
}

WaitEnd pause_for(std::uint32_t milliseconds) {
  return wait_for_descriptor(-1, milliseconds);
}

}  // namespace vexmo
