"""Runs the namespace suite's program under Wine: vexmo.exe, the Windows build.

    sudo tests/net/run_suite.py --vexmo "wine build-windows/vexmo.exe" --wine

What differs from a native run, and why:

- Wine's server (wineserver) creates the sockets of every Windows program it
  serves, so a raw socket lives in the network namespace of the server, not
  of the program. Each namespace that runs vexmo.exe (the host, and the host of each
  fault case) gets a Wine prefix of its own, and its wineserver is started
  inside that namespace before the first case. The prefixes are copies of a
  prepared one (WINEPREFIX, when it names one) whose large files are hard
  links; without one the first is made from scratch, which takes some ten
  seconds, and the others are copied from it.
- Wine's process ids are its own, not Linux's, and vexmo puts the low 16 bits
  of its process id on the wire. The program is started by
  vexmo_wine_launch.exe (built beside vexmo.exe from agents/wine_launch.cpp),
  which writes the Windows process id of vexmo.exe to a file before it runs; that id
  stands in the result for the Linux pid of a native run. The launcher also
  times vexmo.exe from its start to its end, and the bounds on a whole run
  apply to that time: starting a second Windows process costs Wine a few
  tenths of a second more on a loaded machine, which no bound should absorb.
- A Windows console program ends its lines with CR LF (the C runtime's text
  mode); the output is compared with the CRs taken out again, and a bare LF
  is reported as a problem.

Where the run under Wine shows Linux and not Windows (the cases still pass,
because the suite's network is Linux on both sides):
- the time to live of a request without -i is Linux's 64, where Windows would
  send 128 (the suite expects 63 behind the router);
- -t reaches the wire because Linux honours IP_TOS; Windows accepts the option
  but leaves the byte to its QoS policy;
- after "Fragmentation needed" the next -f send is refused with 10040 by the
  Linux kernel's path MTU cache, through Wine's mapping of EMSGSIZE;
- Linux sets DF on raw sockets by default, Windows does not; Wine opens its
  sockets without DF, as Windows does, so "without -f" cases hold as on
  Windows.
"""
import os
import shutil
import subprocess
import threading
import time

from lab import LabError, Result, log
from runners import IdentifierRule

