"""Cases for a user who interrupts a run: Ctrl-C (SIGINT) in a wait and in
the pause, twice in a row, Ctrl-\\ (SIGQUIT) in a wait, and a stop and
continue of the process (SIGSTOP, SIGCONT), which is no interruption.

The signals are timed against the requests on the wire: the driver waits
until the responder has logged the request a case names, then signals after
a delay (over IPv6, where no responder logs, after a delay from the start). Each try measures how long the program takes after a Ctrl-C to end
with its summary written (its process gone, which comes after the summary);
it must be within 100 ms (--ctrl-c-within). A case is tried several times to
catch races, and alone, so that other cases' load does not count against
that figure.

Under Wine the signal goes to the Unix process of vexmo.exe, which Wine
turns into CTRL_C_EVENT. Wine does not turn SIGQUIT into CTRL_BREAK_EVENT
(it ends the process), so the Ctrl-\\ case runs with a native program only.
"""
import os
import re
import signal
import statistics
import threading
import time

import json_twins

from expect import (IPV6_HEADERS, Line, check_output, exact, opening, replies, run_lines,
                    summary, timeouts)
from network6 import PEER6_NET
from privilege import PING_SOCKET
from table import NO_TAGS, SHARE, TWIN, Need, echo
from wire_checks import read_log

ANCHOR_LIMIT_S = 10.0  # for the anchoring request to reach the wire


def process_gone(pid):
    """True once pid has ended (gone, or a zombie nobody has reaped yet)."""
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().rsplit(")", 1)[1].split()[0] == "Z"
    except (OSError, IndexError):
        return True


class Signals:
    """What one try does: after the anchor-th request of the try is on the
    wire (anchor 0: once the program has started), each step (delay in
    seconds after that, signal) in turn."""

    def __init__(self, anchor, steps):
        self.anchor = anchor
        self.steps = steps


class InterruptDriver:
    """Runs the program tries times, signalling it as signals say; expect(n)
    is the output of a try whose run put n requests on the wire. With way,
    nobody runs it that way (privilege.py), else the suite's runner."""

    def __init__(self, address, signals, expect, tries, measure=True, way=None):
        self.address = address
        self.signals = signals
        self.expect = expect
        self.tries = tries
        self.measure = measure
        self.way = way

    def requests_on_wire(self, suite):
        return read_log(suite.wire_logs, self.address) if self.signals.anchor else []

    def one_try(self, case, suite, last):
        before = len(self.requests_on_wire(suite))
        seen = {"problems": [], "stop_at": None, "ended_at": None}

        def signaller(proc):
            anchor_t = time.monotonic()
            deadline = anchor_t + ANCHOR_LIMIT_S
            wanted = before + self.signals.anchor
            requests = self.requests_on_wire(suite)
            while len(requests) < wanted:
                if time.monotonic() > deadline or proc.poll() is not None:
                    seen["problems"].append("request %d never reached the wire"
                                            % self.signals.anchor)
                    return
                time.sleep(0.002)
                requests = self.requests_on_wire(suite)
            if self.signals.anchor:
                anchor_t = requests[wanted - 1].t
            pid = target[0](proc)
            if pid is None:
                seen["problems"].append("cannot find the program's process to signal")
                return
            for delay, sig in self.signals.steps:
                time.sleep(max(0.0, anchor_t + delay - time.monotonic()))
                if process_gone(pid):
                    if seen["stop_at"] is None:
                        seen["problems"].append("ended before signal %s"
                                                % signal.Signals(sig).name)
                        return
                    break  # a second Ctrl-C that found the run ended already
                if sig == signal.SIGINT and seen["stop_at"] is None:
                    seen["stop_at"] = time.monotonic()
                os.kill(pid, sig)
            if seen["stop_at"] is not None:
                while not process_gone(pid) and time.monotonic() < deadline + case.limit:
                    time.sleep(0.0005)
                seen["ended_at"] = time.monotonic()

        threads, target = [], [None]

        def started(proc):
            thread = threading.Thread(target=signaller, args=(proc,))
            thread.start()
            threads.append(thread)

        if self.way:
            target[0] = lambda proc: proc.pid
            result = suite.unprivileged.run(self.way, case.args, case.limit, started)
        else:
            target[0] = suite.program.signal_target
            result = suite.program.run(case.args, case.limit, started=started)
        for thread in threads:
            thread.join()
        result.expect = self.expect(len(self.requests_on_wire(suite)) - before)
        problems = list(seen["problems"])
        if not last:  # the suite checks the last run's output and status itself
            problems += result.problems + check_output(result.expect, result.stdout)
            if result.status != case.status:
                problems.append("exit status %s, expected %d" % (result.status, case.status))
        took = None
        if seen["stop_at"] is not None and seen["ended_at"] is not None:
            took = seen["ended_at"] - seen["stop_at"]
            within = suite.opts.ctrl_c_within
            if self.measure and took > within:
                problems.append("ended %.0f ms after Ctrl-C, expected within %.0f ms"
                                % (took * 1000, within * 1000))
        return result, problems, took

    def run(self, case, suite):
        problems, times = [], []
        result = None
        for n in range(1, self.tries + 1):
            result, found, took = self.one_try(case, suite, n == self.tries)
            problems += ["try %d: %s" % (n, p) for p in found]
            if took is not None:
                times.append(took)
        if self.measure and times:
            print("     %s: %d tries, ended %.1f ms median, %.1f ms at worst after Ctrl-C"
                  % (case.name, len(times), statistics.median(times) * 1000,
                     max(times) * 1000), flush=True)
        result.problems += problems
        return result


