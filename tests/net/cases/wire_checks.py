"""What the responder saw on the wire, and the checks of it.

Each check takes the logged requests of one run and the run's result and
returns the problems it found.
"""
import json
import os
import re
from dataclasses import dataclass

import icmp_wire


@dataclass(frozen=True)
class LoggedRequest:
    t: float
    source: str
    ip_length: int
    tos: int
    ttl: int
    dont_fragment: bool
    icmp: bytes
    destination: str

    @property
    def ipv6(self):
        return ":" in self.destination

    @property
    def identifier(self):
        return icmp_wire.echo_identifier(self.icmp)

    @property
    def seq(self):
        return icmp_wire.echo_sequence(self.icmp)

    @property
    def stamp(self):
        return icmp_wire.send_stamp(self.icmp)


def read_log(logdir, address):
    path = os.path.join(logdir, address + ".jsonl")
    if not os.path.exists(path):
        return []
    with open(path) as f:
        entries = [json.loads(line) for line in f]
    return [LoggedRequest(e["t"], e["src"], e["ip_len"], e["tos"], e["ttl"], e["df"],
                          bytes.fromhex(e["icmp"]), address) for e in entries]


def every_request(requests, identifier, source, dont_fragment, ttl):
    """What every logged request must show, whatever the case. ttl: as it
    arrives behind the router, or None when the case sets its own. IPv6
    has no DF bit: dont_fragment is not asked of its requests."""
    problems = []
    for i, r in enumerate(requests):
        where = "request %d: " % i
        want_type = icmp_wire.ECHO6_REQUEST if r.ipv6 else icmp_wire.ECHO_REQUEST
        if r.icmp[0] != want_type or r.icmp[1] != 0:
            problems.append(where + "type %d code %d, expected %d 0"
                            % (r.icmp[0], r.icmp[1], want_type))
        if r.ipv6:
            checksum_holds = icmp_wire.icmpv6_checksum_holds(r.source, r.destination, r.icmp)
        else:
            checksum_holds = icmp_wire.checksum_holds(r.icmp)
        if not checksum_holds:
            problems.append(where + "bad ICMP checksum")
        if r.identifier != identifier:
            problems.append(where + "identifier bytes %02x %02x, expected %02x %02x "
                            "(low byte first)"
                            % (r.icmp[4], r.icmp[5], identifier & 0xFF, identifier >> 8))
        if any(r.icmp[24:]):
            problems.append(where + "data after offset 24 is not zero")
        if not r.ipv6 and r.dont_fragment != dont_fragment:
            problems.append(where + "DF bit %s" % ("set" if r.dont_fragment else "clear"))
        if ttl is not None and r.ttl != ttl:
            problems.append(where + "TTL after the router %d, expected %d" % (r.ttl, ttl))
        if r.source != source:
            problems.append(where + "source %s" % r.source)
        if i and r.stamp <= requests[i - 1].stamp:
            problems.append(where + "send stamp %d not above the one before (%d)"
                            % (r.stamp, requests[i - 1].stamp))
    return problems


def round_trips_within_windows(requests, stdout):
    """No printed round trip is longer than its request's window: from the
    request on the wire to the next one (when every request printed one line
    in order). The times are unsigned by their form, so never negative."""
    body = stdout.replace("\r\n", "\n").split("\n\n")[0].split("\n")[1:]
    lines = [line for line in body if line]
    if len(lines) != len(requests):
        return []
    problems = []
    for k, (line, a, b) in enumerate(zip(lines, requests, requests[1:])):
        found = re.search(r"Time: (\d+\.\d{3}) ms", line)
        if found and float(found.group(1)) / 1000.0 > b.t - a.t + 0.001:
            problems.append("request %d: %s ms, longer than the %.3f s until the next request"
                            % (k, found.group(1), b.t - a.t))
    return problems


def request_gaps(requests, bounds):
    """bounds: [(lo, hi)] seconds between consecutive requests."""
    problems = []
    gaps = [b.t - a.t for a, b in zip(requests, requests[1:])]
    if len(gaps) != len(bounds):
        problems.append("%d requests on the wire, expected %d" % (len(requests), len(bounds) + 1))
    for k, (gap, (lo, hi)) in enumerate(zip(gaps, bounds)):
        if not lo <= gap <= hi:
            problems.append("requests %d and %d %.3f s apart, expected %.2f to %.2f s"
                            % (k, k + 1, gap, lo, hi))
    return problems


def seqs(*want):
    def check(requests, result):
        got = [r.seq for r in requests]
        return [] if got == list(want) else ["sequence numbers %s, expected %s" % (got, list(want))]
    return check


def icmp_length(n):
    def check(requests, result):
        headers = 40 if requests and requests[0].ipv6 else 20
        bad = [len(r.icmp) for r in requests if len(r.icmp) != n or r.ip_length != n + headers]
        return ["ICMP length %s, expected %d (IP %d)" % (bad, n, n + headers)] if bad else []
    return check


def tos(byte):
    def check(requests, result):
        bad = [hex(r.tos) for r in requests if r.tos != byte]
        return ["TOS %s, expected %s" % (bad, hex(byte))] if bad else []
    return check


def ttl_seen(n):
    def check(requests, result):
        bad = [r.ttl for r in requests if r.ttl != n]
        return ["TTL after the router %s, expected %d" % (bad, n)] if bad else []
    return check


def count(n):
    def check(requests, result):
        return [] if len(requests) == n else ["%d requests on the wire, expected %d"
                                              % (len(requests), n)]
    return check


def request_span(most):
    """A check: the first and last request left at most this many seconds
    apart."""
    def check(requests, _result):
        if len(requests) > 1 and requests[-1].t - requests[0].t > most:
            return ["the requests spanned %.3f s, expected at most %.3f s"
                    % (requests[-1].t - requests[0].t, most)]
        return []
    return check
