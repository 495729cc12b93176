"""Reply bytes and log lines of a fixed set of questions, compared with a golden file.

The golden file was made from the server as it was before any speed work; speed changes must not
change a byte sent or a line logged. Regenerate it only on purpose (a deliberate change of
behaviour): KEST_REGEN_GOLDEN=1 python3 -m pytest tests/integration/test_golden_replies.py
--kestserv=<path>.

Being the program's own output, the file is not evidence by itself: the questions that no other
test covers (not-implemented replies of every kind, an EDNS query, the names a DFCN line makes)
are checked against the written rules, both in the file and in every run, with dnspython and
bytes derived from the query.
"""
import os
import socket
import struct
import time
from pathlib import Path

import dns.flags
import dns.message
import dns.rcode
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
    """Asks every question of one fresh server: (n, question, query, reply or None, log lines)."""
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

    entries = []
    for n, question in enumerate(QUESTIONS, 1):
        qid, name, rdtype, rdclass, rd, source, extra = question
        wire = query_wire(qid, name, rdtype, rdclass, rd, extra)
        start = len(k.lines)
        reply = udp_exchange(wire, source)
        send_marker()
        wait_markers(k, n + 1)
        logged = [strip_time(line) for line in k.lines[start:] if not line.endswith(MARKER)]
        entries.append((n, question, wire, reply, logged))
    assert k.stop() == 0
    return entries


def title(n, question):
    qid, name, rdtype, rdclass, rd, source, extra = question
    return (f"Q {n} id={qid:04x} {name} {rdtype} {rdclass} rd={int(rd)} from={source}"
            + (f" {extra}" if extra else ""))


def golden_lines(entries):
    out = []
    for n, question, wire, reply, logged in entries:
        out.append(title(n, question))
        out.append("> " + wire.hex())
        out.append("< " + (reply.hex() if reply is not None else "none"))
        out.extend("L " + line for line in logged)
    return out


def golden_entries():
    """The golden file read back into entries, each title matching its question."""
    entries = []
    for line in GOLDEN.read_text().splitlines():
        if line.startswith("Q "):
            n = len(entries) + 1
            assert line == title(n, QUESTIONS[n - 1]), line
            entries.append([n, QUESTIONS[n - 1], None, None, []])
        elif line.startswith("> "):
            entries[-1][2] = bytes.fromhex(line[2:])
        elif line.startswith("< "):
            entries[-1][3] = None if line[2:] == "none" else bytes.fromhex(line[2:])
        elif line.startswith("L "):
            entries[-1][4].append(line[2:])
    assert len(entries) == len(QUESTIONS)
    return [tuple(e) for e in entries]


# ---- the written rules, for the questions nothing else checks ----------------------------------

KEPT_TYPES = {1, 2, 5, 6, 12, 15, 16, 33, 255}
TYPE_NAMES = dict(enumerate(
    "A NS MD MF CNAME SOA MB MG MR NULL WKS PTR HINFO MINFO MX TXT RP AFSDB X25 ISDN RT NASP "
    "NSAP-PTR SIG KEY PX GPOS AAAA LOC NXT EID NIMLOC SRV ATMA NAPTR KX CERT A6 DNAME SINK "
    "OPT".split(), 1))
TYPE_NAMES.update({100: "UINFO", 101: "UID", 102: "GID", 103: "UNSPEC", 248: "ADDRS",
                   249: "TKEY", 250: "TSIG", 251: "IXFR", 252: "AXFR", 253: "MAILB",
                   254: "MAILA", 255: "*"})
OPCODE_TEXTS = {0: "Standard Query", 1: "Inverse Query Request", 2: "Server Status Request",
                4: "Notification Request"}
CLASS_TEXTS = {1: "Internet class record", 2: "CSNET class record", 3: "CHAOS class record",
               4: "Hesiod [Dyer 87] class record"}
RCODE_TEXTS = {3: "Name does not exist!"}
SECTIONS = ("Answer", "Authority", "Additional")


def type_name(t):
    return TYPE_NAMES.get(abs(t), f"?{t}?")


