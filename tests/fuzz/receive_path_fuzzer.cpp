// One arbitrary datagram, with or without an IPv4 header (or, over IPv6, the
// header the fake scripts the hop limit in), as the answer to a request:
// through the receive's record of it, recognition, matching, the report and
// the summary. The
// output must stay well formed whatever arrives.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/byte_order.h"
#include "driver/run.h"
#include "icmp/answer.h"
#include "icmp/echo_socket.h"
#include "support/fake_platform.h"

using namespace vexmo;

namespace {

enum Flags : std::uint8_t {
  kNoTimeLimit = 1,
  kAddIpHeader = 2,
  kOwnIdentifierAt4 = 4,
  kOwnIdentifierAt32 = 8,
  kEchoSendStamp = 16,
  kTwice = 32,
  kFirstIsStale = 64,
  kIpv6 = 128,  // the run and its answer are IPv6; "At32" is then at 52
};

AddressFamily family_of(std::uint8_t flags) {
  return (flags & kIpv6) ? AddressFamily::ipv6 : AddressFamily::ipv4;
}

std::vector<std::uint8_t> answer_from(const std::uint8_t* data, std::size_t size,
                                      std::uint8_t flags, const fake::Sent& request) {
  std::vector<std::uint8_t> datagram;
  if (flags & kAddIpHeader) {
    datagram = (flags & kIpv6) ? fake::ipv6_datagram({}, 64) : fake::ip_datagram({}, 64);
  }
  datagram.insert(datagram.end(), data, data + size);
  if (datagram.empty()) {
    return datagram;
  }
  // Where the wait will look for the message, found the way the receive
  // records it.
  Received record;
  fake::record_datagram(datagram.data(), datagram.size(), family_of(flags), &record);
  const std::size_t at = static_cast<std::size_t>(record.message - datagram.data());
  const std::uint16_t identifier = static_cast<std::uint16_t>(fake::state().process_id);
  const auto patch = [&](std::size_t offset, const std::uint8_t* bytes, std::size_t n) {
    if (datagram.size() < at + offset + n) {
      datagram.resize(at + offset + n, 0);
    }
    std::memcpy(datagram.data() + at + offset, bytes, n);
  };
  std::uint8_t id[2];
  write_le16(id, identifier);
  if (flags & kOwnIdentifierAt4) {
    patch(4, id, 2);
  }
  if (flags & kOwnIdentifierAt32) {
    patch((flags & kIpv6) ? 52 : 32, id, 2);
  }
  if (flags & kEchoSendStamp) {
    patch(8, request.bytes.data() + 8, 8);
  }
  return datagram;
}

bool starts_with(const std::string& s, const char* prefix) {
  return s.compare(0, std::strlen(prefix), prefix) == 0;
}

// The peer each run asks, and the sender of every answer.
const char* peer_text(AddressFamily family) {
  return family == AddressFamily::ipv6 ? "2001:db8::2" : "10.0.0.2";
}

bool is_report_line(const std::string& line, AddressFamily family) {
  const std::string peer = peer_text(family);
  // The answer always arrives 1.5 ms after its request: no other time is true.
  if (starts_with(line, (peer + ": Time: ").c_str())) {
    return starts_with(line, (peer + ": Time: 1.500 ms, Sequence: ").c_str());
  }
  return starts_with(line, "ICMP: ") ||
         starts_with(line, (peer + ": ICMP: Time Exceeded, Reason: ").c_str()) ||
         line == "Request timeout." || starts_with(line, "Error ");
}

// Every request ends with exactly one line; only a zero-byte datagram (which
// a raw socket never delivers) ends a wait with none.
void check_output(const std::string& out, std::uint32_t requests, bool exact,
                  AddressFamily family) {
  if (out.empty() || out.back() != '\n' || out.find('\0') != std::string::npos) {
    std::abort();
  }
  std::vector<std::string> lines;
  for (std::size_t at = 0; at < out.size();) {
    const std::size_t end = out.find('\n', at);
    lines.push_back(out.substr(at, end - at));
    at = end + 1;
  }
  // Opening line, at most one line per request, blank, packets, round trip.
  if (lines.size() < (exact ? 4 + requests : 4) || lines.size() > 4 + requests ||
      !starts_with(
          lines.front(),
          (std::string("Ping to ") + peer_text(family) + ", buffer size 56 Bytes").c_str()) ||
      !lines[lines.size() - 3].empty() || !starts_with(lines[lines.size() - 2], "Packets: Sent ") ||
      !starts_with(lines.back(), "Rount Trip Time (Min/Avg/Max): ")) {
    std::abort();
  }
  for (std::size_t i = 1; i + 3 < lines.size(); ++i) {
    if (!is_report_line(lines[i], family)) {
      std::abort();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static std::FILE* out = std::freopen("/dev/null", "w", stdout) ? std::tmpfile() : nullptr;
  if (size < 1 || out == nullptr) {
    return 0;
  }
  const std::uint8_t flags = data[0];
  const std::uint8_t* payload = data + 1;
  const std::size_t payload_size = size - 1;

  fake::reset();
  const AddressFamily family = family_of(flags);
  const SocketAddress peer6 = fake::address6(0x2001, 0xdb8, 0, 0, 0, 0, 0, 2);
  fake::state().literals6["2001:db8::2"] = peer6;
  fake::state().on_send = [&](const fake::Sent& request) {
    if (fake::state().sent.size() != 1) {
      return;
    }
    fake::Datagram answer;
    answer.bytes = answer_from(payload, payload_size, flags, request);
    answer.from = fake::address(10, 0, 0, 2);
    answer.ipv6 = family == AddressFamily::ipv6;
    answer.from6 = peer6;
    answer.arrive_us = request.at_us + 1500;
    answer.waiting = (flags & kFirstIsStale) != 0;
    fake::state().inbound.push_back(answer);
    if (flags & kTwice) {
      answer.waiting = true;  // the duplicate is still queued at the next send
      fake::state().inbound.push_back(answer);
    }
  };

  RunSettings settings;
  settings.host = peer_text(family);
  settings.count = 2;
  settings.timeout_ms = (flags & kNoTimeLimit) ? 0 : 3000;
  std::fflush(stdout);
  FILE* saved = stdout;
  stdout = out;
  std::rewind(out);
  run_requests(settings);
  std::fflush(out);
  const long length = std::ftell(out);
  stdout = saved;
  std::string text(static_cast<std::size_t>(length), '\0');
  std::rewind(out);
  if (length > 0 && std::fread(&text[0], 1, text.size(), out) != text.size()) {
    std::abort();
  }
  check_output(text, settings.count, payload_size > 0 || (flags & kAddIpHeader) != 0, family);
  return 0;
}
