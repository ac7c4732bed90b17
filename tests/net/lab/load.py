"""Load: another namespace on the LAN floods the host with ICMP not meant for
vexmo while it measures the responder; a capture on the host's link shows
which replies arrived in time, and every one of them must be reported."""
import json
import os
import re
import statistics
import threading
import time

from expect import TIME_LINE, Line, exact, opening, reply, summary
from loadgen import FLOOD_IDENTIFIERS
from network import HOST, add_lan_host
from table import Need, echo

FLOOD_ROLE = "flood"
FLOOD_ADDRESS = "198.18.0.5"
# Datagrams per second of the flood, their ICMP size, and requests per run;
# the environment may change them for a measurement (VX_FLOOD_RATE,
# VX_FLOOD_SIZE, VX_LOAD_COUNT).
FLOOD_RATE = int(os.environ.get("VX_FLOOD_RATE", "20000"))
FLOOD_SIZE = int(os.environ.get("VX_FLOOD_SIZE", "64"))
COUNT = int(os.environ.get("VX_LOAD_COUNT", "8"))
TIMEOUT_MS = 1000
MARGIN_S = 0.05  # a reply this close to the timeout may go either way


def add_flood_host(lab):
    add_lan_host(lab, FLOOD_ROLE, "x", FLOOD_ADDRESS)


def read_raw_socket(pid):
    """(drops, bytes queued) of the program's raw socket, or None."""
    try:
        inodes = set()
        for fd in os.listdir("/proc/%d/fd" % pid):
            target = os.readlink("/proc/%d/fd/%s" % (pid, fd))
            if target.startswith("socket:["):
                inodes.add(target[8:-1])
        with open("/proc/%d/net/raw" % pid) as f:
            rows = f.read().splitlines()[1:]
    except OSError:
        return None
    for row in rows:
        cols = row.split()
        if len(cols) >= 13 and cols[9] in inodes:
            return int(cols[12]), int(cols[4].split(":")[1], 16)
    return None


def rtt_median(stdout):
    times = [int(m.group(1)) + int(m.group(2)) / 1000
             for m in map(TIME_LINE.match, stdout.split("\n")) if m]
    return (statistics.median(times) if times else None), len(times)


def expected_from_capture(records, identifier, target, timeout_s):
    """The lines the requests on the wire call for: a reply for every
    request whose reply reached the host in time, a timeout for every one
    whose reply did not come or came late; either, in between. Returns
    (lines, replies that came in time) or (None, problem)."""
    requests = sorted((r for r in records if r["out"] and r["type"] == 8 and r["id"] == identifier),
                      key=lambda r: r["t"])
    arrived = {}
    for r in records:
        if not r["out"] and r["type"] == 0 and r["id"] == identifier:
            arrived.setdefault(r["stamp"], r["t"])
    if len(requests) != COUNT:
        return None, "the capture saw %d requests, expected %d" % (len(requests), COUNT)
    lines, in_time, received, exact_seq = [], 0, 0, True
    either = Line("<reply or timeout>", re.compile(
        r"(%s: Time: \d+\.\d{3} ms, Sequence: \d+, Ttl: 63|Request timeout\.)\Z"
        % re.escape(target)))
    for r in requests:
        took = arrived.get(r["stamp"], float("inf")) - r["t"]
        if took <= timeout_s - MARGIN_S:
            in_time += 1
            lines.append(reply(target, received) if exact_seq else either)
            received += 1
        elif took >= timeout_s + MARGIN_S:
            lines.append(exact("Request timeout."))
        else:
            lines.append(either)
            exact_seq = False
    return lines, in_time


