#!/usr/bin/env python3
"""Runs vexmo inside a small network of Linux network namespaces and checks
its whole output, exit status, timing and what it put on the wire.

    sudo tests/net/run_suite.py --vexmo build/vexmo
    sudo tests/net/run_suite.py --vexmo "wine build-windows/vexmo.exe" --wine

The network (made here, torn down on every exit):

    host 198.18.0.2 --+-- br (LAN 198.18.0.0/24) -- R1 198.18.0.1 --+-- peer 198.18.1.2 (+ .10-.39)
                      |                                            +-- small 198.18.2.2/.3, MTU 576
    R2 198.18.0.3 ----+  (198.18.5.1 behind it)                    +-- responder 198.19.0.0/24
                                                                   +-- 198.18.7/24 unreachable,
                                                                       198.18.8/24 prohibit,
                                                                       198.18.99/24 no route

Needs root. Without it the suite is skipped (status 77), or fails when CI
is set to true. Exit status: 0 all passed, 1 a failure.
"""
import argparse
import concurrent.futures
import os
import shlex
import shutil
import signal
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import netlab  # noqa: E402
import cases  # noqa: E402
import privilege_cases  # noqa: E402  (adds the unprivileged cases)
import stress_cases  # noqa: E402  (adds hostile peers, faults and load)
import wine  # noqa: E402

SKIP = 77


def give_up(reason):
    """Cannot build the network: skipped on a developer's machine, a failure in CI."""
    if os.environ.get("CI") == "true":
        print("net suite: FAILED, cannot build the test network: %s" % reason, flush=True)
        sys.exit(1)
    print("net suite: skipped, cannot build the test network: %s" % reason, flush=True)
    sys.exit(SKIP)


def estimate(case):
    args = case.args
    count = 5
    if "-c" in args and args.index("-c") + 1 < len(args):
        try:
            count = max(1, int(args[args.index("-c") + 1], 0))
        except ValueError:
            pass
    return count


def default_wire_checks(case, reqs, result):
    """What every logged request must show, whatever the case."""
    problems = []
    ident = netlab.expected_identifier(result, reqs)
    for i, r in enumerate(reqs):
        where = "request %d: " % i
        if r.icmp[0] != 8 or r.icmp[1] != 0:
            problems.append(where + "type %d code %d, expected 8 0" % (r.icmp[0], r.icmp[1]))
        if netlab.rfc1071(r.icmp) != 0xFFFF:
            problems.append(where + "bad ICMP checksum")
        if r.ident != ident:
            problems.append(where + "identifier bytes %02x %02x, expected %02x %02x (low byte first)"
                            % (r.icmp[4], r.icmp[5], ident & 0xFF, ident >> 8))
        if any(r.icmp[24:]):
            problems.append(where + "data after offset 24 is not zero")
        if r.df != ("-f" in case.args):
            problems.append(where + "DF bit %s" % ("set" if r.df else "clear"))
        if "-i" not in case.args and r.ttl != 63:
            problems.append(where + "TTL after the router %d, expected 63" % r.ttl)
        if r.src != (case.runner.source if case.runner else netlab.H_ADDR):
            problems.append(where + "source %s" % r.src)
        if i and r.stamp <= reqs[i - 1].stamp:
            problems.append(where + "send stamp %d not above the one before (%d)"
                            % (r.stamp, reqs[i - 1].stamp))
    return problems


def check_case(case, result, topo, opts):
    problems = []
    if result.killed:
        problems.append("killed after %.0f s" % case.limit)
    if result.status != case.status:
        problems.append("exit status %s, expected %d" % (result.status, case.status))
    if result.stderr and not opts.allow_stderr:
        problems.append("wrote to standard error")
    problems += netlab.check_output(case.expect, result.stdout)
    for check in case.checks:
        problems += check(result)
    took = result.end - result.start
    if case.elapsed:
        lo, hi = case.elapsed
        if not (lo <= took <= hi + opts.slack):
            problems.append("took %.2f s, expected %.2f to %.2f s" % (took, lo, hi + opts.slack))
    if case.wire:
        reqs = netlab.wire_log(topo, case.wire)
        problems += default_wire_checks(case, reqs, result)
        for check in case.wire_checks:
            problems += check(reqs, result)
        if case.gaps is not None:
            gaps = [b.t - a.t for a, b in zip(reqs, reqs[1:])]
            if len(gaps) != len(case.gaps):
                problems.append("%d requests on the wire, expected %d" % (len(reqs), len(case.gaps) + 1))
            for k, (gap, (lo, hi)) in enumerate(zip(gaps, case.gaps)):
                if not lo <= gap <= hi:
                    problems.append("requests %d and %d %.3f s apart, expected %.2f to %.2f s"
                                    % (k, k + 1, gap, lo, hi))
        if case.tail is not None and reqs and result.end - reqs[-1].t < case.tail:
            problems.append("ended %.3f s after the last request, expected at least %.1f s"
                            % (result.end - reqs[-1].t, case.tail))
    return problems


