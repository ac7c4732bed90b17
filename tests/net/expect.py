"""Expected output of the program, line by line, and its comparison with
what a run printed."""
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
    rest: bool = False  # the last line expected: stands for every line left, however many


def exact(text):
    return Line(text, re.compile(re.escape(text) + r"\Z"))


def opening(host, size=56):
    return exact("Ping to %s, buffer size %d Bytes (IP+ICMP+DATA %d Bytes)"
                 % (host, size, size + 28))


def reply(address, seq, ttl=63, rtt_range=None):
    text = "%s: Time: <ms>, Sequence: %d, Ttl: %d" % (address, seq, ttl)
    pattern = re.compile(r"%s: Time: (\d+)\.(\d{3}) ms, Sequence: %d, Ttl: %d\Z"
                         % (re.escape(address), seq, ttl))
    return Line(text, pattern, rtt=True, rtt_range=rtt_range)


def replies(address, count, ttl=63, rtt_range=None):
    """Replies to the first count requests, sequence 0 on."""
    return [reply(address, seq, ttl, rtt_range) for seq in range(count)]


def summary(sent, received):
    lines = []
    if sent:
        lost = 100 - received * 100 // sent
        lines += [exact(""),
                  exact("Packets: Sent %d, Received %d (%d%% Lost)" % (sent, received, lost))]
    lines.append(Line("Rount Trip Time (Min/Avg/Max): <min> ms/<avg> ms/<max> ms",
                      re.compile(r"Rount Trip Time \(Min/Avg/Max\): (\d+)\.(\d{3}) ms/"
                                 r"(\d+)\.(\d{3}) ms/(\d+)\.(\d{3}) ms\Z"),
                      summary=True))
    return lines


def run_lines(host, lines, sent, received, size=56):
    """The whole output of a run: the opening, a line per request, the summary."""
    return [opening(host, size)] + lines + summary(sent, received)


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
    return problems