class LoadDriver:
    """Runs the program once unloaded against base, then under the flood
    against target (the case's last argument)."""

    def __init__(self, base, target):
        self.base, self.target = base, target

    def run(self, case, suite):
        lab, program = suite.lab, suite.program
        problems = []
        args = case.args
        base = program.run(args[:-1] + [self.base], case.limit)
        base_median, base_replies = rtt_median(base.stdout)

        capture = lab.start_helper("host", "loadgen.py", "capture", lab.interface("h"),
                                   self.target)
        if capture.stdout.readline().strip() != "ready":
            problems.append("the capture did not start")
        seconds = COUNT * 1.0 + 4.0
        flood = lab.start_helper(FLOOD_ROLE, "loadgen.py", "flood", HOST, str(FLOOD_RATE),
                                 str(seconds), str(int(FLOOD_RATE * seconds)), str(FLOOD_SIZE))
        time.sleep(0.3)  # the flood is under way before the first request
        socket_seen = {"drops": 0, "queued": 0, "samples": 0}

        def sample(proc):
            def watch():
                while proc.poll() is None:
                    seen = read_raw_socket(proc.pid)
                    if seen:
                        socket_seen["drops"] = max(socket_seen["drops"], seen[0])
                        socket_seen["queued"] = max(socket_seen["queued"], seen[1])
                        socket_seen["samples"] += 1
                    time.sleep(0.05)
            threading.Thread(target=watch, daemon=True).start()

        result = program.run(args, case.limit, started=sample)
        flood_out = lab.finish_helper(flood)
        capture_out = lab.finish_helper(capture)
        try:
            flooded = json.loads(flood_out.strip().splitlines()[-1])
            captured = json.loads(capture_out.strip().splitlines()[-1])
        except (ValueError, IndexError):
            result.problems += problems + ["the flood or the capture gave no account"]
            return result

        identifier = result.pid & 0xFFFF
        lines, in_time = expected_from_capture(captured["records"], identifier, self.target,
                                               TIMEOUT_MS / 1000)
        if lines is None:
            problems.append(in_time)
        else:
            result.expect = [opening(self.target)] + lines + summary(COUNT, in_time)
            if any(line.text == "<reply or timeout>" for line in lines):
                result.expect = (result.expect[:-3]
                                 + [Line("<packets line>", re.compile(r".*\Z"))] * 3)
        if captured["drops"]:
            problems.append("the capture itself dropped %d datagrams" % captured["drops"])
        if base_replies != COUNT:
            problems.append("the unloaded run got %d replies of %d" % (base_replies, COUNT))
        if socket_seen["drops"] and identifier not in FLOOD_IDENTIFIERS:
            problems.append("the program's socket dropped %d datagrams: the flood reached it"
                            % socket_seen["drops"])
        if not socket_seen["samples"]:
            problems.append("the program's socket was never seen")
        loaded_median, loaded_replies = rtt_median(result.stdout)
        rate = flooded["sent"] / flooded["seconds"] if flooded["seconds"] else 0
        print("     load: flood of %d datagrams in %.1f s (%.0f/s); unloaded: %d/%d replies, "
              "RTT median %s ms; loaded: %d/%d replies (%s arrived in time), RTT median %s ms; "
              "socket drops %d, most queued %d bytes"
              % (flooded["sent"], flooded["seconds"], rate, base_replies, COUNT,
                 "%.3f" % base_median if base_median is not None else "-", loaded_replies,
                 COUNT, in_time, "%.3f" % loaded_median if loaded_median is not None else "-",
                 socket_seen["drops"], socket_seen["queued"]), flush=True)
        result.problems += problems
        return result


def add_case(table):
    base, target = table.responder(echo()), table.responder(echo())
    table.add("load: %d/s of foreign ICMP at the host, no reply that came in time is lost"
              % FLOOD_RATE,
              ["-c", str(COUNT), "-w", str(TIMEOUT_MS), target],
              [opening(target)] + [reply(target, n) for n in range(COUNT)] + summary(COUNT, COUNT),
              wire=target, solo=True, limit=COUNT * 2.0 + 15.0, driver=LoadDriver(base, target),
              needs=(Need.LINUX_SOCKET,))
