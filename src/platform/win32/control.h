// The control data WSARecvMsg returns beside an ICMPv6 message (Windows): a
// pure reading of it, so that it can be tested without a network.
#ifndef VEXMO_PLATFORM_WIN32_CONTROL_H
#define VEXMO_PLATFORM_WIN32_CONTROL_H

#include <cstddef>

namespace vexmo {

// The hop limit of the received datagram (IPPROTO_IPV6 / IPV6_HOPLIMIT, an
// INT), or -1 when the control data holds none or holds it cut short.
int hop_limit_from_control(char* control, std::size_t length);

}  // namespace vexmo

#endif  // VEXMO_PLATFORM_WIN32_CONTROL_H
