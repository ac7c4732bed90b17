#include "driver/run.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cli/command_line.h"
#include "driver/reports.h"
#include "icmp/echo_message.h"
#include "icmp/icmp_socket.h"
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

void run_requests(const RunSettings& settings) {
  auto* data = static_cast<std::uint8_t*>(std::calloc(settings.size, 1));
  const SocketHandle socket = open_icmp_socket();
  SocketAddress address = {0, 0, 0};
  const std::uint16_t identifier = echo_identifier();
  RunStats stats;
  const std::uint64_t frequency = counter_frequency();
  apply_socket_options(socket, settings);

  std::printf("Ping to %s, buffer size %u Bytes (IP+ICMP+DATA %u Bytes)\n", settings.host,
              settings.size, settings.size + 28);

  for (std::uint32_t i = 0; i < settings.count; ++i) {
    std::uint32_t destination = 0;
    if (!resolve_host(settings.host, &destination)) {
      std::printf("Can not resolve IP address for %s\n", settings.host);
      break;
    }
    address.family = kFamilyInet;
    address.address = destination;

    discard_waiting_datagrams(socket);
    prepare_wait(socket);  // outside the measured round trip
    Outcome outcome = -kErrorNoBuffers;
    std::uint64_t send_stamp = 0;
    if (data != nullptr) {
      outcome =
          send_echo_request(socket, address, identifier, static_cast<std::uint16_t>(stats.received),
                            data, settings.size, &send_stamp);
    }
    ReplyView view;
    if (outcome > 0) {
      outcome = wait_for_reply(socket, &address, &view, send_stamp);
    }
    stats.sent += 1;

    char address_text[16];
    format_dotted_address(address.address, address_text);
    if (outcome < 0) {
      report_failure(outcome);
      continue;
    }
    if (outcome == 0) {
      continue;  // no message: nothing to report and nothing to wait out
    }
    const std::uint8_t type = view.message[0];
    if (type == kTypeEchoReply) {
      report_echo_reply(view, address_text, frequency, &stats);
      stats.received += 1;
    } else if (type == 3 || type == 4 || type == 5 || type == 11 || type == 12) {
      report_icmp_message(view, address_text);
      stats.received += 1;
    }
    sleep_ms(kPauseAfterAnswerMs);
  }

  std::free(data);
  print_summary(stats);
  close_icmp_socket(socket);
  net_cleanup();
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
  run_requests(settings);
  return 0;
}

}  // namespace vexmo
