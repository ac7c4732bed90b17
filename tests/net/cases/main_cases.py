"""The main case table of the namespace suite: root runs the program on the
host, against real kernels and the crafted responder."""
import re

from expect import (UNREACHABLE, Line, any_lines, exact, opening, redirect, replies, reply,
                    run_lines, summary, time_exceeded, timeouts)
from json_twins import icmp_told
from network import (HOST, NO_ROUTE_NET, PEER, PEER_NET, PROHIBIT_NET, ROUTER2_FAR, ROUTER2_LAN,
                     ROUTER_LAN, SMALL_NET, UNREACHABLE_NET)
from table import NO_TAGS, SHARE, TWIN, SaysOnStderr, echo, error
from wire_checks import count, icmp_length, seqs, shortest_gap, tos, ttl_seen

# Every error type and code the responder crafts, with the line it draws
# ({a} is the responder's address) and the tags of this table's case. The
# other tables take rows from here.
REDIRECT = "ICMP: Redirect, Gateway: 198.18.0.3, Reason: "
CRAFTED_ERRORS = [
    (4, 0, "ICMP: Source Quench", SHARE),
    (12, 0, "ICMP: Parameter Problem", SHARE),
    (12, 1, "ICMP: Parameter Problem", NO_TAGS),
    (3, 5, UNREACHABLE + "Source route failed", SHARE),
    (3, 6, UNREACHABLE + "Destination network unknown", NO_TAGS),
    (3, 7, UNREACHABLE + "Destination host unknown", NO_TAGS),
    (3, 8, UNREACHABLE + "Source host isolated", NO_TAGS),
    (3, 11, UNREACHABLE + "Network unreachable for TOS", NO_TAGS),
    (3, 12, UNREACHABLE + "Host unreachable for TOS", NO_TAGS),
    (3, 14, UNREACHABLE + "Host precedence violation", NO_TAGS),
    (3, 15, UNREACHABLE + "Precedence cutoff in effect", NO_TAGS),
    (3, 16, UNREACHABLE + "Unknown code 16", NO_TAGS),
    (3, 255, UNREACHABLE + "Unknown code 255", SHARE),
    (11, 1, "{a}: ICMP: Time Exceeded, Reason: Fragment reassembly time exceeded", SHARE),
    (11, 7, "{a}: ICMP: Time Exceeded, Reason: Unknown code 7", NO_TAGS),
    (5, 0, REDIRECT + "Redirect datagrams for the Network", SHARE),
    (5, 1, REDIRECT + "Redirect datagrams for the Host", NO_TAGS),
    (5, 2, REDIRECT + "Redirect datagrams for the Type of Service and Network", NO_TAGS),
    (5, 3, REDIRECT + "Redirect datagrams for the Type of Service and Host", NO_TAGS),
    (5, 9, REDIRECT + "Unknown code 9", NO_TAGS),
]

# Destinations whose router answers with an unreachable code, the reason,
# and the tags of the case.
ROUTER_REJECTIONS = [
    (UNREACHABLE_NET + ".5", "Host unreachable", SHARE | TWIN),
    (PROHIBIT_NET + ".5", "Communication administratively prohibited", NO_TAGS),
    (NO_ROUTE_NET + ".1", "Network unreachable", NO_TAGS),
    (PEER_NET + ".10", "Network unreachable", NO_TAGS),
    (PEER_NET + ".11", "Host unreachable", NO_TAGS),
    (PEER_NET + ".12", "Protocol unreachable", NO_TAGS),
    (PEER_NET + ".13", "Port unreachable", SHARE),
    (PEER_NET + ".14", "Network administratively prohibited", NO_TAGS),
    (PEER_NET + ".15", "Host administratively prohibited", NO_TAGS),
    (PEER_NET + ".16", "Communication administratively prohibited", NO_TAGS),
]


def crafted_error(icmp_type, code):
    """The responder's action for an error of this type and code; a
    redirect names the second router."""
    if icmp_type == 5:
        return error(icmp_type, code, gateway=ROUTER2_LAN)
    return error(icmp_type, code)


