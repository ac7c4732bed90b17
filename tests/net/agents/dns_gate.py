#!/usr/bin/env python3
"""A name server that holds each answer until told to give it.

vexmo resolves its host text again before every request, so a name served
from here makes every request wait for the suite: the suite learns that
request N is about to be sent, changes the network, and only then lets the
answer go. Faults are so timed against the run exactly, however loaded the
machine is.

Usage: dns_gate.py NAME ADDRESS   (run inside the namespace, as root)
Listens on 127.0.0.1:53. For each A query for NAME it writes "query N" on
standard output and answers ADDRESS once a line comes on standard input;
other names get NXDOMAIN at once, other query types an empty answer. Ends
when standard input closes.
"""
import socket
import struct
import sys


def question(packet):
    """(name, qtype, end of the question) or None."""
    labels, at = [], 12
    while at < len(packet):
        n = packet[at]
        if n == 0:
            if at + 5 > len(packet):
                return None
            qtype = struct.unpack("!H", packet[at + 1:at + 3])[0]
            return ".".join(labels).lower(), qtype, at + 5
        if n & 0xC0:
            return None
        labels.append(packet[at + 1:at + 1 + n].decode("ascii", "replace"))
        at += 1 + n
    return None


def answer(packet, end, rcode, address=None):
    ident, flags = struct.unpack("!HH", packet[:4])
    flags = 0x8000 | (flags & 0x0100) | 0x0080 | rcode  # response, RD copied, RA
    count = 1 if address else 0
    out = struct.pack("!HHHHHH", ident, flags, 1, count, 0, 0) + packet[12:end]
    if address:
        out += struct.pack("!HHHIH", 0xC00C, 1, 1, 0, 4) + socket.inet_aton(address)
    return out


def main():
    name, address = sys.argv[1].lower(), sys.argv[2]
    server = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    server.bind(("127.0.0.1", 53))
    print("ready", flush=True)
    count = 0
    while True:
        packet, peer = server.recvfrom(2048)
        q = question(packet) if len(packet) >= 12 else None
        if q is None:
            continue
        qname, qtype, end = q
        if qname != name:
            server.sendto(answer(packet, end, 3), peer)
            continue
        if qtype != 1:
            server.sendto(answer(packet, end, 0), peer)
            continue
        count += 1
        print("query %d" % count, flush=True)
        if not sys.stdin.readline():
            return
        server.sendto(answer(packet, end, 0, address), peer)


if __name__ == "__main__":
    main()
