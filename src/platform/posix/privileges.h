// Giving up an elevated identity once the ICMP socket is open. vexmo is made
// set-uid root or given CAP_NET_RAW only so that it can open that socket;
// name lookup and the parsing of whatever the network sends run without
// either.
#ifndef VEXMO_PLATFORM_POSIX_PRIVILEGES_H
#define VEXMO_PLATFORM_POSIX_PRIVILEGES_H

#include <cstdint>

namespace vexmo {

struct ProcessIdentity {
  std::uint32_t real_uid = 0;
  std::uint32_t effective_uid = 0;
  std::uint32_t saved_uid = 0;
  std::uint32_t real_gid = 0;
  std::uint32_t effective_gid = 0;
  std::uint32_t saved_gid = 0;
  bool holds_capabilities = false;  // any permitted, effective or inheritable one
};

// What has to be given up. Root running vexmo from a root shell (real uid
// 0) is left as it is: there is nothing to return to.
struct PrivilegeDrop {
  bool reset_gids = false;  // effective and saved gid back to the real gid
  bool reset_uids = false;  // effective and saved uid back to the real uid
  bool clear_capabilities = false;
};

PrivilegeDrop plan_privilege_drop(const ProcessIdentity& identity);

// True when the plan leaves nothing to do.
bool nothing_to_drop(const PrivilegeDrop& drop);

// Gives up every elevated uid, gid and capability of the process and checks
// that none is left. False when that could not be done: the caller must not
// go on with them.
bool give_up_elevated_identity();

}  // namespace vexmo

#endif  // VEXMO_PLATFORM_POSIX_PRIVILEGES_H
