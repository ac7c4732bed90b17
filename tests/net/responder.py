#!/usr/bin/env python3
"""Crafted ICMP responder for the namespace suite.

Runs inside the responder namespace, whose kernel does not answer echo
requests itself. Every echo request to a configured address is logged (one
JSON line per request in LOGDIR/<address>.jsonl) and answered by the actions
configured for that address. Its bytes are built by icmp_wire.py, which
shares nothing with the program under test.

Usage: responder.py CONFIG.json LOGDIR
CONFIG maps an address to {"actions": [...], "answer_every": N, "answer_from": K};
the key "_lan_netns" names a network namespace on the LAN of the host under
test, from which actions with lan: true are sent (unforwarded, so that the
host sees the TTL as sent).
Each action is {"at": milliseconds after the request, "do": KIND, ...}:
  reply     echo reply; options: ip option bytes (multiple of 4, NOPs),
            foreign: identifier inverted, bad_checksum: checksum spoiled,
            stamp: the send stamp (bytes 8 to 15) forged: "zero", "ones",
            "future" (a second past the monotonic clock, which the namespaces
            share), "past" (one nanosecond before the request's own),
            code, ttl: of the reply, src: sender address (default the
            request's destination), lan: sent from the LAN namespace
  error     ICMP error quoting the request; type, code, rest (4 bytes, hex),
            gateway (dotted, for redirects), options, quote (bytes of the
            request quoted after its IP header, default 8); what it quotes
            may be changed: quoted_stamp (bytes 8 to 15 forged, as stamp
            of reply), quoted_type, quoted_options (option bytes in the
            quoted IP header), quoted_udp: a UDP datagram in place of the
            request, whose length field holds the request's identifier
  carrying  a message of another type with the request's identifier and
            sequence at offsets 4 and 6; type, code
  flood     count messages like carrying, one after another, their types
            taken in turn from types
  junk      raw IP payload given as hex, sent as it stands
Requests are numbered from 0 per address; with answer_every N only requests
whose number n satisfies n % N == answer_from get the actions.
"""
import heapq
import json
import os
import select
import socket
import struct
import sys
import time

from icmp_wire import (ECHO_REPLY, ECHO_REQUEST, icmp_message, ipv4_header, ipv4_packet, send_stamp,
                       view_ipv4)

IP_PKTINFO = getattr(socket, "IP_PKTINFO", 8)
IP_MTU_DISCOVER, IP_PMTUDISC_DONT = 10, 0


class Sender:
    """Two send paths: crafted headers (options, odd lengths) through an
    IP_HDRINCL socket, and plain messages through an ICMP socket that lets
    the kernel fragment large replies."""

    def __init__(self):
        self.hdrincl = socket.socket(socket.AF_INET, socket.SOCK_RAW, socket.IPPROTO_RAW)
        self.plain = socket.socket(socket.AF_INET, socket.SOCK_RAW, socket.IPPROTO_ICMP)
        self.plain.setsockopt(socket.IPPROTO_IP, socket.IP_TTL, 64)
        self.plain.setsockopt(socket.IPPROTO_IP, IP_MTU_DISCOVER, IP_PMTUDISC_DONT)
        self.plain.setsockopt(socket.SOL_SOCKET, socket.SO_SNDBUF, 1 << 20)

        self.lan = None

    def open_lan(self, netns):
        """A header-including socket in the LAN namespace: a socket stays in
        the namespace it was made in."""
        import ctypes
        libc = ctypes.CDLL(None, use_errno=True)
        with open("/proc/self/ns/net") as home, open("/run/netns/" + netns) as there:
            if libc.setns(there.fileno(), 0x40000000) != 0:
                raise OSError(ctypes.get_errno(), "setns " + netns)
            try:
                self.lan = socket.socket(socket.AF_INET, socket.SOCK_RAW, socket.IPPROTO_RAW)
            finally:
                if libc.setns(home.fileno(), 0x40000000) != 0:
                    raise OSError(ctypes.get_errno(), "setns back")

    def send(self, src, dst, payload, option_bytes=0, ttl=64, lan=False):
        if lan:
            if self.lan is None:
                raise OSError("no LAN namespace configured")
            self.lan.sendto(ipv4_packet(src, dst, payload, ttl, option_bytes), (dst, 0))
            return
        if option_bytes or ttl != 64 or len(payload) < 8 or len(payload) + 20 <= 1400:
            self.hdrincl.sendto(ipv4_packet(src, dst, payload, ttl, option_bytes), (dst, 0))
            return
        pktinfo = struct.pack("@i4s4s", 0, socket.inet_aton(src), b"\0" * 4)
        ancillary = [(socket.IPPROTO_IP, IP_PKTINFO, pktinfo)]
        self.plain.sendmsg([payload], ancillary, 0, (dst, 0))


def forged_stamp(kind, icmp):
    genuine = send_stamp(icmp)
    value = {"zero": 0, "ones": (1 << 64) - 1, "past": genuine - 1,
             "future": time.monotonic_ns() + 10**9}[kind]
    return struct.pack("<Q", value & ((1 << 64) - 1))


