"""Cases for watching a link: a fixed cadence (--interval), an end in time
(--deadline, --continuous), time-stamped lines (-D), the summary alone (-q),
and the summary right after the last answer."""
import datetime
import os
import re
import shlex
import shutil
import subprocess
import time

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
    all. The period is the median of the periods between every two
    requests, so that the few a busy machine sent late (the first, whose
    neighbours are still starting, or the last) do not move it."""
    def check(requests, _result):
        if len(requests) < 2:
            return ["%d requests on the wire" % len(requests)]
        periods = sorted((b.t - a.t) / (j - i) for i, a in enumerate(requests)
                         for j, b in enumerate(requests) if j > i)
        period = periods[len(periods) // 2]
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
    add("--graph: a chart in a real terminal, nothing more through a pipe",
        ["--graph", "-c", "20", "--interval", "50ms", PEER],
        run_lines(PEER, replies(PEER, 20), 20, 20), limit=15.0,
        driver=GraphInTerminal(20))


class GraphInTerminal:
    """--graph in a real terminal (a tmux pane, 80 x 24): the chart stands
    at the foot with its newest column the last reply, the summary below
    it, and the terminal scrolls whole again afterwards. The case's own
    result is the run through a pipe, which must be the run without
    --graph to the byte, times aside: the only part run under Wine."""

    COLUMNS, ROWS = 80, 24
    LEGEND = "\u2588 reply  X lost  ! ICMP error"
    EIGHTHS = " \u2581\u2582\u2583\u2584\u2585\u2586\u2587\u2588"

    def __init__(self, count):
        self.count = count

    def run(self, case, suite):
        result = suite.program.run(case.args, case.limit)
        plain = suite.program.run([a for a in case.args if a != "--graph"], case.limit)
        if masked(result.stdout) != masked(plain.stdout):
            result.problems.append("through a pipe, --graph changed the output:\n%s\n%s"
                                   % (result.stdout, plain.stdout))
        if not hasattr(suite.program, "prefix"):
            return result  # Wine 8's console shows control sequences as text
        if not shutil.which("tmux"):
            result.problems.append("tmux is not installed")
            return result
        screen, region = self.in_tmux(case, suite)
        result.problems += self.screen_problems(screen, region)
        return result

    def in_tmux(self, case, suite):
        """The pane's text once the run has ended, and its scrolling region."""
        server = ["tmux", "-L", "vexmo-graph-%d" % os.getpid(), "-f", "/dev/null"]
        program = [os.path.abspath(suite.program.prefix[0])] + suite.program.prefix[1:]
        command = shlex.join(suite.lab.in_namespace("host", *program, *case.args))
        subprocess.run(server + ["new-session", "-d", "-x", str(self.COLUMNS), "-y",
                                 str(self.ROWS), "-e", "LANG=C.UTF-8",
                                 command + "; echo EXIT:$?; sleep %d" % case.limit], check=True)
        try:
            deadline = time.monotonic() + case.limit
            screen = ""
            while "EXIT:" not in screen and time.monotonic() < deadline:
                time.sleep(0.1)
                screen = subprocess.run(server + ["capture-pane", "-p"], capture_output=True,
                                        text=True).stdout
            region = subprocess.run(
                server + ["display-message", "-p", "#{scroll_region_upper} #{scroll_region_lower}"],
                capture_output=True, text=True).stdout.split()
        finally:
            subprocess.run(server + ["kill-server"], capture_output=True)
        return screen.split("\n"), region

    def screen_problems(self, screen, region):
        shown = "\n  screen: " + "\n  screen: ".join(screen)
        legend = [i for i, line in enumerate(screen) if self.LEGEND in line]
        times = [(i, m.group(1)) for i, line in enumerate(screen)
                 for m in [re.search(r"Time: (\d+\.\d{3}) ms, Sequence: %d," % (self.count - 1),
                                     line)] if m]
        if not any(line.startswith("EXIT:0") for line in screen):
            return ["the run in the terminal did not end with status 0" + shown]
        if not legend or not times or times[-1][0] > legend[0]:
            return ["no chart below the last reply's line" + shown]
        foot = legend[0]
        plot = [row.ljust(self.COLUMNS) for row in screen[foot - 8:foot]]
        title = screen[foot - 9]
        problems = []
        last = times[-1][1]
        if ("last: %s ms" % last) not in title or "lost: 0/%d" % self.count not in title:
            problems.append("the chart's title does not show the last reply, %s ms" % last)
        # The newest column: request count's, right of the axis.
        axis = plot[0].index("\u2524")
        top_us = round(float(plot[0][:axis]) * 1000)
        column = [row[axis + self.count] for row in plot]
        after = [row[axis + self.count + 1] for row in plot]
        rtt_us = round(float(last) * 1000)
        want = min(max((rtt_us * 64 + top_us // 2) // top_us, 1), 64)
        drawn = sum(self.EIGHTHS.index(c) if c in self.EIGHTHS else 99 for c in column)
        if drawn != want or any(c != " " for c in after):
            problems.append("newest column %r drawn %d eighths, expected %d (top %d us)"
                            % ("".join(column), drawn, want, top_us))
        if screen[foot + 2:foot + 3] != ["Packets: Sent %d, Received %d (0%% Lost)"
                                         % (self.count, self.count)]:
            problems.append("the summary does not follow the chart")
        if region != ["0", str(self.ROWS - 1)]:
            problems.append("scrolling region %s after the run, expected the whole pane"
                            % region)
        return [p + shown for p in problems]


def masked(text):
    return re.sub(r"\d+\.\d{3} ms", "<t> ms", text)
