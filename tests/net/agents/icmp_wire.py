"""ICMP over IPv4 and ICMPv6 as the namespace suite's own tools write and
read them: the Internet checksum, ICMP messages, IPv4 and IPv6 headers and
the fields of an echo.

Written from RFC 791, 792, 1071, 8200 and 4443 on purpose: the suite judges
the program under test by bytes it builds and reads itself, sharing no code
with it.
"""
import socket
import struct
from dataclasses import dataclass

ECHO_REPLY = 0
DESTINATION_UNREACHABLE = 3
REDIRECT = 5
ECHO_REQUEST = 8
TIME_EXCEEDED = 11
ECHO6_REQUEST = 128
ECHO6_REPLY = 129
NEXT_HEADER_ICMPV6 = 58

IPV4_HEADER_BYTES = 20
IPV6_HEADER_BYTES = 40
ICMP_HEADER_BYTES = 8
DONT_FRAGMENT = 0x4000


def ones_complement_sum(data):
    """The 16-bit one's complement sum of data (odd length padded with a
    zero byte); 0xFFFF over a message that carries a correct checksum."""
    if len(data) % 2:
        data = bytes(data) + b"\0"
    total = sum(word for (word,) in struct.iter_unpack("!H", data))
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return total


def internet_checksum(data):
    """The checksum to put into a header whose checksum field is zero."""
    return ~ones_complement_sum(data) & 0xFFFF


def checksum_holds(data):
    return ones_complement_sum(data) == 0xFFFF


def icmp_message(icmp_type, code, rest, body, spoil_checksum=False, pseudo_header=b""):
    """An ICMP message: type, code, checksum, the 4 bytes rest, then body.
    spoil_checksum: a wrong checksum, for receivers that should notice.
    pseudo_header: what ICMPv6 sums before the message (ipv6_pseudo_header)."""
    message = bytearray(struct.pack("!BBH", icmp_type, code, 0) + bytes(rest) + bytes(body))
    checksum = internet_checksum(bytes(pseudo_header) + bytes(message))
    if spoil_checksum:
        checksum ^= 0x5A5A
    message[2:4] = struct.pack("!H", checksum)
    return bytes(message)


def echo_rest(identifier, sequence):
    """Bytes 4 to 7 of an echo: identifier and sequence number, as the
    program stores them (least significant byte first)."""
    return struct.pack("<HH", identifier, sequence)


def ipv4_header(source, destination, payload_length, ttl=64, option_bytes=0,
                protocol=socket.IPPROTO_ICMP):
    """An IPv4 header; option_bytes of NOP options ended by an end-of-list
    byte (a multiple of 4)."""
    options = b"\x01" * (option_bytes - 1) + b"\x00" if option_bytes else b""
    words = (IPV4_HEADER_BYTES + len(options)) // 4
    header = bytearray(
        struct.pack("!BBHHHBBH4s4s", 0x40 | words, 0, words * 4 + payload_length, 0x1234, 0, ttl,
                    protocol, 0, socket.inet_aton(source), socket.inet_aton(destination))
        + options)
    header[10:12] = struct.pack("!H", internet_checksum(bytes(header)))
    return bytes(header)


def ipv4_packet(source, destination, payload, ttl=64, option_bytes=0):
    """An IPv4 datagram carrying ICMP."""
    return ipv4_header(source, destination, len(payload), ttl, option_bytes) + bytes(payload)


def ipv6_pseudo_header(source, destination, length):
    """What the ICMPv6 checksum covers before the message (RFC 8200, 8.1)."""
    return (socket.inet_pton(socket.AF_INET6, source)
            + socket.inet_pton(socket.AF_INET6, destination)
            + struct.pack("!IxxxB", length, NEXT_HEADER_ICMPV6))


def icmpv6_checksum_holds(source, destination, message):
    return ones_complement_sum(ipv6_pseudo_header(source, destination, len(message))
                               + bytes(message)) == 0xFFFF


def ipv6_header(source, destination, payload_length, hop_limit=64, traffic_class=0,
                next_header=NEXT_HEADER_ICMPV6):
    return (struct.pack("!IHBB", 6 << 28 | traffic_class << 20, payload_length, next_header,
                        hop_limit)
            + socket.inet_pton(socket.AF_INET6, source)
            + socket.inet_pton(socket.AF_INET6, destination))


@dataclass(frozen=True)
class Ipv4View:
    header: bytes
    total_length: int
    tos: int
    ttl: int
    dont_fragment: bool
    source: str
    destination: str
    payload: bytes


def view_ipv4(datagram):
    """The fields of an IPv4 datagram as a raw socket hands it over."""
    header_bytes = (datagram[0] & 0x0F) * 4
    flags_and_offset = struct.unpack("!H", datagram[6:8])[0]
    return Ipv4View(header=bytes(datagram[:header_bytes]),
                    total_length=struct.unpack("!H", datagram[2:4])[0],
                    tos=datagram[1], ttl=datagram[8],
                    dont_fragment=bool(flags_and_offset & DONT_FRAGMENT),
                    source=socket.inet_ntoa(datagram[12:16]),
                    destination=socket.inet_ntoa(datagram[16:20]),
                    payload=bytes(datagram[header_bytes:]))


def echo_identifier(message):
    """Bytes 4 and 5, least significant first, as the program writes them."""
    return message[4] | message[5] << 8


def echo_sequence(message):
    return message[6] | message[7] << 8


def send_stamp(message):
    """The program's 64-bit send stamp at bytes 8 to 15 (0 when cut short)."""
    return struct.unpack("<Q", message[8:16])[0] if len(message) >= 16 else 0
