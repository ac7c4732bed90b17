"""IPv6 cases of the namespace suite: ICMPv6 echo against real kernels on the
lab's IPv6 addresses (network6.py) and against the crafted responder, by
root through the raw socket and by nobody through the ICMPv6 datagram
socket. Wine has no ICMPv6 sockets: there only the last case runs, which
shows how vexmo.exe fails without them."""
import json

from expect import IPV4_HEADERS, IPV6_HEADERS, UNREACHABLE, exact, opening, replies, reply
from expect import run_lines, summary, timeouts
from json_twins import icmp_told
from network import PEER
from network6 import (HOST6, MTU6_NET, PEER6, PEER6_ABSENT, PEER6_ABSENT_TWIN, PEER6_NET,
                      PROHIBIT6_NET, RESPONDER6_NET, ROUTER6_LAN, UNREACHABLE6_NET)
from privilege import PING_SOCKET
from stress_cases import add_forged_stamps, add_real_senders
from table import NO_TAGS, SHARE, TWIN, Need, echo, error
from wire_checks import count, icmp_length, seqs, tos

HOP_LIMIT_EXCEEDED = "%s: ICMP: Time Exceeded, Reason: Hop limit exceeded in transit"
PACKET_TOO_BIG = "ICMP: Packet Too Big, MTU: 1280"

# Every ICMPv6 error the responder crafts (type, code, the 4 bytes after the
# checksum) with the line it draws ({a} is the responder's address) and the
# tags of the raw socket's case.
CRAFTED_ERRORS6 = [
    (1, 2, "00000000", UNREACHABLE + "Beyond scope of source address", NO_TAGS),
    (1, 5, "00000000", UNREACHABLE + "Source address failed ingress/egress policy", SHARE),
    (1, 6, "00000000", UNREACHABLE + "Reject route to destination", NO_TAGS),
    (1, 7, "00000000", UNREACHABLE + "Unknown code 7", NO_TAGS),
    (1, 255, "00000000", UNREACHABLE + "Unknown code 255", NO_TAGS),
    (2, 0, "00000578", "ICMP: Packet Too Big, MTU: 1400", SHARE),
    (2, 0, "ffffffff", "ICMP: Packet Too Big, MTU: 4294967295", NO_TAGS),
    (3, 0, "00000000", "{a}: ICMP: Time Exceeded, Reason: Hop limit exceeded in transit", SHARE),
    (3, 1, "00000000", "{a}: ICMP: Time Exceeded, Reason: Fragment reassembly time exceeded", NO_TAGS),
    (3, 7, "00000000", "{a}: ICMP: Time Exceeded, Reason: Unknown code 7", NO_TAGS),
    (4, 0, "00000000", "ICMP: Parameter Problem", NO_TAGS),
    (4, 2, "0000002c", "ICMP: Parameter Problem", SHARE),
]
# The rows the datagram socket's cases take (the kernel hands it the same),
# and the tags of those cases.
DATAGRAM_SOCKET_ERRORS6 = {
    (1, 5): NO_TAGS,
    (2, 0): SHARE,
    (3, 1): NO_TAGS,
    (4, 2): NO_TAGS,
}

# 2000 messages with our identifier and sequence but of types that answer
# nothing, for each request: our own request type, listener and neighbour
# discovery messages (their hop limit below 255 makes the kernel ignore
# them), node information and types nobody uses.
FLOOD_TYPES6 = [128, 130, 131, 132, 135, 136, 139, 140, 143, 100, 127, 200, 201, 255]


def run6(host, lines, sent, received, size=56):
    return run_lines(host, lines, sent, received, size, IPV6_HEADERS)


def cannot_resolve(host, headers):
    return [opening(host, headers=headers),
            exact("Can not resolve IP address for %s" % host)] + summary(0, 0)


