#!/usr/bin/env python3
"""Load for the namespace suite: a flood of ICMP traffic not meant for the
program under test, and a capture of what did reach its host.

  loadgen.py flood DST RATE SECONDS COUNT [SIZE]
      Sends ICMP messages of SIZE bytes (default 64) to DST at RATE datagrams per second until SECONDS have
      passed or COUNT datagrams are sent, whichever is first, or standard
      input closes: echo replies and echo requests in turn, all with
      identifiers from FLOOD_IDENTIFIERS. Writes a JSON line
      {"sent": N, "seconds": T} at the end.
  loadgen.py capture IFACE ADDRESS
      Records every ICMP datagram to or from ADDRESS that passes IFACE (a
      kernel filter keeps the flood out of the capture) with the kernel's
      time stamp, until standard input closes; then writes one JSON line:
      {"records": [...], "drops": N}.

Both run inside a namespace of the suite, as root. The flood's loop is
bounded in count and time.
"""
import ctypes
import json
import select
import socket
import struct
import sys
import time

from icmp_wire import (ECHO_REPLY, ECHO_REQUEST, echo_identifier, echo_rest, echo_sequence,
                       icmp_message, send_stamp, view_ipv4)

# Identifiers of the flood, stored low byte first as vexmo stores its own.
FLOOD_IDENTIFIERS = [0x5A01 + 0x0111 * k for k in range(8)]

SO_ATTACH_FILTER = 26
SO_TIMESTAMPNS = 35
SOL_PACKET = 263
PACKET_STATISTICS = 6
ETH_P_IP = 0x0800
ETH_P_ALL = 0x0003
PACKET_OUTGOING = 4


def message(icmp_type, identifier, seq, size=64):
    return icmp_message(icmp_type, 0, echo_rest(identifier, seq), bytes(max(0, size - 8)))


def flood(dst, rate, seconds, count, size):
    sock = socket.socket(socket.AF_INET, socket.SOCK_RAW, socket.IPPROTO_ICMP)
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_SNDBUF, 1 << 20)
    packets = [message(t, ident, k, size) for k, ident in enumerate(FLOOD_IDENTIFIERS)
               for t in (ECHO_REPLY, ECHO_REQUEST)]
    start = time.monotonic()
    sent = 0
    while sent < count:
        elapsed = time.monotonic() - start
        if elapsed >= seconds:
            break
        due = min(count, int(rate * elapsed) + 1)
        while sent < due:
            try:
                sock.sendto(packets[sent % len(packets)], (dst, 0))
            except OSError:
                pass  # a full queue: that datagram is not sent
            sent += 1
        readable, _, _ = select.select([sys.stdin], [], [], 0.0005)
        if readable and not sys.stdin.buffer.read1(100):
            break
    print(json.dumps({"sent": sent, "seconds": time.monotonic() - start}), flush=True)


def capture_filter(address):
    addr = struct.unpack("!I", socket.inet_aton(address))[0]
    code = [(0x28, 0, 0, 0xFFFFF000),  # ldh the frame's protocol
            (0x15, 0, 7, ETH_P_IP),
            (0x30, 0, 0, 9),  # ldb [9]: protocol
            (0x15, 0, 5, 1),  # ICMP?
            (0x20, 0, 0, 12),  # ld [12]: source
            (0x15, 2, 0, addr),
            (0x20, 0, 0, 16),  # ld [16]: destination
            (0x15, 0, 1, addr),
            (0x06, 0, 0, 0xFFFF),
            (0x06, 0, 0, 0)]
    return b"".join(struct.pack("HBBI", *c) for c in code), len(code)


def capture(iface, address):
    # Every protocol: only such sockets see the host's own outgoing frames.
    sock = socket.socket(socket.AF_PACKET, socket.SOCK_DGRAM, socket.htons(ETH_P_ALL))
    program, length = capture_filter(address)
    buf = ctypes.create_string_buffer(program)
    sock.setsockopt(socket.SOL_SOCKET, SO_ATTACH_FILTER,
                    struct.pack("HL", length, ctypes.addressof(buf)))
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4 << 20)
    sock.setsockopt(socket.SOL_SOCKET, SO_TIMESTAMPNS, 1)
    sock.bind((iface, ETH_P_ALL))  # host order here
    print("ready", flush=True)
    records = []
    while True:
        readable, _, _ = select.select([sock, sys.stdin], [], [])
        if sock in readable:
            data, ancillary, _, addr = sock.recvmsg(2048, 64)
            stamp = None
            for level, kind, value in ancillary:
                if level == socket.SOL_SOCKET and kind == SO_TIMESTAMPNS:
                    sec, nsec = struct.unpack("qq", value[:16])
                    stamp = sec + nsec / 1e9
            icmp = view_ipv4(data).payload
            if len(icmp) >= 16:
                records.append({"t": stamp, "out": addr[2] == PACKET_OUTGOING,
                                "type": icmp[0], "id": echo_identifier(icmp),
                                "seq": echo_sequence(icmp), "stamp": send_stamp(icmp)})
        if sys.stdin in readable and not sys.stdin.buffer.read1(100):
            break
    stats = sock.getsockopt(SOL_PACKET, PACKET_STATISTICS, 8)
    _, drops = struct.unpack("II", stats)
    print(json.dumps({"records": records, "drops": drops}), flush=True)


def main():
    if sys.argv[1] == "flood":
        size = int(sys.argv[6]) if len(sys.argv) > 6 else 64
        flood(sys.argv[2], float(sys.argv[3]), float(sys.argv[4]), int(sys.argv[5]), size)
    elif sys.argv[1] == "capture":
        capture(sys.argv[2], sys.argv[3])
    else:
        sys.exit("unknown mode " + sys.argv[1])


if __name__ == "__main__":
    main()
