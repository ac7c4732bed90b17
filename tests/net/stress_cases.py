"""Cases of the namespace suite for hostile peers, faults during a run and
load.

  hostile peers  crafted answers from the responder: forged send stamps,
                 absurd TTLs and codes, errors quoting a cut request, a flood
                 of datagrams with our identifier but no answer's type,
                 replies from an address that was not asked. Whatever comes,
                 one well-formed line per request and a summary that agrees.
  faults         each in a small network of its own (a host, a router, a
                 peer), so that it disturbs no other case: the host's link,
                 its route, the router's route, the peer's answers and the
                 host's carrier go away for requests 3 to 5 of 8 and come
                 back. The host text is a name served by dns_gate.py, which
                 holds every answer until the suite has changed the network:
                 the faults are timed against the requests exactly, however
                 loaded the machine.
  load           another namespace on the LAN floods the host with ICMP not
                 meant for vexmo while it measures the responder; a capture
                 on the host's link shows which replies arrived in time, and
                 every one of them must be reported. Alone, after the others.
"""
import json
import os
import re
import statistics
import subprocess
import sys
import threading
import time

import netlab
from cases import (Case, CASES, RESPONDER, case, echo, error, rsp, run_lines, seqs, timeouts,
                   count)
from loadgen import FLOOD_IDENTIFIERS
from netlab import H_ADDR, PEER, R2_LAN, RSP_NET, Line, exact, opening, reply, summary

HERE = os.path.dirname(os.path.abspath(__file__))
UNREACH = "ICMP: Destination Unreachable, Reason: "

# ------------------------------------------------------------ hostile peers

# A forged send stamp is no answer: it would print a round-trip time that
# never happened. The request ends with its genuine reply, or times out.
for stamp in ("zero", "ones", "future", "past"):
    a = rsp(echo(stamp=stamp))
    case("forged send stamp (%s) alone: timeouts" % stamp, ["-c", "2", "-w", "400", a],
         run_lines(a, timeouts(2), 2, 0), wire=a, wire_checks=[seqs(0, 0)])
    a = rsp(echo(stamp=stamp), echo(at=60))
    case("forged send stamp (%s), the genuine reply behind it" % stamp, ["-c", "2", a],
         run_lines(a, [reply(a, 0, rtt_range=(60, 700)), reply(a, 1, rtt_range=(60, 700))], 2, 2),
         wire=a, wire_checks=[seqs(0, 1)])

# TTLs as they arrive: sent from the LAN, where no router decrements them.
for ttl in (0, 1, 255):
    a = rsp(echo(ttl=ttl, lan=True))
    case("reply arriving with TTL %d prints it" % ttl, ["-c", "2", a],
         run_lines(a, [reply(a, 0, ttl), reply(a, 1, ttl)], 2, 2), wire=a)

a = rsp(echo(code=255))
case("echo reply with code 255 is a reply", ["-c", "1", a], run_lines(a, [reply(a, 0)], 1, 1),
     wire=a)

for icmp_type, code, text in [
        (4, 255, "ICMP: Source Quench"),
        (12, 255, "ICMP: Parameter Problem"),
        (11, 255, "{a}: ICMP: Time Exceeded, Reason: Unknown code 255"),
        (5, 255, "ICMP: Redirect, Gateway: 198.18.0.3, Reason: Unknown code 255"),
        (3, 128, UNREACH + "Unknown code 128")]:
    a = rsp(error(icmp_type, code, gateway=R2_LAN) if icmp_type == 5 else error(icmp_type, code))
    case("type %d with code %d" % (icmp_type, code), ["-c", "1", a],
         run_lines(a, [exact(text.format(a=a))], 1, 1), wire=a)

# An error quotes the identifier at bytes 4 and 5 of the request: a quote cut
# before its end matches nothing, one that holds it is the answer.
for icmp_type, quote in ((3, 1), (11, 4), (3, 5), (12, 5)):
    a = rsp(error(icmp_type, 1, quote=quote), echo(at=80))
    case("type %d quoting %d bytes of the request: skipped" % (icmp_type, quote), ["-c", "1", a],
         run_lines(a, [reply(a, 0, rtt_range=(80, 700))], 1, 1), wire=a)
