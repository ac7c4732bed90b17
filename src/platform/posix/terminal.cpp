// POSIX backend: standard output as a terminal (isatty, TERM, TIOCGWINSZ),
// given back sane while the process is killed or suspended.
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "platform/platform.h"
#include "platform/posix/interruptions.h"

namespace vexmo {
namespace {

// What the handlers write, set before they are installed, and the actions
// they replaced. A handler can reach nothing else.
const char* volatile g_restore_text = nullptr;
struct Replaced {
  int signal_number;
  struct sigaction previous;
  bool installed;
};
Replaced g_replaced[] = {{SIGTERM, {}, false}, {SIGTSTP, {}, false}, {SIGCONT, {}, false}};

void write_restore_text() {
  const char* text = g_restore_text;
  if (text != nullptr) {
    ssize_t ignored = write(STDOUT_FILENO, text, std::strlen(text));
    static_cast<void>(ignored);
  }
}

bool set_action(int signal_number, void (*handler)(int), int flags, struct sigaction* previous) {
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = handler;
  action.sa_flags = flags;
  sigemptyset(&action.sa_mask);
  return sigaction(signal_number, &action, previous) == 0;
}

// A kill or a suspension (Ctrl-Z) ends in the default action, raised again
// once the handler returns (blocked till then), with the terminal given
// back first. A continue puts the suspension's handler back and asks for
// the picture again, which the suspension took down.
extern "C" void restore_and_end(int signal_number) {
  write_restore_text();
  set_action(signal_number, SIG_DFL, 0, nullptr);
  raise(signal_number);
}

extern "C" void redraw_after_continue(int) {
  set_action(SIGTSTP, restore_and_end, SA_RESTART, nullptr);
  note_resize();
}

bool takes_control_sequences(const char* term) {
  return term != nullptr && term[0] != '\0' && std::strcmp(term, "dumb") != 0;
}

}  // namespace

Terminal terminal_open(const char* restore_on_kill) {
  Terminal terminal;
  if (isatty(STDOUT_FILENO) == 0) {
    return terminal;
  }
  if (!takes_control_sequences(std::getenv("TERM"))) {
    terminal.kind = TerminalKind::plain;
    return terminal;
  }
  terminal.kind = TerminalKind::controlled;
  g_restore_text = restore_on_kill;
  for (Replaced& replaced : g_replaced) {
    struct sigaction current;
    if (replaced.installed || sigaction(replaced.signal_number, nullptr, &current) != 0 ||
        current.sa_handler == SIG_IGN) {
      continue;  // ignored on entry (nohup, no job control): it stays so
    }
    replaced.installed =
        set_action(replaced.signal_number,
                   replaced.signal_number == SIGCONT ? redraw_after_continue : restore_and_end,
                   SA_RESTART, &replaced.previous);
  }
  return terminal;
}

void terminal_close(const Terminal& terminal) {
  if (terminal.kind != TerminalKind::controlled) {
    return;
  }
  for (Replaced& replaced : g_replaced) {
    if (replaced.installed) {
      sigaction(replaced.signal_number, &replaced.previous, nullptr);
      replaced.installed = false;
    }
  }
  g_restore_text = nullptr;
}

TerminalSize terminal_size() {
  TerminalSize size;
  struct winsize window;
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &window) == 0) {
    size.rows = window.ws_row;
    size.columns = window.ws_col;
  }
  return size;
}

}  // namespace vexmo
