#include "driver/run.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cli/command_line.h"
#include "common/icmp.h"
#include "common/winsock_errors.h"
#include "driver/reports.h"
#include "driver/statistics.h"
#include "icmp/echo_socket.h"
#include "platform/platform.h"

namespace vexmo {

bool resolve_host(const char* host, std::uint32_t* address) {
  if (host[0] >= '0' && host[0] <= '9') {
    const std::uint32_t dotted = parse_dotted_address(host);
    if (dotted != 0xFFFFFFFFu || std::strcmp(host, "255.255.255.255") == 0) {
      *address = dotted;
      return true;
    }
  }
  return resolve_name(host, address);
}

int run_requests(const RunSettings& settings) {
  auto* data = static_cast<std::uint8_t*>(std::calloc(settings.size, 1));
  EchoSocket socket;
  socket.open(static_cast<std::uint16_t>(current_process_id()));
  Reporter reporter(settings);
  // The right to open the socket was all that elevation was for. Going on
  // elevated is no option: the run ends here, before it looks up a name or
  // reads what the network sends, and says why.
  if (!drop_elevated_privileges()) {
    reporter.privileges_kept();
    std::free(data);
    return 1;
  }
  RunStatistics stats;
  const std::uint64_t frequency = counter_frequency();
  socket.apply(settings);

  reporter.start();

  for (std::uint32_t i = 0; i < settings.count; ++i) {
    std::uint32_t destination = 0;
    if (!resolve_host(settings.host, &destination)) {
      reporter.unresolved(i);
      break;
    }
    SocketAddress address = ipv4_socket_address(destination);

    socket.discard_waiting();
    socket.prepare_wait();  // outside the measured round trip
    Outcome outcome = -kErrorNoBuffers;
    std::uint64_t send_stamp = 0;
    if (data != nullptr) {
      outcome = socket.send(address, static_cast<std::uint16_t>(stats.received()), data,
                            settings.size, &send_stamp);
    }
    ReplyView view;
    if (outcome > 0) {
      outcome = socket.wait(&address, &view, send_stamp);
    }

    char address_text[16];
    format_dotted_address(ipv4_of(address), address_text);
    if (outcome < 0) {
      stats.record_no_answer();
      reporter.failure(i, 0u - static_cast<std::uint32_t>(outcome));
      continue;
    }
    if (outcome == 0) {
      stats.record_no_answer();
      continue;  // no message: nothing to report and nothing to wait out
    }
    // The wait returns only echo replies and the error messages it reports.
    if (view.message[0] == kTypeEchoReply) {
      const ReplyFacts facts = reply_facts(view, i, address_text, frequency);
      stats.record_reply(facts.rtt_us);
      reporter.reply(facts);
    } else {
      stats.record_error_message();
      reporter.icmp(icmp_facts(view, i, address_text));
    }
    sleep_ms(kPauseAfterAnswerMs);
  }

  std::free(data);
  reporter.finish(stats, false);
  socket.close();
  return 0;
}

int vexmo_main(int argc, const char* const* argv) {
  net_startup();
  RunSettings settings;
  switch (parse_command_line(argc, argv, &settings)) {
    case CommandLineResult::usage_shown:
      return -1;
    case CommandLineResult::help_shown:
    case CommandLineResult::version_shown:
      return 0;
    case CommandLineResult::run:
      break;
  }
  const int status = run_requests(settings);
  net_cleanup();
  return status;
}

}  // namespace vexmo
