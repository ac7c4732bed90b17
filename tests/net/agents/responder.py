#!/usr/bin/env python3
"""Crafted ICMP and ICMPv6 responder for the namespace suite.

Runs inside the responder namespace, whose kernel does not answer echo
requests itself. Every echo request to a configured address (IPv4 or IPv6)
is logged (one JSON line per request in LOGDIR/<address>.jsonl) and answered
by the actions configured for that address. Its bytes are built by
icmp_wire.py, which shares nothing with the program under test. Over IPv6
the types are ICMPv6's (echo reply 129), an error quotes the whole request
unless quote says otherwise, ttl is the hop limit and options are not
offered.

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
            request, whose length field holds the request's identifier;
            IPv6 only: quoted_header (bytes of the quoted IPv6 header kept)
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
from dataclasses import dataclass

from icmp_wire import (ECHO6_REPLY, ECHO6_REQUEST, ECHO_REPLY, ECHO_REQUEST, IPV6_HEADER_BYTES,
                       icmp_message, ipv4_header, ipv4_packet, ipv6_header, ipv6_pseudo_header,
                       send_stamp, view_ipv4)

IP_PKTINFO = getattr(socket, "IP_PKTINFO", 8)
IP_MTU_DISCOVER, IP_PMTUDISC_DONT = 10, 0


class Sender:
    """Two send paths for IPv4: crafted headers (options, odd lengths)
    through an IP_HDRINCL socket, and plain messages through an ICMP socket
    that lets the kernel fragment large replies. IPv6 goes out with its
    header crafted (hop limit, source and checksum as the action says)."""

    def __init__(self):
        self.hdrincl = socket.socket(socket.AF_INET, socket.SOCK_RAW, socket.IPPROTO_RAW)
        self.plain = socket.socket(socket.AF_INET, socket.SOCK_RAW, socket.IPPROTO_ICMP)
        self.plain.setsockopt(socket.IPPROTO_IP, socket.IP_TTL, 64)
        self.plain.setsockopt(socket.IPPROTO_IP, IP_MTU_DISCOVER, IP_PMTUDISC_DONT)
        self.plain.setsockopt(socket.SOL_SOCKET, socket.SO_SNDBUF, 1 << 20)
        self.hdrincl6 = socket.socket(socket.AF_INET6, socket.SOCK_RAW, socket.IPPROTO_RAW)
        self.hdrincl6.setsockopt(socket.SOL_SOCKET, socket.SO_SNDBUF, 1 << 20)
        self.lan = None
        self.lan6 = None

    def open_lan(self, netns):
        """Header-including sockets in the LAN namespace: a socket stays in
        the namespace it was made in."""
        import ctypes
        libc = ctypes.CDLL(None, use_errno=True)
        with open("/proc/self/ns/net") as home, open("/run/netns/" + netns) as there:
            if libc.setns(there.fileno(), 0x40000000) != 0:
                raise OSError(ctypes.get_errno(), "setns " + netns)
            try:
                self.lan = socket.socket(socket.AF_INET, socket.SOCK_RAW, socket.IPPROTO_RAW)
                self.lan6 = socket.socket(socket.AF_INET6, socket.SOCK_RAW, socket.IPPROTO_RAW)
            finally:
                if libc.setns(home.fileno(), 0x40000000) != 0:
                    raise OSError(ctypes.get_errno(), "setns back")

    def send(self, src, dst, payload, option_bytes=0, ttl=64, lan=False):
        if lan and self.lan is None:
            raise OSError("no LAN namespace configured")
        if ":" in dst:
            packet = ipv6_header(src, dst, len(payload), ttl) + payload
            (self.lan6 if lan else self.hdrincl6).sendto(packet, (dst, 0))
            return
        if lan:
            self.lan.sendto(ipv4_packet(src, dst, payload, ttl, option_bytes), (dst, 0))
            return
        if option_bytes or ttl != 64 or len(payload) < 8 or len(payload) + 20 <= 1400:
            self.hdrincl.sendto(ipv4_packet(src, dst, payload, ttl, option_bytes), (dst, 0))
            return
        pktinfo = struct.pack("@i4s4s", 0, socket.inet_aton(src), b"\0" * 4)
        ancillary = [(socket.IPPROTO_IP, IP_PKTINFO, pktinfo)]
        self.plain.sendmsg([payload], ancillary, 0, (dst, 0))


@dataclass(frozen=True)
class Request:
    """An echo request as it arrived; an IPv6 one with its header rebuilt
    from what the socket told (a raw ICMPv6 socket hands over no header)."""
    src: str
    dst: str
    ip_header: bytes
    total_length: int
    tos: int
    ttl: int
    dont_fragment: bool
    icmp: bytes

    @property
    def ipv6(self):
        return ":" in self.dst


def forged_stamp(kind, icmp):
    genuine = send_stamp(icmp)
    value = {"zero": 0, "ones": (1 << 64) - 1, "past": genuine - 1,
             "future": time.monotonic_ns() + 10**9}[kind]
    return struct.pack("<Q", value & ((1 << 64) - 1))


def quoted(action, request):
    """What an error quotes of the request: its IP header and the first
    bytes of its ICMP message (over IPv6 all of it), or what the action puts
    in their place."""
    icmp = request.icmp
    message = bytearray(icmp[: action.get("quote", len(icmp) if request.ipv6 else 8)])
    if "quoted_stamp" in action:
        message[8:16] = forged_stamp(action["quoted_stamp"], icmp)
    if "quoted_type" in action:
        message[0] = action["quoted_type"]
    protocol = socket.IPPROTO_ICMPV6 if request.ipv6 else socket.IPPROTO_ICMP
    if action.get("quoted_udp"):
        # a UDP datagram whose length field holds the request's identifier bytes
        protocol = socket.IPPROTO_UDP
        message = struct.pack("!HH", 40000, 33434) + icmp[4:6] + b"\0\0" + bytes(message[8:])
    if request.ipv6:
        header = ipv6_header(request.src, request.dst, len(icmp), request.ttl, request.tos,
                             protocol)
        header = header[: action.get("quoted_header", IPV6_HEADER_BYTES)]
        if len(header) < IPV6_HEADER_BYTES:
            message = b""
    elif "quoted_options" in action or protocol != socket.IPPROTO_ICMP:
        header = ipv4_header(request.src, request.dst,
                             request.total_length - len(request.ip_header), request.ttl,
                             action.get("quoted_options", 0), protocol)
    else:
        header = request.ip_header
    return bytes(header) + bytes(message)


def message(request, src, icmp_type, code, rest, body, spoil=False):
    """An ICMP message to the request's sender from src; over IPv6 its
    checksum covers the pseudo-header."""
    pseudo = b""
    if request.ipv6:
        pseudo = ipv6_pseudo_header(src, request.src, 8 + len(body))
    return icmp_message(icmp_type, code, rest, body, spoil, pseudo)


def build(action, request, src):
    """Returns the ICMP bytes (IP payload) and the option length for one action."""
    kind = action["do"]
    icmp = request.icmp
    ident, seq = icmp[4:6], icmp[6:8]
    opts = action.get("options", 0)
    if kind == "reply":
        if action.get("foreign"):
            ident = bytes(b ^ 0xFF for b in ident)
        body = icmp[8:]
        if "stamp" in action:
            body = forged_stamp(action["stamp"], icmp) + body[8:]
        reply_type = ECHO6_REPLY if request.ipv6 else ECHO_REPLY
        return message(request, src, reply_type, action.get("code", 0), ident + seq, body,
                       action.get("bad_checksum", False)), opts
    if kind == "error":
        if "gateway" in action:
            rest = socket.inet_aton(action["gateway"])
        else:
            rest = bytes.fromhex(action.get("rest", "00000000"))
        return message(request, src, action["type"], action.get("code", 0), rest,
                       quoted(action, request)), opts
    if kind == "carrying":
        return message(request, src, action["type"], action.get("code", 0), ident + seq,
                       bytes(12)), opts
    if kind == "junk":
        return bytes.fromhex(action["hex"]), opts
    raise ValueError("unknown action " + kind)


# The kernel's receive time of each datagram (struct timespec, CLOCK_REALTIME);
# SCM_TIMESTAMPNS is the same number.
SO_TIMESTAMPNS = getattr(socket, "SO_TIMESTAMPNS", 35)


def arrival(ancillary):
    """When the kernel received the datagram, on the monotonic clock the suite
    reads: the moment the request reached this namespace, however late this
    process came to read it (a busy machine). None without a stamp."""
    for level, kind, value in ancillary:
        if level == socket.SOL_SOCKET and kind == SO_TIMESTAMPNS and len(value) >= 16:
            sec, nsec = struct.unpack("@qq", value[:16])
            return time.monotonic() - (time.time() - (sec + nsec / 1e9))
    return None


def receive4(sock):
    data, ancillary, _, _ = sock.recvmsg(70000, 256)
    view = view_ipv4(data)
    return Request(view.source, view.destination, data[:20], view.total_length, view.tos,
                   view.ttl, view.dont_fragment, view.payload), ECHO_REQUEST, arrival(ancillary)


def receive6(sock):
    data, ancillary, _, address = sock.recvmsg(70000, 256)
    dst, hop_limit, traffic_class = None, 0, 0
    for level, kind, value in ancillary:
        if level != socket.IPPROTO_IPV6:
            continue
        if kind == socket.IPV6_PKTINFO:
            dst = socket.inet_ntop(socket.AF_INET6, value[:16])
        elif kind == socket.IPV6_HOPLIMIT:
            hop_limit = struct.unpack("@i", value[:4])[0]
        elif kind == socket.IPV6_TCLASS:
            traffic_class = struct.unpack("@i", value[:4])[0]
    src = address[0]
    header = ipv6_header(src, dst or "::", len(data), hop_limit, traffic_class)
    return Request(src, dst, header, IPV6_HEADER_BYTES + len(data), traffic_class, hop_limit,
                   False, bytes(data)), ECHO6_REQUEST, arrival(ancillary)


def open_receivers():
    recv4 = socket.socket(socket.AF_INET, socket.SOCK_RAW, socket.IPPROTO_ICMP)
    recv6 = socket.socket(socket.AF_INET6, socket.SOCK_RAW, socket.IPPROTO_ICMPV6)
    for option in (socket.IPV6_RECVPKTINFO, socket.IPV6_RECVHOPLIMIT, socket.IPV6_RECVTCLASS):
        recv6.setsockopt(socket.IPPROTO_IPV6, option, 1)
    for sock in (recv4, recv6):
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 8 << 20)
        sock.setsockopt(socket.SOL_SOCKET, SO_TIMESTAMPNS, 1)
    return {recv4: receive4, recv6: receive6}


def main():
    with open(sys.argv[1]) as f:
        config = json.load(f)
    logdir = sys.argv[2]
    receivers = open_receivers()
    sender = Sender()
    if "_lan_netns" in config:
        sender.open_lan(config.pop("_lan_netns"))
    counts = {}
    queue = []  # (due, order, action, request)
    order = 0
    logs = {}
    print("ready", flush=True)
    while True:
        timeout = None
        if queue:
            timeout = max(0.0, queue[0][0] - time.monotonic())
        readable, _, _ = select.select(list(receivers) + [sys.stdin], [], [], timeout)
        if sys.stdin in readable and not sys.stdin.buffer.read1(100):
            return  # the suite closed our standard input: stop
        for sock in receivers:
            if sock not in readable:
                continue
            now = time.monotonic()
            request, request_type, stamp = receivers[sock](sock)
            dst, icmp = request.dst, request.icmp
            if dst not in config or len(icmp) < 8 or icmp[0] != request_type:
                continue
            number = counts.get(dst, 0)
            counts[dst] = number + 1
            if dst not in logs:
                logs[dst] = open(os.path.join(logdir, dst + ".jsonl"), "a")
            entry = {
                "t": now if stamp is None else min(now, stamp),  # its arrival
                "n": number,
                "src": request.src,
                "ip_len": request.total_length,
                "tos": request.tos,
                "ttl": request.ttl,
                "df": request.dont_fragment,
                "ip_header": request.ip_header.hex(),
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
                    heapq.heappush(queue, (due, order, action, request))
        while queue and queue[0][0] <= time.monotonic():
            _, _, action, request = heapq.heappop(queue)
            src = action.get("src", request.dst)
            # built when due: a forged stamp "in the future" is so when it is sent
            try:
                if action["do"] == "flood":
                    types = action["types"]
                    for k in range(action["count"]):
                        payload = message(request, src, types[k % len(types)], 0,
                                          request.icmp[4:8], bytes(12))
                        sender.send(src, request.src, payload)
                    continue
                payload, opts = build(action, request, src)
                sender.send(src, request.src, payload, opts, action.get("ttl", 64),
                            action.get("lan", False))
            except (OSError, ValueError) as err:
                print("send failed: %s" % err, file=sys.stderr, flush=True)


if __name__ == "__main__":
    main()
