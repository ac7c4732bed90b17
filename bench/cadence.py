#!/usr/bin/env python3
"""Cadence benchmark: how well vexmo --interval, ping -i and fping -p keep a
fixed beat, and what a steady beat costs.

As root. Makes three network namespaces of its own (a host, a router, a peer
behind it) and, on two paths (the host's loopback and the peer one router
away), runs the three tools side by side, each to an address of its own,
while a sniffer in the host namespace takes the kernel's time stamp of
every echo request as it leaves. For each tool it reports the mean period
and the last request's offset from its slot (the first request's time plus
k x interval). Then the CPU time per request of vexmo --interval 10ms and
ping -i 0.01 over 2,000 requests on loopback, and their peak RSS. Traffic
goes only to 127.0.0.0/8 and to the namespaces' own addresses; every tool
has a bounded count and a time limit, and the namespaces are deleted
whatever happens.

    bench/cadence.py --vexmo build/vexmo [--count 600] [--interval-ms 100]
"""
import argparse
import os
import resource
import secrets
import socket
import struct
import subprocess
import sys
import time

ETH_P_ALL, PACKET_OUTGOING, SO_TIMESTAMPNS = 0x0003, 4, 35


def sh(*argv):
    subprocess.run(argv, check=True, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)


def sniff(interface, seconds, out):
    """Writes "destination time" for every echo request leaving interface."""
    s = socket.socket(socket.AF_PACKET, socket.SOCK_RAW, socket.htons(ETH_P_ALL))
    s.bind((interface, 0))
    s.setsockopt(socket.SOL_SOCKET, SO_TIMESTAMPNS, 1)
    s.settimeout(0.5)
    end = time.monotonic() + seconds
    with open(out, "w") as f:
        while time.monotonic() < end:
            try:
                data, ancillary, _, address = s.recvmsg(128, 64)
            except socket.timeout:
                continue
            if address[2] != PACKET_OUTGOING or len(data) < 35 or data[12:14] != b"\x08\x00":
                continue
            ip = data[14:]
            if ip[9] != 1 or ip[(ip[0] & 15) * 4] != 8:
                continue
            stamp = next((struct.unpack("qq", d[:16]) for level, kind, d in ancillary
                          if level == socket.SOL_SOCKET and kind == SO_TIMESTAMPNS), None)
            if stamp:
                f.write("%s %.9f\n" % (socket.inet_ntoa(ip[16:20]), stamp[0] + stamp[1] / 1e9))
                f.flush()


def network(tag):
    host, router, peer = ("vxc-%s-%s" % (tag, n) for n in ("host", "router", "peer"))
    for ns in (host, router, peer):
        sh("ip", "netns", "add", ns)
        sh("ip", "-n", ns, "link", "set", "lo", "up")
    sh("ip", "-n", host, "link", "add", "h0", "type", "veth", "peer", "r0", "netns", router)
    sh("ip", "-n", router, "link", "add", "r1", "type", "veth", "peer", "p0", "netns", peer)
    for ns, link, address in ((host, "h0", "10.252.1.2/24"), (router, "r0", "10.252.1.1/24"),
                              (router, "r1", "10.252.2.1/24"), (peer, "p0", "10.252.2.2/24")):
        sh("ip", "-n", ns, "addr", "add", address, "dev", link)
        sh("ip", "-n", ns, "link", "set", link, "up")
    for extra in ("10.252.2.3/24", "10.252.2.4/24"):
        sh("ip", "-n", peer, "addr", "add", extra, "dev", "p0")
    sh("ip", "-n", host, "route", "add", "default", "via", "10.252.1.1")
    sh("ip", "-n", peer, "route", "add", "default", "via", "10.252.2.1")
    sh("ip", "netns", "exec", router, "sysctl", "-qw", "net.ipv4.ip_forward=1")
    return host, router, peer


