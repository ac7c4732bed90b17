// Windows backend: standard output as a console that takes virtual-terminal
// sequences, turned on for the run and given back as it was.
#include <windows.h>

#include "platform/platform.h"

// Older headers lack it; the console has had it since Windows 10.
#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif

namespace vexmo {

// Closing the console ends the process without a way back, and Ctrl-C
// reaches the run as a stop: there is no kill to restore after.
Terminal terminal_open(const char* /*restore_on_kill*/) {
  Terminal terminal;
  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if (out == nullptr || out == INVALID_HANDLE_VALUE || !GetConsoleMode(out, &mode)) {
    return terminal;
  }
  terminal.saved_mode = mode;
  const bool on = (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0 ||
                  SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
  terminal.kind = on ? TerminalKind::controlled : TerminalKind::plain;
  return terminal;
}

void terminal_close(const Terminal& terminal) {
  if (terminal.kind == TerminalKind::controlled) {
    SetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), terminal.saved_mode);
  }
}

TerminalSize terminal_size() {
  TerminalSize size;
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info)) {
    size.rows = static_cast<std::uint32_t>(info.srWindow.Bottom - info.srWindow.Top + 1);
    size.columns = static_cast<std::uint32_t>(info.srWindow.Right - info.srWindow.Left + 1);
  }
  return size;
}

}  // namespace vexmo