a = rsp(error(3, 1, quote=6), echo(at=80))
case("destination unreachable quoting 6 bytes of the request: the answer", ["-c", "2", a],
     run_lines(a, [exact(UNREACH + "Host unreachable")] * 2, 2, 2), wire=a,
     wire_checks=[seqs(0, 1)])

# 2000 datagrams with our identifier and sequence but of types that answer
# nothing, each request, then the reply. They reach the wait (the kernel
# filter keeps them: their identifier is ours), which must read through all
# of them. Alone: the burst holds the responder up for a moment.
FLOOD_TYPES = [8, 13, 14, 15, 16, 17, 18, 9, 10, 1, 2, 6, 7, 19, 30, 40, 42, 253, 255]
a = rsp(dict(at=0, do="flood", count=2000, types=FLOOD_TYPES), echo(at=300))
case("2000 datagrams with our identifier of other types, then the reply", ["-c", "2", a],
     run_lines(a, [reply(a, 0, rtt_range=(300, 1500)), reply(a, 1, rtt_range=(300, 1500))], 2, 2),
     wire=a, wire_checks=[seqs(0, 1)], solo=True)

# Who really answered is printed, whoever was asked.
a = rsp(echo(src=PEER))
case("reply from another address than the one asked: the real sender", ["-c", "2", a],
     run_lines(a, [reply(PEER, 0), reply(PEER, 1)], 2, 2), wire=a)
a = rsp(echo(src=RSP_NET + ".250", at=0), echo(at=100))
case("a reply from elsewhere first, the destination's behind it", ["-c", "2", a],
     run_lines(a, [reply(RSP_NET + ".250", 0, rtt_range=(0, 90)),
                   reply(RSP_NET + ".250", 1, rtt_range=(0, 90))], 2, 2),
     wire=a, wire_checks=[seqs(0, 1)])
a = rsp(error(11, 0, src=PEER))
case("time exceeded from another address names it", ["-c", "1", a],
     run_lines(a, [exact("%s: ICMP: Time Exceeded, Reason: Time To Live exceeded in transit"
                         % PEER)], 1, 1), wire=a)

# The raw socket hands over datagrams whatever their checksum (the kernel
# checks it after the raw sockets have their copy), and vexmo does not check
# it either: a reply whose identifier and stamp survived is the answer.
a = rsp(echo(bad_checksum=True))
case("reply with a spoiled ICMP checksum is still the answer", ["-c", "1", a],
     run_lines(a, [reply(a, 0)], 1, 1), wire=a, wire_checks=[count(1)])


# ------------------------------------------------------------ running elsewhere


# How the suite runs the program: netlab.run_program, or wine.run_program
# when it runs under Wine; the suite sets it.
RUN_PROGRAM = [netlab.run_program]


def run_in(topo, role, prefix, args, limit_s, started=None):
    """Runs the program in the namespace of role, natively or under Wine.
    started(proc) is called once the program runs."""
    return RUN_PROGRAM[0](topo, prefix, args, limit_s, role, started)


