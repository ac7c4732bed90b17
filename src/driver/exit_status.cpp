#include "driver/exit_status.h"

namespace vexmo {

int exit_status(const RunSettings& settings, const RunEnd& end) {
  if (!settings.exit_status) {
    return 0;
  }
  if (end.not_started) {
    return kStatusNotStarted;
  }
  if (end.replies == 0) {
    return kStatusNoReply;
  }
  // Loss above the limit: (sent - replies) / sent > limit / 100, in whole
  // numbers (the limit in thousandths of a percent).
  const std::uint64_t lost = end.sent - end.replies;
  if (lost * 100000u > static_cast<std::uint64_t>(settings.max_loss_thousandths) * end.sent) {
    return kStatusNoReply;
  }
  return kStatusReplied;
}

}  // namespace vexmo
