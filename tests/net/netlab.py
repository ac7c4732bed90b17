"""Helpers for the namespace suite: the test network, running the program in
it, expected-output lines and checks of what went on the wire.

Addresses come from 198.18.0.0/15 (the range set aside for network tests)
and exist only inside the namespaces made here; no namespace has a link to
the machine's own network.
"""
import json
import os
import re
import secrets
import shutil
import struct
import subprocess
import sys
import tempfile
import threading
import time
from dataclasses import dataclass, field

HERE = os.path.dirname(os.path.abspath(__file__))

# The network. H is where the program runs.
H_ADDR = "198.18.0.2"
R1_LAN = "198.18.0.1"
R2_LAN = "198.18.0.3"
R2_FAR = "198.18.5.1"  # behind the second router
PEER = "198.18.1.2"
PEER_NET = "198.18.1"
SMALL_NET = "198.18.2"  # MTU 576 behind R1
RSP_LINK = "198.18.6.2"
RSP_NET = "198.19.0"  # every address here is local to the responder
UNREACH_NET = "198.18.7"  # R1: route type unreachable
PROHIBIT_NET = "198.18.8"  # R1: route type prohibit
NOROUTE_NET = "198.18.99"  # R1: no route at all
SOURCE_NET = "198.18.0"  # H: extra source addresses from .20 on

HOSTS_FILE = """127.0.0.1 localhost
198.18.1.2 peer.vxnet
198.18.1.2 3com.vxnet
198.18.0.2 self.vxnet
"""


def log(msg):
    print(msg, file=sys.stderr, flush=True)


def run(cmd, check=True, input_text=None):
    """Runs one set-up command; returns an error text or None."""
    proc = subprocess.run(cmd, input=input_text, capture_output=True, text=True)
    if proc.returncode != 0 and check:
        return "%s: %s" % (" ".join(cmd), (proc.stderr or proc.stdout).strip())
    return None


# ---------------------------------------------------------------- topology


@dataclass
class Topology:
    rid: str
    ns: dict  # role -> namespace name
    workdir: str
    made_ns: list = field(default_factory=list)
    netns_dirs: list = field(default_factory=list)
    responder: object = None
    lock: object = field(default_factory=threading.Lock)
    children: dict = field(default_factory=dict)  # pid -> Popen, for teardown


def new_topology():
    rid = secrets.token_hex(3)
    roles = ["host", "r1", "r2", "peer", "small", "rsp"]
    ns = {r: "vx-%s-%s" % (rid, r) for r in roles}
    workdir = tempfile.mkdtemp(prefix="vx-%s-" % rid)
    return Topology(rid=rid, ns=ns, workdir=workdir)


def ifname(topo, tag):
    return "vx%s%s" % (topo.rid, tag)  # at most 15 characters


def nsx(topo, role, *cmd):
    return ["ip", "netns", "exec", topo.ns[role]] + list(cmd)


def sysctl(topo, role, key, value):
    # /proc/sys/net belongs to the namespace of whoever opens it; written
    # through sh because procps is not on every fresh machine.
    path = "/proc/sys/" + key.replace(".", "/")
    return run(nsx(topo, role, "sh", "-c", 'echo %d > "$1"' % value, "sh", path))


def link(topo, a_role, a_if, b_role, b_if, mtu=None):
    cmd = ["ip", "link", "add", a_if, "netns", topo.ns[a_role], "type", "veth",
           "peer", "name", b_if, "netns", topo.ns[b_role]]
    err = run(cmd)
    if err:
        return err
    for role, name in ((a_role, a_if), (b_role, b_if)):
        if mtu:
            err = run(["ip", "-n", topo.ns[role], "link", "set", name, "mtu", str(mtu)])
            if err:
                return err
    return None


def make_namespaces(topo):
    """Returns an error text or None; what was made is torn down later."""
    for name in topo.ns.values():
        err = run(["ip", "netns", "add", name])
        if err:
            return err
        topo.made_ns.append(name)
    return None


