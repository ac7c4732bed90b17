// The Windows interruptions: which console events interrupt, and what ends
// a wait or a pause. Neither Windows without a console nor Wine lets a test
// raise the events themselves, so the handler's counting is driven directly,
// from another thread as Windows calls it.
#include "platform/win32/interruptions.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

namespace vexmo {
namespace {

TEST(Win32Interruptions, ConsoleEvents) {
  const struct {
    DWORD event;
    Interruption interruption;
  } cases[] = {
      {CTRL_C_EVENT, Interruption::stop},        {CTRL_CLOSE_EVENT, Interruption::stop},
      {CTRL_BREAK_EVENT, Interruption::interim}, {CTRL_LOGOFF_EVENT, Interruption::none},
      {CTRL_SHUTDOWN_EVENT, Interruption::none},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(interruption_for_console_event(c.event), c.interruption) << c.event;
  }
}

TEST(Win32Interruptions, WaitTimeoutIsNeverInfinite) {
  const struct {
    std::uint32_t ms;
    DWORD wait_ms;
  } cases[] = {
      {0, 0},
      {3000, 3000},
      {0x80000000u, 0x80000000u},
      {0xFFFFFFFEu, 0xFFFFFFFEu},
      {0xFFFFFFFFu, 0xFFFFFFFEu},  // INFINITE would never end
  };
  for (const auto& c : cases) {
    EXPECT_EQ(wait_timeout_from_ms(c.ms), c.wait_ms) << c.ms;
  }
}

struct Later {
  Interruption interruption;
  DWORD after_ms;
};

DWORD WINAPI note_later(void* argument) {
  const Later* later = static_cast<const Later*>(argument);
  Sleep(later->after_ms);
  note_interruption(later->interruption);
  return 0;
}

std::uint64_t now_ms() {
  LARGE_INTEGER now;
  LARGE_INTEGER frequency;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&frequency);
  return static_cast<std::uint64_t>(now.QuadPart) * 1000 /
         static_cast<std::uint64_t>(frequency.QuadPart);
}

TEST(Win32Interruptions, WhatEndsAWaitAndWhatIsTaken) {
  ASSERT_TRUE(watch_interruptions());
  using I = Interruption;
  const struct {
    const char* name;
    std::vector<Interruption> before;  // noted before the wait starts
    Interruption during;               // noted from another thread 50 ms in
    bool on_socket;                    // false: the pause
    bool socket_ready;
    std::uint32_t timeout_ms;
    WaitEnd expected;
    std::vector<Interruption> taken;  // successive takes after the wait
    std::uint64_t min_ms, max_ms;     // how long the wait may take
  } cases[] = {
      {"nothing comes: the time passes",
       {},
       I::none,
       true,
       false,
       60,
       WaitEnd::elapsed,
       {I::none},
       50,
       1000},
      {"the socket is ready", {}, I::none, true, true, 5000, WaitEnd::ready, {I::none}, 0, 1000},
      {"Ctrl-C just before the wait ends it at once",
       {I::stop},
       I::none,
       true,
       false,
       10000,
       WaitEnd::interrupted,
       {I::stop, I::none},
       0,
       100},
      {"Ctrl-Break just before the wait",
       {I::interim},
       I::none,
       true,
       false,
       10000,
       WaitEnd::interrupted,
       {I::interim, I::none},
       0,
       100},
      {"Ctrl-C just before the pause",
       {I::stop},
       I::none,
       false,
       false,
       10000,
       WaitEnd::interrupted,
       {I::stop, I::none},
       0,
       100},
      {"a stop takes an interim with it",
       {I::interim, I::stop},
       I::none,
       true,
       false,
       10000,
       WaitEnd::interrupted,
       {I::stop, I::none},
       0,
       100},
      {"two interims in a row are one report",
       {I::interim, I::interim},
       I::none,
       true,
       false,
       10000,
       WaitEnd::interrupted,
       {I::interim, I::none},
       0,
       100},
      {"an interruption goes before a ready socket",
       {I::stop},
       I::none,
       true,
       true,
       10000,
       WaitEnd::interrupted,
       {I::stop, I::none},
       0,
       100},
      {"Ctrl-C in the middle of the wait",
       {},
       I::stop,
       true,
       false,
       10000,
       WaitEnd::interrupted,
       {I::stop, I::none},
       40,
       150},
      {"Ctrl-Break in the middle of the wait",
       {},
       I::interim,
       true,
       false,
       10000,
       WaitEnd::interrupted,
       {I::interim, I::none},
       40,
       150},
      {"Ctrl-C in the middle of the pause",
       {},
       I::stop,
       false,
       false,
       10000,
       WaitEnd::interrupted,
       {I::stop, I::none},
       40,
       150},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const HANDLE socket_event = CreateEventW(nullptr, TRUE, c.socket_ready, nullptr);
    ASSERT_NE(socket_event, nullptr);
    for (const Interruption i : c.before) {
      note_interruption(i);
    }
    Later later = {c.during, 50};
    HANDLE thread = nullptr;
    if (c.during != I::none) {
      thread = CreateThread(nullptr, 0, note_later, &later, 0, nullptr);
      ASSERT_NE(thread, nullptr);
    }
    const std::uint64_t start = now_ms();
    const WaitEnd end =
        c.on_socket ? wait_for_event(socket_event, c.timeout_ms) : pause_for(c.timeout_ms);
    const std::uint64_t took = now_ms() - start;
    if (thread != nullptr) {
      WaitForSingleObject(thread, INFINITE);
      CloseHandle(thread);
    }
    EXPECT_EQ(end, c.expected);
    EXPECT_GE(took, c.min_ms);
    EXPECT_LE(took, c.max_ms);
    for (const Interruption expected : c.taken) {
      EXPECT_EQ(take_interruption(), expected);
    }
    CloseHandle(socket_event);
  }
}

// An event that was taken already must not end every later wait at once.
TEST(Win32Interruptions, ATakenInterruptionEndsNoLaterWait) {
  ASSERT_TRUE(watch_interruptions());
  note_interruption(Interruption::stop);
  ASSERT_EQ(take_interruption(), Interruption::stop);
  const std::uint64_t start = now_ms();
  EXPECT_EQ(pause_for(60), WaitEnd::elapsed);
  EXPECT_GE(now_ms() - start, 50u);
}

}  // namespace
}  // namespace vexmo
