#!/usr/bin/env python3
"""Round-trip benchmark: vexmo beside iputils ping and fping, on paths of its own.

Run through bench/run.sh, which builds what this needs. As root. Makes network
namespaces of its own (names carry a run id): a router, a peer behind it, and
one host namespace per tool, each linked to a bridge in the router by a veth
pair, so that no tool's raw socket hears (and is woken by) another's traffic.
From the hosts it measures three paths: the host's own loopback, the router
next door, and the peer one router away. On each path vexmo, ping, fping and
our kernel-stamped floor probe (the kernel's own transmit-to-receive
time) run side by side, each sending one request a
second, started a fraction of a second apart so that no two ever send at the
same instant. Traffic goes only to 127.0.0.1 and to the namespaces' own
addresses; every tool gets a bounded count and a hard time limit, and the
namespaces are deleted whatever happens.
"""
import argparse
import datetime
import json
import os
import re
import secrets
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

# Addresses exist only inside this run's namespaces.
HOST_NET, ROUTER_NEAR = "10.251.1", "10.251.1.1"
ROUTER_FAR, PEER_ADDR = "10.251.2.1", "10.251.2.2"
PATHS = [
    ("loopback", "127.0.0.1"),
    ("veth neighbour", ROUTER_NEAR),
    ("one router", PEER_ADDR),
]
GOAL_PATHS = ("loopback", "veth neighbour", "one router")


def fail(text):
    raise RuntimeError(text)


def run(argv):
    done = subprocess.run(argv, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT, timeout=30)
    if done.returncode != 0:
        fail("%s: %s" % (" ".join(argv), done.stdout.decode(errors="replace").strip()))
    return done.stdout.decode(errors="replace")


# ------------------------------------------------------------------ namespaces


def make_lab(rid, hosts):
    """Names only; build_lab makes them. One host namespace per tool, so that
    no tool's raw socket hears (and is woken by) another tool's traffic."""
    ns = {"router": "vxb-%s-router" % rid, "peer": "vxb-%s-peer" % rid}
    for i in range(hosts):
        ns["h%d" % i] = "vxb-%s-h%d" % (rid, i)
    return {"ns": ns, "hosts": hosts, "made": []}


def build_lab(lab, rid):
    ns = lab["ns"]
    for name in ns.values():
        run(["ip", "netns", "add", name])
        lab["made"].append(name)
        run(["ip", "-n", name, "link", "set", "lo", "up"])
    router, peer = ns["router"], ns["peer"]
    bridge = "vb%sbr" % rid  # interface names: at most 15 characters
    run(["ip", "-n", router, "link", "add", bridge, "type", "bridge", "forward_delay", "0"])
    run(["ip", "-n", router, "addr", "add", ROUTER_NEAR + "/24", "dev", bridge])
    run(["ip", "-n", router, "link", "set", bridge, "up"])
    for i in range(lab["hosts"]):
        host, near_h, near_r = ns["h%d" % i], "vb%sh%d" % (rid, i), "vb%sb%d" % (rid, i)
        run(["ip", "link", "add", near_h, "netns", host, "type", "veth",
             "peer", "name", near_r, "netns", router])
        run(["ip", "-n", router, "link", "set", near_r, "master", bridge])
        run(["ip", "-n", router, "link", "set", near_r, "up"])
        run(["ip", "-n", host, "addr", "add", "%s.%d/24" % (HOST_NET, 10 + i), "dev", near_h])
        run(["ip", "-n", host, "link", "set", near_h, "up"])
        run(["ip", "-n", host, "route", "add", "default", "via", ROUTER_NEAR])
    far_p, far_r = "vb%sp" % rid, "vb%sq" % rid
    run(["ip", "link", "add", far_p, "netns", peer, "type", "veth",
         "peer", "name", far_r, "netns", router])
    run(["ip", "-n", router, "addr", "add", ROUTER_FAR + "/24", "dev", far_r])
    run(["ip", "-n", router, "link", "set", far_r, "up"])
    run(["ip", "-n", peer, "addr", "add", PEER_ADDR + "/24", "dev", far_p])
    run(["ip", "-n", peer, "link", "set", far_p, "up"])
    run(["ip", "-n", peer, "route", "add", "default", "via", ROUTER_FAR])
    run(["ip", "netns", "exec", router, "sysctl", "-q", "-w", "net.ipv4.ip_forward=1"])
    # Links up and neighbours resolved before anything is measured (bounded).
    for i in range(lab["hosts"]):
        for _ in range(50):
            probe = subprocess.run(["ip", "netns", "exec", ns["h%d" % i], "ping", "-n", "-q",
                                    "-c", "1", "-W", "1", PEER_ADDR], stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL, timeout=10)
            if probe.returncode == 0:
                break
            time.sleep(0.1)
        else:
            fail("the peer namespace does not answer host %d" % i)


