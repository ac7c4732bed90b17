// A name lookup on a thread of its own, for a caller that may stop waiting
// for it (getaddrinfo cannot be cut short, a Ctrl-C must end the run at
// once). Both backends share it; private to src/platform.
#ifndef VEXMO_PLATFORM_PENDING_LOOKUP_H
#define VEXMO_PLATFORM_PENDING_LOOKUP_H

#include <atomic>
#include <string>

#include "platform/native_sockets.h"
#include "platform/platform.h"

namespace vexmo {

inline LookupEnd found_or_not(bool found) {
  return found ? LookupEnd::found : LookupEnd::not_found;
}

// Shared by the caller and the lookup thread; the last of the two to let go
// frees it, since a stopped caller does not wait for the thread.
struct PendingLookup {
  std::string name;
  AddressFamily family = AddressFamily::ipv4;
  SocketAddress address;
  bool found = false;
  std::atomic<int> holders{2};

  // On the thread.
  void run() {
    found = lookup_first_address(name.c_str(), family, &address);
  }
  // True for the last of the two to let go, which then frees it.
  bool last_to_let_go() {
    return holders.fetch_sub(1) == 1;
  }
  // The caller's end, once the thread has ended: *result filled where found.
  LookupEnd outcome(SocketAddress* result) const {
    if (found) {
      *result = address;
    }
    return found_or_not(found);
  }
};

}  // namespace vexmo

#endif  // VEXMO_PLATFORM_PENDING_LOOKUP_H
