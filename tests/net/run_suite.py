#!/usr/bin/env python3
"""Runs vexmo inside a small network of Linux network namespaces and checks
its whole output, exit status, timing and what it put on the wire.

    sudo tests/net/run_suite.py --vexmo build/vexmo
    sudo tests/net/run_suite.py --vexmo build/vexmo --json-twins all
    sudo tests/net/run_suite.py --vexmo build-asan/vexmo --share representative
    sudo tests/net/run_suite.py --vexmo "wine build-windows/vexmo.exe" --wine

Three directories beside this entry point:
  lab/     the lab: namespaces and network (lab.py, network.py, network6.py),
           the unprivileged host (privilege.py), the fault networks
           (faults.py), the flood host (load.py) and how the program is
           started (runners.py, wine.py);
  agents/  the programs the lab runs inside its namespaces: the responder,
           the load generator, the launchers, dns_gate, identifier_holder,
           sniff6, and wine_launch.cpp (built beside vexmo.exe);
  cases/   the case tables (main_cases.py, privilege_cases.py,
           stress_cases.py, ipv6_cases.py, interruption_cases.py,
           lookup_and_refusal_cases.py, watch_cases.py) and what
           they are made of (table.py, expect.py, wire_checks.py,
           json_twins.py).

Every case may have a --json twin (json_twins.py). A run has the
representative twins, those of the cases tagged TWIN (each event kind, both
sockets, both families); --json-twins all runs every twin, for when the
JSON output changes; --no-json-twins none. --share representative runs
only the cases tagged SHARE (each family of code paths), as the sanitized
build does.

Needs root. Without it the suite is skipped (status 77), or fails when CI
is set to true. Exit status: 0 all passed, 1 a failure.
"""
import argparse
import concurrent.futures
import os
import re
import shlex
import shutil
import signal
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[0:1] = [os.path.join(HERE, part) for part in ("cases", "lab", "agents")]

import faults  # noqa: E402
import exit_status_cases  # noqa: E402
import ipv6_cases  # noqa: E402
import json_twins  # noqa: E402
import interruption_cases  # noqa: E402
import load  # noqa: E402
import lookup_and_refusal_cases  # noqa: E402
import main_cases  # noqa: E402
import network  # noqa: E402
import network6  # noqa: E402
import privilege  # noqa: E402
import privilege_cases  # noqa: E402
import stress_cases  # noqa: E402
import watch_cases  # noqa: E402
import wine  # noqa: E402
import wire_checks  # noqa: E402
from expect import check_output  # noqa: E402
from lab import Lab, LabError  # noqa: E402
from runners import NativeRunner, is_native, skip_reason  # noqa: E402
from table import SHARE, TWIN, CaseTable  # noqa: E402

SKIP = 77


def give_up(reason):
    """Cannot build the network: skipped on a developer's machine, a failure in CI."""
    if os.environ.get("CI") == "true":
        print("net suite: FAILED, cannot build the test network: %s" % reason, flush=True)
        sys.exit(1)
    print("net suite: skipped, cannot build the test network: %s" % reason, flush=True)
    sys.exit(SKIP)


def all_cases(twins="representative", share="all"):
    """Every case, and --json twins: "all" of them, the "representative"
    ones (tagged TWIN) or "none"; share "representative": only the cases
    tagged SHARE. Every twin is made either way, so that each case keeps its
    addresses whatever is chosen."""
    table = CaseTable()
    modules = (main_cases, privilege_cases, stress_cases, ipv6_cases)
    for module in modules + (interruption_cases, exit_status_cases, lookup_and_refusal_cases,
                             watch_cases):
        module.add_cases(table)
    for module in modules:
        module.add_cases(json_twins.Twins(table))
    table.cases = [c for c in table.cases
                   if (not c.json or twins == "all" or twins == "representative" and TWIN <= c.tags)
                   and (share == "all" or SHARE <= c.tags)]
    return table


def request_count(case):
    """-c of the case (5 when absent): longer runs start first."""
    args = case.args
    if "-c" in args and args.index("-c") + 1 < len(args):
        try:
            return max(1, int(args[args.index("-c") + 1], 0))
        except ValueError:
            pass
    return 5


