// The name lookup on a thread of its own: getaddrinfo cannot be cut short,
// but the run must end at once when the user stops it during a lookup.
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <new>

#include "platform/pending_lookup.h"
#include "platform/posix/interruptions.h"

namespace vexmo {
namespace {

// With the pipe that tells the caller's wait the lookup has ended.
struct PosixLookup : PendingLookup {
  int done_read = -1;  // readable once the lookup has ended
  int done_write = -1;
};

void let_go(PosixLookup* lookup) {
  if (lookup->last_to_let_go()) {
    close(lookup->done_read);
    close(lookup->done_write);
    delete lookup;
  }
}

void* run_lookup(void* context) {
  auto* lookup = static_cast<PosixLookup*>(context);
  lookup->run();
  const char byte = 0;
  const ssize_t written = write(lookup->done_write, &byte, 1);
  (void)written;
  let_go(lookup);
  return nullptr;
}

// The signals stay with the caller's thread: the thread made here starts
// with them blocked, and its resolver is never cut short by them.
bool start_lookup_thread(pthread_t* thread, PosixLookup* lookup) {
  sigset_t blocked;
  sigset_t previous;
  sigemptyset(&blocked);
  sigaddset(&blocked, SIGINT);
  sigaddset(&blocked, SIGQUIT);
  sigaddset(&blocked, SIGWINCH);
  pthread_sigmask(SIG_BLOCK, &blocked, &previous);
  const bool started = pthread_create(thread, nullptr, run_lookup, lookup) == 0;
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  return started;
}

}  // namespace

LookupEnd resolve_name(const char* name, AddressFamily family, SocketAddress* address,
                       InterruptionHandler handler) {
  // Without a handler nobody could take an interruption: wait as long as
  // the resolver takes.
  auto* lookup = handler.carry_on == nullptr ? nullptr : new (std::nothrow) PosixLookup;
  int ends[2];
  if (lookup == nullptr || pipe(ends) != 0) {
    delete lookup;
    return found_or_not(lookup_first_address(name, family, address));
  }
  lookup->name = name;
  lookup->family = family;
  lookup->done_read = ends[0];
  lookup->done_write = ends[1];
  fcntl(ends[0], F_SETFD, FD_CLOEXEC);
  fcntl(ends[1], F_SETFD, FD_CLOEXEC);
  pthread_t thread;
  if (!start_lookup_thread(&thread, lookup)) {
    lookup->holders = 1;
    let_go(lookup);
    return found_or_not(lookup_first_address(name, family, address));
  }
  for (;;) {
    const WaitEnd end = wait_for_descriptor(lookup->done_read, 0xFFFFFFFFu);
    if (end == WaitEnd::interrupted && !handler.carry_on(handler.context)) {
      pthread_detach(thread);
      let_go(lookup);
      return LookupEnd::stopped;
    }
    // A wait that fails cannot watch the interruptions: the lookup is
    // waited out as it was before there were any.
    if (end == WaitEnd::ready || end == WaitEnd::failed) {
      break;
    }
  }
  pthread_join(thread, nullptr);
  const LookupEnd end = lookup->outcome(address);
  let_go(lookup);
  return end;
}

}  // namespace vexmo
