"""Cases of the namespace suite that run vexmo as an unprivileged user
(nobody), in each of the ways Linux lets it ping:

  ping socket   a second host on the LAN, U (198.18.0.4), whose namespace
                opens net.ipv4.ping_group_range: no privilege at all, an
                ICMP datagram socket. Replies, errors from the routers and
                timeouts must print what the raw socket prints.
  capability    H, where the range stays closed, with a copy of the program
                given cap_net_raw+ep; while it runs, the process must hold
                no capability left.
  set-uid root  the same with a copy owned by root and set-uid; while it
                runs, every uid must be nobody's.
  neither       H with a plain copy: every request fails.

Each case carries a runner that says where and how it is run; setup() adds
U to the network and makes the copies. They run with the rest of the suite
(run_suite.py -k unprivileged for these alone), unless the program is run
through a loader.
"""
import os
import pwd
import shutil
import sys
import threading
import time
from dataclasses import dataclass

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import cases  # noqa: E402
import netlab  # noqa: E402
from netlab import (PEER, PEER_NET, R1_LAN, R2_FAR, R2_LAN, SMALL_NET,  # noqa: E402
                    exact, reply)
from cases import (Case, echo, error, icmp_len, routed, rsp, run_lines, seqs, timeouts,  # noqa: E402
                   tos, ttl_seen)

U_ADDR = "198.18.0.4"  # the unprivileged host: ping_group_range open
OPEN_RANGE = "0 2147483647"
CLOSED_RANGE = "1 0"


@dataclass
class Runner:
    role: str  # namespace role the program runs in
    binary: str  # "plain", "cap" or "suid": which copy
    source: str  # source address of its requests on the wire
    probe: bool = False  # read /proc/PID/status while it runs


PING = Runner("uhost", "plain", U_ADDR)
CAP = Runner("host", "cap", netlab.H_ADDR, probe=True)
SUID = Runner("host", "suid", netlab.H_ADDR, probe=True)
NEITHER = Runner("host", "plain", netlab.H_ADDR)

PROBES = {}  # pid -> the process's status lines while it ran, or a problem text
STATE = {}  # "bindir", "uid", "gid"


def case(name, args, expect, runner, **kw):
    checks = kw.pop("checks", [])
    c = Case("unprivileged, %s: %s" % (runner_name(runner), name), args, expect, **kw)
    c.runner = runner
    c.checks = list(checks) + ([probe_check] if runner.probe else [])
    cases.CASES.append(c)
    return c


def runner_name(runner):
    if runner.role == "uhost":
        return "ping socket"
    return {"cap": "cap_net_raw+ep", "suid": "set-uid root", "plain": "no socket"}[runner.binary]


# ------------------------------------------------------------ set-up


def nobody_ids():
    entry = pwd.getpwnam("nobody")
    return entry.pw_uid, entry.pw_gid


def setup(topo, program):
    """Adds U to the LAN and makes the copies of the program that nobody
    runs. Returns an error text or None."""
    t = lambda tag: netlab.ifname(topo, tag)
    err = netlab.add_lan_host(topo, "uhost", "u", U_ADDR, R1_LAN)
    if err:
        return err
    settings = [("uhost", "net.ipv4.ping_group_range", OPEN_RANGE),
                ("host", "net.ipv4.ping_group_range", CLOSED_RANGE),
                # U keeps sending through R1, so every request draws its redirect
                ("uhost", "net.ipv4.conf.all.accept_redirects", "0"),
                ("uhost", "net.ipv4.conf.%s.accept_redirects" % t("u"), "0"),
                ("uhost", "net.ipv4.conf.all.rp_filter", "0"),
                ("uhost", "net.ipv4.conf.default.rp_filter", "0")]
    for role, key, value in settings:
        path = "/proc/sys/" + key.replace(".", "/")
        err = netlab.run(netlab.nsx(topo, role, "sh", "-c", 'echo "$1" > "$2"', "sh", value, path))
        if err:
            return err
    err = netlab.wait_until_up(topo)
    if err:
        return err
    return make_copies(topo, program)


def make_copies(topo, program):
    if not shutil.which("setcap"):
        return "setcap is not installed (Debian package libcap2-bin)"
    if not shutil.which("setpriv"):
        return "setpriv is not installed (Debian package util-linux)"
    # nobody may pass through the work directory but not list it
    os.chmod(topo.workdir, 0o711)
    bindir = os.path.join(topo.workdir, "bin")
    os.mkdir(bindir)
    os.chmod(bindir, 0o755)
    if os.statvfs(bindir).f_flag & os.ST_NOSUID:
        return "%s is on a nosuid file system: no file capabilities there" % bindir
    for kind in ("plain", "cap", "suid"):
        path = os.path.join(bindir, "vexmo-" + kind)
        shutil.copyfile(program, path)
        os.chown(path, 0, 0)
        os.chmod(path, 0o4755 if kind == "suid" else 0o755)
        if kind == "cap":
            err = netlab.run(["setcap", "cap_net_raw+ep", path])
            if err:
                return err
    STATE["bindir"] = bindir
    STATE["uid"], STATE["gid"] = nobody_ids()
    return None


