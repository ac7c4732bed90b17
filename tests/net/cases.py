"""The case table of the namespace suite.

Each case names its arguments, the whole expected output, and optionally the
time it may take and what the responder must have seen on the wire. Cases
that talk to the crafted responder get an address of their own (rsp()),
and cases that draw route errors from R1 get a source address of their own
(routed()), so that every case can run in parallel with every other.
"""
import re
from dataclasses import dataclass, field

from netlab import (PEER, PEER_NET, R1_LAN, R2_FAR, R2_LAN, RSP_NET, SMALL_NET, H_ADDR,
                    UNREACH_NET, PROHIBIT_NET, NOROUTE_NET, SOURCE_NET,
                    exact, opening, reply, summary, Line)

RESPONDER = {}  # address -> behaviour, handed to responder.py
ROUTED = []  # (destination, own source address) routed through R1 by H


def rsp(*actions, **extra):
    addr = "%s.%d" % (RSP_NET, 10 + len(RESPONDER))
    RESPONDER[addr] = dict(actions=list(actions), **extra)
    return addr


def routed(dst):
    ROUTED.append((dst, "%s.%d" % (SOURCE_NET, 20 + len(ROUTED))))
    return dst


def echo(at=0, **kw):
    return dict(at=at, do="reply", **kw)


def error(icmp_type, code, at=0, **kw):
    return dict(at=at, do="error", type=icmp_type, code=code, **kw)


@dataclass
class Case:
    name: str
    args: list
    expect: list
    status: int = 0
    elapsed: tuple = None  # (lo, hi) seconds of the whole run; hi gets the slack
    wire: str = None  # responder address whose log is checked
    wire_checks: list = field(default_factory=list)
    gaps: list = None  # [(lo, hi)] between consecutive requests on the wire
    tail: float = None  # at least this long from the last request to the end
    limit: float = 20.0  # the run is killed after this many seconds
    solo: bool = False  # runs alone: other cases' ICMP traffic would end its waits
    runner: object = None  # run by nobody, where and how (privilege_cases.Runner); None: root on H
    checks: list = field(default_factory=list)  # checks of the result alone
    driver: object = None  # runs the case itself: driver(topo, prefix, case) -> Result (stress_cases)


CASES = []


def case(*a, **kw):
    CASES.append(Case(*a, **kw))


def run_lines(host, lines, sent, received, size=56):
    return [opening(host, size)] + lines + summary(sent, received)


def timeouts(n):
    return [exact("Request timeout.")] * n


# Wire checks: each takes the logged requests and the run's result and
# returns the problems it found.

def seqs(*want):
    def check(reqs, result):
        got = [r.seq for r in reqs]
        return [] if got == list(want) else ["sequence numbers %s, expected %s" % (got, list(want))]
    return check


def icmp_len(n):
    def check(reqs, result):
        bad = [len(r.icmp) for r in reqs if len(r.icmp) != n or r.ip_len != n + 20]
        return ["ICMP length %s, expected %d (IP %d)" % (bad, n, n + 20)] if bad else []
    return check


def tos(byte):
    def check(reqs, result):
        bad = [hex(r.tos) for r in reqs if r.tos != byte]
        return ["TOS %s, expected %s" % (bad, hex(byte))] if bad else []
    return check


def ttl_seen(n):
    def check(reqs, result):
        bad = [r.ttl for r in reqs if r.ttl != n]
        return ["TTL after the router %s, expected %d" % (bad, n)] if bad else []
    return check


def count(n):
    def check(reqs, result):
        return [] if len(reqs) == n else ["%d requests on the wire, expected %d" % (len(reqs), n)]
    return check


# ------------------------------------------------------------ echo replies

case("peer through router: three replies, Ttl decremented, pause after each",
     ["-c", "3", PEER],
     run_lines(PEER, [reply(PEER, 0), reply(PEER, 1), reply(PEER, 2)], 3, 3),
     elapsed=(3.0, 3.6))

a = rsp(echo())
case("responder: replies, seq 0 1 2, one-second pause also after the last",
     ["-c", "3", a], run_lines(a, [reply(a, 0), reply(a, 1), reply(a, 2)], 3, 3),
     wire=a, wire_checks=[seqs(0, 1, 2), icmp_len(64), tos(0)],
     gaps=[(1.0, 1.5)] * 2, tail=1.0)

case("loopback answers (own request skipped)",
     ["-c", "2", "127.0.0.1"],
     run_lines("127.0.0.1", [reply("127.0.0.1", 0, 64), reply("127.0.0.1", 1, 64)], 2, 2))

case("own address answers", ["-c", "2", H_ADDR],
     run_lines(H_ADDR, [reply(H_ADDR, 0, 64), reply(H_ADDR, 1, 64)], 2, 2))

