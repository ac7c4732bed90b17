// What ends a wait or a pause and what is taken after it: one table for both
// backends. Each backend's test raises the interruptions its own way (POSIX
// signals, the Windows console handler's count) and waits with its own wait
// (tests/platform/posix/interruptions_test.cpp,
// tests/platform/win32/interruptions_test.cpp).
#ifndef VEXMO_TESTS_PLATFORM_INTERRUPTION_CASES_H
#define VEXMO_TESTS_PLATFORM_INTERRUPTION_CASES_H

#include <cstdint>
#include <vector>

#include "platform/interruptions.h"

namespace vexmo {
namespace test {

// What is waited on.
enum class WaitOn : std::uint8_t {
  pause,         // the pause: interruptions alone
  empty_socket,  // a socket with nothing to receive
  ready_socket,  // a socket with a datagram waiting
};

// How long after the wait starts an interruption `during` is raised, from
// another thread.
constexpr long long kDuringAfterMs = 50;

struct InterruptionCase {
  const char* name;
  std::vector<Interruption> before;  // raised before the wait starts
  Interruption during;               // raised kDuringAfterMs into the wait
  WaitOn on;
  std::uint32_t timeout_ms;
  WaitEnd expected;
  std::vector<Interruption> taken;  // successive takes after the wait
  long long min_ms, max_ms;         // how long the wait may take
};

using I = Interruption;

// The shortest times are POSIX's; a backend whose clock may wake a wait
// early allows for that itself. A case that only one system can raise (a
// signal that is no interruption) stays with its backend's test.

// clang-format off
inline const InterruptionCase kInterruptionCases[] = {
    {"nothing comes: the time passes",                 {},                       I::none,    WaitOn::empty_socket, 60,    WaitEnd::elapsed,     {I::none},             55, 1000},
    {"a datagram is waiting",                          {},                       I::none,    WaitOn::ready_socket, 5000,  WaitEnd::ready,       {I::none},             0,  1000},
    {"a stop just before the wait ends it at once",    {I::stop},                I::none,    WaitOn::empty_socket, 10000, WaitEnd::interrupted, {I::stop, I::none},    0,  100},
    {"an interim just before the wait",                {I::interim},             I::none,    WaitOn::empty_socket, 10000, WaitEnd::interrupted, {I::interim, I::none}, 0,  100},
    {"a stop just before the pause",                   {I::stop},                I::none,    WaitOn::pause,        10000, WaitEnd::interrupted, {I::stop, I::none},    0,  100},
    {"an interim before a stop is taken with it",      {I::interim, I::stop},    I::none,    WaitOn::empty_socket, 10000, WaitEnd::interrupted, {I::stop, I::none},    0,  100},
    {"an interim after a stop is taken with it",       {I::stop, I::interim},    I::none,    WaitOn::empty_socket, 10000, WaitEnd::interrupted, {I::stop, I::none},    0,  100},
    {"two interims in a row are one report",           {I::interim, I::interim}, I::none,    WaitOn::empty_socket, 10000, WaitEnd::interrupted, {I::interim, I::none}, 0,  100},
    {"a second stop does not end the process",         {I::stop, I::stop},       I::none,    WaitOn::empty_socket, 10000, WaitEnd::interrupted, {I::stop, I::none},    0,  100},
    {"an interruption goes before a waiting datagram", {I::stop},                I::none,    WaitOn::ready_socket, 10000, WaitEnd::interrupted, {I::stop, I::none},    0,  100},
    {"a stop in the middle of the wait",               {},                       I::stop,    WaitOn::empty_socket, 10000, WaitEnd::interrupted, {I::stop, I::none},    45, 150},
    {"an interim in the middle of the wait",           {},                       I::interim, WaitOn::empty_socket, 10000, WaitEnd::interrupted, {I::interim, I::none}, 45, 150},
    {"a stop in the middle of the pause",              {},                       I::stop,    WaitOn::pause,        10000, WaitEnd::interrupted, {I::stop, I::none},    45, 150},
};
// clang-format on

}  // namespace test
}  // namespace vexmo

#endif  // VEXMO_TESTS_PLATFORM_INTERRUPTION_CASES_H