def helper(topo, role, *args):
    """A helper script of ours in the namespace of role; talks on pipes."""
    cmd = netlab.nsx(topo, role, sys.executable, *args)
    proc = subprocess.Popen(cmd, stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    with topo.lock:
        topo.children[proc.pid] = proc
    return proc


def finish(topo, proc, read=True, limit_s=10.0):
    """Closes the helper's input and returns what it wrote after that (when
    read: nobody else reads its output)."""
    try:
        proc.stdin.close()
    except OSError:
        pass
    watchdog = threading.Timer(limit_s, proc.kill)
    watchdog.start()
    out = proc.stdout.read() if read else ""
    proc.wait()
    watchdog.cancel()
    with topo.lock:
        topo.children.pop(proc.pid, None)
    return out


def wait_state(topo, role, dev, limit_s=5.0):
    """Waits until dev in role is UP (carrier and all); an error text or None."""
    deadline = time.monotonic() + limit_s
    while True:
        out = subprocess.run(["ip", "-n", topo.ns[role], "-o", "link", "show", "dev", dev],
                             capture_output=True, text=True).stdout
        if " state UP " in out:
            return None
        if time.monotonic() > deadline:
            return "%s/%s not up after %.0f s: %s" % (role, dev, limit_s, out.strip())
        time.sleep(0.02)


# ------------------------------------------------------------ faults

FAULT_NAME = "peer.fault.vxnet"
FAULT_COUNT = 8
FAULT_FROM, FAULT_UNTIL = 3, 6  # the fault holds for requests 3 to 5 (from 1)
RESULTS = {}  # id of the result -> problems seen beside the output (fault and load drivers)


def fault_addresses(k):
    return dict(host="198.18.%d.2" % (40 + k), gateway="198.18.%d.1" % (40 + k),
                router_far="198.18.%d.1" % (60 + k), peer_link="198.18.%d.2" % (60 + k),
                target="198.18.%d.2" % (80 + k))


def fault_interfaces(topo, k):
    t = lambda tag: netlab.ifname(topo, tag)
    return dict(host=t("f%dh" % k), router_near=t("f%dr" % k), peer=t("f%dp" % k),
                router_far=t("f%dq" % k))


def fault_actions(topo, k, kind):
    """(apply, lift): each changes the network and returns an error text or None."""
    a, i = fault_addresses(k), fault_interfaces(topo, k)
    host, peer, router = "fh%d" % k, "fp%d" % k, "fr"
    ip = lambda role, *args: netlab.run(["ip", "-n", topo.ns[role]] + list(args))

    def steps(*fns):
        def run_all():
            for fn in fns:
                err = fn()
                if err:
                    return err
            return None
        return run_all

    default = lambda: ip(host, "route", "replace", "default", "via", a["gateway"])
    drop = ["INPUT", "-p", "icmp", "--icmp-type", "echo-request", "-j", "DROP"]
    table = {
        "link": (steps(lambda: ip(host, "link", "set", i["host"], "down")),
                 steps(lambda: ip(host, "link", "set", i["host"], "up"),
                       lambda: wait_state(topo, host, i["host"]),
                       default)),
        "route": (steps(lambda: ip(host, "route", "del", "default")), steps(default)),
        "router": (steps(lambda: ip(router, "route", "del", a["target"] + "/32")),
                   steps(lambda: ip(router, "route", "add", a["target"] + "/32",
                                    "via", a["peer_link"]))),
        "silent": (steps(lambda: netlab.sysctl(topo, peer, "net.ipv4.icmp_echo_ignore_all", 1)),
                   steps(lambda: netlab.sysctl(topo, peer, "net.ipv4.icmp_echo_ignore_all", 0))),
        "drop": (steps(lambda: netlab.run(netlab.nsx(topo, peer, "iptables", "-w", "-A", *drop))),
                 steps(lambda: netlab.run(netlab.nsx(topo, peer, "iptables", "-w", "-D", *drop)))),
        # The requests sent without carrier leave the host's neighbour entry
        # of its gateway unresolved, and the kernel probes it again only
        # every second: whether the first request after the carrier returns
        # is answered in time would depend on that timer's phase, not on
        # vexmo. The lift clears the entry, so the next send resolves it.
        "carrier": (steps(lambda: ip(router, "link", "set", i["router_near"], "down")),
                    steps(lambda: ip(router, "link", "set", i["router_near"], "up"),
                          lambda: wait_state(topo, router, i["router_near"]),
                          lambda: wait_state(topo, host, i["host"]),
                          lambda: ip(host, "neigh", "flush", "dev", i["host"]))),
    }
    return table[kind]


def fault_driver(k, kind):
    def drive(topo, prefix, c):
        a = fault_addresses(k)
        apply, lift = fault_actions(topo, k, kind)
        problems = []
        gate = helper(topo, "fh%d" % k, os.path.join(HERE, "dns_gate.py"), FAULT_NAME, a["target"])
        if gate.stdout.readline().strip() != "ready":
            problems.append("name server gate did not start")
        state = {"queries": 0, "faulty": False}

        def steer():
            for line in gate.stdout:
                n = int(line.split()[1])
                state["queries"] = n
                if n == FAULT_FROM:
                    err, state["faulty"] = apply(), True
                    if err:
                        problems.append("making the fault: " + err)
                elif n == FAULT_UNTIL:
                    err, state["faulty"] = lift(), False
                    if err:
                        problems.append("ending the fault: " + err)
                try:
                    gate.stdin.write("\n")
                    gate.stdin.flush()
                except OSError:
                    return

        steering = threading.Thread(target=steer)
        steering.start()
        result = run_in(topo, "fh%d" % k, prefix, c.args, c.limit)
        finish(topo, gate, read=False)
        steering.join()
        if state["faulty"]:
            err = lift()
            if err:
                problems.append("ending the fault after the run: " + err)
        if state["queries"] != FAULT_COUNT:
            problems.append("the name was looked up %d times, expected %d (once per request)"
                            % (state["queries"], FAULT_COUNT))
        RESULTS[id(result)] = problems
        return result
    return drive


def driver_problems(result):
    return RESULTS.pop(id(result), ["the driver left no record"])


FAULTS = []  # (k, kind) of every fault case


def fault_case(name, kind, during, answered_during):
    """requests 1, 2 and 6 to 8 get replies; 3 to 5 get the line during."""
    k = len(FAULTS) + 1
    FAULTS.append((k, kind))
    target = fault_addresses(k)["target"]
    lines, received = [], 0
    for n in range(1, FAULT_COUNT + 1):
        if FAULT_FROM <= n < FAULT_UNTIL:
            lines.append(exact(during))
            received += answered_during
        else:
            lines.append(reply(target, received))
            received += 1
    c = Case("fault: " + name, ["-c", str(FAULT_COUNT), "-w", "500", FAULT_NAME],
             [opening(FAULT_NAME)] + lines + summary(FAULT_COUNT, received),
             checks=[driver_problems])
    c.driver = fault_driver(k, kind)
    c.fault = (k, kind)
    CASES.append(c)


fault_case("the host's link goes down and comes back (the send fails: ENETUNREACH)", "link",
           "Error 10051.", 0)
fault_case("the host's route disappears and returns (the send fails: ENETUNREACH)", "route",
           "Error 10051.", 0)
fault_case("the router's route to the peer disappears and returns", "router",
           UNREACH + "Network unreachable", 1)
fault_case("the peer stops answering (echo_ignore_all) and resumes", "silent",
           "Request timeout.", 0)
fault_case("the peer drops the requests (iptables) and lets them in again", "drop",
           "Request timeout.", 0)
fault_case("the host's carrier is lost and comes back", "carrier", "Request timeout.", 0)


def setup_faults(topo, kinds):
    """The fault networks: one router, and a host and a peer per case.
    Returns an error text or None."""
    roles = ["fr"] + ["%s%d" % (r, k) for k, _ in kinds for r in ("fh", "fp")]
    for role in roles:
        name = "vx-%s-%s" % (topo.rid, role)
        err = netlab.run(["ip", "netns", "add", name])
        if err:
            return err
        topo.ns[role] = name
        topo.made_ns.append(name)
    ip = lambda role, *a: ["ip", "-n", topo.ns[role]] + list(a)
    steps = [ip(role, "link", "set", "lo", "up") for role in roles]
    for k, _ in kinds:
        a, i = fault_addresses(k), fault_interfaces(topo, k)
        host, peer = "fh%d" % k, "fp%d" % k
        for err in (netlab.link(topo, host, i["host"], "fr", i["router_near"]),
                    netlab.link(topo, peer, i["peer"], "fr", i["router_far"])):
            if err:
                return err
        steps += [
            ip(host, "addr", "add", a["host"] + "/24", "dev", i["host"]),
            ip("fr", "addr", "add", a["gateway"] + "/24", "dev", i["router_near"]),
            ip("fr", "addr", "add", a["router_far"] + "/24", "dev", i["router_far"]),
            ip(peer, "addr", "add", a["peer_link"] + "/24", "dev", i["peer"]),
            ip(peer, "addr", "add", a["target"] + "/32", "dev", "lo"),
            ip(host, "link", "set", i["host"], "up"),
            ip("fr", "link", "set", i["router_near"], "up"),
            ip("fr", "link", "set", i["router_far"], "up"),
            ip(peer, "link", "set", i["peer"], "up"),
            ip(host, "route", "add", "default", "via", a["gateway"]),
            ip(peer, "route", "add", "default", "via", a["router_far"]),
            ip("fr", "route", "add", a["target"] + "/32", "via", a["peer_link"]),
        ]
    for cmd in steps:
        err = netlab.run(cmd)
        if err:
            return err
    for key, value in (("net.ipv4.ip_forward", 1), ("net.ipv4.icmp_ratemask", 0),
                       ("net.ipv4.conf.all.rp_filter", 0),
                       ("net.ipv4.conf.default.rp_filter", 0)):
        err = netlab.sysctl(topo, "fr", key, value)
        if err:
            return err
    # Each host asks the gate in its own namespace, and waits for it.
    for k, _ in kinds:
        etc = os.path.join("/etc/netns", topo.ns["fh%d" % k])
        os.makedirs(etc, exist_ok=True)
        topo.netns_dirs.append(etc)
        files = {"hosts": "127.0.0.1 localhost\n",
                 "resolv.conf": "nameserver 127.0.0.1\noptions timeout:5 attempts:1\n",
                 "nsswitch.conf": "hosts: files dns\n"}
        for name, text in files.items():
            with open(os.path.join(etc, name), "w") as f:
                f.write(text)
    return None


# ------------------------------------------------------------ load

FLOOD_ADDR = "198.18.0.5"
# Datagrams per second of the flood, their ICMP size, and requests per run;
# the environment may change them for a measurement (VX_FLOOD_RATE,
# VX_FLOOD_SIZE, VX_LOAD_COUNT).
FLOOD_RATE = int(os.environ.get("VX_FLOOD_RATE", "20000"))
FLOOD_SIZE = int(os.environ.get("VX_FLOOD_SIZE", "64"))
LOAD_COUNT = int(os.environ.get("VX_LOAD_COUNT", "8"))
LOAD_TIMEOUT_MS = 1000
MARGIN_S = 0.05  # a reply this close to the timeout may go either way
LOAD_BASE = rsp(echo())  # the unloaded run's
LOAD_TARGET = rsp(echo())  # the loaded run's


def read_raw_socket(pid):
    """(drops, bytes queued) of the program's raw socket, or None."""
    try:
        inodes = set()
        for fd in os.listdir("/proc/%d/fd" % pid):
            link = os.readlink("/proc/%d/fd/%s" % (pid, fd))
            if link.startswith("socket:["):
                inodes.add(link[8:-1])
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
             for m in map(netlab.TIME_LINE.match, stdout.split("\n")) if m]
    return (statistics.median(times) if times else None), len(times)