def add_statistics_so_far(table, tries):
    """The reply to the second request comes 800 ms after it; Ctrl-\\ at 400
    ms prints the statistics of the first, and the second keeps its line."""
    address = table.responder(echo(at=800))
    interim = [exact(""), exact("Packets: Sent 1, Received 1 (0% Lost)"),
               Line("Rount Trip Time (Min/Avg/Max): <ms>/<ms>/<ms> (the first reply's)",
                    re.compile(r"Rount Trip Time \(Min/Avg/Max\): (\d+\.\d{3}) ms/\1 ms/\1 ms\Z"))]
    table.add("Ctrl-\\ in a wait: the statistics so far, then the rest of the run",
              ["-c", "3", address], [], solo=True, needs=(Need.POSIX_SIGNALS,),
              tags=SHARE | TWIN,
              driver=InterruptDriver(address, Signals(2, [(0.4, signal.SIGQUIT)]),
                                     lambda n, address=address: ([opening(address)]
                                                                 + replies(address, 1) + interim
                                                                 + replies(address, 3)[1:]
                                                                 + summary(3, 3)),
                                     tries, measure=False))


def add_cases(table):
    add, responder = table.add, table.responder

    def stop_cases(prefix, tries, way=None):
        """Ctrl-C in a wait, in the pause, twice at once, and in a wait whose
        timeout is more than one poll can take."""
        extra = dict(unprivileged=way, program_role=way.role,
                     needs=(Need.POSIX_BACKEND,)) if way else {}

        address = responder()  # silent: every wait lasts its timeout
        add(prefix + "Ctrl-C in a wait on a silent peer: the request counts as lost, "
            "the summary follows", ["-c", "5", "-w", "5000", address], [], solo=True,
            driver=InterruptDriver(address, Signals(1, [(0.5, signal.SIGINT)]),
                                   lambda n, address=address: [opening(address)] + summary(1, 0),
                                   tries, way=way), tags=SHARE, **extra)

        address = responder(echo())
        add(prefix + "Ctrl-C in the pause: the summary of the requests so far",
            ["-c", "5", address], [], solo=True,
            driver=InterruptDriver(address, Signals(2, [(0.5, signal.SIGINT)]),
                                   lambda n, address=address: ([opening(address)]
                                                               + replies(address, 2)
                                                               + summary(2, 2)),
                                   tries, way=way), tags=SHARE, **extra)

        address = responder()
        add(prefix + "Ctrl-C twice at once: one summary, whole",
            ["-c", "5", "-w", "5000", address], [], solo=True,
            driver=InterruptDriver(address, Signals(1, [(0.5, signal.SIGINT),
                                                        (0.5, signal.SIGINT)]),
                                   lambda n, address=address: [opening(address)] + summary(1, 0),
                                   5, way=way), tags=SHARE, **extra)

        # Timeouts of 2^31 ms and more are waited in pieces; none may end the
        # wait at once (a negative or zero piece would).
        for timeout, tags in [
                ("2147483648", SHARE),
                ("4294967295", NO_TAGS)]:
            address = responder()
            add(prefix + "-w %s: a silent wait lasts until Ctrl-C" % timeout,
                ["-c", "2", "-w", timeout, address], [], solo=True,
                driver=InterruptDriver(address, Signals(1, [(1.0, signal.SIGINT)]),
                                       lambda n, address=address: ([opening(address)]
                                                                   + summary(1, 0)),
                                       2, way=way), tags=tags, **extra)

        # Stopped 300 ms into a 1500 ms wait and continued 300 ms later: the
        # wait goes on with the time it has left, and times out at its
        # deadline.
        address = responder()
        add(prefix + "stopped and continued in a wait: no interruption, "
            "the wait keeps its deadline", ["-c", "2", "-w", "1500", address], [], solo=True,
            wire=address, gaps=[(1.45, 1.75)],
            driver=InterruptDriver(address, Signals(1, [(0.3, signal.SIGSTOP),
                                                        (0.6, signal.SIGCONT)]),
                                   lambda n, address=address: ([opening(address)] + timeouts(2)
                                                               + summary(2, 0)),
                                   1, measure=False, way=way), tags=SHARE, **extra)

        # Stopped before its reply arrives (at 50 ms) and continued past the
        # next slot (300 ms): the reply came in time and counts, with the
        # round trip the kernel stamped.
        address = responder(echo(at=50))
        add(prefix + "stopped while the reply arrives, continued after the slot: the reply counts",
            ["--interval", "300ms", "-c", "2", address], [], solo=True,
            driver=InterruptDriver(address, Signals(1, [(0.02, signal.SIGSTOP),
                                                        (0.4, signal.SIGCONT)]),
                                   lambda n, address=address: run_lines(
                                       address, replies(address, 2, rtt_range=(49, 60)), 2, 2),
                                   1, measure=False, way=way),
            **dict(extra, needs=extra.get("needs", ()) + (Need.KERNEL_STAMPS,)))

    stop_cases("", 20)
    stop_cases("unprivileged, ping socket: ", 10, PING_SOCKET)

    # The ICMPv6 sockets wait the same way. A peer the router drops logs
    # nothing: the signal is timed from the start, well inside the wait.
    address = PEER6_NET + "20"
    for prefix, way in [
            ("", None),
            ("unprivileged, ping socket: ", PING_SOCKET)]:
        extra = dict(unprivileged=way, program_role=way.role) if way else {}
        add(prefix + "-6: Ctrl-C in a wait on a silent peer", ["-c", "3", "-w", "5000", address],
            [], solo=True, needs=(Need.ICMPV6,) + ((Need.POSIX_BACKEND,) if way else ()),
            driver=InterruptDriver(None, Signals(0, [(0.5, signal.SIGINT)]),
                                   lambda n, address=address: run_lines(address, [], 1, 0, 56,
                                                                        IPV6_HEADERS),
                                   5, way=way), tags=SHARE, **extra)

    add_statistics_so_far(table, 3)

    # With --json the summary says that the user stopped the run, and the
    # request cut off in its wait has no object but counts as sent and lost
    # (json_twins.py checks both); Ctrl-\\ gives an interim object. A few
    # tries each: the timing is for the text cases above to prove.
    twins = json_twins.Twins(table)
    address = twins.responder()
    twins.add("Ctrl-C in a wait on a silent peer: the request counts as lost",
              ["-c", "5", "-w", "5000", address], [], solo=True, interrupted=True,
              tags=SHARE | TWIN,
              driver=InterruptDriver(address, Signals(1, [(0.5, signal.SIGINT)]),
                                     lambda n, address=address: ([opening(address)]
                                                                 + summary(1, 0)), 3))
    address = twins.responder(echo())
    twins.add("Ctrl-C in the pause: the summary of the requests so far", ["-c", "5", address], [],
              solo=True, interrupted=True, tags=TWIN,
              driver=InterruptDriver(address, Signals(2, [(0.5, signal.SIGINT)]),
                                     lambda n, address=address: ([opening(address)]
                                                                 + replies(address, 2)
                                                                 + summary(2, 2)), 3))
    add_statistics_so_far(twins, 1)
