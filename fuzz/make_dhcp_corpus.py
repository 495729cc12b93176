#!/usr/bin/env python3
"""Writes the seed corpus of dhcp_fuzz under fuzz/corpus/dhcp/ (committed; this is how it was made).

Each input: a settings byte, then datagrams, each a control byte, a 16-bit length and the bytes."""
import os
import socket
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "corpus", "dhcp")
COOKIE = bytes([99, 130, 83, 99])


def message(xid, options, ciaddr="0.0.0.0", mac=b"\x02\0\0\0\0\x01", hlen=None, end=True, op=1):
    head = struct.pack("!BBBB4sHH4s12s16s192s", op, 1, len(mac) if hlen is None else hlen, 0,
                       struct.pack("!I", xid), 0, 0, socket.inet_aton(ciaddr), bytes(12),
                       mac.ljust(16, b"\0"), bytes(192))
    body = b"".join(bytes([c, len(v)]) + v for c, v in options)
    return head + COOKIE + body + (b"\xff" if end else b"")


def ip(a):
    return socket.inet_aton(a)


def item(control, data):
    return bytes([control]) + struct.pack("!H", len(data)) + data


def dora(xid, host, mac, addr, cid=None):
    extra = [(61, cid)] if cid is not None else []
    return (item(0, message(xid, [(53, b"\x01"), (12, host)] + extra, mac=mac))
            + item(0, message(xid, [(53, b"\x03"), (50, ip(addr)), (54, ip("192.0.2.1")),
                                    (12, host)] + extra, mac=mac)))


seeds = {
    "discover": b"\x00" + item(0, message(1, [(53, b"\x01"), (12, b"PC-7.office")])),
    "discover_requested": b"\x00" + item(0, message(2, [(53, b"\x01"), (50, ip("192.0.2.7"))])),
    "dora": b"\x40" + dora(3, b"pc-7", b"\x02\0\0\0\0\x07", "192.0.2.0"),
    "dora_cid": b"\x04" + dora(4, b"pc-8", b"\x02\0\0\0\0\x08", "192.0.2.0", b"\x01abcdef"),
    "renew_release": b"\x00" + dora(5, b"pc-9", b"\x02\0\0\0\0\x09", "192.0.2.0")
    + item(12, message(6, [(53, b"\x03")], ciaddr="192.0.2.0", mac=b"\x02\0\0\0\0\x09"))
    + item(8, message(7, [(53, b"\x07")], ciaddr="192.0.2.0", mac=b"\x02\0\0\0\0\x09")),
    "decline": b"\x00" + item(0, message(8, [(53, b"\x04"), (12, b"pc")])),
    "other_server": b"\x00" + item(0, message(9, [(53, b"\x03"), (50, ip("192.0.2.3")),
                                                  (54, ip("192.0.2.2"))])),
    "second_socket": b"\x00" + item(1, message(10, [(53, b"\x01")])) + item(2, message(11, [(53, b"\x01")])),
    "full_scope": b"\x48" + b"".join(item(0, message(20 + i, [(53, b"\x01"), (12, b"h%d" % i)],
                                                     mac=bytes([2, 0, 0, 0, 1, i]))) for i in range(6)),
    "truncated": b"\x00" + item(0, message(12, [(53, b"\x01")], end=False) + b"\x0c\x09ab"),
    "pads": b"\x00" + item(0, message(13, [(53, b"\x01")], end=False) + b"\0\0\0\xff"),
    "long_fields": b"\x00" + item(0, message(14, [(53, b"\x01"), (12, b"x" * 200),
                                                  (61, b"\xab" * 255)], hlen=255, mac=b"")),
    "empty_cid": b"\x00" + item(0, message(15, [(53, b"\x01"), (61, b"")])),
    "short": b"\x00" + item(0, b"\x01") + item(0, message(16, [], end=False)),
    "split": b"\x00" + item(0, message(17, [(53, b"\x01")])[:236])
    + item(0, message(17, [(53, b"\x01")])[236:]),
}

os.makedirs(OUT, exist_ok=True)
for name, data in seeds.items():
    with open(os.path.join(OUT, name), "wb") as f:
        f.write(data)
