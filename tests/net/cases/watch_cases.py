"""Cases for watching a link: a fixed cadence (--interval), an end in time
(--deadline, --continuous), time-stamped lines (-D), the summary alone (-q),
and the summary right after the last answer."""
import datetime
import re

from expect import Line, opening, replies, run_lines, summary, timeouts
from network import PEER, PEER_NET
from table import echo

STAMP = r"\[\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z\] "


def stamped(line):
    """line as -D prints it: the time in brackets before it; a blank line
    stays blank."""
    if line.pattern.pattern == r"\Z":
        return line
    return Line("[<time>] " + line.text, re.compile(STAMP + line.pattern.pattern))


def unchecked(line):
    """line without its figures checked against the time lines (-q has none)."""
    return Line(line.text, line.pattern)


def time_of(obj):
    return datetime.datetime.strptime(obj["time"], "%Y-%m-%dT%H:%M:%S.%f%z").timestamp()


def on_the_beat(interval_s, within_s):
    """A check of a --json run: request k, at its reply's time less its
    round trip, left interval x k after the start, within within_s (the
    times are whole milliseconds) for most of them. The first may leave
    later: its neighbours are still being resolved."""
    def check(result):
        objects = getattr(result, "json", [])
        if not objects or objects[0].get("event") != "start":
            return ["json: no start object"]
        start = time_of(objects[0])
        times = [time_of(o) - float(o["rtt_ms"]) / 1000 for o in objects
                 if o.get("event") == "reply"]
        off = sorted([t - start - k * interval_s for k, t in enumerate(times)][1:])
        if not off:
            return ["json: no reply after the first"]
        # A busy machine may print a line late now and then; the beat is in
        # the middle, and no request leaves early.
        middle = off[len(off) // 2]
        if off[0] < -0.001 or not -0.001 <= middle <= within_s or off[-1] > 0.05:
            return ["json: replies %.1f to %.1f ms off their slots, %.1f in the middle"
                    % (off[0] * 1000, off[-1] * 1000, middle * 1000)]
        return []
    return check


def mean_period_on_wire(interval_s, within_s):
    """A wire check: the requests' mean period is the interval, within
    within_s: a beat that drifted by each round trip would be off by them
    all."""
    def check(requests, _result):
        if len(requests) < 2:
            return ["%d requests on the wire" % len(requests)]
        period = (requests[-1].t - requests[0].t) / (len(requests) - 1)
        return [] if abs(period - interval_s) <= within_s else [
            "mean period %.3f ms on the wire, expected %.3f" % (period * 1000, interval_s * 1000)]
    return check


def add_cases(table):
    add = table.add
    silent = PEER_NET + ".20"  # the router's filter drops what goes there

    address = table.responder(echo())
    add("--interval 100ms -c 30: the beat holds (JSON times, the wire)",
        ["--json", "--interval", "100ms", "-c", "30", address],
        run_lines(address, replies(address, 30), 30, 30),
        checks=[on_the_beat(0.1, 0.003)], wire=address,
        wire_checks=[mean_period_on_wire(0.1, 0.00005)], elapsed=(2.9, 3.2))
    add("--interval to a silent host: each wait ends at the next slot, the run after count slots",
        ["--interval", "100ms", "-c", "10", silent], run_lines(silent, timeouts(10), 10, 0),
        elapsed=(0.99, 1.15))
    add("-D: every line after the opening begins with its time",
        ["-D", "-c", "2", "--interval", "50ms", PEER],
        [opening(PEER)] + [stamped(line) for line in replies(PEER, 2) + summary(2, 2)],
        elapsed=(0.05, 0.3))
    add("-q: the opening line and the summary", ["-q", "-c", "3", "--interval", "50ms", PEER],
        [opening(PEER)] + [unchecked(line) for line in summary(3, 3)], elapsed=(0.1, 0.35))
    add("--deadline cuts the pause: the summary at the deadline",
        ["--deadline", "1.5s", "-c", "10", PEER], run_lines(PEER, replies(PEER, 2), 2, 2),
        elapsed=(1.5, 1.65))
    add("--continuous until the deadline", ["--continuous", "--interval", "200ms", "--deadline",
                                            "1s", PEER],
        run_lines(PEER, replies(PEER, 5), 5, 5), elapsed=(1.0, 1.15))
    add("no pause after the last request: the summary follows the answer", ["-c", "1", PEER],
        run_lines(PEER, replies(PEER, 1), 1, 1), elapsed=(0, 0.1))
