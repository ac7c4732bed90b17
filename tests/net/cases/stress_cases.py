"""Cases for hostile peers, faults during a run and load.

  hostile peers  crafted answers from the responder: forged send stamps,
                 absurd TTLs and codes, errors quoting a cut request, a flood
                 of datagrams with our identifier but no answer's type,
                 replies from an address that was not asked. Whatever comes,
                 one well-formed line per request and a summary that agrees.
  faults         faults.py: the network changes under a run and comes back.
  load           load.py: a flood of foreign ICMP at the host. Alone, after
                 the others.
"""
import faults
import load
from main_cases import crafted_error
from expect import UNREACHABLE, exact, replies, reply, run_lines, time_exceeded, timeouts
from network import PEER, RESPONDER_NET
from table import NO_TAGS, SHARE, echo, error
from wire_checks import count, seqs

# 2000 datagrams with our identifier and sequence but of types that answer
# nothing, for each request.
FLOOD_TYPES = [8, 13, 14, 15, 16, 17, 18, 9, 10, 1, 2, 6, 7, 19, 30, 40, 42, 253, 255]


def add_forged_stamps(add, responder, run):
    """A forged send stamp is no answer: it would print a round-trip time
    that never happened. The request ends with its genuine reply, or times
    out. run: the family's run_lines."""
    for stamp, tags in [
            ("zero", SHARE),
            ("ones", NO_TAGS),
            ("future", NO_TAGS),
            ("past", NO_TAGS)]:
        address = responder(echo(stamp=stamp))
        add("forged send stamp (%s) alone: timeouts" % stamp, ["-c", "2", "-w", "400", address],
            run(address, timeouts(2), 2, 0), wire=address, wire_checks=[seqs(0, 0)], tags=tags)
        address = responder(echo(stamp=stamp), echo(at=60))
        add("forged send stamp (%s), the genuine reply behind it" % stamp, ["-c", "2", address],
            run(address, replies(address, 2, rtt_range=(60, 700)), 2, 2),
            wire=address, wire_checks=[seqs(0, 1)], tags=tags)


def add_real_senders(add, responder, run, peer, elsewhere, time_exceeded_from_peer, line):
    """Who really answered is printed, whoever was asked: replies from peer
    and from elsewhere (another of the responder's addresses), and the
    action time_exceeded_from_peer, which draws line."""
    address = responder(echo(src=peer))
    add("reply from another address than the one asked: the real sender", ["-c", "2", address],
        run(address, replies(peer, 2), 2, 2), wire=address, tags=SHARE)
    address = responder(echo(src=elsewhere, at=0), echo(at=100))
    add("a reply from elsewhere first, the destination's behind it", ["-c", "2", address],
        run(address, replies(elsewhere, 2, rtt_range=(0, 90)), 2, 2),
        wire=address, wire_checks=[seqs(0, 1)])
    address = responder(time_exceeded_from_peer)
    add("time exceeded from another address names it", ["-c", "1", address],
        run(address, [line], 1, 1), wire=address, tags=SHARE)