class OnTheWire6:
    """Runs the case while sniff6.py watches its destination on the peer,
    then checks the hop limit and traffic class every request arrived with
    (behind one router)."""

    def __init__(self, destination, hop_limit, traffic_class, count):
        self.destination = destination
        self.hop_limit = hop_limit
        self.traffic_class = traffic_class
        self.count = count

    def run(self, case, suite):
        sniffer = suite.lab.start_helper("peer", "sniff6.py", self.destination)
        ready = sniffer.stdout.readline().strip() == "ready"
        if case.unprivileged:
            result = suite.unprivileged.run(case.unprivileged, case.args, case.limit)
        else:
            result = suite.program.run(case.args, case.limit)
        seen = [json.loads(line) for line in suite.lab.finish_helper(sniffer).splitlines()
                if line.strip()]
        if not ready:
            result.problems.append("the sniffer on the peer did not start")
        if len(seen) != self.count:
            result.problems.append("%d requests reached %s, expected %d"
                                   % (len(seen), self.destination, self.count))
        for i, request in enumerate(seen):
            if request["hop_limit"] != self.hop_limit:
                result.problems.append("request %d: hop limit %d, expected %d"
                                       % (i, request["hop_limit"], self.hop_limit))
            if request["traffic_class"] != self.traffic_class:
                result.problems.append("request %d: traffic class %#04x, expected %#04x"
                                       % (i, request["traffic_class"], self.traffic_class))
        return result