def expected_from_capture(records, ident, timeout_s):
    """The lines the requests on the wire call for: a reply for every
    request whose reply reached the host in time, a timeout for every one
    whose reply did not come or came late; either, in between. Returns
    (lines, replies that came in time) or (None, problem)."""
    requests = sorted((r for r in records if r["out"] and r["type"] == 8 and r["id"] == ident),
                      key=lambda r: r["t"])
    arrived = {}
    for r in records:
        if not r["out"] and r["type"] == 0 and r["id"] == ident:
            arrived.setdefault(r["stamp"], r["t"])
    if len(requests) != LOAD_COUNT:
        return None, "the capture saw %d requests, expected %d" % (len(requests), LOAD_COUNT)
    lines, in_time, received, exact_seq = [], 0, 0, True
    either = Line("<reply or timeout>", re.compile(
        r"(%s: Time: \d+\.\d{3} ms, Sequence: \d+, Ttl: 63|Request timeout\.)\Z"
        % re.escape(LOAD_TARGET)))
    for r in requests:
        took = arrived.get(r["stamp"], float("inf")) - r["t"]
        if took <= timeout_s - MARGIN_S:
            in_time += 1
            lines.append(reply(LOAD_TARGET, received) if exact_seq else either)
            received += 1
        elif took >= timeout_s + MARGIN_S:
            lines.append(exact("Request timeout."))
        else:
            lines.append(either)
            exact_seq = False
    return lines, in_time


