#include "platform/win32/control.h"

#include "platform/native_sockets.h"

// After the socket headers, which it needs.
#include <mswsock.h>

#include <cstring>

namespace vexmo {

int hop_limit_from_control(char* control, std::size_t length) {
  WSAMSG message;
  std::memset(&message, 0, sizeof message);
  message.Control.buf = control;
  message.Control.len = static_cast<ULONG>(length);
  for (WSACMSGHDR* c = WSA_CMSG_FIRSTHDR(&message); c != nullptr;
       c = WSA_CMSG_NXTHDR(&message, c)) {
    const std::size_t data_at =
        static_cast<std::size_t>(WSA_CMSG_DATA(c) - reinterpret_cast<u_char*>(c));
    // A header claiming more than the buffer holds ends the reading.
    if (c->cmsg_len < data_at || reinterpret_cast<char*>(c) + c->cmsg_len > control + length) {
      return -1;
    }
    if (c->cmsg_level == IPPROTO_IPV6 && c->cmsg_type == IPV6_HOPLIMIT &&
        c->cmsg_len - data_at >= sizeof(INT)) {
      INT hop_limit = 0;
      std::memcpy(&hop_limit, WSA_CMSG_DATA(c), sizeof hop_limit);
      return hop_limit >= 0 && hop_limit <= 255 ? hop_limit : -1;
    }
  }
  return -1;
}

}  // namespace vexmo
