"""IPv6 on the suite's main network, beside IPv4 on the same links:

    host 2001:db8::2 -- LAN 2001:db8::/64 -- router 2001:db8::1
                                               +-- peer 2001:db8:1::2 (+ ::10-::39)
                                               +-- mtu6 2001:db8:2::2 to ::7, a link of MTU 1280
                                               +-- responder 2001:db8:6::2, answering for
                                                   all of 2001:db8:9::/64
                                               +-- 2001:db8:7::/64 unreachable,
                                                   2001:db8:8::/64 prohibit
    unprivileged 2001:db8::4 (when the unprivileged host is built)

Addresses come from 2001:db8::/32 (set aside for documentation) and exist
only inside the lab's namespaces. Addresses are added without duplicate
address detection, so that they can be used at once.
"""
HOST6 = "2001:db8::2"
ROUTER6_LAN = "2001:db8::1"
UNPRIVILEGED6 = "2001:db8::4"
PEER6 = "2001:db8:1::2"
PEER6_NET = "2001:db8:1::"  # the peer also has ::10 to ::39 of it
PEER6_ABSENT = "2001:db8:1::99"  # on the peer's link, but nobody answers for it
# Another, for the --json twin: the router keeps one neighbour entry per
# address, and a resolution already under way would end the twin's early.
PEER6_ABSENT_TWIN = "2001:db8:1::98"
MTU6_NET = "2001:db8:2::"  # behind a link of MTU 1280
RESPONDER6_LINK_NET = "2001:db8:6::"
RESPONDER6_NET = "2001:db8:9::"  # every address here is local to the responder
UNREACHABLE6_NET = "2001:db8:7::"  # router: route type unreachable
PROHIBIT6_NET = "2001:db8:8::"  # router: route type prohibit

HOST6_NAMES = ("2001:db8:1::2 peer6.vxnet\n"
               "198.18.1.2 dual.vxnet\n"
               "2001:db8:1::2 dual.vxnet\n")

# Rejections by the router's IPv6 filter: destination -> ip6tables target.
REJECTIONS6 = [
    (PEER6_NET + "13", ["-j", "REJECT", "--reject-with", "icmp6-port-unreachable"]),
    (PEER6_NET + "16", ["-j", "REJECT", "--reject-with", "icmp6-adm-prohibited"]),
    (PEER6_NET + "20", ["-j", "DROP"]),
]


def add_address(lab, role, address, dev):
    lab.ip(role, "-6", "addr", "add", address, "dev", dev, "nodad")


def build_main6(lab):
    """IPv6 on the links build_main made: addresses, routes, forwarding,
    the router's rejections and the link of MTU 1280."""
    t = lab.interface
    lan = t("br")
    lab.add_namespace("mtu6")
    lab.link("mtu6", t("m"), "router", t("mm"), mtu=1280)
    for role, dev in (("mtu6", t("m")), ("router", t("mm"))):
        lab.ip(role, "link", "set", dev, "up")
    addresses = [
        ("router", ROUTER6_LAN + "/64", lan),
        ("host", HOST6 + "/64", t("h")),
        ("router", PEER6_NET + "1/64", t("pp")),
        ("peer", PEER6 + "/64", t("p")),
        ("router", MTU6_NET + "1/64", t("mm")),
        ("router", RESPONDER6_LINK_NET + "1/64", t("qq")),
        ("responder", RESPONDER6_LINK_NET + "2/64", t("q")),
    ]
    addresses += [("peer", "%s%d/128" % (PEER6_NET, i), t("p")) for i in range(10, 40)]
    # 5 to 7: the --json twins' own (the path MTU is kept per destination)
    addresses += [("mtu6", "%s%d/64" % (MTU6_NET, i), t("m")) for i in range(2, 8)]
    for role, address, dev in addresses:
        add_address(lab, role, address, dev)
    routes = [
        ("host", "default", "via", ROUTER6_LAN),
        ("peer", "default", "via", PEER6_NET + "1"),
        ("mtu6", "default", "via", MTU6_NET + "1"),
        ("responder", "default", "via", RESPONDER6_LINK_NET + "1"),
        ("responder", "local", RESPONDER6_NET + "/64", "dev", "lo"),
        ("router", RESPONDER6_NET + "/64", "via", RESPONDER6_LINK_NET + "2"),
        ("router", "unreachable", UNREACHABLE6_NET + "/64"),
        ("router", "prohibit", PROHIBIT6_NET + "/64"),
    ]
    for role, *route in routes:
        lab.ip(role, "-6", "route", "add", *route)
    lab.sysctl("router", "net.ipv6.conf.all.forwarding", 1)
    # no ICMPv6 rate limit on the router: errors must come every time
    lab.sysctl("router", "net.ipv6.icmp.ratelimit", 0)
    # the responder.py answers, not its kernel
    lab.sysctl("responder", "net.ipv6.icmp.echo_ignore_all", 1)
    for destination, target in REJECTIONS6:
        lab.run(lab.in_namespace("router", "ip6tables", "-w", "-A", "FORWARD", "-p", "ipv6-icmp",
                                 "-d", destination) + target)


def add_lan_host6(lab, role, tag, address):
    """IPv6 for a host add_lan_host put on the LAN (tag as given there)."""
    add_address(lab, role, address + "/64", lab.interface(tag))
    lab.ip(role, "-6", "route", "add", "default", "via", ROUTER6_LAN)
