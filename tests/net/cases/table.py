"""What a case of the namespace suite is, and the table that collects them.

Each case names its arguments, the whole expected output, and optionally
the time it may take and what the responder must have seen on the wire.
Cases that talk to the crafted responder get an address of their own
(responder()), and cases that draw route errors from the router get a
source address of their own (routed()), so that every case can run in
parallel with every other.
"""
import enum
from dataclasses import dataclass, field

from network import RESPONDER_NET, SOURCE_NET
from network6 import RESPONDER6_NET


# Tags of a case (Case.tags), set in the case tables; a --json twin has its
# text case's.
#   TWIN   its --json twin runs in every run of the suite, one of the
#          representative twins: each event kind, both sockets, both
#          families. The others run with --json-twins all.
#   SHARE  in the representative share of the suite (--share representative,
#          which the sanitized build runs): each family of code paths.
TWIN = frozenset({"twin"})
SHARE = frozenset({"share"})
NO_TAGS = frozenset()


class Need(enum.Enum):
    """What a case needs of the program beyond running it in the lab."""
    POSIX_BACKEND = ("the unprivileged modes are the POSIX backend's; "
                     "this program is not a native one")
    OTHER_NAMESPACE = "runs a native program only, not one started by a loader"
    LINUX_SOCKET = ("watches the program's socket through its Linux process id, which Wine does "
                    "not give, and expects the kernel filter of the POSIX backend, which Windows "
                    "has not")
    ICMPV6 = "needs ICMPv6 sockets, which Wine 8 has not (10043)"
    NO_ICMPV6 = "shows how vexmo.exe fails without ICMPv6 sockets: under Wine only"
    KERNEL_STAMPS = ("judges an answer by the kernel's receive stamp, which Windows does not "
                     "give the program")
    POSIX_SIGNALS = ("SIGQUIT asks a native program for its statistics so far; Wine does not "
                     "turn it into Ctrl-Break, and no test can raise Ctrl-Break under Wine")


@dataclass
class Case:
    name: str
    args: list
    expect: list
    status: int = 0
    elapsed: tuple = None  # (lo, hi) seconds of the whole run; hi gets the slack
    wire: str = None  # responder address whose log is checked
    wire_checks: list = field(default_factory=list)
    gaps: list = None  # [(lo, hi)] between consecutive requests on the wire
    tail: float = None  # at least this long from the last request to the end
    limit: float = 20.0  # the run is killed after this many seconds
    solo: bool = False  # runs alone: other cases' ICMP traffic would end its waits
    unprivileged: object = None  # how nobody runs it (privilege.Way); None: root on the host
    checks: list = field(default_factory=list)  # checks of the result alone
    driver: object = None  # runs the case itself: driver.run(case, suite) -> Result
    fault: object = None  # the fault network it needs (faults.Fault)
    program_role: str = "host"  # the namespace the program runs in
    needs: tuple = ()  # of Need
    json: bool = False  # the --json twin of a case (json_twins.py)
    interrupted: bool = False  # the run is stopped before its last request
    tags: frozenset = frozenset()  # TWIN, SHARE
    stderr: object = None  # the standard error expected (text or a re pattern); None: nothing


class SaysOnStderr:
    """Runs a case as the suite does, and takes the line it must write on
    standard error (which the suite would count against it) to check here."""

    def __init__(self, line):
        self.line = line

    def run(self, case, suite):
        if case.unprivileged:
            result = suite.unprivileged.run(case.unprivileged, case.args, case.limit)
        else:
            result = suite.program.run(case.args, case.limit)
        if result.stderr.split("\n", 1)[0].rstrip("\r") != self.line:
            result.problems.append("standard error %r, expected the line %r"
                                   % (result.stderr, self.line))
        result.stderr = ""
        return result


def echo(at=0, **kw):
    """A responder action: an echo reply, at milliseconds after the request."""
    return dict(at=at, do="reply", **kw)


def error(icmp_type, code, at=0, **kw):
    """A responder action: an ICMP error quoting the request."""
    return dict(at=at, do="error", type=icmp_type, code=code, **kw)


class CaseTable:
    twin = False  # json_twins.Twins stands for a table while it adds the --json twins

    def __init__(self):
        self.cases = []
        self.responder_behaviours = {}  # address -> behaviour, handed to responder.py
        self.own_sources = []  # (destination, own source address) routed by the host

    def add(self, *args, **kw):
        case = Case(*args, **kw)
        self.cases.append(case)
        return case

    def responder(self, *actions, **behaviour):
        """An address of the responder's own that answers each request with
        actions."""
        # .10 to .249 of the first /24, then of the second (.250 of the first
        # stands for an address that was not asked).
        number = self._responders(ipv6=False)
        if number >= 480:
            raise ValueError("the responder's IPv4 addresses are used up")
        net = RESPONDER_NET if number < 240 else RESPONDER_NET[:-1] + "1"
        address = "%s.%d" % (net, 10 + number % 240)
        self.responder_behaviours[address] = dict(actions=list(actions), **behaviour)
        return address

    def responder6(self, *actions, **behaviour):
        """An IPv6 address of the responder's own that answers each request
        with actions."""
        address = "%s%x" % (RESPONDER6_NET, 0x10 + self._responders(ipv6=True))
        self.responder_behaviours[address] = dict(actions=list(actions), **behaviour)
        return address

    def _responders(self, ipv6):
        return sum((":" in a) == ipv6 for a in self.responder_behaviours)

    def routed(self, destination):
        """destination, reached from a source address of its own."""
        self.own_sources.append((destination,
                                 "%s.%d" % (SOURCE_NET, 20 + len(self.own_sources))))
        return destination