def report(case, result, problems, topo):
    runs = privilege_cases.command(topo, case.runner) if case.runner else netlab.nsx(topo, "host")
    cmd = " ".join(shlex.quote(a) for a in runs + result.argv)
    out = ["FAIL: " + case.name,
           "  command: " + cmd,
           "  exit status %s after %.2f s" % (result.status, result.end - result.start)]
    out += ["  problem: " + p for p in problems]
    out.append("  --- expected output")
    out += ["  | " + line.text.replace("\t", "\\t") for line in case.expect]
    out.append("  --- actual output")
    out += ["  | " + line.replace("\t", "\\t") for line in result.stdout.split("\n")]
    if result.stderr:
        out.append("  --- standard error")
        out += ["  | " + line for line in result.stderr.rstrip("\n").split("\n")]
    return "\n".join(out)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--vexmo", required=True,
                        help="command that runs the program, e.g. build/vexmo or 'wine vexmo.exe'")
    parser.add_argument("--identifier", choices=["pid", "wire"], default="pid",
                        help="expected echo identifier: the process id of the program (native) "
                             "or the one the first request carried (a loader in between)")
    parser.add_argument("--slack", type=float, default=0.5,
                        help="seconds added to every upper bound on a whole run (start-up cost)")
    parser.add_argument("--allow-stderr", action="store_true",
                        help="do not fail a run that wrote to standard error")
    parser.add_argument("--wine", action="store_true",
                        help="the program is vexmo.exe, run under Wine with a server inside H")
    parser.add_argument("--jobs", type=int, default=8, help="cases run at once")
    parser.add_argument("-k", dest="pattern", help="run only cases whose name contains this text")
    parser.add_argument("--list", action="store_true", help="list the cases and stop")
    opts = parser.parse_args()

    selected = [c for c in cases.CASES if not opts.pattern or opts.pattern in c.name]
    if opts.list:
        for c in selected:
            print(c.name)
        return 0
    prefix = shlex.split(opts.vexmo)
    if not prefix or not shutil.which(prefix[0]):
        print("net suite: FAILED, program not found: %s" % opts.vexmo, flush=True)
        return 1
    prefix[0] = os.path.abspath(prefix[0]) if os.path.exists(prefix[0]) else prefix[0]
    netlab.IDENTIFIER_MODE[0] = opts.identifier
    native = privilege_cases.applies(prefix)
    skipped, kept = [], []
    for c in selected:
        why = None
        if c.runner and not native:
            why = "the unprivileged modes are the POSIX backend's; this program is not a native one"
        elif c.driver:
            why = stress_cases.skip_reason(c, prefix, opts.wine)
        if why:
            skipped.append((c, why))
        else:
            kept.append(c)
    selected = kept
    if os.geteuid() != 0:
        give_up("not root")
    if not shutil.which("ip") or not shutil.which("iptables"):
        give_up("ip or iptables is not installed")

    started = time.monotonic()
    topo = netlab.new_topology()
    signal.signal(signal.SIGTERM, lambda *a: sys.exit(1))
    signal.signal(signal.SIGHUP, lambda *a: sys.exit(1))
    pool = None
    try:
        err = netlab.make_namespaces(topo)
        if err:
            give_up(err)
        err = netlab.setup_topology(topo, cases.ROUTED)
        if not err:
            stress_cases.prepare(topo)
            err = netlab.start_responder(topo, cases.RESPONDER)
        if not err and any(c.runner for c in selected):
            err = privilege_cases.setup(topo, prefix[0])
        if not err and any(c.driver for c in selected):
            err = stress_cases.setup(topo, selected)
        if not err and opts.wine:
            err = wine.start(topo, prefix, ["host"] + stress_cases.wine_roles(selected))
        run_program = wine.run_program if opts.wine else netlab.run_program
        stress_cases.RUN_PROGRAM[0] = run_program
        if err:
            print("net suite: FAILED, setting up the network: %s" % err, flush=True)
            return 1
        print("net suite: network %s ready in %.1f s, %d cases"
              % (topo.rid, time.monotonic() - started, len(selected)), flush=True)
        for case, why in skipped:
            print("skip %s: %s" % (case.name, why), flush=True)

        def one(case):
            if case.driver:
                result = case.driver(topo, prefix, case)
            elif case.runner:
                result = privilege_cases.run(topo, case.runner, case.args, case.limit)
            else:
                result = run_program(topo, prefix, case.args, case.limit)
            return case, result, check_case(case, result, topo, opts)

        failed = []

        def note(case, result, problems):
            took = result.end - result.start
            if problems:
                failed.append(report(case, result, problems, topo))
                print("FAIL %-70s %5.2f s" % (case.name, took), flush=True)
            else:
                print("ok   %-70s %5.2f s" % (case.name, took), flush=True)

        pool = concurrent.futures.ThreadPoolExecutor(max_workers=opts.jobs)
        order = sorted((c for c in selected if not c.solo), key=estimate, reverse=True)
        futures = [pool.submit(one, c) for c in order]
        for fut in concurrent.futures.as_completed(futures):
            note(*fut.result())
        for case in selected:
            if case.solo:
                note(*one(case))
        for text in failed:
            print("\n" + text, flush=True)
        print("\nnet suite: %.1f s" % (time.monotonic() - started))
        print("%d passed, %d failed, %d skipped" % (len(selected) - len(failed), len(failed),
                                                   len(skipped)), flush=True)
        return 1 if failed else 0
    finally:
        if pool:
            pool.shutdown(wait=False, cancel_futures=True)
        if opts.wine:
            wine.stop(topo)
        netlab.teardown(topo)


if __name__ == "__main__":
    try:
        sys.exit(main())
    except KeyboardInterrupt:
        print("net suite: interrupted", flush=True)
        sys.exit(130)
