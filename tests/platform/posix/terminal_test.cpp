// Standard output as a terminal: a pseudo-terminal stands in for one, in a
// child process, so that the test's own output is untouched.
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/platform.h"

namespace vexmo {
namespace {

// Runs body in a child whose standard output is a new pseudo-terminal of
// 30 x 100 with TERM set to term (nullptr: unset), continued whenever it
// stops, as a shell's fg does; the child's exit code is body's, or 128 +
// the signal that ended it. *written: what it wrote.
int in_terminal(const char* term, int (*body)(), std::string* written) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
    return -1;
  }
  const pid_t child = fork();
  if (child == 0) {
    const int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
    winsize size{};
    size.ws_row = 30;
    size.ws_col = 100;
    if (slave < 0 || ioctl(slave, TIOCSWINSZ, &size) != 0 || dup2(slave, STDOUT_FILENO) < 0) {
      _exit(99);
    }
    term != nullptr ? setenv("TERM", term, 1) : unsetenv("TERM");
    setpgid(0, 0);  // a group of its own, which a suspension stops
    _exit(body());
  }
  int status = 0;
  while (waitpid(child, &status, WUNTRACED) == child && WIFSTOPPED(status)) {
    kill(child, SIGCONT);
  }
  char buffer[256];
  fcntl(master, F_SETFL, O_NONBLOCK);
  for (ssize_t n; (n = read(master, buffer, sizeof buffer)) > 0;) {
    written->append(buffer, static_cast<std::size_t>(n));
  }
  close(master);
  return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
}

int kind_and_size() {
  const Terminal terminal = terminal_open("");
  const TerminalSize size = terminal_size();
  terminal_close(terminal);
  return static_cast<int>(terminal.kind) * 10 + (size.rows == 30 && size.columns == 100);
}

TEST(Terminal, KindBySystemAndTerm) {
  const struct {
    const char* term;
    TerminalKind kind;
  } cases[] = {
      {"xterm-256color", TerminalKind::controlled},
      {"dumb", TerminalKind::plain},
      {"", TerminalKind::plain},
      {nullptr, TerminalKind::plain},
  };
  for (const auto& c : cases) {
    std::string written;
    EXPECT_EQ(in_terminal(c.term, kind_and_size, &written), static_cast<int>(c.kind) * 10 + 1)
        << (c.term ? c.term : "(unset)");
  }
  // The test's own output, a file or pipe under ctest, is none.
  const Terminal own = terminal_open("");
  EXPECT_EQ(own.kind == TerminalKind::none, isatty(STDOUT_FILENO) == 0);
  terminal_close(own);
}

int killed_while_open() {
  terminal_open("RESTORED");
  return raise(SIGTERM);
}

int killed_after_close() {
  terminal_close(terminal_open("RESTORED"));
  return raise(SIGTERM);
}

// Continued after a suspension, the run is asked for its picture again.
int suspended_and_continued() {
  watch_interruptions();
  terminal_open("RESTORED");
  raise(SIGTSTP);
  return take_interruption() == Interruption::resize ? 0 : 1;
}

// A kill or a suspension while the terminal is taken: the text that
// restores it, then what the signal would have done; after terminal_close,
// that alone.
TEST(Terminal, KillAndSuspensionRestoreUntilClosed) {
  const struct {
    int (*body)();
    int status;
    const char* written;
  } cases[] = {{killed_while_open, 128 + SIGTERM, "RESTORED"},
               {killed_after_close, 128 + SIGTERM, ""},
               {suspended_and_continued, 0, "RESTORED"}};
  for (const auto& c : cases) {
    std::string written;
    EXPECT_EQ(in_terminal("xterm", c.body, &written), c.status) << c.written;
    EXPECT_EQ(written, c.written);
  }
}

}  // namespace
}  // namespace vexmo
