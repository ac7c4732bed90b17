// Which elevated identities are given up once the socket is open.
#include "platform/posix/privileges.h"

#include <gtest/gtest.h>

namespace vexmo {
namespace {

TEST(PrivilegeDrop, GivesUpWhatTheRealUserDoesNotHold) {
  const struct {
    const char* what;
    ProcessIdentity identity;  // uids real/effective/saved, gids, capabilities
    bool gids, uids, capabilities;
  } cases[] = {
      {"root from a root shell: kept", {0, 0, 0, 0, 0, 0, true}, false, false, false},
      {"a user without privileges",
       {1000, 1000, 1000, 1000, 1000, 1000, false},
       false,
       false,
       false},
      {"set-uid root", {1000, 0, 0, 1000, 1000, 1000, true}, false, true, true},
      {"saved uid still root", {1000, 1000, 0, 1000, 1000, 1000, false}, false, true, false},
      {"file capabilities", {1000, 1000, 1000, 1000, 1000, 1000, true}, false, false, true},
      {"set-gid", {1000, 1000, 1000, 1000, 0, 0, false}, true, false, false},
      {"set-uid and set-gid root", {1000, 0, 0, 1000, 0, 0, true}, true, true, true},
      {"saved gid only", {1000, 1000, 1000, 1000, 1000, 0, false}, true, false, false},
      // Root that runs a program set-uid to someone else stays root: there
      // is nothing below the real uid to return to.
      {"root running a set-uid nobody program",
       {0, 65534, 65534, 0, 0, 0, false},
       false,
       false,
       false},
  };
  for (const auto& c : cases) {
    const PrivilegeDrop drop = plan_privilege_drop(c.identity);
    EXPECT_EQ(drop.reset_gids, c.gids) << c.what;
    EXPECT_EQ(drop.reset_uids, c.uids) << c.what;
    EXPECT_EQ(drop.clear_capabilities, c.capabilities) << c.what;
    EXPECT_EQ(nothing_to_drop(drop), !c.gids && !c.uids && !c.capabilities) << c.what;
  }
}

}  // namespace
}  // namespace vexmo
