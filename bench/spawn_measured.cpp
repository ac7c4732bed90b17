// Runs one program in a network namespace and records what it cost.
//
//   spawn_measured USAGE_FILE NETNS_FILE LIMIT_S PROGRAM [ARGS...]
//
// Forks, enters the namespace (NETNS_FILE, e.g. /run/netns/NAME; "-" for
// none) in the child and executes PROGRAM there with this process's standard
// input and output. Kills it after LIMIT_S seconds. Then writes one line to
// USAGE_FILE: "exit_code user_us system_us max_rss_kib".
//
// Why a separate small process: the peak resident size of a process is
// carried across exec, so a program started straight from the benchmark's
// interpreter would report the interpreter's memory as its own. Forked from
// this small program it reports only its own. Uses nothing but the C library.
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: spawn_measured USAGE_FILE NETNS_FILE LIMIT_S PROGRAM [ARGS...]\n");
    return 2;
  }
  const char* usage_file = argv[1];
  const char* netns_file = argv[2];
  const long limit_ms = std::atol(argv[3]) * 1000;
  int ns_fd = -1;
  if (std::strcmp(netns_file, "-") != 0) {
    ns_fd = open(netns_file, O_RDONLY | O_CLOEXEC);
    if (ns_fd < 0) {
      std::perror(netns_file);
      return 2;
    }
  }
  const pid_t child = fork();
  if (child < 0) {
    std::perror("fork");
    return 2;
  }
  if (child == 0) {
    if (ns_fd >= 0 && setns(ns_fd, CLONE_NEWNET) != 0) {
      std::perror("setns");
      _exit(126);
    }
    execvp(argv[4], argv + 4);
    std::perror(argv[4]);
    _exit(127);
  }
  int status = 0;
  rusage usage;
  std::memset(&usage, 0, sizeof usage);
  const timespec step = {0, 20000000};
  bool done = false;
  for (long waited_ms = 0; !done; waited_ms += 20) {
    const pid_t got = wait4(child, &status, WNOHANG, &usage);
    if (got == child || got < 0) {
      done = true;
    } else if (waited_ms >= limit_ms) {
      kill(child, SIGKILL);
      wait4(child, &status, 0, &usage);
      done = true;
    } else {
      nanosleep(&step, nullptr);
    }
  }
  const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  FILE* out = std::fopen(usage_file, "w");
  if (out == nullptr) {
    std::perror(usage_file);
    return 2;
  }
  std::fprintf(out, "%d %ld %ld %ld\n", code,
               static_cast<long>(usage.ru_utime.tv_sec) * 1000000 + usage.ru_utime.tv_usec,
               static_cast<long>(usage.ru_stime.tv_sec) * 1000000 + usage.ru_stime.tv_usec,
               usage.ru_maxrss);
  std::fclose(out);
  return code;
}
