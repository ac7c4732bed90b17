#include "driver/run.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cli/command_line.h"
#include "common/icmp.h"
#include "common/wait_limit.h"
#include "common/winsock_errors.h"
#include "driver/cadence.h"
#include "driver/events.h"
#include "driver/exit_status.h"
#include "driver/metrics_file.h"
#include "driver/outputs.h"
#include "driver/statistics.h"
#include "icmp/answer.h"
#include "icmp/echo_socket.h"
#include "icmp/interruption.h"
#include "platform/platform.h"

namespace vexmo {

FamilyChoice literal_family(const char* host) {
  // No host name and no IPv4 address has a colon.
  if (std::strchr(host, ':') != nullptr) {
    return FamilyChoice::ipv6;
  }
  if (host[0] >= '0' && host[0] <= '9' &&
      (parse_dotted_address(host) != 0xFFFFFFFFu || std::strcmp(host, "255.255.255.255") == 0)) {
    return FamilyChoice::ipv4;
  }
  return FamilyChoice::any;
}

SocketsNeeded sockets_needed(const RunSettings& settings) {
  const FamilyChoice family =
      settings.family != FamilyChoice::any ? settings.family : literal_family(settings.host);
  SocketsNeeded needed;
  needed.ipv4 = family != FamilyChoice::ipv6;
  needed.ipv6 = family != FamilyChoice::ipv4;
  return needed;
}

namespace {

bool carry_on_with(void* report) {
  return carry_on_after_interruption(static_cast<InterimReport*>(report));
}

LookupEnd found_if(bool found) {
  return found ? LookupEnd::found : LookupEnd::not_found;
}

}  // namespace

LookupEnd resolve_host(const char* host, FamilyChoice family, SocketAddress* address,
                       InterimReport* report) {
  const FamilyChoice literal = literal_family(host);
  if (literal == FamilyChoice::ipv6) {
    return found_if(family != FamilyChoice::ipv4 && parse_ipv6_address(host, address));
  }
  if (literal == FamilyChoice::ipv4) {
    if (family == FamilyChoice::ipv6) {
      return LookupEnd::not_found;
    }
    *address = ipv4_socket_address(parse_dotted_address(host));
    return LookupEnd::found;
  }
  // A name: IPv4 when it has an IPv4 address, as before there was IPv6.
  const InterruptionHandler handler{carry_on_with, report};
  LookupEnd end = LookupEnd::not_found;
  if (family != FamilyChoice::ipv6) {
    end = resolve_name(host, AddressFamily::ipv4, address, handler);
  }
  if (end == LookupEnd::not_found && family != FamilyChoice::ipv4) {
    end = resolve_name(host, AddressFamily::ipv6, address, handler);
  }
  return end;
}

std::uint32_t header_bytes(FamilyChoice family) {
  return family == FamilyChoice::ipv6 ? kIpv6HeaderBytes + kIcmpHeaderBytes
                                      : kIpv4HeaderBytes + kIcmpHeaderBytes;
}

namespace {

// The time of an event: milliseconds of the real-time clock.
std::int64_t now_ms() {
  return static_cast<std::int64_t>(wall_clock_ns() / 1000000);
}

SummaryFacts summary_facts(const RunStatistics& stats, bool interrupted) {
  SummaryFacts facts;
  facts.figures = stats.summary();
  facts.interrupted = interrupted;
  facts.unix_ms = now_ms();
  return facts;
}

StartFacts start_facts(const RunSettings& settings, FamilyChoice family,
                       const RefusedOptions& refused) {
  StartFacts facts;
  facts.host = settings.host;
  facts.family = family == FamilyChoice::ipv6 ? 6 : 4;
  facts.size = settings.size;
  facts.ip_bytes = settings.size + header_bytes(family);
  if (!settings.continuous) {
    facts.count = settings.count;
  }
  facts.timeout_ms = settings.timeout_ms;
  // What is in effect: a refused value left the system's own.
  if (settings.ttl_given && !refused.ttl) {
    facts.ttl = settings.ttl;
  }
  if (settings.tos_given && !refused.tos) {
    facts.tos = settings.tos;
  }
  facts.dont_fragment = settings.dont_fragment;
  facts.unix_ms = now_ms();
  return facts;
}

EchoOptions echo_options(const RunSettings& settings) {
  EchoOptions options;
  options.timeout_ms = settings.timeout_ms;
  if (settings.ttl_given) {
    options.ttl = settings.ttl;
  }
  if (settings.tos_given) {
    options.tos = settings.tos;
  }
  options.dont_fragment = settings.dont_fragment;
  return options;
}

// Says once, on standard error, which values the system refused: the
// requests leave with its own instead, which the options must not hide.
void report_refused(const RefusedOptions& refused, const RunSettings& settings,
                    FamilyChoice family) {
  const bool ipv6 = family == FamilyChoice::ipv6;
  if (refused.ttl) {
    std::fprintf(stderr, "vexmo: %s %u refused by the system; its default is used\n",
                 ipv6 ? "hop limit" : "TTL", settings.ttl);
  }
  if (refused.tos) {
    std::fprintf(stderr, "vexmo: %s %u refused by the system; its default is used\n",
                 ipv6 ? "traffic class" : "TOS", static_cast<unsigned>(settings.tos));
  }
}

// The statistics so far, on the user's request in the middle of the run;
// the terminal's picture again, once it changed its size.
struct RunProgress {
  Output* outputs;
  const RunStatistics* stats;
};

void print_run_interim(void* context) {
  const RunProgress* progress = static_cast<const RunProgress*>(context);
  progress->outputs->interim(summary_facts(*progress->stats, false));
}

void redraw_run(void* context) {
  static_cast<const RunProgress*>(context)->outputs->resized();
}

FamilyChoice choice_of(AddressFamily family) {
  return family == AddressFamily::ipv6 ? FamilyChoice::ipv6 : FamilyChoice::ipv4;
}

// The family the opening line counts when the first lookup found nothing:
// the forced one, else the one the text looks like (IPv4 for a name).
FamilyChoice unresolved_family(const RunSettings& settings) {
  if (settings.family != FamilyChoice::any) {
    return settings.family;
  }
  return literal_family(settings.host) == FamilyChoice::ipv6 ? FamilyChoice::ipv6
                                                             : FamilyChoice::ipv4;
}

}  // namespace

int run_requests(const RunSettings& settings) {
  // From here on a Ctrl-C ends the run with its summary rather than the
  // process; where the system refuses, it keeps its default action.
  watch_interruptions();
  auto* data = static_cast<std::uint8_t*>(std::calloc(settings.size, 1));
  // Every socket the run may need is opened while elevated; which family
  // a name has is known only after the lookup, which must not run elevated.
  const SocketsNeeded needed = sockets_needed(settings);
  const std::uint16_t identifier = static_cast<std::uint16_t>(current_process_id());
  EchoSocket ipv4_socket;
  EchoSocket ipv6_socket;
  if (needed.ipv4) {
    ipv4_socket.open(AddressFamily::ipv4, identifier);
  }
  if (needed.ipv6) {
    ipv6_socket.open(AddressFamily::ipv6, identifier);
  }
  // The right to open the sockets was all that elevation was for. Going on
  // elevated is no option: the run ends here, before it looks up a name or
  // reads what the network sends, and says why.
  Outputs outputs = outputs_for(settings, stdout, stderr);
  if (!drop_elevated_privileges()) {
    outputs.privileges_kept();
    std::free(data);
    return 1;
  }
  RunStatistics stats;
  RunProgress progress{&outputs, &stats};
  InterimReport interims{print_run_interim, &progress, redraw_run};
  const EchoOptions options = echo_options(settings);
  RefusedOptions refused_ipv4;
  RefusedOptions refused_ipv6;
  if (needed.ipv4) {
    refused_ipv4 = ipv4_socket.apply(options);
  }
  if (needed.ipv6) {
    refused_ipv6 = ipv6_socket.apply(options);
  }
  // Every request will fail with 10038; the user learns once what is missing.
  if (!ipv4_socket.is_open() && !ipv6_socket.is_open() &&
      (ipv4_socket.refused_for_privilege() || ipv6_socket.refused_for_privilege())) {
    std::fprintf(stderr, "%s\n", no_socket_hint());
  }

  FamilyChoice family = settings.family;
  bool interrupted = false;
  bool not_started = false;  // for --exit-status: no lookup or no socket
  const Cadence cadence = cadence_of(settings);
  const std::uint64_t frequency = counter_frequency();
  const std::uint64_t run_start = counter_now();
  const auto run_us = [&] { return elapsed_us(run_start, counter_now(), frequency); };
  for (std::uint32_t i = 0; more_requests(cadence, i); ++i) {
    SocketAddress address;
    const LookupEnd lookup = resolve_host(settings.host, family, &address, &interims);
    const bool resolved = lookup == LookupEnd::found;
    if (i == 0) {
      // The first lookup fixes the run's family: later lookups stay in it,
      // and the other family's socket is not needed.
      if (resolved) {
        family = choice_of(address.family);
        (family == FamilyChoice::ipv6 ? ipv4_socket : ipv6_socket).close();
      }
      const FamilyChoice shown = resolved ? family : unresolved_family(settings);
      const RefusedOptions& refused = shown == FamilyChoice::ipv6 ? refused_ipv6 : refused_ipv4;
      report_refused(refused, settings, shown);
      outputs.start(start_facts(settings, shown, refused));
    }
    if (lookup == LookupEnd::stopped) {
      interrupted = true;
      break;
    }
    if (!resolved) {
      not_started = not_started || i == 0;
      UnresolvedFacts facts;
      facts.request = i;
      facts.host = settings.host;
      facts.unix_ms = now_ms();
      outputs.unresolved(facts);
      break;
    }
    // Where nothing waits (sends that fail, a resolution), a stop must
    // still end the run.
    if (!carry_on_after_interruption(&interims)) {
      interrupted = true;
      break;
    }
    EchoSocket& socket = family == FamilyChoice::ipv6 ? ipv6_socket : ipv4_socket;
    not_started = not_started || (i == 0 && !socket.is_open());

    socket.discard_waiting();
    socket.prepare_wait();  // outside the measured round trip
    Outcome outcome = -kErrorNoBuffers;
    std::uint64_t send_stamp = 0;
    if (data != nullptr) {
      outcome = socket.send(address, static_cast<std::uint16_t>(stats.received()), data,
                            settings.size, &send_stamp);
    }
    // A send that waited for room and was interrupted stops as a wait does.
    if (outcome == -kErrorInterrupted && !carry_on_after_interruption(&interims)) {
      outcome = kOutcomeStopped;
    }
    Answer answer;
    if (outcome > 0) {
      outcome =
          socket.wait(&address, &answer, send_stamp, &interims, wait_cut_ms(cadence, i, run_us()));
    }
    // The deadline ends the run as a stop does, though nobody stopped it.
    const bool out_of_time = outcome < 0 && deadline_passed(cadence, run_us());
    if (outcome == kOutcomeStopped || out_of_time) {
      stats.record_no_answer();  // sent and not answered; it gets no line
      interrupted = !out_of_time;
      break;
    }

    char address_text[kAddressTextBytes];
    format_address(address, address_text);
    if (outcome < 0) {
      stats.record_no_answer();
      FailureFacts facts;
      facts.request = i;
      facts.error = 0u - static_cast<std::uint32_t>(outcome);
      facts.message = failure_message(facts.error);
      facts.unix_ms = now_ms();
      outputs.failure(facts);
    } else if (outcome == 0) {
      stats.record_no_answer();  // no message: nothing to report
    } else if (answer.echo_reply) {
      // The wait returns only echo replies and the error messages it reports.
      stats.record_reply(answer.round_trip_us);
      outputs.reply(reply_facts(answer, i, address_text, now_ms()));
    } else {
      stats.record_error_message();
      outputs.icmp(icmp_facts(answer, i, address_text, now_ms()));
    }
    if (!pause_unless_stopped(pause_after_ms(cadence, i, run_us(), outcome > 0), &interims)) {
      interrupted = true;
      break;
    }
    if (deadline_passed(cadence, run_us())) {
      break;
    }
  }

  std::free(data);
  outputs.summary(summary_facts(stats, interrupted));
  ipv4_socket.close();
  ipv6_socket.close();
  return exit_status(settings, RunEnd{not_started, stats.sent(), stats.replies()});
}

int vexmo_main(int argc, const char* const* argv) {
  net_startup();
  RunSettings settings;
  switch (parse_command_line(argc, argv, &settings)) {
    case CommandLineResult::usage_shown:
    case CommandLineResult::bad_input:
      return -1;
    case CommandLineResult::help_shown:
    case CommandLineResult::version_shown:
      return 0;
    case CommandLineResult::run:
      break;
  }
  if (!metrics_file_writable(settings.metrics_file, stderr)) {
    return -1;  // bad input: nothing is sent
  }
  const int status = run_requests(settings);
  net_cleanup();
  return status;
}

}  // namespace vexmo
