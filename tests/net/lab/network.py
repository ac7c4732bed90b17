"""The suite's main network, built in a Lab:

    host 198.18.0.2 --+-- LAN 198.18.0.0/24 (a bridge in router) -- router 198.18.0.1
                      |                                      |
    router2 198.18.0.3 (198.18.5.1 behind it)                +-- peer 198.18.1.2 (+ .10-.39)
                                                             +-- small 198.18.2.2-.5, MTU 576
                                                             +-- responder 198.19.0.0/24
                                                             +-- 198.18.7/24 unreachable,
                                                                 198.18.8/24 prohibit,
                                                                 198.18.99/24 no route

Addresses come from 198.18.0.0/15 (the range set aside for network tests)
and exist only inside the lab's namespaces; no namespace has a link to the
machine's own network. The program runs in "host".
"""
import json
import os

import network6
from lab import LabError

HOST = "198.18.0.2"
ROUTER_LAN = "198.18.0.1"
ROUTER2_LAN = "198.18.0.3"
ROUTER2_FAR = "198.18.5.1"  # behind the second router
PEER = "198.18.1.2"
PEER_NET = "198.18.1"
SMALL_NET = "198.18.2"  # MTU 576 behind the router
RESPONDER_LINK = "198.18.6.2"
RESPONDER_NET = "198.19.0"  # every address here is local to the responder
UNREACHABLE_NET = "198.18.7"  # router: route type unreachable
PROHIBIT_NET = "198.18.8"  # router: route type prohibit
NO_ROUTE_NET = "198.18.99"  # router: no route at all
SOURCE_NET = "198.18.0"  # host: extra source addresses from .20 on

MAIN_ROLES = ["host", "router", "router2", "peer", "small", "responder"]

HOST_FILES = {
    "hosts": "127.0.0.1 localhost\n"
             "198.18.1.2 peer.vxnet\n"
             "198.18.1.2 3com.vxnet\n"
             "198.18.0.2 self.vxnet\n" + network6.HOST6_NAMES,
    # a resolver with nobody to ask
    "resolv.conf": "nameserver 127.0.0.1\noptions timeout:1 attempts:1\n",
    "nsswitch.conf": "hosts: files dns\n",
}

# Rejections by the router's filter: destination -> iptables target.
REJECTIONS = [
    (PEER_NET + ".10", ["-j", "REJECT", "--reject-with", "icmp-net-unreachable"]),
    (PEER_NET + ".11", ["-j", "REJECT", "--reject-with", "icmp-host-unreachable"]),
    (PEER_NET + ".12", ["-j", "REJECT", "--reject-with", "icmp-proto-unreachable"]),
    (PEER_NET + ".13", ["-j", "REJECT", "--reject-with", "icmp-port-unreachable"]),
    (PEER_NET + ".14", ["-j", "REJECT", "--reject-with", "icmp-net-prohibited"]),
    (PEER_NET + ".15", ["-j", "REJECT", "--reject-with", "icmp-host-prohibited"]),
    (PEER_NET + ".16", ["-j", "REJECT", "--reject-with", "icmp-admin-prohibited"]),
    (PEER_NET + ".20", ["-j", "DROP"]),
]


