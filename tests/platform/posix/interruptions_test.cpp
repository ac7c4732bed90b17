// The POSIX interruptions with real signals: what ends a wait or a pause,
// what is taken from it, and how soon.
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
#include <vector>

namespace vexmo {
namespace {

enum class Signal { none, interrupt, quit, other };

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

void send(Signal signal, pthread_t waiter) {
  switch (signal) {
    case Signal::interrupt:
      kill(getpid(), SIGINT);  // to the process: any thread may take it
      break;
    case Signal::quit:
      kill(getpid(), SIGQUIT);
      break;
    case Signal::other:
      pthread_kill(waiter, SIGUSR1);
      break;
    case Signal::none:
      break;
  }
}

long long now_ms() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

struct WaitCase {
  const char* name;
  std::vector<Signal> before;  // raised before the wait starts
  Signal during;               // sent from another thread 50 ms into the wait
  bool on_socket;              // false: the pause
  bool datagram_waiting;
  std::uint32_t timeout_ms;
  WaitEnd expected;
  std::vector<Interruption> taken;  // successive takes after the wait
  long long min_ms, max_ms;         // how long the wait may take
};

TEST(PosixInterruptions, WhatEndsAWaitAndWhatIsTaken) {
  ASSERT_TRUE(watch_interruptions());
  install_other_signal();
  using I = Interruption;
  const WaitCase cases[] = {
      {"nothing comes: the time passes",
       {},
       Signal::none,
       true,
       false,
       60,
       WaitEnd::elapsed,
       {I::none},
       55,
       1000},
      {"a datagram is waiting",
       {},
       Signal::none,
       true,
       true,
       5000,
       WaitEnd::ready,
       {I::none},
       0,
       1000},
      {"SIGINT just before the wait ends it at once",
       {Signal::interrupt},
       Signal::none,
       true,
       false,
       10000,
       WaitEnd::interrupted,
       {I::stop, I::none},
       0,
       100},
      {"SIGQUIT just before the wait",
       {Signal::quit},
       Signal::none,
       true,
       false,
       10000,
       WaitEnd::interrupted,
       {I::interim, I::none},
       0,
       100},
      {"SIGINT just before the pause",
       {Signal::interrupt},
       Signal::none,
       false,
       false,
       10000,
       WaitEnd::interrupted,
       {I::stop, I::none},
       0,
       100},
      {"an interim before a stop is taken with it",
       {Signal::quit, Signal::interrupt},
       Signal::none,
       true,
       false,
       10000,
       WaitEnd::interrupted,
       {I::stop, I::none},
       0,
       100},
      {"an interim after a stop is taken with it",
       {Signal::interrupt, Signal::quit},
       Signal::none,
       true,
       false,
       10000,
       WaitEnd::interrupted,
       {I::stop, I::none},
       0,
       100},
      {"two interims in a row are one report",
       {Signal::quit, Signal::quit},
       Signal::none,
       true,
       false,
       10000,
       WaitEnd::interrupted,
       {I::interim, I::none},
       0,
       100},
      {"a second Ctrl-C does not end the process",
       {Signal::interrupt, Signal::interrupt},
       Signal::none,
       true,
       false,
       10000,
       WaitEnd::interrupted,
       {I::stop, I::none},
       0,
       100},
      {"an interruption goes before a waiting datagram",
       {Signal::interrupt},
       Signal::none,
       true,
       true,
       10000,
       WaitEnd::interrupted,
       {I::stop, I::none},
       0,
       100},
      {"SIGINT in the middle of the wait",
       {},
       Signal::interrupt,
       true,
       false,
       10000,
       WaitEnd::interrupted,
       {I::stop, I::none},
       45,
       150},
      {"SIGQUIT in the middle of the wait",
       {},
       Signal::quit,
       true,
       false,
       10000,
       WaitEnd::interrupted,
       {I::interim, I::none},
       45,
       150},
      {"SIGINT in the middle of the pause",
       {},
       Signal::interrupt,
       false,
       false,
       10000,
       WaitEnd::interrupted,
       {I::stop, I::none},
       45,
       150},
      {"another signal ends the poll early, as no interruption",
       {},
       Signal::other,
       true,
       false,
       10000,
       WaitEnd::elapsed,
       {I::none},
       45,
       1000},
  };
  for (const WaitCase& c : cases) {
    SCOPED_TRACE(c.name);
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_DGRAM, 0, pair), 0);
    if (c.datagram_waiting) {
      ASSERT_EQ(write(pair[1], "x", 1), 1);
    }
    for (const Signal s : c.before) {
      send(s, pthread_self());
    }
    const pthread_t waiter = pthread_self();
    std::thread sender([&] {
      if (c.during != Signal::none) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        send(c.during, waiter);
      }
    });
    const long long start = now_ms();
    const WaitEnd end = wait_for_descriptor(c.on_socket ? pair[0] : -1, c.timeout_ms);
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
}

TEST(PosixInterruptions, PollTimeoutIsClampedNotWrapped) {
  const struct {
    std::uint32_t ms;
    int poll_ms;
  } cases[] = {
      {0, 0},
      {3000, 3000},
      {0x7FFFFFFFu, INT_MAX},
      {0x80000000u, INT_MAX},  // would be negative: poll would wait forever
      {0xFFFFFFFFu, INT_MAX},
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
