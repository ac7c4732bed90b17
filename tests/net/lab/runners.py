"""How the suite starts the program under test: one runner, chosen once
(NativeRunner here, wine.WineRunner for vexmo.exe), handed to every case.

A runner has
  run(args, limit_s, role="host", started=None) -> lab.Result
      the program with args in the namespace of role, killed after limit_s;
      started(proc) is called once it runs;
  identifier(result, requests)
      the echo identifier the run's requests must carry;
  start(roles) and stop()
      what the runner needs in those namespaces before and after the cases;
  signal_target(proc)
      the Linux process id that stands for the program when it is signalled
      (proc: the process run started), or None.
"""
from lab import Result
from table import Need


def is_native(prefix):
    """A program the suite starts itself, not one started by a loader."""
    try:
        with open(prefix[0], "rb") as f:
            return len(prefix) == 1 and f.read(4) == b"\x7fELF"
    except OSError:
        return False


def skip_reason(case, native, wine):
    """Why case cannot run with this program, or None."""
    if Need.ICMPV6 in case.needs and wine:
        return Need.ICMPV6.value
    if Need.NO_ICMPV6 in case.needs and not wine:
        return Need.NO_ICMPV6.value
    if native:
        return None
    for need in case.needs:
        if need in (Need.ICMPV6, Need.NO_ICMPV6):
            continue
        if need in (Need.POSIX_BACKEND, Need.POSIX_SIGNALS, Need.KERNEL_STAMPS):
            return need.value
        if not wine:
            return Need.OTHER_NAMESPACE.value
        if need is Need.LINUX_SOCKET:
            return need.value
    return None


class IdentifierRule:
    """How the expected identifier is found. A native run uses the process
    id of the program; a run through a loader the suite cannot see into
    takes the identifier from the first request and checks that every other
    request and the matching agree."""

    def __init__(self, from_wire):
        self.from_wire = from_wire

    def identifier(self, result, requests):
        if not self.from_wire:
            return result.pid & 0xFFFF
        return requests[0].identifier if requests else None


class NativeRunner(IdentifierRule):
    def __init__(self, lab, prefix, identifier_from_wire=False):
        super().__init__(identifier_from_wire)
        self.lab = lab
        self.prefix = list(prefix)

    def start(self, roles):
        pass

    def stop(self):
        pass

    def signal_target(self, proc):
        return proc.pid  # ip netns exec runs the program in place

    def run(self, args, limit_s, role="host", started=None):
        cmd = self.lab.in_namespace(role, *self.prefix, *args)
        run = self.lab.run_bounded(cmd, limit_s, started)
        return Result(cmd, run.returncode, run.stdout.decode("latin-1"),
                      run.stderr.decode("latin-1"), run.pid, run.start, run.end, run.killed,
                      line_times=run.line_times)
