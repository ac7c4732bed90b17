"""Expected output of the program, line by line, and its comparison with
what a run printed."""
import math
import re
from dataclasses import dataclass

UNREACHABLE = "ICMP: Destination Unreachable, Reason: "


@dataclass(frozen=True)
class Line:
    text: str  # shown to a person
    pattern: object  # compiled regex
    rtt: bool = False  # group 1 and 2 are a round-trip time
    rtt_range: tuple = None  # (lo_ms, hi_ms)
    summary: bool = False  # the round-trip summary line
    stats: bool = False  # the --stats line: median, P90, P99, standard deviation, jitter
    rest: bool = False  # the last line expected: stands for every line left, however many


def exact(text):
    return Line(text, re.compile(re.escape(text) + r"\Z"))


IPV4_HEADERS = 28  # IPv4 and ICMP headers, as the opening line counts them
IPV6_HEADERS = 48  # IPv6 and ICMPv6 headers


def opening(host, size=56, headers=IPV4_HEADERS):
    return exact("Ping to %s, buffer size %d Bytes (IP+ICMP+DATA %d Bytes)"
                 % (host, size, size + headers))


def reply(address, seq, ttl=63, rtt_range=None):
    text = "%s: Time: <ms>, Sequence: %d, Ttl: %d" % (address, seq, ttl)
    pattern = re.compile(r"%s: Time: (\d+)\.(\d{3}) ms, Sequence: %d, Ttl: %d\Z"
                         % (re.escape(address), seq, ttl))
    return Line(text, pattern, rtt=True, rtt_range=rtt_range)


def replies(address, count, ttl=63, rtt_range=None):
    """Replies to the first count requests, sequence 0 on."""
    return [reply(address, seq, ttl, rtt_range) for seq in range(count)]


def summary(sent, received, stats=False):
    """The summary lines; stats: with the line --stats adds."""
    lines = []
    if sent:
        lost = 100 - received * 100 // sent
        lines += [exact(""),
                  exact("Packets: Sent %d, Received %d (%d%% Lost)" % (sent, received, lost))]
    lines.append(Line("Rount Trip Time (Min/Avg/Max): <min> ms/<avg> ms/<max> ms",
                      re.compile(r"Rount Trip Time \(Min/Avg/Max\): (\d+)\.(\d{3}) ms/"
                                 r"(\d+)\.(\d{3}) ms/(\d+)\.(\d{3}) ms\Z"),
                      summary=True))
    if stats:
        lines.append(Line("Round Trip Time (Median/P90/P99/StdDev/Jitter): <median> ms/<p90> ms/"
                          "<p99> ms/<stddev> ms/<jitter> ms",
                          re.compile(r"Round Trip Time \(Median/P90/P99/StdDev/Jitter\): "
                                     r"(\d+)\.(\d{3}) ms/(\d+)\.(\d{3}) ms/(\d+)\.(\d{3}) ms/"
                                     r"(\d+)\.(\d{3}) ms/(\d+)\.(\d{3}) ms\Z"),
                          stats=True))
    return lines


def run_lines(host, lines, sent, received, size=56, headers=IPV4_HEADERS, stats=False):
    """The whole output of a run: the opening, a line per request, the summary."""
    return [opening(host, size, headers)] + lines + summary(sent, received, stats)


def figures_of(rtts):
    """The round-trip figures of the replies' times (microseconds, in the
    order they came) as vexmo computes them: min, average (truncated), max,
    nearest-rank median, P90 and P99, sample standard deviation and jitter
    (the mean step between consecutive replies), both rounded."""
    n = len(rtts)
    if not n:
        return dict(min=0, avg=0, max=0, median=0, p90=0, p99=0, stddev=0, jitter=0)
    ordered = sorted(rtts)

    def rank(percent):
        return ordered[max(1, -(-percent * n // 100)) - 1]

    mean = sum(rtts) / n
    stddev = math.sqrt(sum((x - mean) ** 2 for x in rtts) / (n - 1)) if n > 1 else 0.0
    steps = [abs(b - a) for a, b in zip(rtts, rtts[1:])]
    jitter = (sum(steps) + (n - 1) // 2) // (n - 1) if n > 1 else 0
    return dict(min=ordered[0], avg=sum(rtts) // n, max=ordered[-1], median=rank(50),
                p90=rank(90), p99=rank(99), stddev=int(stddev + 0.5), jitter=jitter)


def figure_problems(what, got_us, want_us):
    """got_us against want_us (dicts of figures); the standard deviation may
    round the other way in its last place (floating point)."""
    problems = []
    for key, value in want_us.items():
        if key not in got_us:
            continue
        got = got_us[key]
        if got != value and not (key == "stddev" and abs(got - value) <= 1):
            problems.append("%s %s %.3f ms, the replies give %.3f ms"
                            % (what, key, got / 1000, value / 1000))
    return problems


def timeouts(n):
    return [exact("Request timeout.")] * n


def time_exceeded(sender):
    return exact("%s: ICMP: Time Exceeded, Reason: Time To Live exceeded in transit" % sender)


def redirect(gateway, reason="Redirect datagrams for the Host"):
    return exact("ICMP: Redirect, Gateway: %s, Reason: %s" % (gateway, reason))


def any_lines(text):
    """Every line left, whatever they say."""
    return Line(text, re.compile(r".*\Z"), rest=True)


TIME_LINE = re.compile(r"\S+: Time: (\d+)\.(\d{3}) ms, Sequence: \d+(, Ttl: \d+)?\Z")


def microseconds(match, group):
    return int(match.group(group)) * 1000 + int(match.group(group + 1))


def check_output(expected, stdout):
    """Compares line by line; returns a list of problems."""
    problems = []
    if stdout and not stdout.endswith("\n"):
        problems.append("output does not end with a line feed")
    actual = stdout.split("\n")
    if actual and actual[-1] == "":
        actual.pop()
    open_end = bool(expected) and expected[-1].rest
    if open_end:
        if len(actual) < len(expected) - 1:
            problems.append("expected at least %d lines, got %d" % (len(expected) - 1, len(actual)))
        expected = expected[:-1]
    elif len(actual) != len(expected):
        problems.append("expected %d lines, got %d" % (len(expected), len(actual)))
    # the summary is checked against the time lines actually printed
    rtts = [microseconds(m, 1) for m in map(TIME_LINE.match, actual) if m]
    for number, (want, got) in enumerate(zip(expected, actual), 1):
        m = want.pattern.match(got)
        if not m:
            problems.append("line %d: expected %r, got %r" % (number, want.text, got))
            continue
        if want.rtt and want.rtt_range:
            us = microseconds(m, 1)
            if not want.rtt_range[0] * 1000 <= us <= want.rtt_range[1] * 1000:
                problems.append("line %d: round trip %.3f ms outside %s ms"
                                % (number, us / 1000, want.rtt_range))
        if want.summary:
            got_us = [microseconds(m, k) for k in (1, 3, 5)]
            # average over the echo replies only
            want_us = [min(rtts), sum(rtts) // len(rtts), max(rtts)] if rtts else [0, 0, 0]
            if got_us != want_us:
                problems.append("round-trip summary %s, expected %s from the time lines"
                                % ("/".join("%.3f" % (u / 1000) for u in got_us),
                                   "/".join("%.3f" % (u / 1000) for u in want_us)))
        if want.stats:
            keys = ("median", "p90", "p99", "stddev", "jitter")
            got_us = {key: microseconds(m, 1 + 2 * k) for k, key in enumerate(keys)}
            problems += figure_problems("--stats line:", got_us, figures_of(rtts))
    return problems