class Suite:
    """The lab, the runners and the checks of one run of the suite."""

    def __init__(self, lab, program, unprivileged, wire_logs, opts):
        self.lab = lab
        self.program = program
        self.unprivileged = unprivileged
        self.wire_logs = wire_logs
        self.opts = opts

    def run(self, case):
        if case.driver:
            return case.driver.run(case, self)
        if case.unprivileged:
            return self.unprivileged.run(case.unprivileged, case.args, case.limit)
        return self.program.run(case.args, case.limit)

    def problems(self, case, result):
        problems = list(result.problems)
        if result.killed:
            problems.append("killed after %.0f s" % case.limit)
        if result.status != case.status:
            problems.append("exit status %s, expected %d" % (result.status, case.status))
        if case.stderr is not None:
            # Windows ends lines with CR LF; a pattern must match it whole.
            stderr = result.stderr.replace("\r\n", "\n")
            if not (case.stderr.fullmatch(stderr) if hasattr(case.stderr, "fullmatch")
                    else stderr == case.stderr):
                problems.append("standard error %r, expected %r" % (result.stderr, case.stderr))
        elif result.stderr and not self.opts.allow_stderr:
            problems.append("wrote to standard error")
        problems += check_output(result.expect or case.expect, result.stdout)
        if case.json:
            problems += json_twins.interrupted_problems(case, result)
        for check in case.checks:
            problems += check(result)
        took = result.end - result.start
        if case.elapsed:
            lo, hi = case.elapsed
            if not lo <= took <= hi + self.opts.slack:
                problems.append("took %.2f s, expected %.2f to %.2f s"
                                % (took, lo, hi + self.opts.slack))
        if case.wire:
            problems += self.wire_problems(case, result)
        return problems

    def logged_requests(self, address, result):
        """The requests the responder logged for address. Where the kernel
        answers an echo request itself, the program may have ended before
        the responder came to log it: wait for as many as the program says
        it sent, a second at most."""
        sent = re.search(r'Packets: Sent (\d+)|"event":"summary","sent":(\d+)', result.stdout)
        wanted = int(sent.group(1) or sent.group(2)) if sent else 0
        give_up = time.monotonic() + 1.0
        requests = wire_checks.read_log(self.wire_logs, address)
        while len(requests) < wanted and time.monotonic() < give_up:
            time.sleep(0.02)
            requests = wire_checks.read_log(self.wire_logs, address)
        return requests

    def wire_problems(self, case, result):
        requests = self.logged_requests(case.wire, result)
        if ":" in case.wire:
            source = case.unprivileged.source6 if case.unprivileged else network6.HOST6
        else:
            source = case.unprivileged.source if case.unprivileged else network.HOST
        problems = wire_checks.every_request(
            requests, self.program.identifier(result, requests), source,
            dont_fragment="-f" in case.args, ttl=None if "-i" in case.args else 63)
        problems += wire_checks.round_trips_within_windows(requests, result.stdout)
        for check in case.wire_checks:
            problems += check(requests, result)
        if case.gaps is not None:
            problems += wire_checks.request_gaps(requests, case.gaps)
        if case.tail is not None and requests and result.end - requests[-1].t < case.tail:
            problems.append("ended %.3f s after the last request, expected at least %.1f s"
                            % (result.end - requests[-1].t, case.tail))
        return problems


def report(case, result, problems):
    out = ["FAIL: " + case.name,
           "  command: " + " ".join(shlex.quote(a) for a in result.command),
           "  exit status %s after %.2f s" % (result.status, result.end - result.start)]
    out += ["  problem: " + p for p in problems]
    out.append("  --- expected output")
    out += ["  | " + line.text.replace("\t", "\\t") for line in result.expect or case.expect]
    out.append("  --- actual output")
    out += ["  | " + line.replace("\t", "\\t") for line in result.stdout.split("\n")]
    if result.stderr:
        out.append("  --- standard error")
        out += ["  | " + line for line in result.stderr.rstrip("\n").split("\n")]
    return "\n".join(out)


def build_lab(lab, table, selected, prefix, opts, schema):
    """Everything the selected cases need; raises LabError."""
    network.build_main(lab, table.own_sources)
    wire_logs = network.start_responder(lab, table.responder_behaviours)
    unprivileged = None
    if any(c.unprivileged for c in selected):
        unprivileged = json_twins.Rendering(privilege.UnprivilegedRunner(lab, prefix[0]), schema,
                                            args_at=1)
    fault_list = [c.fault for c in selected if c.fault]
    if fault_list:
        faults.build_networks(lab, fault_list)
    if any(isinstance(c.driver, load.LoadDriver) for c in selected):
        load.add_flood_host(lab)
    if lookup_and_refusal_cases.needs_lookup_namespace(selected):
        lookup_and_refusal_cases.build(lab)
    if fault_list or unprivileged:
        lab.wait_until_up()
    if opts.wine:
        program = wine.WineRunner(lab, prefix, opts.identifier == "wire")
    else:
        program = NativeRunner(lab, prefix, opts.identifier == "wire")
    roles = ["host"] + [c.program_role for c in selected
                        if c.program_role != "host" and not c.unprivileged]
    try:
        program.start(list(dict.fromkeys(roles)))
    except BaseException:
        program.stop()
        raise
    return Suite(lab, json_twins.Rendering(program, schema), unprivileged, wire_logs, opts)


