#!/usr/bin/env python3
"""Writes the seed corpus of tcp_fuzz under fuzz/corpus/tcp/ (committed; this is how it was made).

Each input is a series of chunks: a control byte, a length byte, that many bytes of the stream."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "corpus", "tcp")


def name(n):
    return b"".join(bytes([len(p)]) + p.encode() for p in n.rstrip(".").split(".")) + b"\0"


def query(qid, flags, qname, qtype, qclass=1, tail=b""):
    return (struct.pack("!HBBHHHH", qid, flags, 0, 1, 0, 0, 0) + name(qname)
            + struct.pack("!HH", qtype, qclass) + tail)


def framed(m):
    return struct.pack("!H", len(m)) + m


def chunks(stream, control=0, size=255):
    out = b""
    for i in range(0, len(stream), size):
        part = stream[i:i + size]
        out += bytes([control if i == 0 else 0, len(part)]) + part
    return out


SEEDS = {
    "axfr_plain": chunks(framed(query(1, 0, "example.com.", 252))),
    "axfr_ms": chunks(framed(query(2, 1, "example.com.", 252, tail=b"MS"))),
    "axfr_secure_listed": chunks(framed(query(3, 0, "secure.net.", 252)), control=0x0A),
    "axfr_secure_refused": chunks(framed(query(4, 0, "secure.net.", 252))),
    "axfr_nosoa": chunks(framed(query(5, 0, "nosoa.org.", 252))),
    "axfr_unknown": chunks(framed(query(6, 0, "nowhere.test.", 252))),
    "axfr_send_fails": chunks(framed(query(7, 0, "example.com.", 252)), control=0x04),
    "queries": chunks(framed(query(8, 1, "www.example.com.", 15))
                      + framed(query(9, 0, "example.com.", 28))
                      + framed(query(10, 0x10, "example.com.", 1))
                      + framed(query(11, 0, "example.com.", 16, qclass=3))),
    "notify": chunks(framed(query(12, 0x24, "example.com.", 6))),
    "split": chunks(framed(query(13, 0, "example.com.", 252)), size=3),
    "short_and_reply": chunks(framed(b"\0" * 12) + framed(query(14, 0x80, "a.", 1))),
    "overlong": chunks(b"\x80\x00" + b"x" * 40),
    "idle": bytes([1, 0]) * 130,
}

os.makedirs(OUT, exist_ok=True)
for key, data in SEEDS.items():
    with open(os.path.join(OUT, key), "wb") as f:
        f.write(data)
