"""Faults during a run. Each fault case gets a small network of its own (a
host and a peer, behind one router shared by all of them), so that it
disturbs no other case: the host's link, its route, the router's route, the
peer's answers or the host's carrier go away for requests 3 to 5 of 8 and
come back.

The host text is a name served by dns_gate.py, which holds every answer
until the suite has changed the network: the faults are timed against the
requests exactly, however loaded the machine.
"""
import threading
from dataclasses import dataclass

from expect import exact, opening, reply, summary
from lab import LabError
from table import Need

NAME = "peer.fault.vxnet"
COUNT = 8
FROM, UNTIL = 3, 6  # the fault holds for requests 3 to 5 (from 1)
ROUTER = "fault_router"

GATE_FILES = {"hosts": "127.0.0.1 localhost\n",
              "resolv.conf": "nameserver 127.0.0.1\noptions timeout:5 attempts:1\n",
              "nsswitch.conf": "hosts: files dns\n"}


@dataclass(frozen=True)
class Fault:
    number: int  # from 1; names its addresses and interfaces
    kind: str  # link, route, router, silent, drop, carrier

    @property
    def host_role(self):
        return "fault_host%d" % self.number

    @property
    def peer_role(self):
        return "fault_peer%d" % self.number

    def addresses(self):
        k = self.number
        return dict(host="198.18.%d.2" % (40 + k), gateway="198.18.%d.1" % (40 + k),
                    router_far="198.18.%d.1" % (60 + k), peer_link="198.18.%d.2" % (60 + k),
                    target="198.18.%d.2" % (80 + k))

    def interfaces(self, lab):
        k = self.number
        return dict(host=lab.interface("f%dh" % k), router_near=lab.interface("f%dr" % k),
                    peer=lab.interface("f%dp" % k), router_far=lab.interface("f%dq" % k))


def build_networks(lab, faults):
    """The router, and a host and a peer per fault."""
    lab.add_namespace(ROUTER)
    for fault in faults:
        lab.add_namespace(fault.host_role)
        lab.add_namespace(fault.peer_role)
    for fault in faults:
        address_of, interface_of = fault.addresses(), fault.interfaces(lab)
        host, peer = fault.host_role, fault.peer_role
        lab.link(host, interface_of["host"], ROUTER, interface_of["router_near"])
        lab.link(peer, interface_of["peer"], ROUTER, interface_of["router_far"])
        lab.ip(host, "addr", "add", address_of["host"] + "/24", "dev", interface_of["host"])
        lab.ip(ROUTER, "addr", "add", address_of["gateway"] + "/24",
               "dev", interface_of["router_near"])
        lab.ip(ROUTER, "addr", "add", address_of["router_far"] + "/24",
               "dev", interface_of["router_far"])
        lab.ip(peer, "addr", "add", address_of["peer_link"] + "/24", "dev", interface_of["peer"])
        lab.ip(peer, "addr", "add", address_of["target"] + "/32", "dev", "lo")
        lab.ip(host, "link", "set", interface_of["host"], "up")
        lab.ip(ROUTER, "link", "set", interface_of["router_near"], "up")
        lab.ip(ROUTER, "link", "set", interface_of["router_far"], "up")
        lab.ip(peer, "link", "set", interface_of["peer"], "up")
        lab.ip(host, "route", "add", "default", "via", address_of["gateway"])
        lab.ip(peer, "route", "add", "default", "via", address_of["router_far"])
        lab.ip(ROUTER, "route", "add", address_of["target"] + "/32", "via", address_of["peer_link"])
    for key, value in (("net.ipv4.ip_forward", 1), ("net.ipv4.icmp_ratemask", 0),
                       ("net.ipv4.conf.all.rp_filter", 0),
                       ("net.ipv4.conf.default.rp_filter", 0)):
        lab.sysctl(ROUTER, key, value)
    # Each host asks the gate in its own namespace, and waits for it.
    for fault in faults:
        lab.write_netns_files(fault.host_role, GATE_FILES)


