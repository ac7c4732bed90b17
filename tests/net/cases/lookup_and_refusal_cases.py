"""A Ctrl-C while a name is being looked up, and an option value the system
refuses.

The lookup case runs the program in a namespace of its own whose resolver
asks dns_gate.py on its loopback, which never answers the name: the Ctrl-C
comes once the query has arrived, and the program must end within
--ctrl-c-within with the summary of a run that sent nothing. A Ctrl-\\
before it prints the statistics so far before the opening line, which
only the lookup's end would print.

The refused case asks for TTL 300, which Linux refuses: the requests leave
with the system's TTL (63 behind the router), standard error says so once,
and the JSON start object says null.
"""
import os
import signal
import threading
import time

from expect import exact, opening, reply, run_lines, summary
from faults import GATE_FILES
from interruption_cases import process_gone
from table import Need, echo
from wire_checks import read_log, ttl_seen

ROLE = "lookup_host"
NAME = "slow.lookup.vxnet"
QUERY_LIMIT_S = 10.0  # for the query to reach the gate
NOTHING_YET = [exact(""), exact("Packets: Sent 0, Received 0 (0% Lost)"),
               exact("Rount Trip Time (Min/Avg/Max): 0.000 ms/0.000 ms/0.000 ms")]
REFUSED = "vexmo: TTL 300 refused by the system; its default is used\n"


def build(lab):
    """The namespace whose resolver is the gate on its own loopback."""
    lab.add_namespace(ROLE)
    lab.write_netns_files(ROLE, GATE_FILES)


class LookupStopDriver:
    """Stops the program with Ctrl-C while the gate holds its lookup; with
    interim, a Ctrl-\\ comes first."""

    def __init__(self, interim=False):
        self.interim = interim

    def run(self, case, suite):
        lab, program = suite.lab, suite.program
        gate = lab.start_helper(ROLE, "dns_gate.py", NAME, "127.0.0.9")
        problems = []
        if gate.stdout.readline().strip() != "ready":
            problems.append("name server gate did not start")
        seen = {}

        def signaller(proc):
            # readline blocks: a timer ends a gate that never hears the query.
            watchdog = threading.Timer(QUERY_LIMIT_S, gate.kill)
            watchdog.start()
            line = gate.stdout.readline()
            watchdog.cancel()
            if not line.startswith("query"):
                problems.append("the name was never looked up")
                return
            time.sleep(0.2)  # well inside the lookup
            pid = program.signal_target(proc)
            if self.interim:
                os.kill(pid, signal.SIGQUIT)
                time.sleep(0.2)
            seen["stop_at"] = time.monotonic()
            os.kill(pid, signal.SIGINT)
            while not process_gone(pid) and time.monotonic() < seen["stop_at"] + case.limit:
                time.sleep(0.0005)
            seen["ended_at"] = time.monotonic()

        threads = []

        def started(proc):
            thread = threading.Thread(target=signaller, args=(proc,))
            thread.start()
            threads.append(thread)

        result = program.run(case.args, case.limit, ROLE, started=started)
        for thread in threads:
            thread.join()
        lab.finish_helper(gate, read=False)
        if "ended_at" in seen:
            took = seen["ended_at"] - seen["stop_at"]
            print("     %s: ended %.1f ms after Ctrl-C" % (case.name, took * 1000), flush=True)
            if took > suite.opts.ctrl_c_within:
                problems.append("ended %.0f ms after Ctrl-C, expected within %.0f ms"
                                % (took * 1000, suite.opts.ctrl_c_within * 1000))
        result.problems += problems
        return result


class RefusedTtlDriver:
    """The text run is the case's; a --json run to a second address checks
    the start object and the wire of its own."""

    def __init__(self, json_address):
        self.json_address = json_address

    def run(self, case, suite):
        problems = []
        json_run = suite.program.run(["--json"] + case.args[:-1] + [self.json_address],
                                     case.limit)
        # The runner checks and renders JSON as text: the objects are kept.
        objects = getattr(json_run, "json", None) or [{}]
        start = objects[0]
        if start.get("ttl", "absent") is not None:
            problems.append("JSON start object ttl %r, expected null" % start.get("ttl"))
        # The Windows console ends its lines with a carriage return.
        if json_run.stderr.replace("\r\n", "\n") != REFUSED:
            problems.append("--json standard error %r, expected %r" % (json_run.stderr, REFUSED))
        problems += ttl_seen(63)(read_log(suite.wire_logs, self.json_address), json_run)
        result = suite.program.run(case.args, case.limit)
        if result.stderr.replace("\r\n", "\n") != REFUSED:
            problems.append("standard error %r, expected %r" % (result.stderr, REFUSED))
        result.stderr = ""  # said once, and checked here
        result.problems += problems
        return result


def add_cases(table):
    table.add("Ctrl-C during a name lookup that never ends: the run ends at once",
              ["-c", "3", "-w", "500", NAME],
              [opening(NAME)] + summary(0, 0), solo=True, limit=15.0,
              driver=LookupStopDriver(), program_role=ROLE,
              needs=(Need.OTHER_NAMESPACE, Need.POSIX_SIGNALS))
    table.add("Ctrl-\\, then Ctrl-C, during a name lookup: the statistics at once, then the end",
              ["-c", "3", "-w", "500", NAME],
              NOTHING_YET + [opening(NAME)] + summary(0, 0), solo=True,
              limit=15.0, driver=LookupStopDriver(interim=True), program_role=ROLE,
              needs=(Need.OTHER_NAMESPACE, Need.POSIX_SIGNALS))
    address = table.responder(echo())
    json_address = table.responder(echo())
    table.add("-i 300 is refused by Linux: the system's TTL leaves, and vexmo says so",
              ["-i", "300", "-c", "1", address], run_lines(address, [reply(address, 0)], 1, 1),
              wire=address, wire_checks=[ttl_seen(63)], driver=RefusedTtlDriver(json_address))


def needs_lookup_namespace(cases):
    return any(c.program_role == ROLE for c in cases)