def tear_down(lab):
    for name in reversed(lab["made"]):
        subprocess.run(["ip", "netns", "del", name], stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=30)
    lab["made"] = []


# ------------------------------------------------------------------ processes

CHILDREN = set()  # launcher pids, each the leader of its own process group


def spawn(launcher, namespace, argv, out_path, limit_s):
    """Starts argv inside the namespace through the small launcher, which
    records the tool's own CPU time and peak memory in out_path + ".usage"
    and kills the tool after limit_s."""
    out_fd = os.open(out_path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644)
    command = [launcher, out_path + ".usage", "/run/netns/" + namespace, str(int(limit_s))]
    pid = os.fork()
    if pid == 0:
        try:
            os.setpgid(0, 0)
            null = os.open(os.devnull, os.O_RDONLY)
            os.dup2(null, 0)
            os.dup2(out_fd, 1)
            os.dup2(out_fd, 2)
            os.execv(launcher, command + argv)
        finally:
            os._exit(127)
    os.close(out_fd)
    CHILDREN.add(pid)
    return pid


def reap(pids, limit_s):
    """Waits for the launchers (each enforces its own limit); a launcher
    still running after limit_s is ended with its tool."""
    give_up = time.monotonic() + limit_s
    waiting = set(pids)
    while waiting and time.monotonic() < give_up:
        for pid in list(waiting):
            if os.waitpid(pid, os.WNOHANG)[0] == pid:
                waiting.discard(pid)
                CHILDREN.discard(pid)
        time.sleep(0.05)
    for pid in waiting:
        end_group(pid)


def end_group(pid):
    try:
        os.killpg(pid, signal.SIGKILL)
        os.waitpid(pid, 0)
    except OSError:
        pass
    CHILDREN.discard(pid)


def kill_children():
    for pid in list(CHILDREN):
        end_group(pid)


def read_usage(path):
    try:
        with open(path) as f:
            code, user_us, system_us, rss = (int(v) for v in f.read().split())
        return code, (user_us + system_us) / 1e6, rss
    except (OSError, ValueError):
        return None, None, None


# ------------------------------------------------------------------ tools

FLOAT = r"([0-9]+(?:\.[0-9]+)?)"


def parse_vexmo(text):
    return [float(m) for m in re.findall(r": Time: " + FLOAT + r" ms, Sequence", text)]


def parse_ping(text):
    return [float(m) for m in re.findall(r"time=" + FLOAT + r" ms", text)]


def parse_fping(text):
    for line in text.splitlines():
        if " : " in line:
            return [float(v) for v in line.split(" : ", 1)[1].split() if v != "-"]
    return []


def parse_floor(text):
    return [float(v) / 1000.0 for v in text.split() if v != "-" and re.match(FLOAT + "$", v)]


def participants(args, target):
    n = str(args.count)
    tools = [("vexmo", [args.vexmo, "-c", n, target], parse_vexmo)]
    for label, binary in args.also:
        tools.append((label, [binary, "-c", n, target], parse_vexmo))
    tools += [
        ("ping", ["ping", "-n", "-c", n, "-i", "1", "-W", "1", target], parse_ping),
        ("fping", ["fping", "-C", n, "-p", "1000", "-t", "1000", "-q", target], parse_fping),
        ("floor", [args.probe, target, n, "1000"], parse_floor),
    ]
    return tools


def measure_path(args, lab, run_index, path, target, workdir):
    tools = participants(args, target)
    step = 1.0 / len(tools)
    # Who goes first in each second rotates from run to run.
    order = [(i + run_index) % len(tools) for i in range(len(tools))]
    starts = sorted((order[i] * step, i) for i in range(len(tools)))
    pids = {}
    limit_s = args.count * 1.2 + 20
    t0 = time.monotonic()
    for offset, i in starts:
        pause = t0 + offset - time.monotonic()
        if pause > 0:
            time.sleep(pause)
        name, argv, _ = tools[i]
        out = os.path.join(workdir, "%d-%s-%s.txt" % (run_index, path.replace(" ", "_"), name))
        host = lab["ns"]["h%d" % (0 if args.shared_host else i)]
        pids[i] = (spawn(args.launcher, host, argv, out, limit_s), out)
    reap([p for p, _ in pids.values()], limit_s + 10)
    rows = {}
    for i, (name, argv, parse) in enumerate(tools):
        _, out = pids[i]
        with open(out, errors="replace") as f:
            text = f.read()
        samples = parse(text)
        code, cpu_s, rss = read_usage(out + ".usage")
        rows[name] = {
            "samples_ms": samples,
            "sent": args.count,
            "status": code,
            "cpu_s": cpu_s,
            "max_rss_kib": rss,
        }
        if not samples:
            rows[name]["output"] = text[-400:]
    return rows