def setup_topology(topo, extra_routes):
    """Builds the network. extra_routes: list of (destination, source) that H
    routes through R1 with a source address of their own, so that R1's
    per-source limit on route errors is never shared between cases.
    Returns an error text or None."""
    steps = [["ip", "-n", name, "link", "set", "lo", "up"] for name in topo.ns.values()]
    t = lambda tag: ifname(topo, tag)
    errs = [
        link(topo, "host", t("h"), "r1", t("lh")),
        link(topo, "r2", t("r"), "r1", t("lr")),
        link(topo, "peer", t("p"), "r1", t("pp")),
        link(topo, "small", t("s"), "r1", t("ss"), mtu=576),
        link(topo, "rsp", t("q"), "r1", t("qq")),
    ]
    if any(errs):
        return next(e for e in errs if e)
    n = topo.ns
    ip = lambda role, *a: ["ip", "-n", n[role]] + list(a)
    br = t("br")
    steps += [
        # the LAN: a bridge in R1 joining H and R2
        ip("r1", "link", "add", br, "type", "bridge"),
        ip("r1", "link", "set", t("lh"), "master", br),
        ip("r1", "link", "set", t("lr"), "master", br),
        ip("r1", "addr", "add", R1_LAN + "/24", "dev", br),
        ip("host", "addr", "add", H_ADDR + "/24", "dev", t("h")),
        ip("r2", "addr", "add", R2_LAN + "/24", "dev", t("r")),
        ip("r2", "addr", "add", R2_FAR + "/32", "dev", "lo"),
        # the peer segment
        ip("r1", "addr", "add", PEER_NET + ".1/24", "dev", t("pp")),
        ip("peer", "addr", "add", PEER + "/24", "dev", t("p")),
        # the small-MTU segment
        ip("r1", "addr", "add", SMALL_NET + ".1/24", "dev", t("ss")),
        ip("small", "addr", "add", SMALL_NET + ".2/24", "dev", t("s")),
        ip("small", "addr", "add", SMALL_NET + ".3/24", "dev", t("s")),
        # the responder
        ip("r1", "addr", "add", "198.18.6.1/24", "dev", t("qq")),
        ip("rsp", "addr", "add", RSP_LINK + "/24", "dev", t("q")),
    ]
    for i in list(range(10, 40)):
        steps.append(ip("peer", "addr", "add", "%s.%d/32" % (PEER_NET, i), "dev", t("p")))
    for role, dev in (("host", t("h")), ("r2", t("r")), ("peer", t("p")),
                      ("small", t("s")), ("rsp", t("q")), ("r1", br), ("r1", t("lh")),
                      ("r1", t("lr")), ("r1", t("pp")), ("r1", t("ss")), ("r1", t("qq"))):
        steps.append(ip(role, "link", "set", dev, "up"))
    steps += [
        ip("host", "route", "add", "default", "via", R1_LAN),
        ip("r2", "route", "add", "default", "via", R1_LAN),
        ip("peer", "route", "add", "default", "via", PEER_NET + ".1"),
        ip("small", "route", "add", "default", "via", SMALL_NET + ".1"),
        ip("rsp", "route", "add", "default", "via", "198.18.6.1"),
        ip("rsp", "route", "add", "local", RSP_NET + ".0/24", "dev", "lo"),
        ip("r1", "route", "add", RSP_NET + ".0/24", "via", RSP_LINK),
        ip("r1", "route", "add", "198.18.5.0/24", "via", R2_LAN),
        ip("r1", "route", "add", "unreachable", UNREACH_NET + ".0/24"),
        ip("r1", "route", "add", "prohibit", PROHIBIT_NET + ".0/24"),
    ]
    for k, (dst, src) in enumerate(extra_routes):
        steps.append(ip("host", "addr", "add", src + "/24", "dev", t("h")))
        steps.append(ip("host", "route", "add", dst + "/32", "via", R1_LAN, "src", src))
    for cmd in steps:
        err = run(cmd)
        if err:
            return err
    settings = [
        ("r1", "net.ipv4.ip_forward", 1),
        # no ICMP rate limit on the router: errors must come every time
        ("r1", "net.ipv4.icmp_ratemask", 0),
        ("r1", "net.ipv4.conf.all.send_redirects", 1),
        ("r1", "net.ipv4.conf.%s.send_redirects" % br, 1),
        # H keeps sending through R1, so every request draws its redirect
        ("host", "net.ipv4.conf.all.accept_redirects", 0),
        ("host", "net.ipv4.conf.%s.accept_redirects" % t("h"), 0),
        ("rsp", "net.ipv4.icmp_echo_ignore_all", 1),
    ]
    for role in topo.ns:
        settings.append((role, "net.ipv4.conf.all.rp_filter", 0))
        settings.append((role, "net.ipv4.conf.default.rp_filter", 0))
    for role, key, value in settings:
        err = sysctl(topo, role, key, value)
        if err:
            return err
    rules = [
        (PEER_NET + ".10", ["-j", "REJECT", "--reject-with", "icmp-net-unreachable"]),
        (PEER_NET + ".11", ["-j", "REJECT", "--reject-with", "icmp-host-unreachable"]),
        (PEER_NET + ".12", ["-j", "REJECT", "--reject-with", "icmp-proto-unreachable"]),
        (PEER_NET + ".13", ["-j", "REJECT", "--reject-with", "icmp-port-unreachable"]),
        (PEER_NET + ".14", ["-j", "REJECT", "--reject-with", "icmp-net-prohibited"]),
        (PEER_NET + ".15", ["-j", "REJECT", "--reject-with", "icmp-host-prohibited"]),
        (PEER_NET + ".16", ["-j", "REJECT", "--reject-with", "icmp-admin-prohibited"]),
        (PEER_NET + ".20", ["-j", "DROP"]),
    ]
    for dst, target in rules:
        err = run(nsx(topo, "r1", "iptables", "-w", "-A", "FORWARD", "-p", "icmp",
                      "-d", dst) + target)
        if err:
            return err
    err = wait_until_up(topo)
    if err:
        return err
    # Name service of H: the hosts file, and a resolver with nobody to ask.
    etc = os.path.join("/etc/netns", topo.ns["host"])
    os.makedirs(etc, exist_ok=True)
    topo.netns_dirs.append(etc)
    files = {
        "hosts": HOSTS_FILE,
        "resolv.conf": "nameserver 127.0.0.1\noptions timeout:1 attempts:1\n",
        "nsswitch.conf": "hosts: files dns\n",
    }
    for name, text in files.items():
        with open(os.path.join(etc, name), "w") as f:
            f.write(text)
    return None