def load_driver(topo, prefix, c):
    problems = []
    args = c.args
    base = run_in(topo, "host", prefix, args[:-1] + [LOAD_BASE], c.limit)
    base_median, base_replies = rtt_median(base.stdout)

    capture = helper(topo, "host", os.path.join(HERE, "loadgen.py"), "capture",
                     netlab.ifname(topo, "h"), LOAD_TARGET)
    if capture.stdout.readline().strip() != "ready":
        problems.append("the capture did not start")
    seconds = LOAD_COUNT * 1.0 + 4.0
    flood = helper(topo, "flood", os.path.join(HERE, "loadgen.py"), "flood", H_ADDR,
                   str(FLOOD_RATE), str(seconds), str(int(FLOOD_RATE * seconds)), str(FLOOD_SIZE))
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

    result = run_in(topo, "host", prefix, args, c.limit, started=sample)
    flood_out = finish(topo, flood)
    capture_out = finish(topo, capture)
    try:
        flooded = json.loads(flood_out.strip().splitlines()[-1])
        captured = json.loads(capture_out.strip().splitlines()[-1])
    except (ValueError, IndexError):
        RESULTS[id(result)] = problems + ["the flood or the capture gave no account"]
        return result

    ident = result.pid & 0xFFFF
    lines, in_time = expected_from_capture(captured["records"], ident, LOAD_TIMEOUT_MS / 1000)
    if lines is None:
        problems.append(in_time)
    else:
        c.expect = [opening(LOAD_TARGET)] + lines + summary(LOAD_COUNT, in_time)
        if any(line.text == "<reply or timeout>" for line in lines):
            c.expect = c.expect[:-3] + [Line("<packets line>", re.compile(r".*\Z"))] * 3
    if captured["drops"]:
        problems.append("the capture itself dropped %d datagrams" % captured["drops"])
    if base_replies != LOAD_COUNT:
        problems.append("the unloaded run got %d replies of %d" % (base_replies, LOAD_COUNT))
    if socket_seen["drops"] and ident not in FLOOD_IDENTIFIERS:
        problems.append("the program's socket dropped %d datagrams: the flood reached it"
                        % socket_seen["drops"])
    if not socket_seen["samples"]:
        problems.append("the program's socket was never seen")
    loaded_median, loaded_replies = rtt_median(result.stdout)
    rate = flooded["sent"] / flooded["seconds"] if flooded["seconds"] else 0
    print("     load: flood of %d datagrams in %.1f s (%.0f/s); unloaded: %d/%d replies, "
          "RTT median %s ms; loaded: %d/%d replies (%s arrived in time), RTT median %s ms; "
          "socket drops %d, most queued %d bytes"
          % (flooded["sent"], flooded["seconds"], rate, base_replies, LOAD_COUNT,
             "%.3f" % base_median if base_median is not None else "-", loaded_replies,
             LOAD_COUNT, in_time, "%.3f" % loaded_median if loaded_median is not None else "-",
             socket_seen["drops"], socket_seen["queued"]), flush=True)
    RESULTS[id(result)] = problems
    return result