# ------------------------------------------------------------------ figures


def p90(values):
    """The 90th percentile by nearest rank."""
    if not values:
        return None
    ordered = sorted(values)
    return ordered[(9 * len(ordered) + 9) // 10 - 1]


def figures(row, count):
    s = row["samples_ms"]
    return {
        "median": statistics.median(s) if s else None,
        "p90": p90(s),
        "received": len(s),
        "cpu_ms_per_request": None if row["cpu_s"] is None else row["cpu_s"] * 1000.0 / count,
        "max_rss_kib": row["max_rss_kib"],
    }


def med(values):
    values = [v for v in values if v is not None]
    return statistics.median(values) if values else None


def fmt(value, digits=3):
    return "n/a" if value is None else "%.*f" % (digits, value)


def ratio(a, b):
    return None if a is None or not b else a / b


def machine():
    model = "unknown"
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    model = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    with open("/proc/loadavg") as f:
        load = " ".join(f.read().split()[:3])
    return {"nproc": os.cpu_count(), "cpu": model, "kernel": os.uname().release, "load": load}


def summarise(args, runs, info):
    tools = [t[0] for t in participants(args, "x")]
    peers = ["ping", "fping"]
    lines = []
    lines.append("# vexmo round-trip benchmark")
    lines.append("")
    lines.append("%s; machine: %s cores, %s, kernel %s; load at start %s; vexmo %s." % (
        info["date"], info["nproc"], info["cpu"], info["kernel"], info["load"], info["commit"]))
    lines.append("%d run(s) of %d requests per tool and path, one request a second per tool, "
                 "tools staggered by %.2f s, %s. Times in ms; figures are medians over the runs; "
                 "the floor is the kernel's receive stamp of the reply minus its transmit stamp "
                 "of the request."
                 % (len(runs), args.count, 1.0 / len(tools),
                    "all in one host namespace" if args.shared_host
                    else "each tool in a host namespace of its own"))
    lines.append("")
    lines.append("| path | tool | received | median | p90 | vexmo / tool (median) "
                 "| vexmo / tool (p90) | CPU per request (ms) | peak RSS (KiB) |")
    lines.append("|---|---|---|---|---|---|---|---|---|")
    # Every build of vexmo is compared with the tools, the extra builds too.
    summary = {}
    for path, _ in PATHS:
        per_tool = {}
        for tool in tools:
            figs = [figures(r[path][tool], args.count) for r in runs]
            per_tool[tool] = {k: med([f[k] for f in figs]) for k in figs[0]}
            per_tool[tool]["received"] = sum(f["received"] for f in figs)
        summary[path] = per_tool
        v = per_tool["vexmo"]
        for tool in tools:
            f = per_tool[tool]
            rm = "" if tool == "vexmo" else fmt(ratio(v["median"], f["median"]), 2)
            rp = "" if tool == "vexmo" else fmt(ratio(v["p90"], f["p90"]), 2)
            cpu = "" if tool == "floor" else fmt(f["cpu_ms_per_request"], 3)
            rss = "" if tool == "floor" else fmt(f["max_rss_kib"], 0)
            name = "floor (kernel stamp)" if tool == "floor" else tool
            lines.append("| %s | %s | %d/%d | %s | %s | %s | %s | %s | %s |" % (
                path, name, f["received"], args.count * len(runs), fmt(f["median"]),
                fmt(f["p90"]), rm, rp, cpu, rss))
    lines.append("")
    lines.append("Goal (every path): vexmo's median at most 0.85 times ping's and within 0.90 "
                 "to 1.25 times the floor (below it would mean a wrong clock, not a fast tool); "
                 "CPU per request and peak memory no worse than the counter-timed build "
                 "(--also counter=..., where given).")
    lines.append("")
    lines.append("| path | median <= 0.85 x ping | 0.90 x floor <= median <= 1.25 x floor "
                 "| CPU vs counter build | RSS vs counter build |")
    lines.append("|---|---|---|---|---|")

    def check(ok, text):
        return ("met" if ok else "NOT met") + " (" + text + ")"

    for path in GOAL_PATHS:
        v, p, fl = summary[path]["vexmo"], summary[path]["ping"], summary[path]["floor"]
        base = summary[path].get("counter")
        to_ping = ratio(v["median"], p["median"])
        to_floor = ratio(v["median"], fl["median"])
        if base is None:
            cpu_cell = rss_cell = "no counter build given"
        else:
            cpu_cell = check(None not in (v["cpu_ms_per_request"], base["cpu_ms_per_request"])
                             and v["cpu_ms_per_request"] <= base["cpu_ms_per_request"] * 1.05,
                             "%s vs %s ms" % (fmt(v["cpu_ms_per_request"]),
                                              fmt(base["cpu_ms_per_request"])))
            rss_cell = check(None not in (v["max_rss_kib"], base["max_rss_kib"])
                             and v["max_rss_kib"] <= base["max_rss_kib"] * 1.05,
                             "%s vs %s KiB" % (fmt(v["max_rss_kib"], 0),
                                               fmt(base["max_rss_kib"], 0)))
        lines.append("| %s | %s | %s | %s | %s |" % (
            path,
            check(to_ping is not None and to_ping <= 0.85, "%s x" % fmt(to_ping, 2)),
            check(to_floor is not None and 0.90 <= to_floor <= 1.25, "%s x" % fmt(to_floor, 2)),
            cpu_cell, rss_cell))
    if len(runs) > 1:
        lines.append("")
        lines.append("Per run (median / p90, ms):")
        lines.append("")
        lines.append("| run | path | " + " | ".join(tools) + " |")
        lines.append("|---|---|" + "---|" * len(tools))
        for i, r in enumerate(runs):
            for path, _ in PATHS:
                cells = []
                for tool in tools:
                    f = figures(r[path][tool], args.count)
                    cells.append("%s / %s" % (fmt(f["median"]), fmt(f["p90"])))
                lines.append("| %d | %s | %s |" % (i + 1, path, " | ".join(cells)))
    return "\n".join(lines) + "\n", summary


# ------------------------------------------------------------------ main


def on_signal(number, _frame):
    raise SystemExit(128 + number)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--vexmo", required=True, help="the vexmo binary")
    parser.add_argument("--probe", required=True, help="the floor probe binary")
    parser.add_argument("--launcher", required=True, help="the spawn_measured binary")
    parser.add_argument("--count", type=int, default=30, help="requests per tool and path")
    parser.add_argument("--runs", type=int, default=1, help="whole runs, one after another")
    parser.add_argument("--also", action="append", default=[], metavar="LABEL=BINARY",
                        help="another vexmo build to run beside the others")
    parser.add_argument("--shared-host", action="store_true",
                        help="all tools in one host namespace, hearing each other's traffic")
    parser.add_argument("--keep-outputs", action="store_true",
                        help="keep each tool's output (printed directory)")
    parser.add_argument("--out", default=None, help="markdown result file")
    parser.add_argument("--commit", default="unknown")
    args = parser.parse_args()
    args.count = max(1, min(args.count, 600))
    args.runs = max(1, min(args.runs, 20))
    args.also = [tuple(a.split("=", 1)) for a in args.also]
    if os.geteuid() != 0:
        fail("run as root: raw sockets and network namespaces need it")

    signal.signal(signal.SIGTERM, on_signal)
    signal.signal(signal.SIGHUP, on_signal)
    rid = secrets.token_hex(3)
    lab = make_lab(rid, 1 if args.shared_host else len(participants(args, "x")))
    workdir = tempfile.mkdtemp(prefix="vxb-%s-" % rid)
    info = machine()
    info["date"] = datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC")
    info["commit"] = args.commit
    runs = []
    try:
        build_lab(lab, rid)
        for r in range(args.runs):
            rows = {}
            for path, target in PATHS:
                print("run %d/%d: %s (%s), about %d s" % (r + 1, args.runs, path, target,
                                                          args.count + 2), flush=True)
                rows[path] = measure_path(args, lab, r, path, target, workdir)
            runs.append(rows)
    finally:
        kill_children()
        tear_down(lab)
        if args.keep_outputs:
            print("tool outputs kept in %s" % workdir)
        else:
            shutil.rmtree(workdir, ignore_errors=True)
    text, summary = summarise(args, runs, info)
    out = args.out
    os.makedirs(os.path.dirname(out), exist_ok=True)
    with open(out, "w") as f:
        f.write(text)
    with open(os.path.splitext(out)[0] + ".json", "w") as f:
        json.dump({"machine": info, "runs": runs, "summary": summary}, f, indent=1)
    print()
    print(text)
    print("written to %s" % out)
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except RuntimeError as error:
        print("bench: %s" % error, file=sys.stderr)
        sys.exit(1)