# ------------------------------------------------------------ running


def applies(prefix):
    """These cases run a native program only: not one started by a loader."""
    try:
        with open(prefix[0], "rb") as f:
            return len(prefix) == 1 and f.read(4) == b"\x7fELF"
    except OSError:
        return False


def command(topo, runner):
    """What runs the program, up to its own name."""
    return (netlab.nsx(topo, runner.role) +
            ["setpriv", "--reuid=%d" % STATE["uid"], "--regid=%d" % STATE["gid"],
             "--clear-groups", "--"])


def argv(topo, runner, args):
    program = os.path.join(STATE["bindir"], "vexmo-" + runner.binary)
    return command(topo, runner) + [program] + list(args)


def probe(pid, program, started):
    """Reads the status of the running program once it has sent its first
    request (its socket is open by then)."""
    exe = None
    while time.monotonic() - started < 3.0:
        try:
            exe = os.readlink("/proc/%d/exe" % pid)
        except OSError:
            exe = None
        if exe == program:
            break
        time.sleep(0.01)
    if exe != program:
        PROBES[pid] = "never saw the program running (exe %s)" % exe
        return
    time.sleep(0.3)
    try:
        with open("/proc/%d/status" % pid) as f:
            lines = f.read().splitlines()
        if os.readlink("/proc/%d/exe" % pid) != program:
            raise OSError("not the program any more")
    except OSError as e:
        PROBES[pid] = "could not read its status while it ran: %s" % e
        return
    PROBES[pid] = dict(line.split(":\t", 1) for line in lines if ":\t" in line)


def run(topo, runner, args, limit_s):
    """As netlab.run_program, with the program run by nobody (and its status
    read while it runs, when the runner asks for it)."""
    cmd = argv(topo, runner, args)
    watchers = []

    def watch(proc):
        if runner.probe:
            watcher = threading.Thread(target=probe, args=(proc.pid, cmd[-len(args) - 1], start))
            watcher.start()
            watchers.append(watcher)

    start = time.monotonic()  # the probe's zero; the run's own start comes back below
    proc, out, err, start, end, killed = netlab.run_bounded(topo, cmd, limit_s, watch)
    for watcher in watchers:
        watcher.join()
    return netlab.Result(cmd[cmd.index("--") + 1:], proc.returncode, out.decode("latin-1"),
                         err.decode("latin-1"), proc.pid, start, end, killed)


def probe_check(result):
    """While it ran: every uid and gid nobody's, no capability in any set."""
    seen = PROBES.pop(result.pid, "its status was never read")
    if isinstance(seen, str):
        return [seen]
    problems = []
    uid, gid = STATE["uid"], STATE["gid"]
    for key, want in (("Uid", uid), ("Gid", gid)):
        ids = [int(v) for v in seen.get(key, "").split()]
        if not ids or any(v != want for v in ids):
            problems.append("while running, %s %s, expected %d everywhere" % (key, ids, want))
    for key in ("CapInh", "CapPrm", "CapEff", "CapAmb"):
        if int(seen.get(key, "1"), 16) != 0:
            problems.append("while running, %s %s, expected none" % (key, seen.get(key)))
    return problems


# ------------------------------------------------------------ the cases

TE = "%s: ICMP: Time Exceeded, Reason: Time To Live exceeded in transit" % R1_LAN
UNREACH = "ICMP: Destination Unreachable, Reason: "

# ping socket: what the raw-socket cases print, printed by nobody

case("peer through router: replies with their Ttl", ["-c", "3", PEER],
     run_lines(PEER, [reply(PEER, 0), reply(PEER, 1), reply(PEER, 2)], 3, 3), PING,
     elapsed=(3.0, 3.6))

a = rsp(echo())
case("responder: replies, identifier on the wire, pause after each", ["-c", "3", a],
     run_lines(a, [reply(a, 0), reply(a, 1), reply(a, 2)], 3, 3), PING,
     wire=a, wire_checks=[seqs(0, 1, 2), icmp_len(64), tos(0)], gaps=[(1.0, 1.5)] * 2, tail=1.0)

case("loopback answers", ["-c", "2", "127.0.0.1"],
     run_lines("127.0.0.1", [reply("127.0.0.1", 0, 64), reply("127.0.0.1", 1, 64)], 2, 2), PING)

a = rsp(echo())
case("-i 0x30 -t 2:d:t -f reach the wire", ["-i", "0x30", "-t", "2:d:t", "-f", "-c", "1", a],
     run_lines(a, [reply(a, 0)], 1, 1), PING, wire=a, wire_checks=[tos(0x58), ttl_seen(47)])

