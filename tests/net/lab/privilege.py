"""Runs the program as an unprivileged user (nobody), in each of the ways
Linux lets it ping:

  ping socket   a second host on the LAN, "unprivileged" (198.18.0.4), whose
                namespace opens net.ipv4.ping_group_range: no privilege at
                all, an ICMP datagram socket.
  capability    the host, where the range stays closed, with a copy of the
                program given cap_net_raw+ep; while it runs, the process
                must hold no capability left.
  set-uid root  the same with a copy owned by root and set-uid; while it
                runs, every uid must be nobody's.
  neither       the host with a plain copy: every request fails.
"""
import os
import pwd
import shutil
import sys
import threading
import time
from dataclasses import dataclass, replace

from lab import AGENTS, LabError, Result
from network import HOST, HOST_FILES, ROUTER_LAN, add_lan_host
from network6 import HOST6, UNPRIVILEGED6, add_lan_host6

UNPRIVILEGED_HOST = "198.18.0.4"
OPEN_RANGE = "0 2147483647"
CLOSED_RANGE = "1 0"


@dataclass(frozen=True)
class Way:
    name: str  # as the case names show it
    role: str  # namespace role the program runs in
    copy: str  # "plain", "cap" or "suid": which copy of the program
    source: str  # source address of its requests on the wire
    probe: bool = False  # read /proc/PID/status while it runs
    pid: int = None  # the process id it gets, in a pid namespace of its own
    source6: str = HOST6  # source address of its IPv6 requests


PING_SOCKET = Way("ping socket", "unprivileged", "plain", UNPRIVILEGED_HOST,
                  source6=UNPRIVILEGED6)
CAPABILITY = Way("cap_net_raw+ep", "host", "cap", HOST, probe=True)
SET_UID_ROOT = Way("set-uid root", "host", "suid", HOST, probe=True)
NO_SOCKET = Way("no socket", "host", "plain", HOST)


def ping_socket_with_pid(pid):
    """The ping socket way, the program getting pid."""
    return replace(PING_SOCKET, name="ping socket, pid %d" % pid, pid=pid)


def nobody_ids():
    entry = pwd.getpwnam("nobody")
    return entry.pw_uid, entry.pw_gid


def holds_nothing(result):
    """A check: while it ran, every uid and gid nobody's, no capability
    in any set."""
    seen = result.status_while_running
    if seen is None:
        return ["its status was never read"]
    if isinstance(seen, str):
        return [seen]
    problems = []
    uid, gid = nobody_ids()
    for key, want in (("Uid", uid), ("Gid", gid)):
        ids = [int(v) for v in seen.get(key, "").split()]
        if not ids or any(v != want for v in ids):
            problems.append("while running, %s %s, expected %d everywhere" % (key, ids, want))
    for key in ("CapInh", "CapPrm", "CapEff", "CapAmb"):
        if int(seen.get(key, "1"), 16) != 0:
            problems.append("while running, %s %s, expected none" % (key, seen.get(key)))
    return problems