def wait_until_up(topo, limit_s=10.0):
    """A new veth gets its carrier only after a moment, and until then the
    bridge drops what it should forward. Returns an error text or None."""
    deadline = time.monotonic() + limit_s
    while True:
        pending = []
        for name in topo.ns.values():
            out = subprocess.run(["ip", "-n", name, "-o", "link", "show"],
                                 capture_output=True, text=True).stdout
            for line in out.splitlines():
                dev = line.split(":")[1].strip().split("@")[0]
                if dev != "lo" and " state UP " not in line:
                    pending.append("%s/%s" % (name, dev))
        out = subprocess.run(["bridge", "-n", topo.ns["r1"], "link", "show"],
                             capture_output=True, text=True).stdout
        pending += ["bridge port " + l.split(":")[1].strip() for l in out.splitlines()
                    if "state forwarding" not in l]
        if not pending:
            return None
        if time.monotonic() > deadline:
            return "links not up after %.0f s: %s" % (limit_s, ", ".join(pending))
        time.sleep(0.05)


def start_responder(topo, config):
    path = os.path.join(topo.workdir, "responder.json")
    logdir = os.path.join(topo.workdir, "wire")
    os.makedirs(logdir, exist_ok=True)
    with open(path, "w") as f:
        json.dump(config, f, indent=1)
    cmd = nsx(topo, "rsp", sys.executable, os.path.join(HERE, "responder.py"), path, logdir)
    proc = subprocess.Popen(cmd, stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    topo.responder = proc
    line = proc.stdout.readline()
    if line.strip() != b"ready":
        return "responder did not start"
    return None


def teardown(topo):
    with topo.lock:
        children = list(topo.children.values())
    for proc in children:
        try:
            proc.kill()
            proc.wait(5)
        except Exception:
            pass
    if topo.responder:
        try:
            topo.responder.stdin.close()
            topo.responder.wait(3)
        except Exception:
            topo.responder.kill()
            topo.responder.wait()
    for name in topo.made_ns:
        run(["ip", "netns", "del", name], check=False)
    for d in topo.netns_dirs:
        shutil.rmtree(d, ignore_errors=True)
    shutil.rmtree(topo.workdir, ignore_errors=True)


# ---------------------------------------------------------------- running


@dataclass
class Result:
    argv: list
    status: int
    stdout: str
    stderr: str
    pid: int
    start: float
    end: float
    killed: bool


def run_bounded(topo, argv, limit_s, started=None):
    """Runs argv with a hard time limit, known to the teardown while it runs;
    started(proc) is called once it runs. Returns (proc, stdout bytes,
    stderr bytes, start, end, killed)."""
    start = time.monotonic()
    proc = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE)
    with topo.lock:
        topo.children[proc.pid] = proc
    if started:
        started(proc)
    killed = False
    try:
        out, err = proc.communicate(timeout=limit_s)
    except subprocess.TimeoutExpired:
        killed = True
        proc.kill()
        try:
            out, err = proc.communicate(timeout=10)
        except subprocess.TimeoutExpired:  # a child of it holds the pipes
            out, err = b"", b"the output pipe stayed open after the kill\n"
    end = time.monotonic()
    with topo.lock:
        topo.children.pop(proc.pid, None)
    return proc, out, err, start, end, killed


