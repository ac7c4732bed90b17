"""The lab: everything the namespace suite creates on the machine, created in
one place and torn down in one place.

A Lab owns its network namespaces (named vx-TAG-ROLE, TAG random, so that
several runs can share the machine), the /etc/netns files that give a
namespace its own name service, the processes started in them, and a work
directory. Every command that builds or changes the network goes through
run(), which raises LabError when it fails.
"""
import os
import secrets
import shutil
import subprocess
import sys
import tempfile
import threading
import time
from dataclasses import dataclass, field

# The agents: the helper programs the lab runs in its namespaces (responder,
# load generator, launchers...).
AGENTS = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "agents")


class LabError(Exception):
    """A command that builds or changes the network failed. environment:
    this machine cannot make network namespaces at all."""

    def __init__(self, text, environment=False):
        super().__init__(text)
        self.environment = environment


def log(text):
    print(text, file=sys.stderr, flush=True)


@dataclass
class Result:
    """One run of the program under test."""
    command: list  # as it was run, namespace entry included
    status: int
    stdout: str
    stderr: str
    pid: int  # the program's process id (the Windows one under Wine)
    start: float
    end: float
    killed: bool
    problems: list = field(default_factory=list)  # seen beside the output, by a case's driver
    expect: list = None  # the output a driver learned the run must print; None: the case's
    status_while_running: object = None  # /proc status fields, or why they could not be read
    line_times: list = field(default_factory=list)  # when each line of stdout arrived (monotonic)


@dataclass
class Bounded:
    """What run_bounded saw of a process."""
    pid: int
    returncode: int
    stdout: bytes
    stderr: bytes
    start: float
    end: float
    killed: bool
    line_times: list  # when each line of stdout arrived (monotonic)


