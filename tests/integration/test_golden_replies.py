"""Reply bytes and log lines of a fixed set of questions, compared with a golden file.

The golden file was made from the server as it was before any speed work; speed changes must not
change a byte sent or a line logged. Regenerate it only on purpose (a deliberate change of
behaviour): KEST_REGEN_GOLDEN=1 python3 -m pytest tests/integration/test_golden_replies.py
--kestserv=<path>.
"""
import os
import socket
import time
from pathlib import Path

import dns.flags
import dns.message
import dns.rdataclass
import dns.rdatatype

from conftest import udp_exchange

GOLDEN = Path(__file__).parent / "golden" / "replies.txt"

ZONE = """\
@ 3600 SOA ns1 hostmaster 2026010101 7200 900 1209600 300
 3600 NS ns1
 3600 NS ns2.golden.test.
 3600 MX 10 mail
 3600 MX 20 mail2.golden.test.
 3600 TXT "v=spf1 mx -all"
ns1 3600 A 10.1.0.1
ns2 3600 A 10.1.0.2
mail 3600 A 10.1.0.25
mail2 1800 A 10.1.0.26
www 3600 A 10.1.0.10
 3600 A 10.1.0.11
 3600 A 10.1.0.12
 3600 A 10.1.0.13
alias 3600 CNAME www
chain 7200 CNAME alias
outside 3600 CNAME host.elsewhere.net.
_sip._udp.golden.test. 3600 SRV 10 60 5060 sip
sip 3600 A 10.1.0.50
txt 3600 TXT "hello world" "second string"
*.wild.golden.test. 600 A 10.1.0.99
glued 3600 NS ns.glued.golden.test.
 3600 NS ns2.glued.golden.test.
ns.glued.golden.test. 3600 A 10.1.0.60
ns2.glued.golden.test. 3600 A 10.1.0.61
noglue 3600 NS ns.elsewhere.net.
dyn 300 DFCN www
"""

REVERSE = """\
@ 3600 SOA ns1.golden.test. hostmaster.golden.test. 7 7200 900 1209600 300
 3600 NS ns1.golden.test.
1 3600 PTR ns1.golden.test.
10 3600 PTR www.golden.test.
11 3600 PTR www.golden.test.
25 3600 PTR mail.golden.test.
"""


def big_zone_lines():
    # 40 addresses and 12 long strings: replies well over 512 bytes.
    lines = [f"big 3600 A 10.1.2.{i}" if i == 1 else f" 3600 A 10.1.2.{i}" for i in range(1, 41)]
    text = " ".join(f'"{"s%02d" % i + "-" * 56}"' for i in range(12))
    lines.append(f"longtxt 3600 TXT {text}")
    return "\n".join(lines) + "\n"


ALLOWED = "127.0.0.5"  # may ask for recursion (RA set)
OTHER = "127.0.0.9"    # may not
SYNC = "127.0.0.200"   # sends the marker between questions

# (id, name, type, class, RD, source, extra): sent in this order to one fresh server. Only own
# zones and not-implemented replies, so work on the resolver leaves these bytes alone; questions
# a delegation answers come from a client without recursion.
QUESTIONS = [
    (0x0001, "www.golden.test.", "A", "IN", True, ALLOWED, None),
    (0x0002, "www.golden.test.", "A", "IN", True, ALLOWED, None),
    (0x0003, "www.golden.test.", "A", "IN", False, OTHER, None),
    (0xFFFF, "WWW.Golden.TEST.", "A", "IN", True, OTHER, None),
    (0x0000, "golden.test.", "SOA", "IN", True, ALLOWED, None),
    (0x1234, "golden.test.", "NS", "IN", False, ALLOWED, None),
    (0x1235, "golden.test.", "MX", "IN", True, OTHER, None),
    (0x1236, "golden.test.", "TXT", "IN", True, ALLOWED, None),
    (0x1237, "golden.test.", "ANY", "IN", False, OTHER, None),
    (0x2001, "alias.golden.test.", "A", "IN", True, ALLOWED, None),
    (0x2002, "chain.golden.test.", "A", "IN", True, OTHER, None),
    (0x2003, "chain.golden.test.", "CNAME", "IN", True, ALLOWED, None),
    (0x2004, "outside.golden.test.", "CNAME", "IN", False, OTHER, None),
    (0x2005, "_sip._udp.golden.test.", "SRV", "IN", True, ALLOWED, None),
    (0x2006, "txt.golden.test.", "TXT", "IN", False, ALLOWED, None),
    (0x2007, "mail2.golden.test.", "A", "IN", True, ALLOWED, None),
    (0x2008, "dyn.golden.test.", "A", "IN", True, OTHER, None),
    (0x2009, "host.dyn.golden.test.", "A", "IN", True, OTHER, None),
    (0x3001, "nope.golden.test.", "A", "IN", True, ALLOWED, None),
    (0x3002, "www.golden.test.", "MX", "IN", True, ALLOWED, None),
    (0x3003, "deep.nope.golden.test.", "TXT", "IN", False, OTHER, None),
    (0x3004, "a.b.wild.golden.test.", "A", "IN", True, ALLOWED, None),
    (0x3005, "x.wild.golden.test.", "MX", "IN", True, OTHER, None),
    (0x3006, "wild.golden.test.", "A", "IN", True, ALLOWED, None),
    (0x4001, "host.glued.golden.test.", "A", "IN", False, OTHER, None),
    (0x4002, "glued.golden.test.", "NS", "IN", True, OTHER, None),
    (0x4003, "a.b.noglue.golden.test.", "MX", "IN", False, OTHER, None),
    (0x5001, "10.0.1.10.in-addr.arpa.", "PTR", "IN", True, ALLOWED, None),
    (0x5002, "1.0.1.10.in-addr.arpa.", "PTR", "IN", False, OTHER, None),
    (0x5003, "99.0.1.10.in-addr.arpa.", "PTR", "IN", True, ALLOWED, None),
    (0x5004, "0.1.10.in-addr.arpa.", "SOA", "IN", True, ALLOWED, None),
    (0x6001, "big.golden.test.", "A", "IN", True, ALLOWED, None),
    (0x6002, "big.golden.test.", "A", "IN", True, OTHER, None),
    (0x6003, "longtxt.golden.test.", "TXT", "IN", True, ALLOWED, None),
    (0x6004, "big.golden.test.", "A", "IN", True, ALLOWED, "edns"),
    (0x7001, "www.golden.test.", "AAAA", "IN", True, ALLOWED, None),
    (0x7002, "golden.test.", "DNSKEY", "IN", False, OTHER, None),
    (0x7003, "www.golden.test.", "TYPE999", "IN", True, ALLOWED, None),
    (0x7004, "version.bind.", "TXT", "CH", True, ALLOWED, None),
    (0x7005, "www.golden.test.", "A", "HS", False, OTHER, None),
    (0x7006, "www.golden.test.", "A", "CLASS999", True, ALLOWED, None),
    (0x7007, "www.golden.test.", "A", "IN", True, ALLOWED, "iquery"),
    (0x7008, "www.golden.test.", "A", "IN", False, OTHER, "status"),
    (0x7009, "www.golden.test.", "A", "IN", True, ALLOWED, "opcode3"),
    (0x8001, "www.golden.test.", "A", "IN", True, ALLOWED, None),
]