class UnprivilegedRunner:
    """Adds the unprivileged host to the lab and makes the copies of the
    program that nobody runs."""

    def __init__(self, lab, program):
        self.lab = lab
        for tool, package in (("setcap", "libcap2-bin"), ("setpriv", "util-linux"),
                              ("unshare", "util-linux")):
            if not shutil.which(tool):
                raise LabError("%s is not installed (Debian package %s)" % (tool, package))
        self.uid, self.gid = nobody_ids()
        self._add_host()
        self.bindir = self._make_copies(program)

    def _add_host(self):
        add_lan_host(self.lab, "unprivileged", "u", UNPRIVILEGED_HOST, ROUTER_LAN)
        add_lan_host6(self.lab, "unprivileged", "u", UNPRIVILEGED6)
        settings = [("unprivileged", "net.ipv4.ping_group_range", OPEN_RANGE),
                    ("host", "net.ipv4.ping_group_range", CLOSED_RANGE),
                    # it keeps sending through the router, so every request draws its redirect
                    ("unprivileged", "net.ipv4.conf.all.accept_redirects", 0),
                    ("unprivileged",
                     "net.ipv4.conf.%s.accept_redirects" % self.lab.interface("u"), 0),
                    ("unprivileged", "net.ipv4.conf.all.rp_filter", 0),
                    ("unprivileged", "net.ipv4.conf.default.rp_filter", 0)]
        for role, key, value in settings:
            self.lab.sysctl(role, key, value)
        self.lab.write_netns_files("unprivileged", HOST_FILES)
        self.lab.wait_until_up()

    def _make_copies(self, program):
        # nobody may pass through the work directory but not list it
        os.chmod(self.lab.workdir, 0o711)
        bindir = os.path.join(self.lab.workdir, "bin")
        os.mkdir(bindir)
        os.chmod(bindir, 0o755)
        if os.statvfs(bindir).f_flag & os.ST_NOSUID:
            raise LabError("%s is on a nosuid file system: no file capabilities there" % bindir)
        for copy in ("plain", "cap", "suid"):
            path = os.path.join(bindir, "vexmo-" + copy)
            shutil.copyfile(program, path)
            os.chown(path, 0, 0)
            os.chmod(path, 0o4755 if copy == "suid" else 0o755)
            if copy == "cap":
                self.lab.run(["setcap", "cap_net_raw+ep", path])
        return bindir

    def run(self, way, args, limit_s, started=None):
        """Runs the program as nobody, the way way says (and reads its status
        while it runs, when the way asks for it); started(proc) is called once
        it runs, proc.pid being the program's own."""
        program = os.path.join(self.bindir, "vexmo-" + way.copy)
        launcher = []
        if way.pid:
            # /proc of the new pid namespace: the program's own pid must be
            # found there (a sanitizer reads /proc/PID/task at exit)
            launcher = ["unshare", "--pid", "--fork", "--kill-child", "--mount-proc",
                        sys.executable, os.path.join(AGENTS, "pid_launcher.py"), str(way.pid)]
        cmd = self.lab.in_namespace(way.role, *launcher, "setpriv", "--reuid=%d" % self.uid,
                                    "--regid=%d" % self.gid, "--clear-groups", "--",
                                    program, *args)
        seen = []
        watchers = []

        def watch(proc):
            if started:
                started(proc)
            if way.probe:
                watcher = threading.Thread(target=lambda: seen.append(
                    status_while_running(proc.pid, program, time.monotonic())))
                watcher.start()
                watchers.append(watcher)

        run = self.lab.run_bounded(cmd, limit_s, watch)
        for watcher in watchers:
            watcher.join()
        return Result(cmd, run.returncode, run.stdout.decode("latin-1"),
                      run.stderr.decode("latin-1"), run.pid, run.start, run.end, run.killed,
                      status_while_running=seen[0] if seen else None, line_times=run.line_times)


def status_while_running(pid, program, started):
    """The fields of /proc/PID/status once the program has given up what it
    had to (it does so before its opening line), or, where it never does
    while it runs, the last ones read; or why they could not be read. A slow
    start (a sanitized build on a busy machine) must not read as a failure,
    so the fields are read again for up to two seconds."""
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
        return "never saw the program running (exe %s)" % exe
    time.sleep(0.3)
    fields = None
    until = time.monotonic() + 2.0
    while True:
        try:
            with open("/proc/%d/status" % pid) as f:
                lines = f.read().splitlines()
            if os.readlink("/proc/%d/exe" % pid) != program:
                raise OSError("not the program any more")
        except OSError as e:
            return fields if fields is not None else (
                "could not read its status while it ran: %s" % e)
        fields = dict(line.split(":\t", 1) for line in lines if ":\t" in line)
        if gave_up_everything(fields) or time.monotonic() > until:
            return fields
        time.sleep(0.05)


def gave_up_everything(fields):
    uids = set(fields.get("Uid", "").split())
    gids = set(fields.get("Gid", "").split())
    caps = [int(fields.get(key, "1"), 16) for key in ("CapInh", "CapPrm", "CapEff", "CapAmb")]
    return len(uids) == 1 and len(gids) == 1 and not any(caps)


class HeldIdentifierDriver:
    """Runs the program the way way says (a pid of its choosing) while
    another ICMP datagram socket of the namespace holds the program's
    identifier: taken first with address reuse as given, or taken (with
    reuse) as soon as the program has bound it."""

    def __init__(self, way, reuse, when):
        self.way, self.reuse, self.when = way, reuse, when

    def run(self, case, suite):
        holder = suite.lab.start_helper(self.way.role, "identifier_holder.py",
                                        str(self.way.pid & 0xFFFF), str(int(self.reuse)),
                                        self.when)
        first = holder.stdout.readline().strip()
        result = suite.unprivileged.run(self.way, case.args, case.limit)
        after = suite.lab.finish_helper(holder).split("\n")
        if self.when == "first" and first != "held":
            result.problems.append("the holder could not take the identifier first: " + first)
        if self.when == "after" and after[0] == "unseen":
            result.problems.append("the holder never saw the program's socket bound")
        return result
