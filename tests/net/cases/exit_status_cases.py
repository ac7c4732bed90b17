"""The exit statuses of --exit-status and --max-loss, one case
for each, and the bad input that ends a run before it sends anything
(run_suite.py -k exit-status for these alone)."""
import re

from expect import exact, opening, replies, reply, run_lines, summary, timeouts
from network import PEER, PEER_NET
from privilege import NO_SOCKET
from privilege_cases import NO_SOCKET_HINT
from table import SHARE, Need, echo, error
from wire_checks import count

MAX_LOSS_LINE = "vexmo: --max-loss takes a percentage from 0 to 100, not %s\n"


def add_cases(table):
    responder = table.responder

    def add(name, args, expect, status, **kw):
        return table.add("exit-status: " + name, args, expect, status=status, **kw)

    address = responder(echo())
    add("0: replies", ["--exit-status", "-c", "2", address],
        run_lines(address, replies(address, 2), 2, 2), 0, tags=SHARE)
    dropped = PEER_NET + ".20"
    add("1: only timeouts", ["--exit-status", "-c", "2", "-w", "200", dropped],
        run_lines(dropped, timeouts(2), 2, 0), 1, tags=SHARE)
    address = responder(error(4, 0))
    add("1: only ICMP errors", ["--exit-status", "-c", "1", address],
        run_lines(address, [exact("ICMP: Source Quench")], 1, 1), 1)
    # Every other request answered: 50% lost, at the limit and above it.
    for limit, status in (("50", 0), ("49.9", 1)):
        address = responder(echo(), answer_every=2)
        halves = [reply(address, 0), exact("Request timeout."), reply(address, 1),
                  exact("Request timeout.")]
        add("%d: 50%% lost, --max-loss %s" % (status, limit),
            ["--max-loss", limit, "-c", "4", "-w", "200", address],
            run_lines(address, halves, 4, 2), status)
    add("2: unresolved", ["--exit-status", "-c", "2", "nosuch.vxnet"],
        [opening("nosuch.vxnet"), exact("Can not resolve IP address for nosuch.vxnet")] +
        summary(0, 0), 2, tags=SHARE)
    table.add("exit-status: 2: no socket", ["--exit-status", "-c", "2", PEER],
              run_lines(PEER, [exact("Error 10038.")] * 2, 2, 0), status=2,
              unprivileged=NO_SOCKET, program_role=NO_SOCKET.role, needs=(Need.POSIX_BACKEND,),
              stderr=NO_SOCKET_HINT + "\n", elapsed=(0, 1.0))
    # Bad input: one line on standard error, status 255, nothing sent.
    address = responder(echo())
    for value in ("101", "x"):
        add("255: --max-loss %s" % value, ["--max-loss", value, address], [], 255,
            stderr=MAX_LOSS_LINE % value, wire=address, wire_checks=[count(0)])
    add("255: --metrics-file without a path", [address, "--metrics-file"], [], 255,
        stderr="vexmo: --metrics-file takes the path of the file to write\n")
    add("255: --metrics-file in a folder that does not exist",
        ["--metrics-file", "/nonexistent/vexmo.prom", address], [], 255,
        # the system's words after the colon
        stderr=re.compile(r"vexmo: cannot write the metrics file /nonexistent/vexmo\.prom: .+\n"))