OPCODES = {"iquery": 1, "status": 2, "opcode3": 3}


def query_wire(qid, name, rdtype, rdclass, rd, extra):
    q = dns.message.make_query(name, dns.rdatatype.from_text(rdtype),
                               dns.rdataclass.from_text(rdclass), use_edns=extra == "edns")
    q.id = qid
    q.flags = dns.flags.RD if rd else 0
    wire = bytearray(q.to_wire())
    if extra in OPCODES:
        wire[2] = (wire[2] & ~0x78) | (OPCODES[extra] << 3)
    return bytes(wire)


def crlf(text):
    return text.replace("\n", "\r\n").encode()


def send_marker():
    """A request with no question: logged as incomplete and never answered."""
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.bind((SYNC, 0))
    s.sendto(b"\x00\x00\x01\x00" + b"\x00" * 8, ("127.0.0.1", 53))
    s.close()


MARKER = f"   Incomplete DNS Request from {SYNC}"


def wait_markers(k, count, timeout=10.0):
    deadline = time.monotonic() + timeout
    while sum(line.endswith(MARKER) for line in k.lines) < count:
        assert time.monotonic() < deadline, "marker not logged:\n" + "\n".join(k.lines)
        time.sleep(0.01)


def strip_time(line):
    # "hh:mm:ss   text"
    return line[8:] if len(line) > 8 and line[2] == ":" and line[5] == ":" else line


def run_questions(kestserv):
    k = kestserv()
    data = k.home / "data"
    (data / "golden.test.dns").write_bytes(crlf(ZONE + big_zone_lines()))
    (data / "0.1.10.in-addr.arpa.dns").write_bytes(crlf(REVERSE))
    k.write_ini(f"DNSBind: 127.0.0.1\nDNSRecursion: {ALLOWED}\n")
    k.start()
    k.wait_for(r"   Loading Zone: golden\.test\.$")
    k.wait_for(r"   Loading Zone: 0\.1\.10\.in-addr\.arpa\.$")
    send_marker()
    wait_markers(k, 1)

    out = []
    for n, (qid, name, rdtype, rdclass, rd, source, extra) in enumerate(QUESTIONS, 1):
        wire = query_wire(qid, name, rdtype, rdclass, rd, extra)
        start = len(k.lines)
        reply = udp_exchange(wire, source)
        send_marker()
        wait_markers(k, n + 1)
        logged = [strip_time(line) for line in k.lines[start:] if not line.endswith(MARKER)]
        out.append(f"Q {n} id={qid:04x} {name} {rdtype} {rdclass} rd={int(rd)} from={source}"
                   + (f" {extra}" if extra else ""))
        out.append("> " + wire.hex())
        out.append("< " + (reply.hex() if reply is not None else "none"))
        out.extend("L " + line for line in logged)
    assert k.stop() == 0
    return out


HEADER = """\
# Golden replies of kestserv: for each question (Q), the query sent (>), the reply received (<,
# hex, or none) and the log lines printed for it (L, times stripped). Made by
# tests/integration/test_golden_replies.py with KEST_REGEN_GOLDEN=1 from the server as committed
# before the speed work; do not edit by hand.
"""


def test_replies_and_log_lines_match_the_golden_file(kestserv):
    got = run_questions(kestserv)
    if os.environ.get("KEST_REGEN_GOLDEN") == "1":
        GOLDEN.parent.mkdir(exist_ok=True)
        GOLDEN.write_text(HEADER + "\n".join(got) + "\n")
        return
    lines = GOLDEN.read_text().splitlines()
    want = [line for line in lines if not line.startswith("#")]
    # Compare question by question so a difference names the question it belongs to.
    def blocks(seq):
        out, cur = [], []
        for line in seq:
            if line.startswith("Q ") and cur:
                out.append(cur)
                cur = []
            cur.append(line)
        if cur:
            out.append(cur)
        return out

    for w, g in zip(blocks(want), blocks(got)):
        assert g == w, f"question {w[0]} differs"
    assert len(got) == len(want)