USAGE_HEAD = [Line("<banner>", re.compile(r".+\Z")), exact("Syntax: vexmo [options] host")]
# Every line of the usage text is checked once, by the unit tests; here its
# first lines show that it comes, and its last line that all of it came.
USAGE = USAGE_HEAD + [any_lines("<the options and the example, as the unit tests check them>")]
USAGE_LAST = " (Don't fragment, TTL 64, Priority 2, Low Delay, High throughput)"


def usage_ends():
    """A check: the usage text came whole, up to its last line."""
    def check(result):
        last = result.stdout.rstrip("\n").split("\n")[-1]
        return [] if last == USAGE_LAST else ["the usage text ends with %r" % last]
    return check


def lines_as_they_happen(first, count):
    """A check: the time line of each of count requests (line first on) came
    about a second after the one before, the first well before the run ended;
    a program that buffered its output would print them all at its end."""
    def check(result):
        times = result.line_times
        if len(times) < first + count:
            return ["%d lines seen arriving, expected at least %d" % (len(times), first + count)]
        problems = []
        if result.end - times[first] < count - 1.5:
            problems.append("the first request's line came %.2f s before the end, expected at "
                            "least %.1f s" % (result.end - times[first], count - 1.5))
        for n in range(first + 1, first + count):
            if not 0.8 <= times[n] - times[n - 1] <= 1.8:
                problems.append("line %d came %.2f s after the one before, expected about 1 s"
                                % (n + 1, times[n] - times[n - 1]))
        return problems
    return check