LAUNCHER = "vexmo_wine_launch.exe"
# Files at least this large are hard-linked into a namespace's prefix: Wine's
# DLLs, which it never writes. Registry and configuration files are copied.
LINK_BYTES = 64 * 1024
QUIET = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def windows_path(path):
    """The path as Wine's drive Z: (the Linux root) names it."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def copy_prefix(template, dest):
    """Copies a prepared prefix. The file 'wineserver' at its top names the
    server's directory in Debian's Wine: it is left out, so that the copy gets
    a server of its own."""
    for root, dirs, files in os.walk(template):
        rel = os.path.relpath(root, template)
        target = os.path.join(dest, rel) if rel != "." else dest
        os.makedirs(target, exist_ok=True)
        for name in dirs + files:
            src = os.path.join(root, name)
            dst = os.path.join(target, name)
            if rel == "." and name in ("wineserver", ".vexmo-ready"):
                continue
            if os.path.islink(src):
                os.symlink(os.readlink(src), dst)
                if name in dirs:
                    dirs.remove(name)
            elif name in files:
                if os.path.getsize(src) >= LINK_BYTES:
                    os.link(src, dst)
                else:
                    shutil.copy2(src, dst)


def prepared_template():
    prefix = os.environ.get("WINEPREFIX")
    if prefix and os.path.exists(os.path.join(prefix, "system.reg")):
        return prefix
    return None


class WineRunner(IdentifierRule):
    """vexmo.exe under Wine. program: the suite's --vexmo command, 'wine
    PATH.exe' or just 'PATH.exe'. The result's pid is the Windows process
    id of vexmo.exe (-1 if the launcher reported none)."""

    def __init__(self, lab, program, identifier_from_wire=False):
        super().__init__(identifier_from_wire)
        self.lab = lab
        self.program = list(program)
        exe = [p for p in program if p.lower().endswith(".exe")]
        if len(exe) != 1 or not os.path.exists(exe[0]):
            raise LabError("--wine needs the path of vexmo.exe in --vexmo, got %s"
                           % " ".join(program))
        self.exe = os.path.abspath(exe[0])
        self.launcher = os.path.join(os.path.dirname(self.exe), LAUNCHER)
        if not os.path.exists(self.launcher):
            raise LabError("%s is missing: build it with the Windows build "
                           "(cmake --build build-windows)" % self.launcher)
        if not shutil.which("wine") or not shutil.which("wineserver"):
            raise LabError("wine is not installed")
        self.prefixes = {}  # role -> the Wine prefix of that namespace
        self.runs = 0
        self.lock = threading.Lock()

    def env_argv(self, role, *cmd):
        return ["env", "WINEPREFIX=" + self.prefixes[role], "WINEDEBUG=-all"] + list(cmd)

    def start(self, roles):
        """Prepares the namespaces of roles (the host first) for Windows programs."""
        template = prepared_template()
        started = time.monotonic()
        for role in roles:
            self.prefixes[role] = os.path.join(self.lab.workdir, "wine-prefix-" + role)
            if template:
                copy_prefix(template, self.prefixes[role])
            else:
                # The first is made from scratch, once its server has written
                # everything down it is the template of the others.
                os.makedirs(self.prefixes[role])
                subprocess.run(self.lab.in_namespace(role, *self.env_argv(role, "wineboot",
                                                                          "--init")), **QUIET)
                subprocess.run(self.env_argv(role, "wineserver", "-w"), timeout=60, **QUIET)
                template = self.prefixes[role]
        for role in roles:
            # The server, inside the namespace, kept until stop(). Its helpers
            # (services.exe and the like) start with the first program and
            # inherit its standard handles: that first program gets none, or a
            # case's output pipe would stay open until the server ends.
            subprocess.run(self.lab.in_namespace(role, *self.env_argv(role, "wineserver", "-p")),
                           **QUIET)
            subprocess.run(self.lab.in_namespace(role, *self.env_argv(role, "wine", self.exe)),
                           timeout=120, **QUIET)
            result = self.run([], 60, role)
            if result.status != 255 or "Syntax: vexmo" not in result.stdout or result.pid < 0:
                raise LabError("vexmo.exe does not run under Wine in %s (status %s): %s%s" % (
                    role, result.status, result.stdout[:200], result.stderr[:400]))
        log("wine: %d prefixes ready in %.1f s" % (len(roles), time.monotonic() - started))

    def run(self, args, limit_s, role="host", started=None):
        with self.lock:
            self.runs += 1
            pidfile = os.path.join(self.lab.workdir, "wine-pid-%d" % self.runs)
        cmd = self.lab.in_namespace(role, *self.env_argv(
            role, "wine", self.launcher, windows_path(pidfile), windows_path(self.exe), *args))
        # A kill ends vexmo.exe too: the launcher holds it in a job object.
        # Under load Wine now and then fails to create the process at all
        # (CreateProcess error 1359); nothing ran then, so it is tried again.
        for _ in range(3):
            run = self.lab.run_bounded(cmd, limit_s, started)
            if run.returncode != 2 or b"vexmo_wine_launch: cannot start" not in run.stderr:
                break
        start, err = run.start, run.stderr
        pid = -1
        try:
            with open(pidfile) as f:
                lines = f.read().split()
            os.unlink(pidfile)
            pid = int(lines[0])
            if len(lines) > 1:
                # the program's own time, without the start of the launcher
                start = run.end - int(lines[1]) / 1e6
        except (OSError, ValueError, IndexError):
            err += b"wine.py: the launcher reported no process id\n"
        stdout = run.stdout.decode("latin-1")
        bare = stdout.replace("\r\n", "").count("\n")
        if bare:
            err += b"wine.py: %d line feeds without a carriage return\n" % bare
        return Result(cmd, run.returncode, stdout.replace("\r\n", "\n"), err.decode("latin-1"),
                      pid, start, run.end, run.killed, line_times=run.line_times)

    def signal_target(self, proc, role="host"):
        """The Linux process of vexmo.exe in role's prefix, as Wine turns a
        SIGINT to it into CTRL_C_EVENT. Wine starts a Windows process apart
        from its parent, so it is found by its name and prefix: one at a
        time, which a case that signals it must ensure (solo)."""
        wanted = ("WINEPREFIX=" + self.prefixes[role]).encode()
        name = os.path.basename(self.exe)
        found = []
        for entry in os.listdir("/proc"):
            if not entry.isdigit():
                continue
            try:
                with open("/proc/%s/comm" % entry) as f:
                    if f.read().strip() != name:
                        continue
                with open("/proc/%s/environ" % entry, "rb") as f:
                    if wanted not in f.read().split(b"\0"):
                        continue
            except OSError:
                continue
            found.append(int(entry))
        return found[0] if len(found) == 1 else None

    def stop(self):
        """Ends every namespace's wineserver and the Windows programs it still serves."""
        for role, prefix in list(self.prefixes.items()):
            if not os.path.isdir(prefix):
                continue
            server_dir = None
            try:
                with open(os.path.join(prefix, "wineserver")) as f:
                    server_dir = os.path.join("/tmp", f.read().strip())
            except OSError:
                pass
            subprocess.run(self.env_argv(role, "wineserver", "-k"), **QUIET)
            subprocess.run(self.env_argv(role, "wineserver", "-w"), timeout=30, **QUIET)
            if server_dir and os.path.basename(server_dir).startswith("wine-"):
                shutil.rmtree(server_dir, ignore_errors=True)
            shutil.rmtree(prefix, ignore_errors=True)
        self.prefixes.clear()
