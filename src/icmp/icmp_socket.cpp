#include "icmp/icmp_socket.h"

#include <cstring>

#include "common/byte_order.h"
#include "icmp/echo_message.h"

namespace vexmo {
namespace {

// One buffer for the whole process: one thread, one wait at a time.
std::uint8_t g_receive_buffer[kReceiveBufferBytes];

// What the next wait starts from. prepare_wait sets it up before the send;
// anything that writes the buffer or sets the socket's options undoes it.
struct WaitSetup {
  bool prepared = false;
  SocketHandle socket = kInvalidSocket;
  std::uint32_t deadline_ms = 0;
  std::uint16_t identifier = 0;
};
WaitSetup g_next_wait;

WaitSetup set_up_wait(SocketHandle socket) {
  WaitSetup setup;
  // Zeroed once per wait: bytes past a short datagram read as zero (or as
  // what a longer datagram of the same wait left), never as stale memory.
  std::memset(g_receive_buffer, 0, sizeof g_receive_buffer);
  // The deadline is the timeout the socket actually has; 0 means none.
  socket_get_receive_timeout(socket, &setup.deadline_ms);
  setup.identifier = echo_identifier();
  setup.socket = socket;
  return setup;
}

// Offset of the quoted request's identifier in an ICMP error message:
// 8 bytes of ICMP header, 20 of quoted IP header, 4 into the echo request.
constexpr std::size_t kQuotedIdentifierOffset = 32;

bool is_error_type(std::uint8_t type) {
  return type == 3 || type == 4 || type == 5 || type == 11 || type == 12;
}

}  // namespace

SocketHandle open_icmp_socket() {
  return socket_open_icmp();
}

void apply_socket_options(SocketHandle socket, const RunSettings& settings) {
  g_next_wait.prepared = false;  // the deadline may change
  // Failures surface later, as failures of the single requests.
  socket_set_option(socket, SocketOption::receive_timeout_ms, settings.timeout_ms);
  socket_set_option(socket, SocketOption::send_timeout_ms, settings.timeout_ms);
  socket_set_option(socket, SocketOption::send_buffer_bytes, 65536);
  socket_set_option(socket, SocketOption::receive_buffer_bytes, 65536);
  if (settings.ttl_given) {
    socket_set_option(socket, SocketOption::time_to_live, settings.ttl);
  }
  if (settings.tos_given) {
    socket_set_option(socket, SocketOption::type_of_service, settings.tos);
  }
  if (settings.dont_fragment) {
    socket_set_option(socket, SocketOption::dont_fragment, 1);
  }
  // Other processes' ICMP traffic must not fill the receive buffer.
  socket_accept_only_identifier(socket, echo_identifier());
}

void close_icmp_socket(SocketHandle socket) {
  socket_close(socket);
}

std::uint16_t echo_identifier() {
  return static_cast<std::uint16_t>(current_process_id());
}

ReplyView view_datagram(std::uint8_t* datagram) {
  ReplyView view;
  const std::uint8_t first = datagram[0];
  const std::size_t header_words = first & 0x0Fu;
  if ((first & 0xF0u) == 0x40u && header_words >= 5) {
    view.ip_header = datagram;
    view.message = datagram + header_words * 4;
  } else {
    view.message = datagram;
  }
  return view;
}

std::uint16_t carried_identifier(const std::uint8_t* message) {
  return read_le16(message + (is_error_type(message[0]) ? kQuotedIdentifierOffset : 4));
}

bool is_answer(const std::uint8_t* message, std::size_t length, std::uint16_t identifier,
               std::uint64_t send_stamp) {
  const std::uint8_t type = message[0];
  if (is_error_type(type)) {
    return length >= kQuotedIdentifierOffset + 2 && carried_identifier(message) == identifier;
  }
  return type == kTypeEchoReply && length >= kEchoDataOffset &&
         carried_identifier(message) == identifier &&
         read_le64(message + kSendStampOffset) == send_stamp;
}

void discard_waiting_datagrams(SocketHandle socket) {
  g_next_wait.prepared = false;  // the buffer is written
  for (int i = 0; i < kMaxDiscardedDatagrams; ++i) {
    if (socket_receive_waiting(socket, g_receive_buffer, sizeof g_receive_buffer) <= 0) {
      return;
    }
  }
}

void prepare_wait(SocketHandle socket) {
  g_next_wait = set_up_wait(socket);
  g_next_wait.prepared = true;
}

Outcome wait_for_reply(SocketHandle socket, SocketAddress* from, ReplyView* view,
                       std::uint64_t send_stamp) {
  const WaitSetup setup =
      g_next_wait.prepared && g_next_wait.socket == socket ? g_next_wait : set_up_wait(socket);
  g_next_wait.prepared = false;  // good for one wait
  const std::uint32_t deadline_ms = setup.deadline_ms;
  const std::uint16_t identifier = setup.identifier;
  from->family = kFamilyInet;
  from->port = 0;
  from->address = 0;
  const std::uint32_t start_ms = tick_count_ms();

  Outcome result = 0;
  for (;;) {
    result = socket_receive_from(socket, g_receive_buffer, sizeof g_receive_buffer, from);
    if (result <= 0) {
      break;
    }
    *view = view_datagram(g_receive_buffer);
    const std::size_t header_bytes = static_cast<std::size_t>(view->message - g_receive_buffer);
    const std::size_t length = static_cast<std::size_t>(result) > header_bytes
                                   ? static_cast<std::size_t>(result) - header_bytes
                                   : 0;
    const bool answer = is_answer(view->message, length, identifier, send_stamp);
    if (answer && view->message[0] == kTypeEchoReply) {
      write_le64(view->message + kReceiveStampOffset, counter_now());
    }
    // Unsigned difference: a wrap of the tick count is harmless.
    if (deadline_ms != 0 && tick_count_ms() - start_ms > deadline_ms) {
      result = -kErrorTimedOut;
      break;
    }
    if (answer) {
      break;
    }
  }
  if (result == kSocketError) {
    result = -socket_last_error();
  }
  return result;
}

}  // namespace vexmo
