// POSIX backend: standard output as a terminal (isatty, TERM, TIOCGWINSZ),
// and a kill that leaves it sane.
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

namespace vexmo {
namespace {

// What the termination handler writes; set before it is installed. A
// handler can reach nothing else.
const char* volatile g_restore_text = nullptr;
struct sigaction g_previous_term;
bool g_term_installed = false;

extern "C" void restore_and_end(int signal_number) {
  const char* text = g_restore_text;
  if (text != nullptr) {
    ssize_t ignored = write(STDOUT_FILENO, text, std::strlen(text));
    static_cast<void>(ignored);
  }
  // SA_RESETHAND put the default action back: raised again once this
  // returns, the signal ends the process as it would have.
  raise(signal_number);
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
  struct sigaction previous;
  if (!g_term_installed && sigaction(SIGTERM, nullptr, &previous) == 0 &&
      previous.sa_handler != SIG_IGN) {
    g_restore_text = restore_on_kill;
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = restore_and_end;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    g_term_installed = sigaction(SIGTERM, &action, &g_previous_term) == 0;
  }
  return terminal;
}

void terminal_close(const Terminal& terminal) {
  if (terminal.kind == TerminalKind::controlled && g_term_installed) {
    sigaction(SIGTERM, &g_previous_term, nullptr);
    g_term_installed = false;
    g_restore_text = nullptr;
  }
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