def actions(lab, fault):
    """(make, lift): each changes the network, raising LabError when it cannot."""
    address_of, interface_of = fault.addresses(), fault.interfaces(lab)
    host, peer = fault.host_role, fault.peer_role
    drop = ["INPUT", "-p", "icmp", "--icmp-type", "echo-request", "-j", "DROP"]

    def restore_default():
        lab.ip(host, "route", "replace", "default", "via", address_of["gateway"])

    def link_up():
        lab.ip(host, "link", "set", interface_of["host"], "up")
        lab.wait_link_up(host, interface_of["host"])
        restore_default()

    # The requests sent without carrier leave the host's neighbour entry of
    # its gateway unresolved, and the kernel probes it again only every
    # second: whether the first request after the carrier returns is
    # answered in time would depend on that timer's phase, not on vexmo. The
    # lift clears the entry, so the next send resolves it.
    def carrier_back():
        lab.ip(ROUTER, "link", "set", interface_of["router_near"], "up")
        lab.wait_link_up(ROUTER, interface_of["router_near"])
        lab.wait_link_up(host, interface_of["host"])
        lab.ip(host, "neigh", "flush", "dev", interface_of["host"])

    table = {
        "link": (lambda: lab.ip(host, "link", "set", interface_of["host"], "down"), link_up),
        "route": (lambda: lab.ip(host, "route", "del", "default"), restore_default),
        "router": (lambda: lab.ip(ROUTER, "route", "del", address_of["target"] + "/32"),
                   lambda: lab.ip(ROUTER, "route", "add", address_of["target"] + "/32",
                                  "via", address_of["peer_link"])),
        "silent": (lambda: lab.sysctl(peer, "net.ipv4.icmp_echo_ignore_all", 1),
                   lambda: lab.sysctl(peer, "net.ipv4.icmp_echo_ignore_all", 0)),
        "drop": (lambda: lab.run(lab.in_namespace(peer, "iptables", "-w", "-A", *drop)),
                 lambda: lab.run(lab.in_namespace(peer, "iptables", "-w", "-D", *drop))),
        "carrier": (lambda: lab.ip(ROUTER, "link", "set", interface_of["router_near"], "down"),
                    carrier_back),
    }
    return table[fault.kind]


class FaultDriver:
    """Runs the program against the gate and makes the fault while the
    requests FROM to UNTIL - 1 are sent."""

    def __init__(self, fault):
        self.fault = fault

    def run(self, case, suite):
        lab, program = suite.lab, suite.program
        make, lift = actions(lab, self.fault)
        problems = []

        def change(what, step):
            try:
                step()
            except LabError as err:
                problems.append("%s: %s" % (what, err))

        gate = lab.start_helper(self.fault.host_role, "dns_gate.py", NAME,
                                self.fault.addresses()["target"])
        if gate.stdout.readline().strip() != "ready":
            problems.append("name server gate did not start")
        state = {"queries": 0, "faulty": False}

        def steer():
            for line in gate.stdout:
                n = int(line.split()[1])
                state["queries"] = n
                if n == FROM:
                    state["faulty"] = True
                    change("making the fault", make)
                elif n == UNTIL:
                    state["faulty"] = False
                    change("ending the fault", lift)
                try:
                    gate.stdin.write("\n")
                    gate.stdin.flush()
                except OSError:
                    return

        steering = threading.Thread(target=steer)
        steering.start()
        result = program.run(case.args, case.limit, self.fault.host_role)
        lab.finish_helper(gate, read=False)
        steering.join()
        if state["faulty"]:
            change("ending the fault after the run", lift)
        if state["queries"] != COUNT:
            problems.append("the name was looked up %d times, expected %d (once per request)"
                            % (state["queries"], COUNT))
        result.problems += problems
        return result


def add_case(table, name, kind, during, answered_during, tags=frozenset()):
    """Requests 1, 2 and 6 to 8 get replies; 3 to 5 get the line during;
    tags: the case's (table.py)."""
    fault = Fault(1 + sum(1 for c in table.cases if c.fault), kind)
    target = fault.addresses()["target"]
    lines, received = [], 0
    for n in range(1, COUNT + 1):
        if FROM <= n < UNTIL:
            lines.append(exact(during))
            received += answered_during
        else:
            lines.append(reply(target, received))
            received += 1
    table.add("fault: " + name, ["-c", str(COUNT), "-w", "500", NAME],
              [opening(NAME)] + lines + summary(COUNT, received),
              driver=FaultDriver(fault), fault=fault, program_role=fault.host_role,
              needs=(Need.OTHER_NAMESPACE,), tags=tags)