def opcode_text(op):
    return OPCODE_TEXTS.get(op, f"Unknown Query Type (OpCode {op})")


def class_text(c):
    return CLASS_TEXTS.get(c, f"Unknown class ({c}) record")


def record_text(name, rr):
    text = f"{type_name(rr.rdtype)}-record for {name}"
    if rr.rdtype == dns.rdatatype.A:
        return text + " = " + rr.address
    if rr.rdtype in (dns.rdatatype.NS, dns.rdatatype.CNAME):
        return text + " = " + rr.target.to_text().lower()
    if rr.rdtype == dns.rdatatype.SOA:
        return text + f" = {rr.mname.to_text().lower()} (Serial {rr.serial})"
    raise AssertionError(f"no record text for type {rr.rdtype} here")


def records(msg, section):
    """(name, ttl, type, text) of a section, one per record in message order."""
    return [(r.name.to_text().lower(), r.ttl, dns.rdatatype.to_text(r.rdtype), r[0].to_text())
            for r in getattr(msg, section)]


def reply_log(source, msg):
    """The log lines of a reply sent: its title, the header's complaint or an empty answer's
    note, one line a record."""
    q = msg.question[0]
    name = q.name.to_text().lower()
    lines = [f"   Sending reply to {source} about {type_name(q.rdtype)}-record for {name}:"]
    if msg.rcode():
        lines.append("   -> Header: " + RCODE_TEXTS[msg.rcode()])
    elif not msg.answer and (msg.flags & dns.flags.AA or
                             msg.flags & dns.flags.RD and msg.flags & dns.flags.RA):
        lines.append(f"   -> Answer: There are no {type_name(q.rdtype)}-Records for {name}")
    for title_, section in zip(SECTIONS, (msg.answer, msg.authority, msg.additional)):
        lines += [f"   -> {title_}: " + record_text(r.name.to_text().lower(), r[0])
                  for r in section]
    return lines


def not_implemented_log(wire, source):
    """The log lines of the intake's not-implemented reply to this query, or None when the query
    goes on to the resolver."""
    opcode = (wire[2] & 0x78) >> 3
    if opcode not in (0, 4):
        what = opcode_text(opcode)
        first = [f"   {what} from {source}"]
    else:
        q = dns.message.from_wire(wire).question[0]
        if q.rdclass != 1:
            what = class_text(q.rdclass)
            first = [f"   DNS Request from {source} for {what}"]
        elif q.rdtype not in KEPT_TYPES:
            # The "Request from" line needs the log file or window, and neither is on.
            what = f"{type_name(q.rdtype)}-record for {q.name.to_text().lower()}"
            first = []
        else:
            return None
    return first + [f"   Sending answer to {source} about {what}", "   -> Header: Not implemented."]


def parse(reply):
    return dns.message.from_wire(reply, one_rr_per_rrset=True)


def header_flags(msg):
    """The flag bits of a reply (standard query, so opcode 0), TC among them."""
    assert msg.opcode() == 0
    return msg.flags & (dns.flags.QR | dns.flags.AA | dns.flags.TC | dns.flags.RD | dns.flags.RA)


GLUE = [("ns1.golden.test.", 3600, "A", "10.1.0.1"), ("ns2.golden.test.", 3600, "A", "10.1.0.2")]
SERVERS = [("golden.test.", 3600, "NS", "ns1.golden.test."),
           ("golden.test.", 3600, "NS", "ns2.golden.test.")]