class Lab:
    def __init__(self):
        self.tag = secrets.token_hex(3)
        self.workdir = tempfile.mkdtemp(prefix="vx-%s-" % self.tag)
        self._namespaces = {}  # role -> namespace name
        self._netns_dirs = []
        self._bridge_roles = set()
        self._children = {}  # pid -> Popen, ended by close()
        self._lock = threading.Lock()

    # -------------------------------------------------------- names

    def namespace(self, role):
        return self._namespaces[role]

    def roles(self):
        return list(self._namespaces)

    def interface(self, tag):
        """An interface name of this lab: at most 15 characters."""
        return "vx%s%s" % (self.tag, tag)

    def in_namespace(self, role, *cmd):
        """The command that runs cmd inside the namespace of role; ip netns
        exec executes it in place, so its pid is cmd's own."""
        return ["ip", "netns", "exec", self._namespaces[role]] + list(cmd)

    # -------------------------------------------------------- building

    def run(self, cmd):
        proc = subprocess.run(cmd, capture_output=True, text=True)
        if proc.returncode != 0:
            raise LabError("%s: %s" % (" ".join(cmd), (proc.stderr or proc.stdout).strip()))

    def ip(self, role, *args):
        self.run(["ip", "-n", self._namespaces[role]] + list(args))

    def add_namespace(self, role):
        """A namespace for role, its loopback up."""
        name = "vx-%s-%s" % (self.tag, role)
        try:
            self.run(["ip", "netns", "add", name])
        except LabError as err:
            # The first one failing says the machine cannot do it at all.
            raise LabError(str(err), environment=not self._namespaces) from None
        self._namespaces[role] = name
        self.ip(role, "link", "set", "lo", "up")

    def link(self, role_a, interface_a, role_b, interface_b, mtu=None):
        """A veth pair from role_a to role_b."""
        self.run(["ip", "link", "add", interface_a, "netns", self._namespaces[role_a], "type",
                  "veth", "peer", "name", interface_b, "netns", self._namespaces[role_b]])
        if mtu:
            self.ip(role_a, "link", "set", interface_a, "mtu", str(mtu))
            self.ip(role_b, "link", "set", interface_b, "mtu", str(mtu))

    def add_bridge(self, role, name, *ports):
        self.ip(role, "link", "add", name, "type", "bridge")
        self._bridge_roles.add(role)
        for port in ports:
            self.ip(role, "link", "set", port, "master", name)

    def sysctl(self, role, key, value):
        # /proc/sys/net belongs to the namespace of whoever opens it; written
        # through sh because procps is not on every fresh machine.
        path = "/proc/sys/" + key.replace(".", "/")
        self.run(self.in_namespace(role, "sh", "-c", 'echo "$1" > "$2"', "sh", str(value), path))

    def write_netns_files(self, role, files):
        """Files that replace /etc/NAME for programs run in role's namespace
        (hosts, resolv.conf, nsswitch.conf): name -> text."""
        etc = os.path.join("/etc/netns", self._namespaces[role])
        os.makedirs(etc, exist_ok=True)
        self._netns_dirs.append(etc)
        for name, text in files.items():
            with open(os.path.join(etc, name), "w") as f:
                f.write(text)

    def wait_until_up(self, limit_s=10.0):
        """A new veth gets its carrier only after a moment, and until then a
        bridge drops what it should forward: waits for every link and every
        bridge port of the lab. Then for the end of duplicate address
        detection on its link-local addresses: until then the kernel sends no
        neighbour solicitation for a packet whose source is no address of the
        interface (the responder's), and the packet waits a second."""
        deadline = time.monotonic() + limit_s
        while True:
            pending = []
            for name in self._namespaces.values():
                out = subprocess.run(["ip", "-n", name, "-o", "link", "show"],
                                     capture_output=True, text=True).stdout
                for line in out.splitlines():
                    dev = line.split(":")[1].strip().split("@")[0]
                    if dev != "lo" and " state UP " not in line:
                        pending.append("%s/%s" % (name, dev))
                out = subprocess.run(["ip", "-n", name, "-6", "-o", "addr", "show", "tentative"],
                                     capture_output=True, text=True).stdout
                pending += ["%s/%s (tentative)" % (name, line.split()[3])
                            for line in out.splitlines()]
            for role in self._bridge_roles:
                out = subprocess.run(["bridge", "-n", self._namespaces[role], "link", "show"],
                                     capture_output=True, text=True).stdout
                pending += ["bridge port " + line.split(":")[1].strip()
                            for line in out.splitlines() if "state forwarding" not in line]
            if not pending:
                return
            if time.monotonic() > deadline:
                raise LabError("links not up after %.0f s: %s" % (limit_s, ", ".join(pending)))
            time.sleep(0.05)

    def wait_link_up(self, role, dev, limit_s=5.0):
        deadline = time.monotonic() + limit_s
        while True:
            out = subprocess.run(["ip", "-n", self._namespaces[role], "-o", "link", "show", "dev",
                                  dev], capture_output=True, text=True).stdout
            if " state UP " in out:
                return
            if time.monotonic() > deadline:
                raise LabError("%s/%s not up after %.0f s: %s" % (role, dev, limit_s, out.strip()))
            time.sleep(0.02)

    # -------------------------------------------------------- processes

    def _adopt(self, proc):
        with self._lock:
            self._children[proc.pid] = proc

    def _release(self, proc):
        with self._lock:
            self._children.pop(proc.pid, None)

    def run_bounded(self, argv, limit_s, started=None):
        """Runs argv with a hard time limit; started(proc) is called once it
        runs. Notes when each line of its standard output arrives, as a
        reader at the other end of a pipe sees it. A run still going when the
        lab closes is killed."""
        start = time.monotonic()
        proc = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE)
        self._adopt(proc)
        lines, line_times, err = [], [], []

        def read_lines():
            for line in iter(proc.stdout.readline, b""):
                line_times.append(time.monotonic())
                lines.append(line)

        readers = [threading.Thread(target=read_lines, daemon=True),
                   threading.Thread(target=lambda: err.append(proc.stderr.read()), daemon=True)]
        for reader in readers:
            reader.start()
        if started:
            started(proc)
        killed = False

        def read_to_the_end(limit):
            for reader in readers:
                reader.join(max(0.0, limit - time.monotonic()))
            return not any(reader.is_alive() for reader in readers)

        if read_to_the_end(start + limit_s):
            try:
                proc.wait(max(0.0, start + limit_s - time.monotonic()))
            except subprocess.TimeoutExpired:  # it closed its output and went on
                killed = True
                proc.kill()
        else:
            killed = True
            proc.kill()
            if not read_to_the_end(time.monotonic() + 10):  # a child of it holds the pipes
                lines, err = [], [b"the output pipe stayed open after the kill\n"]
        proc.wait()
        end = time.monotonic()
        self._release(proc)
        return Bounded(proc.pid, proc.returncode, b"".join(lines), b"".join(err), start, end,
                       killed, line_times)

    def start_helper(self, role, script, *args):
        """One of the suite's agents (agents/SCRIPT) in the namespace of role,
        talking on pipes (text); it ends when its standard input closes."""
        cmd = self.in_namespace(role, sys.executable, os.path.join(AGENTS, script), *args)
        proc = subprocess.Popen(cmd, stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        self._adopt(proc)
        return proc

    def finish_helper(self, proc, read=True, limit_s=10.0):
        """Closes the helper's input and returns what it wrote after that
        (when read: nobody else reads its output)."""
        try:
            proc.stdin.close()
        except OSError:
            pass
        watchdog = threading.Timer(limit_s, proc.kill)
        watchdog.start()
        out = proc.stdout.read() if read else ""
        proc.wait()
        watchdog.cancel()
        self._release(proc)
        return out

    # -------------------------------------------------------- the end

    def close(self):
        with self._lock:
            children = list(self._children.values())
        for proc in children:
            try:
                proc.kill()
                proc.wait(5)
            except Exception:
                pass
        for name in self._namespaces.values():
            subprocess.run(["ip", "netns", "del", name], capture_output=True)
        self._namespaces.clear()
        for etc in self._netns_dirs:
            shutil.rmtree(etc, ignore_errors=True)
        shutil.rmtree(self.workdir, ignore_errors=True)

