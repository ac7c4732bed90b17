// The POSIX interruptions with real signals: what ends a wait or a pause,
// what is taken from it, and how soon (the cases both backends share are in
// interruption_cases.h).
#include "platform/posix/interruptions.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <thread>

#include "platform/interruption_cases.h"

namespace vexmo {
namespace {

void no_op(int) {}

// A signal that is no interruption, directed at one thread, with a handler
// that does not restart calls: its poll fails with EINTR.
void install_other_signal() {
  struct sigaction action = {};
  action.sa_handler = no_op;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;
  sigaction(SIGUSR1, &action, nullptr);
}

// An interruption as the user raises it: SIGINT for a stop, SIGQUIT for an
// interim, to the process (any thread may take it).
void raise_interruption(Interruption interruption) {
  switch (interruption) {
    case Interruption::stop:
      kill(getpid(), SIGINT);
      break;
    case Interruption::interim:
      kill(getpid(), SIGQUIT);
      break;
    case Interruption::resize:
      kill(getpid(), SIGWINCH);
      break;
    case Interruption::none:
      break;
  }
}

long long now_ms() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// One case of the table through wait_for_descriptor, on one end of a socket
// pair. other_signal: SIGUSR1 to the waiting thread where the case raises
// its interruption during the wait.
void run_case(const test::InterruptionCase& c, bool other_signal = false) {
  SCOPED_TRACE(c.name);
  int pair[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_DGRAM, 0, pair), 0);
  if (c.on == test::WaitOn::ready_socket) {
    ASSERT_EQ(write(pair[1], "x", 1), 1);
  }
  for (const Interruption i : c.before) {
    raise_interruption(i);
  }
  const pthread_t waiter = pthread_self();
  std::thread sender([&] {
    if (c.during != Interruption::none || other_signal) {
      std::this_thread::sleep_for(std::chrono::milliseconds(test::kDuringAfterMs));
      if (other_signal) {
        pthread_kill(waiter, SIGUSR1);
      } else {
        raise_interruption(c.during);
      }
    }
  });
  const long long start = now_ms();
  const WaitEnd end = c.on == test::WaitOn::pause ? pause_for(c.timeout_ms)
                                                  : wait_for_descriptor(pair[0], c.timeout_ms);
  const long long took = now_ms() - start;
  sender.join();
  EXPECT_EQ(end, c.expected);
  EXPECT_GE(took, c.min_ms);
  EXPECT_LE(took, c.max_ms);
  for (const Interruption expected : c.taken) {
    EXPECT_EQ(take_interruption(), expected);
  }
  close(pair[0]);
  close(pair[1]);
}

TEST(PosixInterruptions, WhatEndsAWaitAndWhatIsTaken) {
  ASSERT_TRUE(watch_interruptions());
  for (const test::InterruptionCase& c : test::kInterruptionCases) {
    run_case(c);
  }
}

// A signal that is no interruption cuts poll short; the wait ends as
// `elapsed` and nothing is taken.
TEST(PosixInterruptions, AnotherSignalIsNoInterruption) {
  ASSERT_TRUE(watch_interruptions());
  install_other_signal();
  using test::I;
  // clang-format off
  const test::InterruptionCase other = {"another signal ends the poll early, as no interruption", {}, I::none, test::WaitOn::empty_socket, 10000, WaitEnd::elapsed, {I::none}, 45, 1000};
  // clang-format on
  run_case(other, true);
}

// SIGWINCH, which only POSIX raises: a resize ends the wait so that a chart
// can be drawn again, after an interim and never past a stop.
TEST(PosixInterruptions, ResizeIsTakenAfterAnInterimAndWithAStop) {
  ASSERT_TRUE(watch_interruptions());
  using test::I;
  using test::WaitOn;
  // clang-format off
  const test::InterruptionCase cases[] = {
      {"a resize in the middle of the wait",    {},                     I::resize, WaitOn::empty_socket, 10000, WaitEnd::interrupted, {I::resize, I::none},              45, 150},
      {"a resize and an interim: both, in turn", {I::resize, I::interim}, I::none,   WaitOn::empty_socket, 10000, WaitEnd::interrupted, {I::interim, I::resize, I::none}, 0,  100},
      {"a stop takes a resize with it",         {I::resize, I::stop},   I::none,   WaitOn::pause,        10000, WaitEnd::interrupted, {I::stop, I::none},                0,  100},
  };
  // clang-format on
  for (const test::InterruptionCase& c : cases) {
    run_case(c);
  }
}

TEST(PosixInterruptions, PollTimeoutIsClampedNotWrapped) {
  const struct {
    std::uint32_t ms;
    int poll_ms;
  } cases[] = {
      // clang-format off
      {0,           0},
      {3000,        3000},
      {0x7FFFFFFFu, INT_MAX},
      {0x80000000u, INT_MAX},  // would be negative: poll would wait forever
      {0xFFFFFFFFu, INT_MAX},
      // clang-format on
  };
  for (const auto& c : cases) {
    EXPECT_EQ(poll_timeout_from_ms(c.ms), c.poll_ms) << c.ms;
  }
}

// In a child process of its own: what the signals do to the whole process
// (ignored on entry, stopped and continued). The child's exit status says
// what it saw; 0 is as expected.
int in_child(void (*parent_does)(pid_t), int (*child_does)()) {
  const pid_t child = fork();
  if (child == 0) {
    _exit(child_does());
  }
  parent_does(child);
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status)
                           : 100 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

TEST(PosixInterruptions, WholeProcessCases) {
  const struct {
    const char* name;
    void (*parent_does)(pid_t);
    int (*child_does)();
  } cases[] = {
      {"started with SIGINT and SIGQUIT ignored, they stay ignored", [](pid_t) {},
       [] {
         signal(SIGINT, SIG_IGN);
         signal(SIGQUIT, SIG_IGN);
         if (!watch_interruptions()) {
           return 1;
         }
         raise(SIGINT);
         raise(SIGQUIT);
         if (wait_for_descriptor(-1, 50) != WaitEnd::elapsed) {
           return 2;
         }
         return take_interruption() == Interruption::none ? 0 : 3;
       }},
      {"stopped and continued in a wait: no interruption",
       [](pid_t child) {
         std::this_thread::sleep_for(std::chrono::milliseconds(100));
         kill(child, SIGSTOP);
         std::this_thread::sleep_for(std::chrono::milliseconds(100));
         kill(child, SIGCONT);
       },
       [] {
         if (!watch_interruptions()) {
           return 1;
         }
         int pair[2];
         socketpair(AF_UNIX, SOCK_DGRAM, 0, pair);
         const WaitEnd end = wait_for_descriptor(pair[0], 500);
         if (end != WaitEnd::elapsed) {
           return 2;
         }
         return take_interruption() == Interruption::none ? 0 : 3;
       }},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(in_child(c.parent_does, c.child_does), 0) << c.name;
  }
}

}  // namespace
}  // namespace vexmo