def check_by_rule(entries):
    """Checks the replies and log lines that only the golden file pins, by the written rules."""
    by_id = {e[1][0]: e for e in entries}
    checked = set()
    for n, (qid, name, rdtype, rdclass, rd, source, extra), wire, reply, logged in entries:
        want = not_implemented_log(wire, source)
        if want is None:
            continue
        # The query sent back with QR added and the second flag byte RA + not implemented.
        assert reply == wire[:2] + bytes([wire[2] | 0x80, 0x84]) + wire[4:], n
        assert logged == want, n
        checked.add(qid)

    # The owner of a DFCN line holds nothing itself: the name does not exist there.
    n, q, wire, reply, logged = by_id[0x2008]
    m = parse(reply)
    assert m.id == 0x2008 and m.rcode() == dns.rcode.NXDOMAIN
    assert header_flags(m) == dns.flags.QR | dns.flags.AA | dns.flags.RD  # no recursion for OTHER
    assert records(m, "answer") == [] and records(m, "additional") == []
    assert records(m, "authority") == [(
        "golden.test.", 3600, "SOA",
        "ns1.golden.test. hostmaster.golden.test. 2026010101 7200 900 1209600 300")]
    assert logged == reply_log(q[5], m)
    # A name below it gets the wildcard alias, named as asked, and then what the target holds.
    n, q, wire, reply, logged = by_id[0x2009]
    m = parse(reply)
    assert m.id == 0x2009 and m.rcode() == dns.rcode.NOERROR
    assert header_flags(m) == dns.flags.QR | dns.flags.AA | dns.flags.RD
    answer = records(m, "answer")
    assert answer[0] == ("host.dyn.golden.test.", 300, "CNAME", "www.golden.test.")
    assert sorted(answer[1:]) == [("www.golden.test.", 3600, "A", f"10.1.0.{i}")
                                  for i in (10, 11, 12, 13)]
    assert sorted(records(m, "authority")) == SERVERS
    assert sorted(records(m, "additional")) == GLUE
    assert logged == reply_log(q[5], m)
    checked.update((0x2008, 0x2009))

    # An EDNS query is answered as without its OPT record: no OPT in the reply, no truncation
    # however long, and the same bytes as the plain question before it, the address run moved on
    # by the replies between them (each a fixed 16 bytes: owner pointer, type, class, TTL, data).
    n, q, wire, reply, logged = by_id[0x6004]
    assert dns.message.from_wire(wire).edns == 0
    m = parse(reply)
    assert m.edns == -1 and len(reply) > 512 and m.rcode() == dns.rcode.NOERROR
    assert header_flags(m) == dns.flags.QR | dns.flags.AA | dns.flags.RD | dns.flags.RA
    assert [(r.name.to_text(), r.rdtype, r.rdclass) for r in m.question] == \
        [("big.golden.test.", dns.rdatatype.A, dns.rdataclass.IN)]
    assert sorted(records(m, "answer")) == sorted(("big.golden.test.", 3600, "A", f"10.1.2.{i}")
                                                 for i in range(1, 41))
    assert sorted(records(m, "authority")) == SERVERS
    assert sorted(records(m, "additional")) == GLUE
    assert logged == reply_log(q[5], m)
    plain = by_id[0x6001][3]  # the first of the three replies from this run of addresses
    start = len(wire) - 11  # header and question, the OPT record's 11 bytes left off
    chunks = [plain[start + 16 * i:start + 16 * (i + 1)] for i in range(40)]
    assert reply == (struct.pack(">H", 0x6004) + plain[2:start] + b"".join(chunks[2:] + chunks[:2])
                     + plain[start + 16 * 40:])
    checked.add(0x6004)

    # Every question the golden file alone would vouch for has been looked at here.
    assert {0x6004, 0x7002, 0x7003, 0x7005, 0x7006, 0x7008, 0x7009, 0x2008, 0x2009} <= checked


def test_golden_file_follows_the_written_rules():
    entries = golden_entries()
    for n, question, wire, reply, logged in entries:
        assert wire == query_wire(*question[:5], question[6]), n
    check_by_rule(entries)


HEADER = """\
# Golden replies of kestserv: for each question (Q), the query sent (>), the reply received (<,
# hex, or none) and the log lines printed for it (L, times stripped). Made by
# tests/integration/test_golden_replies.py with KEST_REGEN_GOLDEN=1 from the server as committed
# before the speed work; do not edit by hand.
"""


def test_replies_and_log_lines_match_the_golden_file(kestserv):
    entries = run_questions(kestserv)
    check_by_rule(entries)
    got = golden_lines(entries)
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