def run_program(topo, prefix, args, limit_s, role="host", started=None):
    """Runs the program in the namespace of role with a hard time limit; the
    process is started by ip netns exec, which executes it in place, so its
    pid is the program's own (for a native build)."""
    proc, out, err, start, end, killed = run_bounded(topo, nsx(topo, role) + prefix + args,
                                                     limit_s, started)
    return Result(prefix + args, proc.returncode, out.decode("latin-1"),
                  err.decode("latin-1"), proc.pid, start, end, killed)


def add_lan_host(topo, role, tag, address, gateway=None):
    """A namespace of its own for role, linked to the LAN bridge in R1 by a
    veth pair (tag names its ends), with address/24 and, when gateway is
    given, a default route through it. Returns an error text or None."""
    name = "vx-%s-%s" % (topo.rid, role)
    err = run(["ip", "netns", "add", name])
    if err:
        return err
    topo.ns[role] = name
    topo.made_ns.append(name)
    near, far = ifname(topo, tag), ifname(topo, "l" + tag)
    err = link(topo, role, near, "r1", far)
    if err:
        return err
    ip = lambda r, *a: ["ip", "-n", topo.ns[r]] + list(a)
    cmds = [ip(role, "link", "set", "lo", "up"),
            ip("r1", "link", "set", far, "master", ifname(topo, "br")),
            ip(role, "addr", "add", address + "/24", "dev", near),
            ip(role, "link", "set", near, "up"),
            ip("r1", "link", "set", far, "up")]
    if gateway:
        cmds.append(ip(role, "route", "add", "default", "via", gateway))
    for cmd in cmds:
        err = run(cmd)
        if err:
            return err
    return None


# ---------------------------------------------------------------- wire


@dataclass
class Request:
    t: float
    src: str
    ip_len: int
    tos: int
    ttl: int
    df: bool
    icmp: bytes

    @property
    def ident(self):  # as the program stores it: least significant byte first
        return self.icmp[4] | self.icmp[5] << 8

    @property
    def seq(self):
        return self.icmp[6] | self.icmp[7] << 8

    @property
    def stamp(self):
        return struct.unpack("<Q", self.icmp[8:16])[0]


def wire_log(topo, addr):
    path = os.path.join(topo.workdir, "wire", addr + ".jsonl")
    if not os.path.exists(path):
        return []
    out = []
    with open(path) as f:
        for line in f:
            e = json.loads(line)
            out.append(Request(e["t"], e["src"], e["ip_len"], e["tos"], e["ttl"], e["df"],
                               bytes.fromhex(e["icmp"])))
    return out


