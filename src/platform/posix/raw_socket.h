// The raw ICMP socket: received datagrams start with their IPv4 header.
// Every call returns -1 with errno set on failure, as the system calls do.
#ifndef VEXMO_PLATFORM_POSIX_RAW_SOCKET_H
#define VEXMO_PLATFORM_POSIX_RAW_SOCKET_H

#include <netinet/in.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>

namespace vexmo {

int raw_socket_open();
ssize_t raw_socket_send(int fd, const std::uint8_t* data, std::size_t length,
                        const sockaddr_in& to);
// Blocks for at most the socket's receive timeout (EAGAIN when it passes).
// *receive_ns is the kernel's arrival stamp, or 0.
ssize_t raw_socket_receive(int fd, std::uint8_t* buffer, std::size_t length, sockaddr_in* from,
                           std::uint64_t* receive_ns);
// Fails with EAGAIN at once when nothing is queued.
ssize_t raw_socket_take_queued(int fd, std::uint8_t* buffer, std::size_t length);

}  // namespace vexmo

#endif  // VEXMO_PLATFORM_POSIX_RAW_SOCKET_H