case("second router answers directly on the LAN", ["-c", "1", R2_LAN],
     run_lines(R2_LAN, [reply(R2_LAN, 0, 64)], 1, 1))

a = rsp(echo(at=300))
case("-w 0: no deadline, a slow reply is still a reply", ["-w", "0", "-c", "2", a],
     run_lines(a, [reply(a, 0, rtt_range=(300, 800)), reply(a, 1, rtt_range=(300, 800))], 2, 2),
     wire=a, wire_checks=[seqs(0, 1)])

a = rsp(echo(at=100), echo(at=400))
case("duplicate replies: the duplicate is not the next answer", ["-c", "3", a],
     run_lines(a, [reply(a, n, rtt_range=(100, 390)) for n in range(3)], 3, 3),
     wire=a, wire_checks=[seqs(0, 1, 2)])

for opt_bytes in (4, 40):
    a = rsp(echo(options=opt_bytes))
    case("reply whose IP header carries %d option bytes" % opt_bytes, ["-c", "2", a],
         run_lines(a, [reply(a, 0), reply(a, 1)], 2, 2), wire=a)

a = rsp(echo(foreign=True, bad_checksum=True),
        dict(at=0, do="junk", hex=""),
        dict(at=0, do="junk", hex="0301"),
        dict(at=0, do="junk", hex="0000ffff"),
        error(3, 1, quote=0),
        error(11, 0, quote=4),
        echo(at=100))
case("short and malformed datagrams before the reply are skipped", ["-c", "1", a],
     run_lines(a, [reply(a, 0, rtt_range=(100, 600))], 1, 1), wire=a)

a = rsp(dict(at=0, do="carrying", type=8), echo(at=100))
case("an echo request carrying our identifier is not the answer", ["-c", "1", a],
     run_lines(a, [reply(a, 0, rtt_range=(100, 600))], 1, 1), wire=a)

# A type that is not reported never ends the wait, or the request would go
# without a line: the reply behind it is the answer.
a = rsp(dict(at=0, do="carrying", type=13), echo(at=50))
case("unreported type carrying the identifier is no answer",
     ["-c", "2", a],
     run_lines(a, [reply(a, 0, rtt_range=(50, 600)), reply(a, 1, rtt_range=(50, 600))], 2, 2),
     wire=a, wire_checks=[seqs(0, 1)])

# ------------------------------------------------------------ timeouts

case("router filter drops: timeouts without pause", ["-c", "2", "-w", "400", PEER_NET + ".20"],
     run_lines(PEER_NET + ".20", timeouts(2), 2, 0), elapsed=(0.8, 1.9))

a = rsp(echo(foreign=True))
case("replies with a foreign identifier only: timeouts", ["-c", "2", "-w", "400", a],
     run_lines(a, timeouts(2), 2, 0), wire=a, wire_checks=[seqs(0, 0)], gaps=[(0.38, 0.95)])

# Only the noise at 300 ms keeps the wait open until the reply at 700 ms
# arrives; any other datagram after 500 ms would end it earlier and leave
# the reply to the next wait, hence solo. The noise carries our identifier
# (in a type that answers nothing): the kernel filter keeps foreign
# identifiers from the wait altogether.
a = rsp(dict(at=100, do="carrying", type=13), dict(at=300, do="carrying", type=13), echo(at=700))
case("matching reply after the deadline, noise before it: timeout",
     ["-c", "2", "-w", "500", a], run_lines(a, timeouts(2), 2, 0),
     wire=a, wire_checks=[seqs(0, 0)], gaps=[(0.65, 0.98)], solo=True)

a = rsp()
case("silence, timeout given in hex: no pause after a timeout", ["-w", "0x12c", "-c", "3", a],
     run_lines(a, timeouts(3), 3, 0), wire=a, wire_checks=[seqs(0, 0, 0)],
     gaps=[(0.28, 0.95)] * 2)

a = rsp(echo(), answer_every=2, answer_from=1)
case("every second request answered: sequence repeats after a timeout",
     ["-c", "4", "-w", "400", a],
     run_lines(a, [exact("Request timeout."), reply(a, 0), exact("Request timeout."), reply(a, 1)], 4, 2),
     wire=a, wire_checks=[seqs(0, 0, 1, 1)], gaps=[(0.38, 0.95), (1.0, 1.6), (0.38, 0.95)])

a = rsp(echo(), answer_every=3, answer_from=0)
case("one of three answered: 67% lost, average over the replies",
     ["-c", "3", "-w", "300", a],
     run_lines(a, [reply(a, 0), exact("Request timeout."), exact("Request timeout.")], 3, 1),
     wire=a, wire_checks=[seqs(0, 1, 1)])

# ------------------------------------------------------------ errors from real kernels

