#!/usr/bin/env python3
"""Watches the ICMPv6 echo requests that reach one address, in the namespace
it runs in (the peer's): their hop limit and traffic class as they arrive.

    sniff6.py ADDRESS

Prints "ready" once it listens; when its standard input closes, one JSON
line per request seen and ends. It ends by itself after 60 s.
"""
import json
import select
import socket
import sys
import time

ETH_P_IPV6 = 0x86DD
PACKET_OUTGOING = 4
LIMIT_S = 60.0


def main():
    destination = socket.inet_pton(socket.AF_INET6, sys.argv[1])
    # SOCK_DGRAM: the packet without its link-layer header.
    sniffer = socket.socket(socket.AF_PACKET, socket.SOCK_DGRAM, socket.htons(ETH_P_IPV6))
    print("ready", flush=True)
    seen = []
    deadline = time.monotonic() + LIMIT_S
    ended = False
    while not ended and time.monotonic() < deadline:
        ready, _, _ = select.select([sniffer, sys.stdin], [], [], 1.0)
        # The run's end: the requests it sent are queued by now (the peer
        # saw each before answering it), and are all taken below.
        ended = sys.stdin in ready and not sys.stdin.readline()
        while select.select([sniffer], [], [], 0)[0]:
            packet, address = sniffer.recvfrom(65535)
            if address[2] == PACKET_OUTGOING or len(packet) < 48:
                continue
            if packet[0] >> 4 != 6 or packet[6] != 58 or packet[24:40] != destination:
                continue
            if packet[40] != 128:  # echo request
                continue
            seen.append({"hop_limit": packet[7],
                         "traffic_class": (packet[0] & 0x0F) << 4 | packet[1] >> 4,
                         "identifier": packet[44] | packet[45] << 8})
    for entry in seen:
        print(json.dumps(entry))


if __name__ == "__main__":
    main()
