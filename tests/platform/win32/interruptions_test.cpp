// The Windows interruptions: which console events interrupt, and what ends
// a wait or a pause. Neither Windows without a console nor Wine lets a test
// raise the events themselves, so the handler's counting is driven directly,
// from another thread as Windows calls it. The waits' cases are the ones the
// POSIX test runs too (interruption_cases.h).
#include "platform/win32/interruptions.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "platform/interruption_cases.h"

namespace vexmo {
namespace {

TEST(Win32Interruptions, ConsoleEvents) {
  const struct {
    DWORD event;
    Interruption interruption;
  } cases[] = {
      // clang-format off
      {CTRL_C_EVENT,        Interruption::stop},
      {CTRL_CLOSE_EVENT,    Interruption::stop},
      {CTRL_BREAK_EVENT,    Interruption::interim},
      {CTRL_LOGOFF_EVENT,   Interruption::none},
      {CTRL_SHUTDOWN_EVENT, Interruption::none},
      // clang-format on
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
      // clang-format off
      {0,           0},
      {3000,        3000},
      {0x80000000u, 0x80000000u},
      {0xFFFFFFFEu, 0xFFFFFFFEu},
      {0xFFFFFFFFu, 0xFFFFFFFEu},  // INFINITE would never end
      // clang-format on
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

// Windows may end a timed wait up to a clock tick early (Wine too): the
// table's shortest times less this.
constexpr long long kEarlyWakeMs = 5;

TEST(Win32Interruptions, WhatEndsAWaitAndWhatIsTaken) {
  ASSERT_TRUE(watch_interruptions());
  for (const test::InterruptionCase& c : test::kInterruptionCases) {
    SCOPED_TRACE(c.name);
    const BOOL ready = c.on == test::WaitOn::ready_socket;
    const HANDLE socket_event = CreateEventW(nullptr, TRUE, ready, nullptr);
    ASSERT_NE(socket_event, nullptr);
    for (const Interruption i : c.before) {
      note_interruption(i);
    }
    Later later = {c.during, static_cast<DWORD>(test::kDuringAfterMs)};
    HANDLE thread = nullptr;
    if (c.during != Interruption::none) {
      thread = CreateThread(nullptr, 0, note_later, &later, 0, nullptr);
      ASSERT_NE(thread, nullptr);
    }
    const std::uint64_t start = now_ms();
    const WaitEnd end = c.on == test::WaitOn::pause ? pause_for(c.timeout_ms)
                                                    : wait_for_event(socket_event, c.timeout_ms);
    const long long took = static_cast<long long>(now_ms() - start);
    if (thread != nullptr) {
      WaitForSingleObject(thread, INFINITE);
      CloseHandle(thread);
    }
    EXPECT_EQ(end, c.expected);
    EXPECT_GE(took, c.min_ms - kEarlyWakeMs);
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

// A failed wait reports a Windows Sockets number, never a Win32 code.
TEST(Win32Interruptions, FailedWaitsGiveWindowsSocketsNumbers) {
  const struct {
    DWORD error;
    int winsock;
  } cases[] = {
      // clang-format off
      {ERROR_INVALID_HANDLE,    WSAENOTSOCK},
      {ERROR_NOT_ENOUGH_MEMORY, WSAENOBUFS},
      {ERROR_OUTOFMEMORY,       WSAENOBUFS},
      {ERROR_ACCESS_DENIED,     WSAEINVAL},
      // clang-format on
  };
  for (const auto& c : cases) {
    EXPECT_EQ(winsock_error_of_wait(c.error), c.winsock) << c.error;
  }
}

// The wait for room to send, without a limit (-w 0) too, gives way to a
// Ctrl-C before anything else; without one it ends when there is room.
TEST(Win32Interruptions, AStopEndsTheWaitForRoomToSend) {
  ASSERT_TRUE(watch_interruptions());
  WSADATA data;
  ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
  const SOCKET udp = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  ASSERT_NE(udp, INVALID_SOCKET);
  for (const std::uint32_t timeout_ms : {0u, 3000u}) {
    note_interruption(Interruption::stop);
    const std::uint64_t start = now_ms();
    EXPECT_EQ(wait_for_room(udp, timeout_ms), WaitEnd::interrupted) << timeout_ms;
    EXPECT_LE(now_ms() - start, 100u);
    EXPECT_EQ(take_interruption(), Interruption::stop);
    EXPECT_EQ(wait_for_room(udp, timeout_ms), WaitEnd::ready) << timeout_ms;
  }
  closesocket(udp);
  WSACleanup();
}

}  // namespace
}  // namespace vexmo
