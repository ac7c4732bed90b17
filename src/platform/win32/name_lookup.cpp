// The name lookup on a thread of its own: getaddrinfo cannot be cut short,
// but the run must end at once when the user stops it during a lookup.
#include "platform/pending_lookup.h"
#include "platform/win32/interruptions.h"

#include <new>

namespace vexmo {
namespace {

void let_go(PendingLookup* lookup) {
  if (lookup->last_to_let_go()) {
    delete lookup;
  }
}

DWORD WINAPI run_lookup(LPVOID context) {
  auto* lookup = static_cast<PendingLookup*>(context);
  lookup->run();
  let_go(lookup);
  return 0;
}

}  // namespace

LookupEnd resolve_name(const char* name, AddressFamily family, SocketAddress* address,
                       InterruptionHandler handler) {
  // Without a handler nobody could take an interruption: wait as long as
  // the resolver takes.
  auto* lookup = handler.carry_on == nullptr ? nullptr : new (std::nothrow) PendingLookup;
  if (lookup == nullptr) {
    return found_or_not(lookup_first_address(name, family, address));
  }
  lookup->name = name;
  lookup->family = family;
  // The thread's handle is set when it ends: the wait watches it as it
  // watches a socket's event.
  HANDLE thread = CreateThread(nullptr, 0, run_lookup, lookup, 0, nullptr);
  if (thread == nullptr) {
    lookup->holders = 1;
    let_go(lookup);
    return found_or_not(lookup_first_address(name, family, address));
  }
  for (;;) {
    const WaitEnd end = wait_for_event(thread, INFINITE);
    if (end == WaitEnd::interrupted && !handler.carry_on(handler.context)) {
      CloseHandle(thread);
      let_go(lookup);
      return LookupEnd::stopped;
    }
    // A wait that fails cannot watch the interruptions: the lookup is
    // waited out as it was before there were any.
    if (end == WaitEnd::failed) {
      WaitForSingleObject(thread, INFINITE);
      break;
    }
    if (end == WaitEnd::ready) {
      break;
    }
  }
  CloseHandle(thread);
  const LookupEnd end = lookup->outcome(address);
  let_go(lookup);
  return end;
}

}  // namespace vexmo
