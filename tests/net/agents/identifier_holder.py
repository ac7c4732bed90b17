#!/usr/bin/env python3
"""Holds an echo identifier with an ICMP datagram socket, as another ping
tool in the same network namespace would.

Usage: identifier_holder.py IDENTIFIER REUSE WHEN   (inside the namespace)
  IDENTIFIER  as vexmo stores it: the low byte is the first on the wire
  REUSE       1: address reuse on (the kernel's default for these sockets),
              0: off
  WHEN        first: bind at once, then write "held" (or "refused: ...");
              after: write "ready", wait (at most 5 s) until another socket
              of the namespace is bound to the identifier, then bind and
              write "held" or "refused: ..." ("unseen" when none was)
Keeps the socket until standard input closes; then writes "received N":
the datagrams it was handed meanwhile.
"""
import select
import socket
import sys
import time

WAIT_S = 5.0


def port_of(identifier):
    """The port that puts identifier's bytes on the wire low byte first."""
    return (identifier & 0xFF) << 8 | identifier >> 8


def bound_elsewhere(port):
    """Whether a datagram ICMP socket of this namespace holds port."""
    with open("/proc/net/icmp") as f:
        rows = f.read().splitlines()[1:]
    return any(int(row.split()[1].split(":")[1], 16) == port for row in rows)


def main():
    port = port_of(int(sys.argv[1], 0))
    reuse, when = int(sys.argv[2]), sys.argv[3]
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM, socket.IPPROTO_ICMP)
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, reuse)
    if when == "after":
        print("ready", flush=True)
        deadline = time.monotonic() + WAIT_S
        while not bound_elsewhere(port) and time.monotonic() < deadline:
            time.sleep(0.002)
    if when == "after" and not bound_elsewhere(port):
        print("unseen", flush=True)
    else:
        try:
            sock.bind(("0.0.0.0", port))
            print("held", flush=True)
        except OSError as err:
            print("refused: %s" % err, flush=True)
    received = 0
    while True:
        readable, _, _ = select.select([sock, sys.stdin], [], [])
        if sock in readable:
            sock.recv(70000)
            received += 1
        if sys.stdin in readable and not sys.stdin.buffer.read1(100):
            break
    print("received %d" % received, flush=True)


if __name__ == "__main__":
    main()