def add_cases(table):
    add, responder = table.add, table.responder

    # -------------------------------------------------------- hostile peers

    add_forged_stamps(add, responder, run_lines)

    # TTLs as they arrive: sent from the LAN, where no router decrements them.
    for ttl, tags in [
            (0, SHARE),
            (1, NO_TAGS),
            (255, NO_TAGS)]:
        address = responder(echo(ttl=ttl, lan=True))
        add("reply arriving with TTL %d prints it" % ttl, ["-c", "2", address],
            run_lines(address, replies(address, 2, ttl), 2, 2), wire=address, tags=tags)

    address = responder(echo(code=255))
    add("echo reply with code 255 is a reply", ["-c", "1", address],
        run_lines(address, [reply(address, 0)], 1, 1), wire=address)

    # Codes no table names: the reason says so.
    for icmp_type, code, text, tags in [
            (4, 255, "ICMP: Source Quench", NO_TAGS),
            (12, 255, "ICMP: Parameter Problem", NO_TAGS),
            (11, 255, "{a}: ICMP: Time Exceeded, Reason: Unknown code 255", NO_TAGS),
            (5, 255, "ICMP: Redirect, Gateway: 198.18.0.3, Reason: Unknown code 255", NO_TAGS),
            (3, 128, UNREACHABLE + "Unknown code 128", SHARE)]:
        address = responder(crafted_error(icmp_type, code))
        add("type %d with code %d" % (icmp_type, code), ["-c", "1", address],
            run_lines(address, [exact(text.format(a=address))], 1, 1), wire=address, tags=tags)

    # An error quotes the identifier at bytes 4 and 5 of the request: a quote
    # cut before its end matches nothing, one that holds it is the answer.
    for icmp_type, quote, tags in [
            (3, 1, SHARE),
            (11, 4, NO_TAGS),
            (3, 5, NO_TAGS),
            (12, 5, NO_TAGS)]:
        address = responder(error(icmp_type, 1, quote=quote), echo(at=80))
        add("type %d quoting %d bytes of the request: skipped" % (icmp_type, quote),
            ["-c", "1", address],
            run_lines(address, [reply(address, 0, rtt_range=(80, 700))], 1, 1), wire=address,
            tags=tags)
    address = responder(error(3, 1, quote=6), echo(at=80))
    add("destination unreachable quoting 6 bytes of the request: the answer", ["-c", "2", address],
        run_lines(address, [exact(UNREACHABLE + "Host unreachable")] * 2, 2, 2), wire=address,
        wire_checks=[seqs(0, 1)], tags=SHARE)

    # An error is the answer only when it quotes this request: an ICMP echo
    # request with our identifier behind a quoted IP header of whatever
    # length, and our send stamp once the quote reaches it. Anyone who knows
    # the process id could forge the rest.
    for what, action, tags in [
            ("a UDP datagram whose length field holds our identifier", error(3, 3, quoted_udp=True), NO_TAGS),
            ("our identifier with a forged send stamp", error(3, 1, quote=64, quoted_stamp="past"), SHARE),
            ("an echo reply carrying our identifier", error(3, 1, quoted_type=0), NO_TAGS)]:
        address = responder(action, echo(at=80))
        add("destination unreachable quoting %s: skipped" % what, ["-c", "1", address],
            run_lines(address, [reply(address, 0, rtt_range=(80, 700))], 1, 1), wire=address,
            tags=tags)
    for what, action, tags in [
            ("the whole request, its send stamp included", error(3, 1, quote=64), SHARE),
            ("a request whose IP header carries options", error(3, 1, quote=64, quoted_options=4), NO_TAGS)]:
        address = responder(action, echo(at=80))
        add("destination unreachable quoting %s: the answer" % what, ["-c", "2", address],
            run_lines(address, [exact(UNREACHABLE + "Host unreachable")] * 2, 2, 2),
            wire=address, wire_checks=[seqs(0, 1)], tags=tags)

    # They reach the wait (the kernel filter keeps them: their identifier is
    # ours), which must read through all of them. Alone: the burst holds the
    # responder up for a moment.
    address = responder(dict(at=0, do="flood", count=2000, types=FLOOD_TYPES), echo(at=300))
    add("2000 datagrams with our identifier of other types, then the reply", ["-c", "2", address],
        run_lines(address, replies(address, 2, rtt_range=(300, 1500)), 2, 2),
        wire=address, wire_checks=[seqs(0, 1)], solo=True, tags=SHARE)

    add_real_senders(add, responder, run_lines, PEER, RESPONDER_NET + ".250",
                     error(11, 0, src=PEER), time_exceeded(PEER))

    # The raw socket hands over datagrams whatever their checksum (the kernel
    # checks it after the raw sockets have their copy), and vexmo does not
    # check it either: a reply whose identifier and stamp survived is the
    # answer.
    address = responder(echo(bad_checksum=True))
    add("reply with a spoiled ICMP checksum is still the answer", ["-c", "1", address],
        run_lines(address, [reply(address, 0)], 1, 1), wire=address, wire_checks=[count(1)],
        tags=SHARE)
    address = responder(echo(bad_checksum=True), echo(at=150))
    add("reply with a spoiled ICMP checksum, the genuine one behind it: the spoiled one answers",
        ["-c", "1", address], run_lines(address, [reply(address, 0, rtt_range=(0, 140))], 1, 1),
        wire=address, wire_checks=[count(1)])

    # -------------------------------------------------------- faults

    for name, kind, during, answered_during, tags in [
            ("the host's link goes down and comes back (the send fails: ENETUNREACH)", "link", "Error 10051.", 0, SHARE),
            ("the host's route disappears and returns (the send fails: ENETUNREACH)", "route", "Error 10051.", 0, NO_TAGS),
            ("the router's route to the peer disappears and returns", "router", UNREACHABLE + "Network unreachable", 1, SHARE),
            ("the peer stops answering (echo_ignore_all) and resumes", "silent", "Request timeout.", 0, SHARE),
            ("the peer drops the requests (iptables) and lets them in again", "drop", "Request timeout.", 0, NO_TAGS),
            ("the host's carrier is lost and comes back", "carrier", "Request timeout.", 0, NO_TAGS)]:
        faults.add_case(table, name, kind, during, answered_during, tags)

    # -------------------------------------------------------- load

    load.add_case(table)