c = Case("load: %d/s of foreign ICMP at the host, no reply that came in time is lost" % FLOOD_RATE,
         ["-c", str(LOAD_COUNT), "-w", str(LOAD_TIMEOUT_MS), LOAD_TARGET],
         run_lines(LOAD_TARGET, [reply(LOAD_TARGET, n) for n in range(LOAD_COUNT)],
                   LOAD_COUNT, LOAD_COUNT),
         wire=LOAD_TARGET, solo=True, limit=LOAD_COUNT * 2.0 + 15.0, checks=[driver_problems])
c.driver = load_driver
CASES.append(c)


def setup_flood(topo):
    """The flooding namespace, on the LAN beside H. Returns an error text or None."""
    return netlab.add_lan_host(topo, "flood", "x", FLOOD_ADDR)


# ------------------------------------------------------------ the suite's hooks


def skip_reason(case, prefix, wine):
    """Why this fault or load case cannot run with this program, or None."""
    try:
        with open(prefix[0], "rb") as f:
            if len(prefix) == 1 and f.read(4) == b"\x7fELF":
                return None
    except OSError:
        pass
    if not wine:
        return "runs a native program only, not one started by a loader"
    if getattr(case, "fault", None):
        return None
    return ("watches the program's socket through its Linux process id, which Wine does not "
            "give, and expects the kernel filter of the POSIX backend, which Windows has not")


def wine_roles(selected):
    """The namespaces where the selected fault cases run the program."""
    return ["fh%d" % c.fault[0] for c in selected if getattr(c, "fault", None)]


def prepare(topo):
    """Before the responder starts: where its LAN-side sends come from."""
    RESPONDER["_lan_netns"] = topo.ns["r1"]


def setup(topo, selected):
    """The networks of the selected fault and load cases; an error text or None."""
    kinds = [c.fault for c in selected if getattr(c, "fault", None)]
    err = setup_faults(topo, kinds) if kinds else None
    if not err and any(c.driver is load_driver for c in selected):
        err = setup_flood(topo)
    if not err:
        err = netlab.wait_until_up(topo)
    return err