def quoted(action, request_ip, icmp):
    """What an error quotes of the request: its IP header and the first
    bytes of its ICMP message, or what the action puts in their place."""
    message = bytearray(icmp[: action.get("quote", 8)])
    if "quoted_stamp" in action:
        message[8:16] = forged_stamp(action["quoted_stamp"], icmp)
    if "quoted_type" in action:
        message[0] = action["quoted_type"]
    request = view_ipv4(request_ip)
    protocol = socket.IPPROTO_ICMP
    if action.get("quoted_udp"):
        # a UDP datagram whose length field holds the request's identifier bytes
        protocol = socket.IPPROTO_UDP
        message = struct.pack("!HH", 40000, 33434) + icmp[4:6] + b"\0\0" + bytes(message[8:])
    if "quoted_options" in action or protocol != socket.IPPROTO_ICMP:
        header = ipv4_header(request.source, request.destination,
                             request.total_length - len(request.header), request.ttl,
                             action.get("quoted_options", 0), protocol)
    else:
        header = request_ip
    return bytes(header) + bytes(message)


def build(action, request_ip, icmp):
    """Returns the ICMP bytes (IP payload) and the option length for one action."""
    kind = action["do"]
    ident, seq = icmp[4:6], icmp[6:8]
    opts = action.get("options", 0)
    if kind == "reply":
        if action.get("foreign"):
            ident = bytes(b ^ 0xFF for b in ident)
        body = icmp[8:]
        if "stamp" in action:
            body = forged_stamp(action["stamp"], icmp) + body[8:]
        return icmp_message(ECHO_REPLY, action.get("code", 0), ident + seq, body,
                            action.get("bad_checksum", False)), opts
    if kind == "error":
        if "gateway" in action:
            rest = socket.inet_aton(action["gateway"])
        else:
            rest = bytes.fromhex(action.get("rest", "00000000"))
        return icmp_message(action["type"], action.get("code", 0), rest,
                            quoted(action, request_ip, icmp)), opts
    if kind == "carrying":
        return icmp_message(action["type"], action.get("code", 0), ident + seq, bytes(12)), opts
    if kind == "junk":
        return bytes.fromhex(action["hex"]), opts
    raise ValueError("unknown action " + kind)


def main():
    with open(sys.argv[1]) as f:
        config = json.load(f)
    logdir = sys.argv[2]
    recv = socket.socket(socket.AF_INET, socket.SOCK_RAW, socket.IPPROTO_ICMP)
    recv.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 8 << 20)
    sender = Sender()
    if "_lan_netns" in config:
        sender.open_lan(config.pop("_lan_netns"))
    counts = {}
    queue = []  # (due, order, src, dst, payload, option_bytes)
    order = 0
    logs = {}
    print("ready", flush=True)
    while True:
        timeout = None
        if queue:
            timeout = max(0.0, queue[0][0] - time.monotonic())
        readable, _, _ = select.select([recv, sys.stdin], [], [], timeout)
        if sys.stdin in readable and not sys.stdin.buffer.read1(100):
            return  # the suite closed our standard input: stop
        if recv in readable:
            data, _ = recv.recvfrom(70000)
            now = time.monotonic()
            request = view_ipv4(data)
            src, dst, icmp = request.source, request.destination, request.payload
            if dst in config and len(icmp) >= 8 and icmp[0] == ECHO_REQUEST:
                number = counts.get(dst, 0)
                counts[dst] = number + 1
                if dst not in logs:
                    logs[dst] = open(os.path.join(logdir, dst + ".jsonl"), "a")
                entry = {
                    "t": now,
                    "n": number,
                    "src": src,
                    "ip_len": request.total_length,
                    "tos": request.tos,
                    "ttl": request.ttl,
                    "df": request.dont_fragment,
                    "ip_header": request.header.hex(),
                    "icmp": icmp.hex(),
                }
                logs[dst].write(json.dumps(entry) + "\n")
                logs[dst].flush()
                behaviour = config[dst]
                every = behaviour.get("answer_every", 1)
                if number % every == behaviour.get("answer_from", 0) % every:
                    for action in behaviour.get("actions", []):
                        order += 1
                        due = now + action.get("at", 0) / 1000.0
                        heapq.heappush(queue, (due, order, dst, src, action, data[:20], icmp))
        while queue and queue[0][0] <= time.monotonic():
            _, _, src, dst, action, request_ip, icmp = heapq.heappop(queue)
            # built when due: a forged stamp "in the future" is so when it is sent
            try:
                if action["do"] == "flood":
                    types = action["types"]
                    for k in range(action["count"]):
                        payload = icmp_message(types[k % len(types)], 0, icmp[4:8], bytes(12))
                        sender.send(src, dst, payload)
                    continue
                payload, opts = build(action, request_ip, icmp)
                sender.send(action.get("src", src), dst, payload, opts, action.get("ttl", 64),
                            action.get("lan", False))
            except (OSError, ValueError) as err:
                print("send failed: %s" % err, file=sys.stderr, flush=True)


if __name__ == "__main__":
    main()
