"""Cases that run the program as nobody (privilege.py says how): replies,
errors from the routers and timeouts must print what the raw socket prints
(run_suite.py -k unprivileged for these alone). They need the POSIX
backend: a program started through a loader skips them."""
from main_cases import CRAFTED_ERRORS, crafted_error
from expect import (IPV6_HEADERS, UNREACHABLE, exact, redirect, replies, reply, run_lines,
                    time_exceeded, timeouts)
from network import PEER, PEER_NET, ROUTER2_FAR, ROUTER2_LAN, ROUTER_LAN, SMALL_NET
from network6 import PEER6
from privilege import (CAPABILITY, NO_SOCKET, PING_SOCKET, SET_UID_ROOT, HeldIdentifierDriver,
                       holds_nothing, ping_socket_with_pid)
from table import NO_TAGS, SHARE, TWIN, Need, SaysOnStderr, echo, error
from wire_checks import count, icmp_length, seqs, tos, ttl_seen

# Of the crafted errors, those the kernel hands to a datagram socket (not
# unreachable codes above 15, fragment reassembly time exceeded (11/1), nor
# fragmentation needed without -f), and the tags of their cases here.
DATAGRAM_SOCKET_ERRORS = {
    (4, 0): SHARE,
    (12, 1): NO_TAGS,
    (3, 15): NO_TAGS,
    (11, 7): SHARE,
    (5, 3): NO_TAGS,
}

# What a run without any socket says first on standard error.
NO_SOCKET_HINT = ("vexmo: no ICMP socket: run as root, give the program the capability "
                  "(setcap cap_net_raw+ep), or admit your group in net.ipv4.ping_group_range; "
                  "see Privileges in the README")


