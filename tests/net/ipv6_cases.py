"""IPv6 cases of the namespace suite: ICMPv6 echo against real kernels on the
lab's IPv6 addresses (network6.py), by root through the raw socket and by
nobody through the ICMPv6 datagram socket. Wine has no ICMPv6 sockets: there
only the last case runs, which shows how vexmo.exe fails without them."""
import json

from expect import IPV4_HEADERS, IPV6_HEADERS, UNREACHABLE, exact, opening, replies, reply
from expect import run_lines, summary, timeouts
from json_twins import icmp_told
from network import PEER
from network6 import (HOST6, MTU6_NET, PEER6, PEER6_ABSENT, PEER6_ABSENT_TWIN, PEER6_NET,
                      PROHIBIT6_NET, ROUTER6_LAN, UNREACHABLE6_NET)
from privilege import PING_SOCKET
from table import Need

HOP_LIMIT_EXCEEDED = "%s: ICMP: Time Exceeded, Reason: Hop limit exceeded in transit"
PACKET_TOO_BIG = "ICMP: Packet Too Big, MTU: 1280"


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
        run6("::1", replies("::1", 2, 64), 2, 2))
    add("own address answers", ["-c", "2", HOST6], run6(HOST6, replies(HOST6, 2, 64), 2, 2))
    add("the router, a neighbour on the LAN, answers", ["-c", "1", ROUTER6_LAN],
        run6(ROUTER6_LAN, [reply(ROUTER6_LAN, 0, 64)], 1, 1))
    add("peer through the router: replies, hop limit decremented, pause after each",
        ["-c", "3", PEER6], run6(PEER6, replies(PEER6, 3), 3, 3), elapsed=(3.0, 3.6))

    # -------------------------------------------------------- errors from real kernels

    address = PEER6_NET + "30"
    add("-i 1: hop limit exceeded at the router, counted, paused", ["-i", "1", "-c", "2", address],
        run6(address, [exact(HOP_LIMIT_EXCEEDED % ROUTER6_LAN)] * 2, 2, 2), elapsed=(2.0, 2.6))

    for address, reason in [
            (UNREACHABLE6_NET + "5", "No route to destination"),
            (PROHIBIT6_NET + "5", "Communication with destination administratively prohibited"),
            (PEER6_NET + "16", "Communication with destination administratively prohibited"),
            (PEER6_NET + "13", "Port unreachable")]:
        add("router: %s (%s)" % (reason, address), ["-c", "2", address],
            run6(address, [exact(UNREACHABLE + reason)] * 2, 2, 2))

    # Linux gives up on neighbour solicitation after about 3 s: a wait of
    # the default 3000 ms would race it.
    absent = PEER6_ABSENT_TWIN if table.twin else PEER6_ABSENT
    add("a neighbour that never answers: address unreachable",
        ["-w", "6000", "-c", "1", absent],
        run6(absent, [exact(UNREACHABLE + "Address unreachable")], 1, 1),
        elapsed=(3.5, 6.0))

    # The first request learns the path MTU; the stack then fragments the
    # second, which is answered.
    # The --json twins get destinations of their own: the host keeps the
    # path MTU it learns per destination.
    address = MTU6_NET + ("5" if table.twin else "2")
    add("-n 1400 across the MTU of 1280: packet too big, then fragmented and answered",
        ["-n", "1400", "-c", "2", address],
        run6(address, [exact(PACKET_TOO_BIG), reply(address, 1)], 2, 2, size=1400),
        checks=[icmp_told(mtu=1280)])

    address = MTU6_NET + ("6" if table.twin else "4")
    add("-f -n 1400 across the MTU of 1280: packet too big, then the send is refused",
        ["-f", "-n", "1400", "-c", "2", address],
        run6(address, [exact(PACKET_TOO_BIG), exact("Error 10040.")], 2, 1, size=1400),
        checks=[icmp_told(mtu=1280)])

    address = PEER6_NET + "20"
    add("a silent peer (dropped by the router): timeouts without pause",
        ["-w", "400", "-c", "2", address], run6(address, timeouts(2), 2, 0), elapsed=(0.8, 1.9))

    # -------------------------------------------------------- the wire

    for args, destination, hop_limit, traffic_class in [
            (["-c", "2"], PEER6_NET + "35", 63, 0),
            (["-i", "5", "-t", "2:d:t", "-c", "2"], PEER6_NET + "36", 4, 0x58),
            (["-i", "0x30", "-t", "7", "-c", "1"], PEER6_NET + "37", 47, 0xE0)]:
        count = int(args[args.index("-c") + 1])
        add("%s: hop limit %d and traffic class %#04x on the wire"
            % (" ".join(args[:-2]) or "no options", hop_limit, traffic_class),
            args + [destination],
            run6(destination, replies(destination, count), count, count),
            driver=OnTheWire6(destination, hop_limit, traffic_class, count),
            needs=(Need.OTHER_NAMESPACE,))

    # -------------------------------------------------------- names and the family

    add("an AAAA-only name is IPv6", ["-c", "1", "peer6.vxnet"],
        [opening("peer6.vxnet", headers=IPV6_HEADERS), reply(PEER6, 0)] + summary(1, 1))
    add("a name with both is IPv4, as before", ["-c", "1", "dual.vxnet"],
        [opening("dual.vxnet", headers=IPV4_HEADERS), reply(PEER, 0)] + summary(1, 1))
    add("-6: a name with both is IPv6", ["-6", "-c", "1", "dual.vxnet"],
        [opening("dual.vxnet", headers=IPV6_HEADERS), reply(PEER6, 0)] + summary(1, 1))
    for args, host, headers in [(["-4"], "peer6.vxnet", IPV4_HEADERS),
                                (["-4"], "::1", IPV4_HEADERS),
                                (["-6"], PEER, IPV6_HEADERS),
                                (["-6"], "localhost", IPV6_HEADERS)]:
        add("%s %s cannot be resolved" % (args[0], host), args + ["-c", "3", host],
            cannot_resolve(host, headers), elapsed=(0, 1.0))

    # -------------------------------------------------------- nobody, through the ping socket

    unprivileged("loopback ::1 answers", ["-c", "2", "::1"],
                 run6("::1", replies("::1", 2, 64), 2, 2))
    unprivileged("peer through the router", ["-c", "2", PEER6],
                 run6(PEER6, replies(PEER6, 2), 2, 2), elapsed=(2.0, 2.6))
    address = PEER6_NET + "31"
    unprivileged("-i 1: hop limit exceeded at the router", ["-i", "1", "-c", "2", address],
                 run6(address, [exact(HOP_LIMIT_EXCEEDED % ROUTER6_LAN)] * 2, 2, 2))
    for address, reason in [(UNREACHABLE6_NET + "6", "No route to destination"),
                            (PROHIBIT6_NET + "6",
                             "Communication with destination administratively prohibited"),
                            (PEER6_NET + "13", "Port unreachable")]:
        unprivileged("router: %s (%s)" % (reason, address), ["-c", "2", address],
                     run6(address, [exact(UNREACHABLE + reason)] * 2, 2, 2))
    unprivileged("a neighbour that never answers: address unreachable",
                 ["-w", "6000", "-c", "1", PEER6_ABSENT],
                 run6(PEER6_ABSENT, [exact(UNREACHABLE + "Address unreachable")], 1, 1))
    address = MTU6_NET + ("7" if table.twin else "3")
    unprivileged("-n 1400 across the MTU of 1280: packet too big, then answered",
                 ["-n", "1400", "-c", "2", address],
                 run6(address, [exact(PACKET_TOO_BIG), reply(address, 1)], 2, 2, size=1400))
    address = PEER6_NET + "20"
    unprivileged("a silent peer: timeouts", ["-w", "400", "-c", "2", address],
                 run6(address, timeouts(2), 2, 0))
    destination = PEER6_NET + "38"
    unprivileged("-i 5 -t 2:d:t: hop limit 4 and traffic class 0x58 on the wire",
                 ["-i", "5", "-t", "2:d:t", "-c", "1", destination],
                 run6(destination, [reply(destination, 0)], 1, 1),
                 driver=OnTheWire6(destination, 4, 0x58, 1))

    # -------------------------------------------------------- Wine

    # Every request fails on its own, as with any socket that could not be
    # opened; the IPv4 cases above show that nothing else changed.
    table.add("IPv6 under Wine: no ICMPv6 socket, every request fails", ["-6", "-c", "3", "::1"],
              run6("::1", [exact("Error 10038.")] * 3, 3, 0), elapsed=(0, 3.0),
              needs=(Need.NO_ICMPV6,))