def build_main(lab, own_sources):
    """Builds the main network. own_sources: (destination, source) pairs the
    host routes through the router from a source address of their own, so
    that the router's per-source limit on route errors is never shared."""
    for role in MAIN_ROLES:
        lab.add_namespace(role)
    t = lab.interface
    lab.link("host", t("h"), "router", t("lh"))
    lab.link("router2", t("r"), "router", t("lr"))
    lab.link("peer", t("p"), "router", t("pp"))
    lab.link("small", t("s"), "router", t("ss"), mtu=576)
    lab.link("responder", t("q"), "router", t("qq"))
    lan = t("br")
    lab.add_bridge("router", lan, t("lh"), t("lr"))
    addresses = [
        ("router", ROUTER_LAN + "/24", lan),
        ("host", HOST + "/24", t("h")),
        ("router2", ROUTER2_LAN + "/24", t("r")),
        ("router2", ROUTER2_FAR + "/32", "lo"),
        ("router", PEER_NET + ".1/24", t("pp")),
        ("peer", PEER + "/24", t("p")),
        ("router", SMALL_NET + ".1/24", t("ss")),
        ("small", SMALL_NET + ".2/24", t("s")),
        ("small", SMALL_NET + ".3/24", t("s")),
        ("small", SMALL_NET + ".4/24", t("s")),  # .4 and .5: the --json twins' own
        ("small", SMALL_NET + ".5/24", t("s")),  # (the path MTU is kept per destination)
        ("router", "198.18.6.1/24", t("qq")),
        ("responder", RESPONDER_LINK + "/24", t("q")),
    ]
    addresses += [("peer", "%s.%d/32" % (PEER_NET, i), t("p")) for i in range(10, 40)]
    for role, address, dev in addresses:
        lab.ip(role, "addr", "add", address, "dev", dev)
    for role, dev in (("host", t("h")), ("router2", t("r")), ("peer", t("p")),
                      ("small", t("s")), ("responder", t("q")), ("router", lan),
                      ("router", t("lh")), ("router", t("lr")), ("router", t("pp")),
                      ("router", t("ss")), ("router", t("qq"))):
        lab.ip(role, "link", "set", dev, "up")
    routes = [
        ("host", "default", "via", ROUTER_LAN),
        ("router2", "default", "via", ROUTER_LAN),
        ("peer", "default", "via", PEER_NET + ".1"),
        ("small", "default", "via", SMALL_NET + ".1"),
        ("responder", "default", "via", "198.18.6.1"),
        ("responder", "local", RESPONDER_NET + ".0/24", "dev", "lo"),
        ("router", RESPONDER_NET + ".0/24", "via", RESPONDER_LINK),
        ("router", "198.18.5.0/24", "via", ROUTER2_LAN),
        ("router", "unreachable", UNREACHABLE_NET + ".0/24"),
        ("router", "prohibit", PROHIBIT_NET + ".0/24"),
    ]
    for role, *route in routes:
        lab.ip(role, "route", "add", *route)
    for destination, source in own_sources:
        lab.ip("host", "addr", "add", source + "/24", "dev", t("h"))
        lab.ip("host", "route", "add", destination + "/32", "via", ROUTER_LAN, "src", source)
    settings = [
        ("router", "net.ipv4.ip_forward", 1),
        # no ICMP rate limit on the router: errors must come every time
        ("router", "net.ipv4.icmp_ratemask", 0),
        ("router", "net.ipv4.conf.all.send_redirects", 1),
        ("router", "net.ipv4.conf.%s.send_redirects" % lan, 1),
        # the host keeps sending through the router, so every request draws its redirect
        ("host", "net.ipv4.conf.all.accept_redirects", 0),
        ("host", "net.ipv4.conf.%s.accept_redirects" % t("h"), 0),
        ("responder", "net.ipv4.icmp_echo_ignore_all", 1),
    ]
    for role in MAIN_ROLES:
        settings.append((role, "net.ipv4.conf.all.rp_filter", 0))
        settings.append((role, "net.ipv4.conf.default.rp_filter", 0))
    for role, key, value in settings:
        lab.sysctl(role, key, value)
    for destination, target in REJECTIONS:
        lab.run(lab.in_namespace("router", "iptables", "-w", "-A", "FORWARD", "-p", "icmp",
                                 "-d", destination) + target)
    network6.build_main6(lab)
    lab.wait_until_up()
    lab.write_netns_files("host", HOST_FILES)


def add_lan_host(lab, role, tag, address, gateway=None):
    """A namespace of its own for role on the LAN, linked to the router's
    bridge by a veth pair (tag names its ends), with address/24 and, when
    gateway is given, a default route through it."""
    lab.add_namespace(role)
    near, far = lab.interface(tag), lab.interface("l" + tag)
    lab.link(role, near, "router", far)
    lab.ip("router", "link", "set", far, "master", lab.interface("br"))
    lab.ip(role, "addr", "add", address + "/24", "dev", near)
    lab.ip(role, "link", "set", near, "up")
    lab.ip("router", "link", "set", far, "up")
    if gateway:
        lab.ip(role, "route", "add", "default", "via", gateway)


def start_responder(lab, behaviours):
    """responder.py in its namespace, answering as behaviours (address ->
    behaviour) say; its sends "from the LAN" leave from the router's
    namespace. Returns the directory of its wire logs."""
    config = dict(behaviours, _lan_netns=lab.namespace("router"))
    path = os.path.join(lab.workdir, "responder.json")
    logdir = os.path.join(lab.workdir, "wire")
    os.makedirs(logdir, exist_ok=True)
    with open(path, "w") as f:
        json.dump(config, f, indent=1)
    proc = lab.start_helper("responder", "responder.py", path, logdir)
    if proc.stdout.readline().strip() != "ready":
        raise LabError("responder did not start")
    return logdir
