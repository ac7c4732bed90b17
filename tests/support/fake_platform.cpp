#include "support/fake_platform.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "common/winsock_errors.h"
#include "platform/received_record.h"

namespace vexmo {
namespace fake {

std::deque<Datagram>::iterator next_datagram(bool queued_only) {
  State& s = state();
  auto next = s.inbound.end();
  for (auto d = s.inbound.begin(); d != s.inbound.end(); ++d) {
    if (queued_only && !d->waiting && d->arrive_us > s.now_us) {
      continue;
    }
    if (next == s.inbound.end() || d->arrive_us < next->arrive_us) {
      next = d;
    }
  }
  return next;
}

State& state() {
  static State current;
  return current;
}

void reset() {
  state() = State{};
}

std::uint32_t address(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
  const std::uint8_t bytes[4] = {a, b, c, d};
  std::uint32_t value;
  std::memcpy(&value, bytes, sizeof value);
  return value;
}

void record_datagram(const std::uint8_t* bytes, std::size_t n, AddressFamily family,
                     Received* received) {
  if (family == AddressFamily::ipv4) {
    read_ipv4_datagram(bytes, n, received);
  } else if (n >= 40 && (bytes[0] & 0xF0u) == 0x60u && bytes[6] == 58) {
    read_bare_message(bytes + 40, n - 40, bytes[7], received);
  } else {
    read_bare_message(bytes, n, -1, received);
  }
}

std::vector<std::uint8_t> ip_datagram(const std::vector<std::uint8_t>& icmp, std::uint8_t ttl,
                                      int header_words) {
  std::vector<std::uint8_t> datagram(static_cast<std::size_t>(header_words) * 4, 0);
  datagram[0] = static_cast<std::uint8_t>(0x40 | header_words);
  datagram[8] = ttl;
  datagram[9] = 1;  // ICMP
  datagram.insert(datagram.end(), icmp.begin(), icmp.end());
  return datagram;
}

std::vector<std::uint8_t> echo_reply_for(const std::vector<std::uint8_t>& request) {
  std::vector<std::uint8_t> reply = request;
  reply[0] = request[0] == 128 ? 129 : 0;
  return reply;
}

SocketAddress address6(std::uint16_t g0, std::uint16_t g1, std::uint16_t g2, std::uint16_t g3,
                       std::uint16_t g4, std::uint16_t g5, std::uint16_t g6, std::uint16_t g7,
                       std::uint32_t scope_id) {
  const std::uint16_t groups[8] = {g0, g1, g2, g3, g4, g5, g6, g7};
  SocketAddress address;
  address.family = AddressFamily::ipv6;
  address.scope_id = scope_id;
  for (int i = 0; i < 8; ++i) {
    address.bytes[2 * i] = static_cast<std::uint8_t>(groups[i] >> 8);
    address.bytes[2 * i + 1] = static_cast<std::uint8_t>(groups[i]);
  }
  return address;
}

std::vector<std::uint8_t> ipv6_datagram(const std::vector<std::uint8_t>& icmp,
                                        std::uint8_t hop_limit) {
  std::vector<std::uint8_t> datagram(40 + icmp.size(), 0);
  datagram[0] = 0x60;
  datagram[4] = static_cast<std::uint8_t>(icmp.size() >> 8);
  datagram[5] = static_cast<std::uint8_t>(icmp.size());
  datagram[6] = 58;
  datagram[7] = hop_limit;
  // Byte by byte: GCC 12's -Warray-bounds misreads an insert at the end of
  // this vector in optimised builds.
  for (std::size_t i = 0; i < icmp.size(); ++i) {
    datagram[40 + i] = icmp[i];
  }
  return datagram;
}

std::vector<std::uint8_t> error6_about(std::uint8_t type, std::uint8_t code,
                                       const std::vector<std::uint8_t>& request, std::uint32_t info,
                                       std::size_t quoted_bytes) {
  std::vector<std::uint8_t> message(8, 0);
  message[0] = type;
  message[1] = code;
  for (int i = 0; i < 4; ++i) {
    message[4 + i] = static_cast<std::uint8_t>(info >> (24 - 8 * i));
  }
  const std::vector<std::uint8_t> quoted = ipv6_datagram(
      std::vector<std::uint8_t>(
          request.begin(), request.begin() + std::min<std::size_t>(quoted_bytes, request.size())),
      64);
  message.insert(message.end(), quoted.begin(), quoted.end());
  return message;
}

std::vector<std::uint8_t> error_about(std::uint8_t type, std::uint8_t code,
                                      const std::vector<std::uint8_t>& request,
                                      std::uint32_t gateway) {
  std::vector<std::uint8_t> message(8, 0);
  message[0] = type;
  message[1] = code;
  std::memcpy(message.data() + 4, &gateway, sizeof gateway);
  const std::vector<std::uint8_t> quoted =
      ip_datagram(std::vector<std::uint8_t>(
                      request.begin(), request.begin() + std::min<std::size_t>(8, request.size())),
                  64);
  message.insert(message.end(), quoted.begin(), quoted.end());
  return message;
}

}  // namespace fake

using fake::state;

void net_startup() {}
void net_cleanup() {
  state().cleanups += 1;
}

SocketHandle socket_open_icmp(AddressFamily family, std::uint16_t* identifier) {
  state().opened.push_back(family);
  state().opened_identifier = *identifier;
  SocketHandle handle;
  handle.family = family;
  if (family == AddressFamily::ipv6 ? state().ipv6_unopenable : state().ipv4_unopenable) {
    handle.refused_for_privilege = family == AddressFamily::ipv4;
    return handle;
  }
  if (state().kernel_identifier != 0) {
    *identifier = state().kernel_identifier;
  }
  handle.native = family == AddressFamily::ipv6 ? 4 : 3;
  handle.kind = SocketKind::raw;
  return handle;
}

void socket_close(SocketHandle socket) {
  state().closed += 1;
  state().closed_families.push_back(socket.family);
}

std::uint64_t socket_take_transmit_stamp(SocketHandle, std::uint64_t not_before_ns) {
  std::uint64_t latest = 0;
  for (const std::uint64_t stamp : state().transmit_stamps) {
    if (stamp >= not_before_ns && stamp > latest) {
      latest = stamp;
    }
  }
  state().transmit_stamps.clear();
  return latest;
}

bool drop_elevated_privileges() {
  return !state().privilege_drop_fails;
}

const char* no_socket_hint() {
  return "vexmo: no ICMP socket: the hint";
}

Outcome socket_set_option(SocketHandle, SocketOption option, std::uint32_t value) {
  state().options.emplace_back(option, value);
  for (const SocketOption refused : state().refused_options) {
    if (option == refused) {
      return -kErrorInvalidArgument;
    }
  }
  if (option == SocketOption::send_timeout_ms) {
    state().send_timeout_ms = value;
  }
  return 0;
}

Outcome socket_accept_only_identifier(SocketHandle, std::uint16_t identifier) {
  state().identifier_filters.emplace_back(identifier, state().options.size());
  return 0;
}

Outcome socket_send_to(SocketHandle socket, const std::uint8_t* data, std::size_t length,
                       const SocketAddress& to) {
  if (socket.kind == SocketKind::none) {
    return -10038;
  }
  if (state().send_error != 0) {
    return -state().send_error;
  }
  fake::Sent sent{std::vector<std::uint8_t>(data, data + length), to, state().now_us};
  state().sent.push_back(sent);
  if (state().on_send) {
    state().on_send(sent);
  }
  return static_cast<std::int32_t>(length);
}

WaitEnd socket_wait(SocketHandle, std::uint32_t timeout_ms, Outcome* failure) {
  fake::State& s = state();
  s.waits.push_back(timeout_ms);
  if (s.waits.size() > fake::kMostWaits) {
    // A wait without end on a script without end: fail rather than hang.
    *failure = -10022;
    return WaitEnd::failed;
  }
  if (s.send_timeout_ms == 0 && timeout_ms == 0xFFFFFFFFu && fake::nothing_scripted()) {
    // A wait without end that nothing will ever end: no test may wait it
    // out. It fails as a timeout would.
    *failure = -10060;
    return WaitEnd::failed;
  }
  const std::uint32_t slice = std::min(timeout_ms, s.longest_wait_ms);
  std::uint64_t until = s.now_us + std::uint64_t{slice} * 1000;
  bool datagram = false;
  const auto next = fake::next_datagram(false);
  if (next != s.inbound.end()) {
    const std::uint64_t at = std::max(s.now_us, next->arrive_us);
    if (at <= until) {
      until = at;
      datagram = true;
    }
  }
  const WaitEnd end = fake::wait_until(until);
  if (end == WaitEnd::elapsed && datagram && s.now_us == until) {
    s.ready_for_receive = true;
    return WaitEnd::ready;
  }
  return end;
}

Outcome socket_receive_queued(SocketHandle socket, std::uint8_t* buffer, std::size_t length,
                              Received* received) {
  fake::State& s = state();
  *received = Received{};
  received->family = socket.family;
  const auto queued = fake::next_datagram(true);
  if (queued == s.inbound.end()) {
    return -10035;  // nothing queued: it would block
  }
  const fake::Datagram next = *queued;
  s.inbound.erase(queued);
  // Read after a wait, or drained before a send.
  (s.ready_for_receive ? s.receives : s.discarded) += 1;
  s.ready_for_receive = false;
  s.now_us += next.read_late_us;
  received->stamps.transmit_ns = next.kernel_transmit_ns;
  if (next.error != 0) {
    return -next.error;
  }
  const std::size_t n = std::min(length, next.bytes.size());
  std::copy_n(next.bytes.begin(), n, buffer);
  received->from = next.ipv6 ? next.from6 : ipv4_socket_address(next.from);
  received->stamps.receive_ns = next.kernel_receive_ns;
  if (next.reported) {
    received->reported = true;
    received->type = next.type;
    received->code = next.code;
    received->info = next.info;
    received->quoted_request = buffer;
    received->quoted_length = n;
  } else {
    fake::record_datagram(buffer, n, socket.family, received);
  }
  return static_cast<Outcome>(n);
}

namespace {

bool look_up(const char* name, AddressFamily family, SocketAddress* address) {
  if (family == AddressFamily::ipv6) {
    const auto found = state().names6.find(name);
    if (found == state().names6.end()) {
      return false;
    }
    *address = found->second;
    return true;
  }
  const auto found = state().names.find(name);
  if (found == state().names.end()) {
    return false;
  }
  *address = ipv4_socket_address(found->second);
  return true;
}

}  // namespace

LookupEnd resolve_name(const char* name, AddressFamily family, SocketAddress* address,
                       InterruptionHandler handler) {
  state().looked_up.emplace_back(name);
  state().looked_up_families.push_back(family);
  const std::uint64_t until = state().now_us + state().lookup_us;
  while (handler.carry_on != nullptr && state().now_us < until) {
    if (fake::wait_until(until) == WaitEnd::interrupted && !handler.carry_on(handler.context)) {
      return LookupEnd::stopped;
    }
  }
  state().now_us = std::max(state().now_us, until);
  return look_up(name, family, address) ? LookupEnd::found : LookupEnd::not_found;
}

bool parse_ipv6_address(const char* text, SocketAddress* address) {
  const auto found = state().literals6.find(text);
  if (found == state().literals6.end()) {
    return false;
  }
  *address = found->second;
  return true;
}

std::uint32_t parse_dotted_address(const char* text) {
  // Only the full four-part decimal form; the real backend's wider forms are
  // tested against the real inet_addr.
  std::uint8_t parts[4];
  for (int i = 0; i < 4; ++i) {
    if (*text < '0' || *text > '9') {
      return 0xFFFFFFFFu;
    }
    unsigned part = 0;
    for (; *text >= '0' && *text <= '9' && part <= 255; ++text) {
      part = part * 10 + static_cast<unsigned>(*text - '0');
    }
    if (part > 255 || *text != (i < 3 ? '.' : '\0')) {
      return 0xFFFFFFFFu;
    }
    parts[i] = static_cast<std::uint8_t>(part);
    text += i < 3 ? 1 : 0;
  }
  return fake::address(parts[0], parts[1], parts[2], parts[3]);
}

void format_dotted_address(std::uint32_t address, char (&text)[16]) {
  std::uint8_t b[4];
  std::memcpy(b, &address, sizeof b);
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
}

void format_address(const SocketAddress& address, char (&text)[kAddressTextBytes]) {
  if (address.family == AddressFamily::ipv4) {
    char dotted[16];
    format_dotted_address(ipv4_of(address), dotted);
    std::snprintf(text, sizeof text, "%s", dotted);
    return;
  }
  // RFC 5952: the first longest run of two or more zero groups becomes "::".
  unsigned groups[8];
  for (int i = 0; i < 8; ++i) {
    groups[i] = static_cast<unsigned>(address.bytes[2 * i] << 8 | address.bytes[2 * i + 1]);
  }
  int best_at = -1, best_length = 1;
  for (int i = 0; i < 8;) {
    int j = i;
    while (j < 8 && groups[j] == 0) {
      ++j;
    }
    if (j - i > best_length) {
      best_at = i, best_length = j - i;
    }
    i = j == i ? i + 1 : j;
  }
  std::string out;
  for (int i = 0; i < 8; ++i) {
    if (i == best_at) {
      out += "::";
      i += best_length - 1;
      continue;
    }
    char group[8];
    std::snprintf(group, sizeof group, "%x", groups[i]);
    if (!out.empty() && out.back() != ':') {
      out += ':';
    }
    out += group;
  }
  std::snprintf(text, sizeof text, "%s", out.c_str());
}

std::uint32_t current_process_id() {
  return state().process_id;
}

namespace {
bool unwritable(const char* path, std::string* reason) {
  const auto& paths = fake::state().unwritable_paths;
  if (std::find(paths.begin(), paths.end(), path) == paths.end()) {
    return false;
  }
  *reason = "Permission denied";
  return true;
}
}  // namespace

bool replace_file(const char* path, const std::string& text, std::string* reason) {
  if (unwritable(path, reason)) {
    return false;
  }
  fake::state().files[path] = text;
  fake::state().file_writes.push_back(text);
  return true;
}

bool file_writable(const char* path, std::string* reason) {
  return !unwritable(path, reason);
}

std::uint64_t counter_now() {
  return state().now_us + state().counter_offset;
}

std::uint64_t counter_frequency() {
  return 1000000;
}

std::uint64_t wall_clock_ns() {
  return state().wall_offset_ns + state().now_us * 1000;
}

bool output_is_utf8() {
  return state().utf8;
}

Terminal terminal_open(const char*) {
  Terminal terminal;
  terminal.kind = state().terminal;
  return terminal;
}

void terminal_close(const Terminal&) {
  ++state().terminal_closes;
}

TerminalSize terminal_size() {
  return state().terminal_size;
}

}  // namespace vexmo