def run_cases(suite, selected, jobs):
    """Runs the cases, the solo ones alone after the others; returns the
    failure reports."""
    failed = []

    def one(case):
        result = suite.run(case)
        return case, result, suite.problems(case, result)

    def note(case, result, problems):
        took = result.end - result.start
        if problems:
            failed.append(report(case, result, problems))
            print("FAIL %-70s %5.2f s" % (case.name, took), flush=True)
        else:
            print("ok   %-70s %5.2f s" % (case.name, took), flush=True)

    pool = concurrent.futures.ThreadPoolExecutor(max_workers=jobs)
    try:
        order = sorted((c for c in selected if not c.solo), key=request_count, reverse=True)
        futures = [pool.submit(one, c) for c in order]
        for future in concurrent.futures.as_completed(futures):
            note(*future.result())
        for case in selected:
            if case.solo:
                note(*one(case))
    finally:
        pool.shutdown(wait=False, cancel_futures=True)
    return failed


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--vexmo", required=True,
                        help="command that runs the program, e.g. build/vexmo or 'wine vexmo.exe'")
    parser.add_argument("--identifier", choices=["pid", "wire"], default="pid",
                        help="expected echo identifier: the process id of the program (native) "
                             "or the one the first request carried (a loader in between)")
    parser.add_argument("--slack", type=float, default=0.5,
                        help="seconds added to every upper bound on a whole run (start-up cost)")
    parser.add_argument("--ctrl-c-within", type=float, default=0.1, metavar="SECONDS",
                        help="how soon after a Ctrl-C the program must have ended with its "
                             "summary (a sanitized build spends longer in its exit checks)")
    parser.add_argument("--allow-stderr", action="store_true",
                        help="do not fail a run that wrote to standard error")
    parser.add_argument("--wine", action="store_true",
                        help="the program is vexmo.exe, run under Wine with a server inside "
                             "the host")
    parser.add_argument("--jobs", type=int, default=8, help="cases run at once")
    parser.add_argument("-k", dest="pattern", help="run only cases whose name contains this text")
    parser.add_argument("--list", action="store_true", help="list the cases and stop")
    parser.add_argument("--json-twins", choices=["representative", "all", "none"],
                        default="representative",
                        help="which --json twins run: those of the cases tagged TWIN (each "
                             "event kind, both sockets, both families; the default), all of "
                             "them (for when the JSON output changes) or none")
    parser.add_argument("--no-json-twins", dest="json_twins", action="store_const", const="none",
                        help="leave out the --json twin of every case (--json-twins none)")
    parser.add_argument("--share", choices=["all", "representative"], default="all",
                        help="all the cases (the default), or only those tagged SHARE: each "
                             "family of code paths, for the sanitized build")
    opts = parser.parse_args()

    table = all_cases(twins=opts.json_twins, share=opts.share)
    selected = [c for c in table.cases if not opts.pattern or opts.pattern in c.name]
    if opts.list:
        for c in selected:
            print(c.name)
        return 0
    prefix = shlex.split(opts.vexmo)
    if not prefix or not shutil.which(prefix[0]):
        print("net suite: FAILED, program not found: %s" % opts.vexmo, flush=True)
        return 1
    prefix[0] = os.path.abspath(prefix[0]) if os.path.exists(prefix[0]) else prefix[0]
    native = is_native(prefix)
    skipped, kept = [], []
    for c in selected:
        why = skip_reason(c, native, opts.wine)
        if why:
            skipped.append((c, why))
        else:
            kept.append(c)
    selected = kept
    if os.geteuid() != 0:
        give_up("not root")
    if not shutil.which("ip") or not shutil.which("iptables"):
        give_up("ip or iptables is not installed")

    schema = json_twins.validator()
    if schema is None and any(c.json for c in selected):
        if os.environ.get("CI") == "true":
            print("net suite: FAILED, python3-jsonschema is not installed", flush=True)
            return 1
        print("net suite: python3-jsonschema is not installed: the --json lines are not "
              "checked against the schema", flush=True)

    started = time.monotonic()
    signal.signal(signal.SIGTERM, lambda *a: sys.exit(1))
    signal.signal(signal.SIGHUP, lambda *a: sys.exit(1))
    lab = Lab()
    suite = None
    try:
        try:
            suite = build_lab(lab, table, selected, prefix, opts, schema)
        except LabError as err:
            if err.environment:
                give_up(err)
            print("net suite: FAILED, setting up the network: %s" % err, flush=True)
            return 1
        print("net suite: network %s ready in %.1f s, %d cases"
              % (lab.tag, time.monotonic() - started, len(selected)), flush=True)
        for case, why in skipped:
            print("skip %s: %s" % (case.name, why), flush=True)
        failed = run_cases(suite, selected, opts.jobs)
        for text in failed:
            print("\n" + text, flush=True)
        print("\nnet suite: %.1f s" % (time.monotonic() - started))
        print("%d passed, %d failed, %d skipped" % (len(selected) - len(failed), len(failed),
                                                   len(skipped)), flush=True)
        return 1 if failed else 0
    finally:
        if suite:
            suite.program.stop()
        lab.close()


if __name__ == "__main__":
    try:
        sys.exit(main())
    except KeyboardInterrupt:
        print("net suite: interrupted", flush=True)
        sys.exit(130)