def rfc1071(data):
    if len(data) % 2:
        data += b"\0"
    total = sum(w for (w,) in struct.iter_unpack("!H", data))
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return total


# How the expected identifier is found. A native run uses the process id of
# the program; a run through a loader (Wine) has a process id of its own
# that the suite cannot see, so it takes the identifier from the first
# request and checks that every other request and the matching agree.
IDENTIFIER_MODE = ["pid"]


def expected_identifier(result, requests):
    if IDENTIFIER_MODE[0] == "pid":
        return result.pid & 0xFFFF
    return requests[0].ident if requests else None


# ---------------------------------------------------------------- output


@dataclass
class Line:
    text: str  # shown to a person
    pattern: object  # compiled regex
    rtt: bool = False  # group 1 and 2 are a round-trip time
    rtt_range: tuple = None  # (lo_ms, hi_ms)
    summary: bool = False  # the round-trip summary line


def exact(text):
    return Line(text, re.compile(re.escape(text) + r"\Z"))


def opening(host, size=56):
    return exact("Ping to %s, buffer size %d Bytes (IP+ICMP+DATA %d Bytes)" % (host, size, size + 28))


def reply(addr, seq, ttl=63, rtt_range=None):
    text = "%s: Time: <ms>, Sequence: %d, Ttl: %d" % (addr, seq, ttl)
    pat = re.compile(r"%s: Time: (\d+)\.(\d{3}) ms, Sequence: %d, Ttl: %d\Z" % (re.escape(addr), seq, ttl))
    return Line(text, pat, rtt=True, rtt_range=rtt_range)


def summary(sent, received):
    lines = []
    if sent:
        lost = 100 - received * 100 // sent
        lines += [exact(""), exact("Packets: Sent %d, Received %d (%d%% Lost)" % (sent, received, lost))]
    lines.append(Line("Rount Trip Time (Min/Avg/Max): <min> ms/<avg> ms/<max> ms",
                      re.compile(r"Rount Trip Time \(Min/Avg/Max\): (\d+)\.(\d{3}) ms/(\d+)\.(\d{3}) ms/(\d+)\.(\d{3}) ms\Z"),
                      summary=True))
    return lines


TIME_LINE = re.compile(r"\S+: Time: (\d+)\.(\d{3}) ms, Sequence: \d+(, Ttl: \d+)?\Z")


def check_output(expected, stdout):
    """Compares line by line; returns a list of problems."""
    problems = []
    if stdout and not stdout.endswith("\n"):
        problems.append("output does not end with a line feed")
    actual = stdout.split("\n")
    if actual and actual[-1] == "":
        actual.pop()
    if len(actual) != len(expected):
        problems.append("expected %d lines, got %d" % (len(expected), len(actual)))
    # the summary is checked against the time lines actually printed
    rtts = [int(m.group(1)) * 1000 + int(m.group(2))
            for m in map(TIME_LINE.match, actual) if m]
    for i, (want, got) in enumerate(zip(expected, actual)):
        m = want.pattern.match(got)
        if not m:
            problems.append("line %d: expected %r, got %r" % (i + 1, want.text, got))
            continue
        if want.rtt:
            us = int(m.group(1)) * 1000 + int(m.group(2))
            if want.rtt_range and not (want.rtt_range[0] * 1000 <= us <= want.rtt_range[1] * 1000):
                problems.append("line %d: round trip %.3f ms outside %s ms" % (i + 1, us / 1000, want.rtt_range))
        if want.summary:
            got_us = [int(m.group(k)) * 1000 + int(m.group(k + 1)) for k in (1, 3, 5)]
            if rtts:
                # average over the echo replies only
                want_us = [min(rtts), sum(rtts) // len(rtts), max(rtts)]
            else:
                want_us = [0, 0, 0]
            if got_us != want_us:
                problems.append("round-trip summary %s, expected %s from the time lines"
                                % ("/".join("%.3f" % (u / 1000) for u in got_us),
                                   "/".join("%.3f" % (u / 1000) for u in want_us)))
    return problems