def add_cases(table):
    def add(name, args, expect, **kw):
        needs = tuple(kw.pop("needs", ())) + (Need.ICMPV6,)
        return table.add("IPv6: " + name, args, expect, needs=needs, **kw)

    def unprivileged(name, args, expect, **kw):
        return add("unprivileged, ping socket: " + name, args, expect, unprivileged=PING_SOCKET,
                   program_role=PING_SOCKET.role, needs=(Need.POSIX_BACKEND,), **kw)

    # -------------------------------------------------------- echo replies

    add("loopback ::1 answers (own request skipped)", ["-c", "2", "::1"],
        run6("::1", replies("::1", 2, 64), 2, 2), tags=SHARE)
    add("own address answers", ["-c", "2", HOST6], run6(HOST6, replies(HOST6, 2, 64), 2, 2))
    add("the router, a neighbour on the LAN, answers", ["-c", "1", ROUTER6_LAN],
        run6(ROUTER6_LAN, [reply(ROUTER6_LAN, 0, 64)], 1, 1))
    add("peer through the router: replies, hop limit decremented, pause after each",
        ["-c", "3", PEER6], run6(PEER6, replies(PEER6, 3), 3, 3), elapsed=(2.0, 2.6),
        tags=SHARE | TWIN)

    # -------------------------------------------------------- errors from real kernels

    address = PEER6_NET + "30"
    add("-i 1: hop limit exceeded at the router, counted, paused", ["-i", "1", "-c", "2", address],
        run6(address, [exact(HOP_LIMIT_EXCEEDED % ROUTER6_LAN)] * 2, 2, 2), elapsed=(1.0, 1.6),
        tags=SHARE)

    # A request larger than the link is sent in fragments; the error about
    # the first quotes its Fragment header before the ICMPv6 header.
    address = PEER6_NET + "32"
    add("-i 1 -n 2000: hop limit exceeded, the error quoting the first fragment",
        ["-i", "1", "-n", "2000", "-c", "2", address],
        run6(address, [exact(HOP_LIMIT_EXCEEDED % ROUTER6_LAN)] * 2, 2, 2, size=2000),
        elapsed=(1.0, 1.6), tags=SHARE)

    for address, reason, tags in [
            (UNREACHABLE6_NET + "5", "No route to destination", SHARE),
            (PROHIBIT6_NET + "5", "Communication with destination administratively prohibited", NO_TAGS),
            (PEER6_NET + "16", "Communication with destination administratively prohibited", NO_TAGS),
            (PEER6_NET + "13", "Port unreachable", SHARE | TWIN)]:
        add("router: %s (%s)" % (reason, address), ["-c", "2", address],
            run6(address, [exact(UNREACHABLE + reason)] * 2, 2, 2), tags=tags)

    # Linux gives up on neighbour solicitation after about 3 s: a wait of
    # the default 3000 ms would race it.
    absent = PEER6_ABSENT_TWIN if table.twin else PEER6_ABSENT
    add("a neighbour that never answers: address unreachable",
        ["-w", "6000", "-c", "1", absent],
        run6(absent, [exact(UNREACHABLE + "Address unreachable")], 1, 1),
        elapsed=(2.5, 5.0), tags=SHARE)

    # The first request learns the path MTU; the stack then fragments the
    # second, which is answered.
    # The --json twins get destinations of their own: the host keeps the
    # path MTU it learns per destination.
    address = MTU6_NET + ("5" if table.twin else "2")
    add("-n 1400 across the MTU of 1280: packet too big, then fragmented and answered",
        ["-n", "1400", "-c", "2", address],
        run6(address, [exact(PACKET_TOO_BIG), reply(address, 1)], 2, 2, size=1400),
        checks=[icmp_told(mtu=1280)], tags=SHARE | TWIN)

    address = MTU6_NET + ("6" if table.twin else "4")
    add("-f -n 1400 across the MTU of 1280: packet too big, then the send is refused",
        ["-f", "-n", "1400", "-c", "2", address],
        run6(address, [exact(PACKET_TOO_BIG), exact("Error 10040.")], 2, 1, size=1400),
        checks=[icmp_told(mtu=1280)], tags=SHARE)

    address = PEER6_NET + "20"
    add("a silent peer (dropped by the router): timeouts without pause",
        ["-w", "400", "-c", "2", address], run6(address, timeouts(2), 2, 0), elapsed=(0.8, 1.9),
        tags=SHARE)

    # -------------------------------------------------------- the wire

    for args, destination, hop_limit, traffic_class, tags in [
            (["-c", "2"], PEER6_NET + "35", 63, 0, NO_TAGS),
            (["-i", "5", "-t", "2:d:t", "-c", "2"], PEER6_NET + "36", 4, 0x58, SHARE),
            (["-i", "0x30", "-t", "7", "-c", "1"], PEER6_NET + "37", 47, 0xE0, NO_TAGS)]:
        sent = int(args[args.index("-c") + 1])
        add("%s: hop limit %d and traffic class %#04x on the wire"
            % (" ".join(args[:-2]) or "no options", hop_limit, traffic_class),
            args + [destination],
            run6(destination, replies(destination, sent), sent, sent),
            driver=OnTheWire6(destination, hop_limit, traffic_class, sent),
            needs=(Need.OTHER_NAMESPACE,), tags=tags)

    # -------------------------------------------------------- names and the family

    add("an AAAA-only name is IPv6", ["-c", "1", "peer6.vxnet"],
        [opening("peer6.vxnet", headers=IPV6_HEADERS), reply(PEER6, 0)] + summary(1, 1), tags=SHARE)
    add("a name with both is IPv4, as before", ["-c", "1", "dual.vxnet"],
        [opening("dual.vxnet", headers=IPV4_HEADERS), reply(PEER, 0)] + summary(1, 1))
    add("-6: a name with both is IPv6", ["-6", "-c", "1", "dual.vxnet"],
        [opening("dual.vxnet", headers=IPV6_HEADERS), reply(PEER6, 0)] + summary(1, 1), tags=SHARE)
    for args, host, headers, tags in [
            (["-4"], "peer6.vxnet", IPV4_HEADERS, SHARE),
            (["-4"], "::1", IPV4_HEADERS, NO_TAGS),
            (["-6"], PEER, IPV6_HEADERS, NO_TAGS),
            (["-6"], "localhost", IPV6_HEADERS, SHARE | TWIN)]:
        add("%s %s cannot be resolved" % (args[0], host), args + ["-c", "3", host],
            cannot_resolve(host, headers), elapsed=(0, 1.0), tags=tags)

    # -------------------------------------------------------- nobody, through the ping socket

    unprivileged("loopback ::1 answers", ["-c", "2", "::1"],
                 run6("::1", replies("::1", 2, 64), 2, 2), tags=SHARE)
    unprivileged("peer through the router", ["-c", "2", PEER6],
                 run6(PEER6, replies(PEER6, 2), 2, 2), elapsed=(1.0, 1.6), tags=SHARE | TWIN)
    address = PEER6_NET + "31"
    unprivileged("-i 1: hop limit exceeded at the router", ["-i", "1", "-c", "2", address],
                 run6(address, [exact(HOP_LIMIT_EXCEEDED % ROUTER6_LAN)] * 2, 2, 2),
                 tags=SHARE | TWIN)
    unprivileged("an AAAA-only name is IPv6", ["-c", "1", "peer6.vxnet"],
                 [opening("peer6.vxnet", headers=IPV6_HEADERS), reply(PEER6, 0)] + summary(1, 1))
    unprivileged("-6: a name with both is IPv6", ["-6", "-c", "1", "dual.vxnet"],
                 [opening("dual.vxnet", headers=IPV6_HEADERS), reply(PEER6, 0)] + summary(1, 1))
    address = PEER6_NET + "33"
    unprivileged("-i 1 -n 2000: hop limit exceeded, the error quoting the first fragment",
                 ["-i", "1", "-n", "2000", "-c", "2", address],
                 run6(address, [exact(HOP_LIMIT_EXCEEDED % ROUTER6_LAN)] * 2, 2, 2, size=2000))
    for address, reason, tags in [
            (UNREACHABLE6_NET + "6", "No route to destination", SHARE),
            (PROHIBIT6_NET + "6", "Communication with destination administratively prohibited", NO_TAGS),
            (PEER6_NET + "13", "Port unreachable", NO_TAGS)]:
        unprivileged("router: %s (%s)" % (reason, address), ["-c", "2", address],
                     run6(address, [exact(UNREACHABLE + reason)] * 2, 2, 2), tags=tags)
    unprivileged("a neighbour that never answers: address unreachable",
                 ["-w", "6000", "-c", "1", PEER6_ABSENT],
                 run6(PEER6_ABSENT, [exact(UNREACHABLE + "Address unreachable")], 1, 1))
    address = MTU6_NET + ("7" if table.twin else "3")
    unprivileged("-n 1400 across the MTU of 1280: packet too big, then answered",
                 ["-n", "1400", "-c", "2", address],
                 run6(address, [exact(PACKET_TOO_BIG), reply(address, 1)], 2, 2, size=1400),
                 tags=SHARE)
    address = PEER6_NET + "20"
    unprivileged("a silent peer: timeouts", ["-w", "400", "-c", "2", address],
                 run6(address, timeouts(2), 2, 0), tags=SHARE)
    destination = PEER6_NET + "38"
    unprivileged("-i 5 -t 2:d:t: hop limit 4 and traffic class 0x58 on the wire",
                 ["-i", "5", "-t", "2:d:t", "-c", "1", destination],
                 run6(destination, [reply(destination, 0)], 1, 1),
                 driver=OnTheWire6(destination, 4, 0x58, 1), tags=SHARE)

    # -------------------------------------------------------- the crafted responder

    responder6 = table.responder6
    address = responder6(echo())
    add("responder: replies, seq 0 1 2, no pause after the last",
        ["-c", "3", address], run6(address, replies(address, 3), 3, 3),
        wire=address, wire_checks=[seqs(0, 1, 2), icmp_length(64), tos(0)],
        gaps=[(1.0, 1.5)] * 2, tags=SHARE)

    address = responder6(echo(at=100), echo(at=400))
    add("duplicate replies: the duplicate is not the next answer", ["-c", "3", address],
        run6(address, replies(address, 3, rtt_range=(100, 390)), 3, 3),
        wire=address, wire_checks=[seqs(0, 1, 2)])

    address = responder6(echo(foreign=True))
    add("replies with a foreign identifier only: timeouts", ["-c", "2", "-w", "400", address],
        run6(address, timeouts(2), 2, 0), wire=address, wire_checks=[seqs(0, 0)])

    address = responder6(echo(foreign=True), echo(at=80))
    add("a foreign identifier first, ours behind it", ["-c", "1", address],
        run6(address, [reply(address, 0, rtt_range=(80, 700))], 1, 1), wire=address, tags=SHARE)

    add_forged_stamps(add, responder6, run6)

    # Hop limits as they arrive: sent from the LAN, where no router lowers them.
    for hop_limit, tags in [
            (0, SHARE),
            (1, NO_TAGS),
            (255, NO_TAGS)]:
        address = responder6(echo(ttl=hop_limit, lan=True))
        add("reply arriving with hop limit %d prints it" % hop_limit, ["-c", "1", address],
            run6(address, [reply(address, 0, hop_limit)], 1, 1), wire=address, tags=tags)

    address = responder6(echo(code=255))
    add("echo reply with code 255 is a reply", ["-c", "1", address],
        run6(address, [reply(address, 0)], 1, 1), wire=address)

    # A late echo reply follows every error: it must be discarded, not taken
    # as the answer to the next request.
    for icmp_type, code, rest, text, tags in CRAFTED_ERRORS6:
        address = responder6(error(icmp_type, code, rest=rest), echo(at=50))
        line = exact(text.format(a=address))
        add("crafted type %d code %d (%s)" % (icmp_type, code, rest), ["-c", "2", address],
            run6(address, [line, line], 2, 2), wire=address, wire_checks=[seqs(0, 1)], tags=tags)

    # The identifier stands at byte 4 of the quoted request, behind a whole
    # IPv6 header: a quote cut before its end matches nothing.
    for what, action, tags in [
            ("half an IPv6 header", error(1, 0, quoted_header=20), SHARE),
            ("no byte of the request", error(1, 0, quote=0), NO_TAGS),
            ("4 bytes of the request", error(3, 0, quote=4), NO_TAGS),
            ("a UDP datagram whose length field holds our identifier", error(1, 4, quoted_udp=True), NO_TAGS),
            ("our identifier with a forged send stamp", error(1, 3, quoted_stamp="past"), SHARE),
            ("an echo reply carrying our identifier", error(1, 3, quoted_type=129), NO_TAGS)]:
        address = responder6(action, echo(at=80))
        add("error quoting %s: skipped" % what, ["-c", "1", address],
            run6(address, [reply(address, 0, rtt_range=(80, 700))], 1, 1), wire=address,
            tags=tags)
    for what, quote, tags in [
            ("6 bytes of the request", 6, NO_TAGS),
            ("12 bytes of the request", 12, NO_TAGS),
            ("the whole request, its send stamp included", None, SHARE)]:
        action = error(1, 3) if quote is None else error(1, 3, quote=quote)
        address = responder6(action, echo(at=80))
        add("error quoting %s: the answer" % what, ["-c", "2", address],
            run6(address, [exact(UNREACHABLE + "Address unreachable")] * 2, 2, 2),
            wire=address, wire_checks=[seqs(0, 1)], tags=tags)

    for icmp_type, tags in [
            (128, SHARE),
            (200, NO_TAGS)]:
        address = responder6(dict(at=0, do="carrying", type=icmp_type), echo(at=100))
        add("type %d carrying our identifier is not the answer" % icmp_type, ["-c", "1", address],
            run6(address, [reply(address, 0, rtt_range=(100, 600))], 1, 1), wire=address,
            tags=tags)

    # The kernel keeps most of them from the wait (ICMP6_FILTER); whatever
    # passes, the wait reads through. Alone: the burst holds the responder up.
    address = responder6(dict(at=0, do="flood", count=2000, types=FLOOD_TYPES6), echo(at=300))
    add("2000 messages with our identifier of other types, then the reply", ["-c", "2", address],
        run6(address, replies(address, 2, rtt_range=(300, 1500)), 2, 2),
        wire=address, wire_checks=[seqs(0, 1)], solo=True, tags=SHARE)

    add_real_senders(add, responder6, run6, PEER6, RESPONDER6_NET + "fa",
                     error(3, 0, src=PEER6), exact(HOP_LIMIT_EXCEEDED % PEER6))

    # Unlike ICMP, the kernel checks an ICMPv6 checksum before any socket
    # reads the message: a spoiled reply never ends the wait.
    address = responder6(echo(bad_checksum=True))
    add("reply with a spoiled checksum alone: timeouts", ["-c", "2", "-w", "400", address],
        run6(address, timeouts(2), 2, 0), wire=address, wire_checks=[seqs(0, 0)])
    address = responder6(echo(bad_checksum=True), echo(at=150))
    add("reply with a spoiled checksum, the genuine one behind it answers", ["-c", "1", address],
        run6(address, [reply(address, 0, rtt_range=(150, 700))], 1, 1), wire=address,
        wire_checks=[count(1)], tags=SHARE)

    # nobody, through the ping socket: what the kernel lets through, vexmo
    # judges alike

    address = responder6(echo())
    unprivileged("responder: replies, identifier on the wire, pause after each",
                 ["-c", "3", address], run6(address, replies(address, 3), 3, 3),
                 wire=address, wire_checks=[seqs(0, 1, 2), icmp_length(64)],
                 gaps=[(1.0, 1.5)] * 2, tags=SHARE)
    address = responder6(echo(at=100), echo(at=400))
    unprivileged("duplicate replies: the duplicate is not the next answer", ["-c", "3", address],
                 run6(address, replies(address, 3, rtt_range=(100, 390)), 3, 3),
                 wire=address, wire_checks=[seqs(0, 1, 2)])
    address = responder6(echo(foreign=True), echo(stamp="past"), echo(at=80))
    unprivileged("a foreign identifier and a forged stamp first, ours behind them",
                 ["-c", "1", address],
                 run6(address, [reply(address, 0, rtt_range=(80, 700))], 1, 1), wire=address,
                 tags=SHARE)
    for icmp_type, code, rest, text, _ in CRAFTED_ERRORS6:
        if (icmp_type, code) not in DATAGRAM_SOCKET_ERRORS6 or rest == "ffffffff":
            continue
        address = responder6(error(icmp_type, code, rest=rest), echo(at=50))
        line = exact(text.format(a=address))
        unprivileged("crafted type %d code %d, a late reply behind it" % (icmp_type, code),
                     ["-c", "2", address], run6(address, [line, line], 2, 2),
                     wire=address, wire_checks=[seqs(0, 1)],
                     tags=DATAGRAM_SOCKET_ERRORS6[icmp_type, code])
    address = responder6(error(1, 3, quoted_stamp="past"), echo(at=80))
    unprivileged("error quoting our identifier with a forged send stamp: skipped",
                 ["-c", "1", address],
                 run6(address, [reply(address, 0, rtt_range=(80, 700))], 1, 1), wire=address)
    address = responder6(echo(bad_checksum=True), echo(at=150))
    unprivileged("reply with a spoiled checksum, the genuine one behind it answers",
                 ["-c", "1", address],
                 run6(address, [reply(address, 0, rtt_range=(150, 700))], 1, 1), wire=address,
                 wire_checks=[count(1)])

    # -------------------------------------------------------- Wine

    # Every request fails on its own, as with any socket that could not be
    # opened; the IPv4 cases above show that nothing else changed.
    table.add("IPv6 under Wine: no ICMPv6 socket, every request fails", ["-6", "-c", "3", "::1"],
              run6("::1", [exact("Error 10038.")] * 3, 3, 0), elapsed=(0, 3.0),
              needs=(Need.NO_ICMPV6,))
