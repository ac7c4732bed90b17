#include "platform/posix/privileges.h"

#include <sys/types.h>
#include <unistd.h>

#if defined(__linux__)
#include <linux/capability.h>
#include <sys/syscall.h>
#endif

namespace vexmo {
namespace {

#if defined(__linux__)

// The capability calls straight from the kernel: three sets of 64 bits.
bool read_capabilities(bool* holds) {
  __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
  if (syscall(SYS_capget, &header, data) != 0) {
    return false;
  }
  *holds = false;
  for (const __user_cap_data_struct& word : data) {
    if (word.effective != 0 || word.permitted != 0 || word.inheritable != 0) {
      *holds = true;
    }
  }
  return true;
}

// Clearing the permitted and inheritable sets also clears the ambient set,
// which the kernel keeps inside both.
bool clear_capabilities() {
  __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
  return syscall(SYS_capset, &header, data) == 0;
}

bool read_identity(ProcessIdentity* identity) {
  uid_t real_uid, effective_uid, saved_uid;
  gid_t real_gid, effective_gid, saved_gid;
  if (getresuid(&real_uid, &effective_uid, &saved_uid) != 0 ||
      getresgid(&real_gid, &effective_gid, &saved_gid) != 0 ||
      !read_capabilities(&identity->holds_capabilities)) {
    return false;
  }
  identity->real_uid = real_uid;
  identity->effective_uid = effective_uid;
  identity->saved_uid = saved_uid;
  identity->real_gid = real_gid;
  identity->effective_gid = effective_gid;
  identity->saved_gid = saved_gid;
  return true;
}

bool reset_gids(gid_t gid) {
  return setresgid(gid, gid, gid) == 0;
}

bool reset_uids(uid_t uid) {
  return setresuid(uid, uid, uid) == 0;
}

#else  // POSIX: no saved ids to read, no capabilities

bool clear_capabilities() {
  return true;
}

bool read_identity(ProcessIdentity* identity) {
  identity->real_uid = getuid();
  identity->effective_uid = geteuid();
  identity->saved_uid = identity->effective_uid;
  identity->real_gid = getgid();
  identity->effective_gid = getegid();
  identity->saved_gid = identity->effective_gid;
  identity->holds_capabilities = false;
  return true;
}

// With an effective uid of 0, setuid and setgid set all three ids.
bool reset_gids(gid_t gid) {
  return setgid(gid) == 0;
}

bool reset_uids(uid_t uid) {
  return setuid(uid) == 0;
}

#endif

}  // namespace

PrivilegeDrop plan_privilege_drop(const ProcessIdentity& identity) {
  PrivilegeDrop drop;
  if (identity.real_uid == 0) {
    return drop;
  }
  drop.reset_gids =
      identity.effective_gid != identity.real_gid || identity.saved_gid != identity.real_gid;
  drop.reset_uids =
      identity.effective_uid != identity.real_uid || identity.saved_uid != identity.real_uid;
  drop.clear_capabilities = identity.holds_capabilities;
  return drop;
}

bool nothing_to_drop(const PrivilegeDrop& drop) {
  return !drop.reset_gids && !drop.reset_uids && !drop.clear_capabilities;
}

bool give_up_elevated_identity() {
  ProcessIdentity identity;
  if (!read_identity(&identity)) {
    return false;
  }
  const PrivilegeDrop drop = plan_privilege_drop(identity);
  if (nothing_to_drop(drop)) {
    return true;
  }
  // Groups first: once the uid is gone, so is the right to change them.
  if (drop.reset_gids && !reset_gids(identity.real_gid)) {
    return false;
  }
  if (drop.reset_uids && !reset_uids(identity.real_uid)) {
    return false;
  }
  // Leaving uid 0 already cleared the capabilities of a set-uid root run;
  // file capabilities stay until cleared here.
  if (!clear_capabilities()) {
    return false;
  }
  ProcessIdentity after;
  return read_identity(&after) && nothing_to_drop(plan_privilege_drop(after));
}

}  // namespace vexmo