a = routed(PEER_NET + ".30")
te = "%s: ICMP: Time Exceeded, Reason: Time To Live exceeded in transit" % R1_LAN
case("-i 1: time exceeded from the router, counted, paused", ["-i", "1", "-c", "2", a],
     run_lines(a, [exact(te), exact(te)], 2, 2), elapsed=(2.0, 2.6))

UNREACH = "ICMP: Destination Unreachable, Reason: "
for dst, reason in [
        (UNREACH_NET + ".5", "Host unreachable"),
        (PROHIBIT_NET + ".5", "Communication administratively prohibited"),
        (NOROUTE_NET + ".1", "Network unreachable"),
        (PEER_NET + ".10", "Network unreachable"),
        (PEER_NET + ".11", "Host unreachable"),
        (PEER_NET + ".12", "Protocol unreachable"),
        (PEER_NET + ".13", "Port unreachable"),
        (PEER_NET + ".14", "Network administratively prohibited"),
        (PEER_NET + ".15", "Host administratively prohibited"),
        (PEER_NET + ".16", "Communication administratively prohibited")]:
    a = routed(dst)
    case("router: %s (%s)" % (reason, dst), ["-c", "2", a],
         run_lines(a, [exact(UNREACH + reason)] * 2, 2, 2))

a = routed(SMALL_NET + ".2")
case("-f across the 576 MTU: fragmentation needed, then the send is refused",
     ["-f", "-n", "1000", "-c", "2", a],
     run_lines(a, [exact(UNREACH + "Fragmentation needed and DF set"), exact("Error 10040.")], 2, 1, size=1000))

a = routed(SMALL_NET + ".3")
case("without -f the request is fragmented and answered", ["-n", "1000", "-c", "1", a],
     run_lines(a, [reply(a, 0)], 1, 1, size=1000))

a = routed(R2_FAR)
rd = "ICMP: Redirect, Gateway: %s, Reason: Redirect datagrams for the Host" % R2_LAN
case("real redirect from the LAN router toward the second router", ["-c", "2", a],
     run_lines(a, [exact(rd), exact(rd)], 2, 2))

# ------------------------------------------------------------ errors from the crafted responder

crafted = [
    (4, 0, "ICMP: Source Quench"),
    (12, 0, "ICMP: Parameter Problem"),
    (12, 1, "ICMP: Parameter Problem"),
    (3, 5, UNREACH + "Source route failed"),
    (3, 6, UNREACH + "Destination network unknown"),
    (3, 7, UNREACH + "Destination host unknown"),
    (3, 8, UNREACH + "Source host isolated"),
    (3, 11, UNREACH + "Network unreachable for TOS"),
    (3, 12, UNREACH + "Host unreachable for TOS"),
    (3, 14, UNREACH + "Host precedence violation"),
    (3, 15, UNREACH + "Precedence cutoff in effect"),
    (3, 16, UNREACH + "Unknown code 16"),
    (3, 255, UNREACH + "Unknown code 255"),
    (11, 1, "{a}: ICMP: Time Exceeded, Reason: Fragment reassembly time exceeded"),
    (11, 7, "{a}: ICMP: Time Exceeded, Reason: Unknown code 7"),
    (5, 0, "ICMP: Redirect, Gateway: 198.18.0.3, Reason: Redirect datagrams for the Network"),
    (5, 1, "ICMP: Redirect, Gateway: 198.18.0.3, Reason: Redirect datagrams for the Host"),
    (5, 2, "ICMP: Redirect, Gateway: 198.18.0.3, Reason: Redirect datagrams for the Type of Service and Network"),
    (5, 3, "ICMP: Redirect, Gateway: 198.18.0.3, Reason: Redirect datagrams for the Type of Service and Host"),
    (5, 9, "ICMP: Redirect, Gateway: 198.18.0.3, Reason: Unknown code 9"),
]
for icmp_type, code, text in crafted:
    # a late echo reply follows every error: it must be discarded, not
    # taken as the answer to the next request
    a = rsp(error(icmp_type, code, gateway=R2_LAN) if icmp_type == 5 else error(icmp_type, code),
            echo(at=50))
    line = exact(text.format(a=a))
    case("crafted type %d code %d" % (icmp_type, code), ["-c", "2", a],
         run_lines(a, [line, line], 2, 2), wire=a, wire_checks=[seqs(0, 1)])

a = rsp(error(11, 0, options=8))
te = "%s: ICMP: Time Exceeded, Reason: Time To Live exceeded in transit" % a
case("time exceeded whose IP header carries options", ["-c", "1", a],
     run_lines(a, [exact(te)], 1, 1), wire=a)

# ------------------------------------------------------------ the wire