def add_cases(table):
    add, responder, routed = table.add, table.responder, table.routed

    # -------------------------------------------------------- echo replies

    add("peer through router: three replies, Ttl decremented, pause after each",
        ["-c", "3", PEER],
        run_lines(PEER, replies(PEER, 3), 3, 3),
        elapsed=(2.0, 2.6))

    address = responder(echo())
    add("responder: replies, seq 0 1 2, no pause after the last",
        ["-c", "3", address], run_lines(address, replies(address, 3), 3, 3),
        wire=address, wire_checks=[seqs(0, 1, 2), icmp_length(64), tos(0)],
        gaps=[(1.0, 1.5)] * 2, tags=SHARE | TWIN)

    add("loopback answers (own request skipped)",
        ["-c", "2", "127.0.0.1"],
        run_lines("127.0.0.1", replies("127.0.0.1", 2, 64), 2, 2), tags=SHARE)

    add("own address answers", ["-c", "2", HOST],
        run_lines(HOST, replies(HOST, 2, 64), 2, 2))

    add("second router answers directly on the LAN", ["-c", "1", ROUTER2_LAN],
        run_lines(ROUTER2_LAN, [reply(ROUTER2_LAN, 0, 64)], 1, 1))

    address = responder(echo(at=300))
    add("-w 0: no deadline, a slow reply is still a reply", ["-w", "0", "-c", "2", address],
        run_lines(address, replies(address, 2, rtt_range=(300, 800)), 2, 2),
        wire=address, wire_checks=[seqs(0, 1)])

    address = responder(echo(at=100), echo(at=400))
    add("duplicate replies: the duplicate is not the next answer", ["-c", "3", address],
        run_lines(address, replies(address, 3, rtt_range=(100, 390)), 3, 3),
        wire=address, wire_checks=[seqs(0, 1, 2)])

    for option_bytes in (4, 40):
        address = responder(echo(options=option_bytes))
        add("reply whose IP header carries %d option bytes" % option_bytes, ["-c", "2", address],
            run_lines(address, replies(address, 2), 2, 2), wire=address)

    address = responder(echo(foreign=True, bad_checksum=True),
                        dict(at=0, do="junk", hex=""),
                        dict(at=0, do="junk", hex="0301"),
                        dict(at=0, do="junk", hex="0000ffff"),
                        error(3, 1, quote=0),
                        error(11, 0, quote=4),
                        echo(at=100))
    add("short and malformed datagrams before the reply are skipped", ["-c", "1", address],
        run_lines(address, [reply(address, 0, rtt_range=(100, 600))], 1, 1), wire=address,
        tags=SHARE)

    address = responder(dict(at=0, do="carrying", type=8), echo(at=100))
    add("an echo request carrying our identifier is not the answer", ["-c", "1", address],
        run_lines(address, [reply(address, 0, rtt_range=(100, 600))], 1, 1), wire=address)

    # A type that is not reported never ends the wait, or the request would
    # go without a line: the reply behind it is the answer.
    address = responder(dict(at=0, do="carrying", type=13), echo(at=50))
    add("unreported type carrying the identifier is no answer",
        ["-c", "2", address],
        run_lines(address, replies(address, 2, rtt_range=(50, 600)), 2, 2),
        wire=address, wire_checks=[seqs(0, 1)], tags=SHARE)

    # With --stats one more summary line, its figures those of the time lines
    # (expect.py works them out); the timeouts between are no round trips.
    address = responder(echo(at=20), answer_every=2, answer_from=0)
    add("--stats: median, P90, P99, deviation and jitter of the replies",
        ["--stats", "-c", "5", "-w", "300", address],
        run_lines(address, [reply(address, 0, rtt_range=(20, 500)), exact("Request timeout."),
                            reply(address, 1, rtt_range=(20, 500)), exact("Request timeout."),
                            reply(address, 2, rtt_range=(20, 500))], 5, 3, stats=True),
        wire=address, wire_checks=[seqs(0, 1, 1, 2, 2)], tags=SHARE | TWIN)
    address = responder()
    add("--stats without an echo reply: zeros", ["--stats", "-c", "2", "-w", "200", address],
        run_lines(address, timeouts(2), 2, 0, stats=True), wire=address)

    # A reader at the other end of the pipe sees each line when it happens:
    # the first reply's line comes before the two pauses that follow it.
    address = responder(echo())
    add("through a pipe every line comes when it happens", ["-c", "3", address],
        run_lines(address, replies(address, 3), 3, 3),
        checks=[lines_as_they_happen(first=1, count=3)])

    # -------------------------------------------------------- timeouts

    add("router filter drops: timeouts without pause", ["-c", "2", "-w", "400", PEER_NET + ".20"],
        run_lines(PEER_NET + ".20", timeouts(2), 2, 0), elapsed=(0.8, 1.9), tags=SHARE)

    # The wait keeps -w itself: Linux would round a receive timeout up to
    # its clock tick (4 ms at 250 Hz), and no request would follow the one
    # before it sooner than that.
    address = responder()
    add("-w 1 waits a millisecond, not the kernel's clock tick",
        ["-c", "50", "-w", "1", address], run_lines(address, timeouts(50), 50, 0),
        wire=address, wire_checks=[shortest_gap(0.003)], solo=True)

    address = responder(echo(foreign=True))
    add("replies with a foreign identifier only: timeouts", ["-c", "2", "-w", "400", address],
        run_lines(address, timeouts(2), 2, 0), wire=address, wire_checks=[seqs(0, 0)],
        gaps=[(0.38, 0.95)], tags=SHARE)

    # Noise before the deadline does not stretch the wait past it: the wait
    # ends at 500 ms, and the reply at 700 ms comes in the next request's
    # wait, where it is stale. The noise carries our identifier (in a type
    # that answers nothing): the kernel filter keeps foreign identifiers from
    # the wait altogether. Solo: the gap is the point.
    address = responder(dict(at=100, do="carrying", type=13),
                        dict(at=300, do="carrying", type=13), echo(at=700))
    add("matching reply after the deadline, noise before it: timeout",
        ["-c", "2", "-w", "500", address], run_lines(address, timeouts(2), 2, 0),
        wire=address, wire_checks=[seqs(0, 0)], gaps=[(0.48, 0.64)], solo=True)

    address = responder()
    add("silence, timeout given in hex: no pause after a timeout",
        ["-w", "0x12c", "-c", "3", address],
        run_lines(address, timeouts(3), 3, 0), wire=address, wire_checks=[seqs(0, 0, 0)],
        gaps=[(0.28, 0.95)] * 2)

    address = responder(echo(), answer_every=2, answer_from=1)
    add("every second request answered: sequence repeats after a timeout",
        ["-c", "4", "-w", "400", address],
        run_lines(address, [exact("Request timeout."), reply(address, 0),
                            exact("Request timeout."), reply(address, 1)], 4, 2),
        wire=address, wire_checks=[seqs(0, 0, 1, 1)],
        gaps=[(0.38, 0.95), (1.0, 1.6), (0.38, 0.95)], tags=SHARE)

    address = responder(echo(), answer_every=3, answer_from=0)
    add("one of three answered: 67% lost, average over the replies",
        ["-c", "3", "-w", "300", address],
        run_lines(address, [reply(address, 0), exact("Request timeout."),
                            exact("Request timeout.")], 3, 1),
        wire=address, wire_checks=[seqs(0, 1, 1)])

    # -------------------------------------------------------- errors from real kernels

    address = routed(PEER_NET + ".30")
    add("-i 1: time exceeded from the router, counted, paused", ["-i", "1", "-c", "2", address],
        run_lines(address, [time_exceeded(ROUTER_LAN)] * 2, 2, 2), elapsed=(1.0, 1.6),
        tags=SHARE | TWIN)

    for destination, reason, tags in ROUTER_REJECTIONS:
        address = routed(destination)
        add("router: %s (%s)" % (reason, destination), ["-c", "2", address],
            run_lines(address, [exact(UNREACHABLE + reason)] * 2, 2, 2),
            checks=[icmp_told(sender=ROUTER_LAN)], tags=tags)

    # The host keeps the path MTU it learns per destination: the --json twin
    # needs a destination of its own.
    address = routed(SMALL_NET + (".4" if table.twin else ".2"))
    add("-f across the 576 MTU: fragmentation needed, then the send is refused",
        ["-f", "-n", "1000", "-c", "2", address],
        run_lines(address, [exact(UNREACHABLE + "Fragmentation needed and DF set"),
                      exact("Error 10040.")], 2, 1, size=1000),
        checks=[icmp_told(sender=ROUTER_LAN)], tags=SHARE)

    address = routed(SMALL_NET + ".3")
    add("without -f the request is fragmented and answered", ["-n", "1000", "-c", "1", address],
        run_lines(address, [reply(address, 0)], 1, 1, size=1000), tags=SHARE)

    address = routed(ROUTER2_FAR)
    add("real redirect from the LAN router toward the second router", ["-c", "2", address],
        run_lines(address, [redirect(ROUTER2_LAN)] * 2, 2, 2), tags=SHARE)

    # -------------------------------------------------------- errors from the crafted responder

    for icmp_type, code, text, tags in CRAFTED_ERRORS:
        # a late echo reply follows every error: it must be discarded, not
        # taken as the answer to the next request
        address = responder(crafted_error(icmp_type, code), echo(at=50))
        line = exact(text.format(a=address))
        told = dict(gateway=ROUTER2_LAN) if icmp_type == 5 else {}
        add("crafted type %d code %d" % (icmp_type, code), ["-c", "2", address],
            run_lines(address, [line, line], 2, 2), wire=address, wire_checks=[seqs(0, 1)],
            checks=[icmp_told(sender=address, **told)], tags=tags)

    address = responder(error(11, 0, options=8))
    add("time exceeded whose IP header carries options", ["-c", "1", address],
        run_lines(address, [time_exceeded(address)], 1, 1), wire=address, tags=SHARE)

    # -------------------------------------------------------- the wire

    for text, size, tags in [
            ("5", 16, SHARE),
            ("1001", 1000, NO_TAGS),
            ("0x40", 16, NO_TAGS),
            ("abc", 16, NO_TAGS),
            ("65506", 65506, SHARE)]:
        address = responder(echo())
        add("-n %s gives %d data bytes" % (text, size), ["-n", text, "-c", "1", address],
            run_lines(address, [reply(address, 0)], 1, 1, size=size), wire=address,
            wire_checks=[icmp_length(size + 8)], tags=tags)

    for text, tags in [
            ("65536", SHARE | TWIN),
            ("-5", NO_TAGS)]:
        address = responder()
        add("-n %s: 65536 bytes cannot be sent, no pause" % text, ["-c", "2", "-n", text, address],
            run_lines(address, [exact("Error 10040.")] * 2, 2, 0, size=65536),
            wire=address, wire_checks=[count(0)], elapsed=(0, 0.8), tags=tags)

    for text, byte, tags in [
            ("2:d:t", 0x58, SHARE),
            ("D", 0x10, NO_TAGS),
            ("9", 0x20, NO_TAGS),
            ("7:m", 0xE2, NO_TAGS),
            ("0x2d", 0xA0, NO_TAGS),
            ("3", 0x60, NO_TAGS)]:
        address = responder(echo())
        add("-t %s puts %#04x in the TOS byte (and nothing else)" % (text, byte),
            ["-t", text, "-c", "1", address], run_lines(address, [reply(address, 0)], 1, 1),
            wire=address, wire_checks=[tos(byte)], tags=tags)

    for text, ttl, tags in [
            ("0x30", 48, SHARE),
            ("010", 8, NO_TAGS),
            ("200", 200, NO_TAGS)]:
        address = responder(echo())
        add("-i %s sends with TTL %d" % (text, ttl), ["-i", text, "-c", "1", address],
            run_lines(address, [reply(address, 0)], 1, 1), wire=address,
            wire_checks=[ttl_seen(ttl - 1)], tags=tags)

    address = responder(echo())
    add("-f sets DF", ["-f", "-c", "2", address], run_lines(address, replies(address, 2), 2, 2),
        wire=address, tags=SHARE)

    address = responder(echo())
    add("-n -f 100: -f keeps the size pending", ["-n", "-f", "100", "-c", "1", address],
        run_lines(address, [reply(address, 0)], 1, 1, size=100), wire=address,
        wire_checks=[icmp_length(108)])

    address = responder(echo())
    add("-n -c 2: the count replaces the pending size", ["-n", "-c", "2", address],
        run_lines(address, replies(address, 2), 2, 2), wire=address, wire_checks=[icmp_length(64)])

    address = responder(echo())
    add("-c 0 sends one request", ["-c", "0", address],
        run_lines(address, [reply(address, 0)], 1, 1), wire=address, wire_checks=[count(1)],
        tags=SHARE)

    # -------------------------------------------------------- host texts

    for host, address, ttl, tags in [
            ("peer.vxnet", PEER, 63, SHARE),
            ("3com.vxnet", PEER, 63, NO_TAGS),
            ("localhost", "127.0.0.1", 64, NO_TAGS),
            ("198.18.1", ROUTER_LAN, 64, NO_TAGS),
            ("127.1", "127.0.0.1", 64, NO_TAGS),
            ("0xC6120102", PEER, 63, SHARE),
            ("0306.022.01.02", PEER, 63, NO_TAGS)]:
        add("host text %s is %s" % (host, address), ["-c", "1", host],
            run_lines(host, [reply(address, 0, ttl)], 1, 1), tags=tags)

    for host, tags in [
            ("nosuch.vxnet", SHARE | TWIN),
            ("198.18.1.256", NO_TAGS)]:
        add("host text %s cannot be resolved" % host, ["-c", "3", host],
            [opening(host), exact("Can not resolve IP address for %s" % host)] + summary(0, 0),
            elapsed=(0, 1.0), tags=tags)

    # -------------------------------------------------------- help and version

    add("-h: the usage text, status 0", ["-h"], USAGE, checks=[usage_ends()], elapsed=(0, 1.0),
        tags=SHARE)
    for args in [
            ["-?"],
            ["--help"],
            [PEER, "-c", "2", "--help"],
            ["-h", "--version"]]:
        add("%s: the usage text, status 0" % " ".join(args), args,
            USAGE_HEAD + [any_lines("<the rest of the usage text>")], elapsed=(0, 1.0))
    add("--version: the program and its version", ["--version"],
        [Line("vexmo <version>", re.compile(r"vexmo \d+\.\d+\.\d+\Z"))], elapsed=(0, 1.0),
        tags=SHARE)
    # Only the exact words: other text that begins with a minus is refused.
    for word in ("--HELP", "-help", "--version=1", "-W"):
        add("%s is an unknown option: the usage text, status 255" % word,
            ["-c", "2", PEER, word], USAGE_HEAD + [any_lines("<the rest of the usage text>")],
            status=255, elapsed=(0, 1.0), driver=SaysOnStderr("vexmo: unknown option " + word))

    # -------------------------------------------------------- usage

    # The whole text once; the other ways to call for it show that it comes,
    # on standard output with status 255.
    add("usage text for no arguments", [], USAGE, checks=[usage_ends()], status=255,
        elapsed=(0, 1.0), tags=SHARE)
    for args in [
            ["-c", "3"],
            ["-n", "100", "-f"]]:
        add("usage text for %s" % " ".join(args), args,
            USAGE_HEAD + [any_lines("<the rest of the usage text>")], status=255,
            elapsed=(0, 1.0))