a = rsp(echo(at=100), echo(at=400))
case("duplicate replies: the duplicate is not the next answer", ["-c", "3", a],
     run_lines(a, [reply(a, n, rtt_range=(100, 390)) for n in range(3)], 3, 3), PING,
     wire=a, wire_checks=[seqs(0, 1, 2)])

case("-i 1: time exceeded from the router", ["-i", "1", "-c", "2", PEER_NET + ".31"],
     run_lines(PEER_NET + ".31", [exact(TE), exact(TE)], 2, 2), PING, elapsed=(2.0, 2.6))

# Rejected by R1's filter: a route error (an unreachable route) would share
# R1's rate state for U with the redirect case and silence its redirects.
for dst, reason in [(PEER_NET + ".10", "Network unreachable"),
                    (PEER_NET + ".11", "Host unreachable"),
                    (PEER_NET + ".13", "Port unreachable"),
                    (PEER_NET + ".16", "Communication administratively prohibited")]:
    case("router: %s (%s)" % (reason, dst), ["-c", "2", dst],
         run_lines(dst, [exact(UNREACH + reason)] * 2, 2, 2), PING)

rd = "ICMP: Redirect, Gateway: %s, Reason: Redirect datagrams for the Host" % R2_LAN
case("real redirect toward the second router: the gateway", ["-c", "2", R2_FAR],
     run_lines(R2_FAR, [exact(rd), exact(rd)], 2, 2), PING)

case("-f across the 576 MTU: fragmentation needed, then the send is refused",
     ["-f", "-n", "1000", "-c", "2", SMALL_NET + ".2"],
     run_lines(SMALL_NET + ".2", [exact(UNREACH + "Fragmentation needed and DF set"),
                                  exact("Error 10040.")], 2, 1, size=1000), PING)

a = rsp()
case("silence: timeouts without pause", ["-w", "300", "-c", "3", a],
     run_lines(a, timeouts(3), 3, 0), PING, wire=a, wire_checks=[seqs(0, 0, 0)],
     gaps=[(0.28, 0.95)] * 2)

a = rsp(echo(at=300))
case("-w 0: no deadline", ["-w", "0", "-c", "2", a],
     run_lines(a, [reply(a, 0, rtt_range=(300, 800)), reply(a, 1, rtt_range=(300, 800))], 2, 2),
     PING, wire=a)

case("-n 65536 cannot be sent", ["-c", "2", "-n", "65536", PEER],
     run_lines(PEER, [exact("Error 10040.")] * 2, 2, 0, size=65536), PING, elapsed=(0, 0.8))

a = rsp(echo())
case("-n 65506: the largest request", ["-n", "65506", "-c", "1", a],
     run_lines(a, [reply(a, 0)], 1, 1, size=65506), PING, wire=a,
     wire_checks=[icmp_len(65514)])

# Not here, since the kernel never hands them to a datagram socket:
# unreachable codes above 15, fragment reassembly time exceeded (11/1), and
# fragmentation needed without -f.
for icmp_type, code, text in [
        (4, 0, "ICMP: Source Quench"),
        (12, 1, "ICMP: Parameter Problem"),
        (3, 15, UNREACH + "Precedence cutoff in effect"),
        (11, 7, "{a}: ICMP: Time Exceeded, Reason: Unknown code 7"),
        (5, 3, "ICMP: Redirect, Gateway: 198.18.0.3, Reason: "
               "Redirect datagrams for the Type of Service and Host")]:
    a = rsp(error(icmp_type, code, gateway=R2_LAN) if icmp_type == 5 else error(icmp_type, code),
            echo(at=50))
    line = exact(text.format(a=a))
    case("crafted type %d code %d, a late reply behind it" % (icmp_type, code), ["-c", "2", a],
         run_lines(a, [line, line], 2, 2), PING, wire=a, wire_checks=[seqs(0, 1)])

# cap_net_raw+ep and set-uid root: a raw socket, then nothing elevated

for runner in (CAP, SUID):
    a = rsp(echo())
    case("replies; options applied after the drop reach the wire",
         ["-c", "3", "-t", "7:m", "-i", "200", a],
         run_lines(a, [reply(a, 0), reply(a, 1), reply(a, 2)], 3, 3), runner,
         wire=a, wire_checks=[tos(0xE2), ttl_seen(199), seqs(0, 1, 2)])
    case("a name resolved after the drop", ["-c", "2", "peer.vxnet"],
         run_lines("peer.vxnet", [reply(PEER, 0), reply(PEER, 1)], 2, 2), runner)
    a = routed(PEER_NET + ".32" if runner is CAP else PEER_NET + ".33")
    case("-i 1: time exceeded from the router", ["-i", "1", "-c", "2", a],
         run_lines(a, [exact(TE), exact(TE)], 2, 2), runner)

# neither: no socket, every request fails at once

case("every request fails", ["-c", "3", PEER],
     run_lines(PEER, [exact("Error 10038.")] * 3, 3, 0), NEITHER, elapsed=(0, 1.0))