for text, size in [("5", 16), ("1001", 1000), ("0x40", 16), ("abc", 16), ("65506", 65506)]:
    a = rsp(echo())
    case("-n %s gives %d data bytes" % (text, size), ["-n", text, "-c", "1", a],
         run_lines(a, [reply(a, 0)], 1, 1, size=size), wire=a, wire_checks=[icmp_len(size + 8)])

for text in ("65536", "-5"):
    a = rsp()
    case("-n %s: 65536 bytes cannot be sent, no pause" % text, ["-c", "2", "-n", text, a],
         run_lines(a, [exact("Error 10040.")] * 2, 2, 0, size=65536),
         wire=a, wire_checks=[count(0)], elapsed=(0, 0.8))

for text, byte in [("2:d:t", 0x58), ("D", 0x10), ("9", 0x20), ("7:m", 0xE2), ("0x2d", 0xA0), ("3", 0x60)]:
    a = rsp(echo())
    case("-t %s puts %#04x in the TOS byte (and nothing else)" % (text, byte),
         ["-t", text, "-c", "1", a], run_lines(a, [reply(a, 0)], 1, 1),
         wire=a, wire_checks=[tos(byte)])

for text, ttl in [("0x30", 48), ("010", 8), ("200", 200)]:
    a = rsp(echo())
    case("-i %s sends with TTL %d" % (text, ttl), ["-i", text, "-c", "1", a],
         run_lines(a, [reply(a, 0)], 1, 1), wire=a, wire_checks=[ttl_seen(ttl - 1)])

a = rsp(echo())
case("-f sets DF", ["-f", "-c", "2", a], run_lines(a, [reply(a, 0), reply(a, 1)], 2, 2), wire=a)

a = rsp(echo())
case("-n -f 100: -f keeps the size pending", ["-n", "-f", "100", "-c", "1", a],
     run_lines(a, [reply(a, 0)], 1, 1, size=100), wire=a, wire_checks=[icmp_len(108)])

a = rsp(echo())
case("-n -c 2: the count replaces the pending size", ["-n", "-c", "2", a],
     run_lines(a, [reply(a, 0), reply(a, 1)], 2, 2), wire=a, wire_checks=[icmp_len(64)])

a = rsp(echo())
case("-c 0 sends one request", ["-c", "0", a], run_lines(a, [reply(a, 0)], 1, 1),
     wire=a, wire_checks=[count(1)])

# ------------------------------------------------------------ host texts

for host, addr, ttl in [("peer.vxnet", PEER, 63), ("3com.vxnet", PEER, 63),
                        ("localhost", "127.0.0.1", 64), ("198.18.1", R1_LAN, 64),
                        ("127.1", "127.0.0.1", 64), ("0xC6120102", PEER, 63),
                        ("0306.022.01.02", PEER, 63)]:
    case("host text %s is %s" % (host, addr), ["-c", "1", host],
         run_lines(host, [reply(addr, 0, ttl)], 1, 1))

for host in ("nosuch.vxnet", "198.18.1.256"):
    case("host text %s cannot be resolved" % host, ["-c", "3", host],
         [opening(host), exact("Can not resolve IP address for %s" % host)] + summary(0, 0),
         elapsed=(0, 1.0))

# ------------------------------------------------------------ usage

USAGE = [Line("<banner>", re.compile(r".+\Z"))] + [exact(t) for t in [
    "Syntax: vexmo [options] host",
    "Options:",
    " -n <size>\tSize of the buffer to use. (16 ... 65536, Default is 56)",
    " -c <count>\tMessage count (Default is 5)",
    " -f\t\tDon't fragment packets",
    " -i <ttl>\tLimit to specified Time To Life.",
    " -t <tos>\tType Of Service. (Priority[:D][:T][:R][:M])",
    "\t\tPriority: 0 ... 7 (Routine ... Network control)",
    "\t\tD (Low delay)",
    "\t\tT (High throughput)",
    "\t\tR (High reliability)",
    "\t\tM (Minimize monetary cost)",
    " -w <timelimit>\tTimeout. (Default is 3000 ms)",
    " --stats\tMore round-trip figures. (Median, P90, P99, StdDev, Jitter)",
    " --json\t\tJSON Lines on standard output. (One object per line)",
    " -h, -?, --help\tShow this text.",
    " --version\tShow the version.",
    ""]] + [Line("Example: vexmo -f -t 2:d:t -i 64 <host>",
                 re.compile(r"Example: vexmo -f -t 2:d:t -i 64 \S+\Z")),
            exact(" (Don't fragment, TTL 64, Priority 2, Low Delay, High throughput)")]

for args in ([], ["-c", "3"], ["-n", "100", "-f"]):
    case("usage text for %s" % (" ".join(args) or "no arguments"), args, USAGE, status=255,
         elapsed=(0, 1.0))