def add_cases(table):
    responder, routed = table.responder, table.routed

    def add(name, args, expect, way, checks=(), needs_icmpv6=False, **kw):
        checks = list(checks) + ([holds_nothing] if way.probe else [])
        needs = (Need.POSIX_BACKEND,) + ((Need.ICMPV6,) if needs_icmpv6 else ())
        return table.add("unprivileged, %s: %s" % (way.name, name), args, expect,
                         unprivileged=way, program_role=way.role, checks=checks, needs=needs,
                         **kw)

    # ping socket: what the raw-socket cases print, printed by nobody

    add("peer through router: replies with their Ttl", ["-c", "3", PEER],
        run_lines(PEER, replies(PEER, 3), 3, 3), PING_SOCKET,
        elapsed=(2.0, 2.6))

    address = responder(echo())
    add("responder: replies, identifier on the wire, pause after each", ["-c", "3", address],
        run_lines(address, replies(address, 3), 3, 3), PING_SOCKET,
        wire=address, wire_checks=[seqs(0, 1, 2), icmp_length(64), tos(0)], gaps=[(1.0, 1.5)] * 2,
        tags=SHARE | TWIN)

    add("loopback answers", ["-c", "2", "127.0.0.1"],
        run_lines("127.0.0.1", replies("127.0.0.1", 2, 64), 2, 2),
        PING_SOCKET)

    address = responder(echo())
    add("-i 0x30 -t 2:d:t -f reach the wire",
        ["-i", "0x30", "-t", "2:d:t", "-f", "-c", "1", address],
        run_lines(address, [reply(address, 0)], 1, 1), PING_SOCKET, wire=address,
        wire_checks=[tos(0x58), ttl_seen(47)], tags=SHARE)

    address = responder(echo(at=100), echo(at=400))
    add("duplicate replies: the duplicate is not the next answer", ["-c", "3", address],
        run_lines(address, replies(address, 3, rtt_range=(100, 390)), 3, 3), PING_SOCKET,
        wire=address, wire_checks=[seqs(0, 1, 2)])

    add("-i 1: time exceeded from the router", ["-i", "1", "-c", "2", PEER_NET + ".31"],
        run_lines(PEER_NET + ".31", [time_exceeded(ROUTER_LAN)] * 2, 2, 2), PING_SOCKET,
        elapsed=(1.0, 1.6), tags=SHARE)

    # Rejected by the router's filter: a route error (an unreachable route)
    # would share the router's rate state for this host with the redirect
    # case and silence its redirects.
    for destination, reason, tags in [
            (PEER_NET + ".10", "Network unreachable", NO_TAGS),
            (PEER_NET + ".11", "Host unreachable", SHARE | TWIN),
            (PEER_NET + ".13", "Port unreachable", NO_TAGS),
            (PEER_NET + ".16", "Communication administratively prohibited", NO_TAGS)]:
        add("router: %s (%s)" % (reason, destination), ["-c", "2", destination],
            run_lines(destination, [exact(UNREACHABLE + reason)] * 2, 2, 2), PING_SOCKET,
            tags=tags)

    add("real redirect toward the second router: the gateway", ["-c", "2", ROUTER2_FAR],
        run_lines(ROUTER2_FAR, [redirect(ROUTER2_LAN)] * 2, 2, 2), PING_SOCKET, tags=SHARE)

    small = SMALL_NET + (".5" if table.twin else ".2")  # a path MTU of its own, as in main_cases.py
    add("-f across the 576 MTU: fragmentation needed, then the send is refused",
        ["-f", "-n", "1000", "-c", "2", small],
        run_lines(small, [exact(UNREACHABLE + "Fragmentation needed and DF set"),
                          exact("Error 10040.")], 2, 1, size=1000), PING_SOCKET, tags=SHARE)

    address = responder()
    add("silence: timeouts without pause", ["-w", "300", "-c", "3", address],
        run_lines(address, timeouts(3), 3, 0), PING_SOCKET, wire=address,
        wire_checks=[seqs(0, 0, 0)],
        gaps=[(0.28, 0.95)] * 2, tags=SHARE)

    address = responder(echo(at=300))
    add("-w 0: no deadline", ["-w", "0", "-c", "2", address],
        run_lines(address, replies(address, 2, rtt_range=(300, 800)), 2, 2),
        PING_SOCKET, wire=address)

    add("-n 65536 cannot be sent", ["-c", "2", "-n", "65536", PEER],
        run_lines(PEER, [exact("Error 10040.")] * 2, 2, 0, size=65536), PING_SOCKET,
        elapsed=(0, 0.8), tags=SHARE)

    address = responder(echo())
    add("-n 65506: the largest request", ["-n", "65506", "-c", "1", address],
        run_lines(address, [reply(address, 0)], 1, 1, size=65506), PING_SOCKET, wire=address,
        wire_checks=[icmp_length(65514)])

    for icmp_type, code, text, _ in CRAFTED_ERRORS:
        if (icmp_type, code) not in DATAGRAM_SOCKET_ERRORS:
            continue
        address = responder(crafted_error(icmp_type, code), echo(at=50))
        line = exact(text.format(a=address))
        add("crafted type %d code %d, a late reply behind it" % (icmp_type, code),
            ["-c", "2", address], run_lines(address, [line, line], 2, 2), PING_SOCKET,
            wire=address, wire_checks=[seqs(0, 1)], tags=DATAGRAM_SOCKET_ERRORS[icmp_type, code])

    # An error is the answer only when it quotes this request: the kernel
    # hands over those quoting an echo request with the socket's identifier,
    # and the send stamp is vexmo's to compare once the quote reaches it.
    address = responder(error(3, 1, quote=64, quoted_stamp="past"), echo(at=80))
    add("destination unreachable quoting our identifier with a forged send stamp: skipped",
        ["-c", "1", address],
        run_lines(address, [reply(address, 0, rtt_range=(80, 700))], 1, 1), PING_SOCKET,
        wire=address)
    address = responder(error(3, 1, quote=64), echo(at=80))
    add("destination unreachable quoting the whole request: the answer", ["-c", "2", address],
        run_lines(address, [exact(UNREACHABLE + "Host unreachable")] * 2, 2, 2), PING_SOCKET,
        wire=address, wire_checks=[seqs(0, 1)], tags=SHARE)

    # The kernel checks the ICMP checksum before a datagram socket gets a
    # reply, while a raw socket has its copy first (the hostile peers'
    # table): a spoiled reply never ends this wait.
    address = responder(echo(bad_checksum=True), echo(at=150))
    add("reply with a spoiled ICMP checksum never arrives: the genuine one behind it answers",
        ["-c", "1", address], run_lines(address, [reply(address, 0, rtt_range=(150, 700))], 1, 1),
        PING_SOCKET, wire=address, wire_checks=[count(1)], tags=SHARE)

    # The identifier is the low 16 bits of the process id. When they are 0,
    # or another ping socket of the namespace holds them, the program must
    # use the identifier the kernel gives it. The pid is chosen in a pid
    # namespace of the program's own.
    add("identifier 0 (pid 65536): replies", ["-c", "2", "-w", "500", PEER],
        run_lines(PEER, replies(PEER, 2), 2, 2), ping_socket_with_pid(65536), tags=SHARE)
    way = ping_socket_with_pid(40001)
    add("identifier held by another socket without address reuse: replies",
        ["-c", "2", "-w", "500", PEER], run_lines(PEER, replies(PEER, 2), 2, 2), way,
        driver=HeldIdentifierDriver(way, reuse=False, when="first"), tags=SHARE)
    way = ping_socket_with_pid(40002)
    add("identifier taken with address reuse once the program holds it: replies",
        ["-c", "3", "-w", "500", PEER], run_lines(PEER, replies(PEER, 3), 3, 3), way,
        driver=HeldIdentifierDriver(way, reuse=True, when="after"))

    # cap_net_raw+ep and set-uid root: a raw socket, then nothing elevated

    for way in (CAPABILITY, SET_UID_ROOT):
        address = responder(echo())
        add("replies; options applied after the drop reach the wire",
            ["-c", "3", "-t", "7:m", "-i", "200", address],
            run_lines(address, replies(address, 3), 3, 3), way,
            wire=address, wire_checks=[tos(0xE2), ttl_seen(199), seqs(0, 1, 2)], tags=SHARE)
        add("a name resolved after the drop", ["-c", "2", "peer.vxnet"],
            run_lines("peer.vxnet", replies(PEER, 2), 2, 2), way, tags=SHARE)
        # the ICMPv6 socket, too, was opened before the drop
        add("an AAAA-only name resolved after the drop", ["-c", "2", "peer6.vxnet"],
            run_lines("peer6.vxnet", replies(PEER6, 2), 2, 2, headers=IPV6_HEADERS), way,
            needs_icmpv6=True)
        address = routed(PEER_NET + ".32" if way is CAPABILITY else PEER_NET + ".33")
        add("-i 1: time exceeded from the router", ["-i", "1", "-c", "2", address],
            run_lines(address, [time_exceeded(ROUTER_LAN)] * 2, 2, 2), way)

    # neither: no socket, every request fails at once

    add("every request fails", ["-c", "3", PEER],
        run_lines(PEER, [exact("Error 10038.")] * 3, 3, 0), NO_SOCKET, elapsed=(0, 1.0),
        tags=SHARE | TWIN, driver=SaysOnStderr(NO_SOCKET_HINT))