def side_by_side(host, commands, limit):
    """Starts every command in host at once; the rusage of each."""
    procs = [subprocess.Popen(["ip", "netns", "exec", host] + c, stdin=subprocess.DEVNULL,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
             for c in commands]
    usages = []
    end = time.monotonic() + limit
    for p in procs:
        while True:
            pid, _, usage = os.wait4(p.pid, os.WNOHANG)
            if pid:
                break
            if time.monotonic() > end:
                p.kill()
            time.sleep(0.05)
        p.returncode = 0  # reaped here, with its resource usage
        usages.append(usage)
    return usages


def cadence(args, host, label, interface, targets):
    interval_s = args.interval_ms / 1000
    log = "/tmp/vxc-%s.log" % secrets.token_hex(3)
    seconds = args.count * interval_s + 3
    sniffer = subprocess.Popen(["ip", "netns", "exec", host, sys.executable, __file__,
                                "--sniff", interface, str(seconds), log])
    time.sleep(0.5)
    tools = [("vexmo --interval", [args.vexmo, "-q", "--interval", "%dms" % args.interval_ms,
                                   "-c", str(args.count), targets[0]]),
             ("ping -i", ["ping", "-q", "-i", str(interval_s), "-c", str(args.count), targets[1]]),
             ("fping -p", ["fping", "-q", "-p", str(args.interval_ms), "-c", str(args.count),
                           targets[2]])]
    side_by_side(host, [c for _, c in tools], seconds + 5)
    sniffer.wait()
    sent = {}
    with open(log) as f:
        for line in f:
            destination, t = line.split()
            sent.setdefault(destination, []).append(float(t))
    os.unlink(log)
    for (name, _), target in zip(tools, targets):
        t = sent.get(target, [])
        if len(t) < 2:
            print("| %s | %s | no requests seen |" % (label, name))
            continue
        period = (t[-1] - t[0]) / (len(t) - 1)
        offset = t[-1] - t[0] - (len(t) - 1) * interval_s
        print("| %s | %s | %d | %.3f ms | %+.1f ms |"
              % (label, name, len(t), period * 1000, offset * 1000))


def cost(args, host):
    count = 2000
    logs = ["/tmp/vxc-%s.time" % secrets.token_hex(3) for _ in range(2)]
    timed = [["/usr/bin/time", "-f", "%U %S %M", "-o", log] for log in logs]
    side_by_side(host, [
        timed[0] + [args.vexmo, "-q", "--interval", "10ms", "-c", str(count), "127.0.0.1"],
        timed[1] + ["ping", "-q", "-i", "0.01", "-c", str(count), "127.0.0.2"]], count * 0.03 + 10)
    for name, log in zip(("vexmo --interval 10ms", "ping -i 0.01"), logs):
        with open(log) as f:
            user, system, rss = f.read().split()[-3:]
        os.unlink(log)
        print("| %s | %d | %.1f us | %s KiB |"
              % (name, count, (float(user) + float(system)) / count * 1e6, rss))


def main():
    if len(sys.argv) == 5 and sys.argv[1] == "--sniff":
        sniff(sys.argv[2], float(sys.argv[3]), sys.argv[4])
        return 0
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--vexmo", required=True)
    parser.add_argument("--count", type=int, default=600)
    parser.add_argument("--interval-ms", type=int, default=100)
    args = parser.parse_args()
    args.vexmo = os.path.abspath(args.vexmo)
    tag = secrets.token_hex(3)
    try:
        host, _, _ = network(tag)
        print("| path | tool | requests | mean period | last request from its slot |")
        print("|---|---|---:|---:|---:|")
        cadence(args, host, "loopback", "lo", ["127.0.0.1", "127.0.0.2", "127.0.0.3"])
        cadence(args, host, "one router", "h0", ["10.252.2.2", "10.252.2.3", "10.252.2.4"])
        print()
        print("| tool | requests | CPU per request | peak RSS |")
        print("|---|---:|---:|---:|")
        cost(args, host)
    finally:
        for n in ("host", "router", "peer"):
            subprocess.run(["ip", "netns", "del", "vxc-%s-%s" % (tag, n)],
                           stderr=subprocess.DEVNULL)
    return 0


if __name__ == "__main__":
    resource.setrlimit(resource.RLIMIT_CORE, (0, 0))
    sys.exit(main())
