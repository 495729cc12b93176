"""Cross-check of the codec (core/modDNS) against dnspython.

Random replies built with dnspython (compressed names, every kept type, other types and classes,
names our decoder must refuse) are decoded by the C++ probe and compared with dnspython's own
view, whole and cut anywhere; replies written by the server's own reply writer are compared byte
for byte with the message layout built here and decoded by dnspython; ZipName is compared byte for
byte with a literal Python transcription of the compression algorithm.

The probe executable is given by --probe=PATH or the environment variable KEST_CODEC_PROBE.
"""

import os
import random
import socket
import struct
import subprocess

import dns.flags
import dns.message
import dns.name
import dns.rdata
import dns.rdataclass
import dns.rdatatype
import dns.rrset
import pytest

KEPT = {1: "A", 2: "NS", 5: "CNAME", 6: "SOA", 12: "PTR", 15: "MX", 16: "TXT", 33: "SRV"}
CAP = 604800
LABELS = ["www", "mail", "ns1", "ns2", "zone", "org", "example", "Com", "a", "b-c", "_sip",
          "_tcp", "x1"]


@pytest.fixture(scope="module")
def probe(request):
    path = None
    try:
        path = request.config.getoption("--probe")
    except ValueError:
        path = None
    path = path or os.environ.get("KEST_CODEC_PROBE")
    if not path:
        pytest.fail("no probe: give --probe=PATH or set KEST_CODEC_PROBE")
    proc = subprocess.Popen([path], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)

    class Probe:
        def ask(self, line, until_end=False):
            proc.stdin.write(line + "\n")
            proc.stdin.flush()
            out = []
            while True:
                got = proc.stdout.readline()
                assert got, "probe ended"
                got = got.rstrip("\n")
                out.append(got)
                if not until_end or got.startswith("END "):
                    return out

    yield Probe()
    proc.stdin.close()
    proc.wait(timeout=10)


def hx(b):
    return b.hex() if b else "-"


# ---- dnspython's view of names and data in our in-memory form -------------------------------------

def text_of(name):
    """The server's text form of a dnspython name, or None when our decoder must refuse it."""
    labels = [l for l in name.labels if l]
    for l in labels:
        if any(c == 0x2E or c < 0x21 or c == 0x7F for c in l):
            return None
    if not labels:
        return "."
    return ".".join(l.decode("latin-1").lower() for l in labels) + "."


def data_of(rd):
    """The in-memory Data of a kept rdata (bytes), or None when the record must not be kept."""
    t = rd.rdtype
    if t == 1:
        return socket.inet_aton(rd.address)
    if t in (2, 5, 12):
        n = text_of(rd.target)
        return None if n is None else n.encode("latin-1")
    if t == 6:
        m, r = text_of(rd.mname), text_of(rd.rname)
        if m is None or r is None:
            return None
        return (m.encode("latin-1") + b"\0" + r.encode("latin-1") + b"\0" +
                struct.pack(">5I", rd.serial, rd.refresh, rd.retry, rd.expire, rd.minimum))
    if t == 15:
        n = text_of(rd.exchange)
        return None if n is None else struct.pack(">H", rd.preference) + n.encode("latin-1")
    if t == 16:
        return b"".join(bytes([len(s)]) + s for s in rd.strings)
    if t == 33:
        n = text_of(rd.target)
        return None if n is None else struct.pack(">3H", rd.priority, rd.weight,
                                                  rd.port) + n.encode("latin-1")
    return None


# ---- random dnspython replies ---------------------------------------------------------------------

def rand_label(rng):
    l = rng.choice(LABELS)
    if rng.random() < 0.3:
        l = "".join(c.upper() if rng.random() < 0.5 else c for c in l)
    return l


def rand_name(rng, bad_ok=True):
    n = rng.randint(0, 4)
    labels = [rand_label(rng) for _ in range(n)]
    if bad_ok and labels and rng.random() < 0.05:
        labels[0] = rng.choice([r"a\032b", r"x\.y", r"q\127"])
    return dns.name.from_text(".".join(labels) + "." if labels else ".")


def rand_rdata(rng, t):
    n = lambda: rand_name(rng).to_text()
    if t == 1:
        text = ".".join(str(rng.randint(0, 255)) for _ in range(4))
    elif t in (2, 5, 12):
        text = n()
    elif t == 6:
        text = "%s %s %d %d %d %d %d" % (n(), n(), rng.randint(0, 2**32 - 1), rng.randint(0, 2**32 - 1),
                                         rng.randint(0, 2**32 - 1), rng.randint(0, 2**32 - 1),
                                         rng.randint(0, 2**32 - 1))
    elif t == 15:
        text = "%d %s" % (rng.randint(0, 65535), n())
    elif t == 16:
        parts = []
        for _ in range(rng.randint(1, 3)):
            s = "".join(rng.choice("abc xyz,\"\\") for _ in range(rng.randint(0, 12)))
            parts.append('"' + s.replace("\\", "\\\\").replace('"', '\\"') + '"')
        text = " ".join(parts)
    elif t == 33:
        text = "%d %d %d %s" % (rng.randint(0, 65535), rng.randint(0, 65535), rng.randint(0, 65535),
                                n())
    elif t == 28:
        text = "2001:db8::%x" % rng.randint(1, 65535)
    elif t == 13:
        text = '"cpu" "os"'
    else:
        raise AssertionError(t)
    return dns.rdata.from_text(dns.rdataclass.IN, t, text)


def rand_reply(rng):
    q = dns.message.make_query(rand_name(rng, bad_ok=False), rng.choice([1, 2, 15, 255]))
    r = dns.message.make_response(q)
    r.flags |= dns.flags.AA if rng.random() < 0.5 else 0
    r.flags |= dns.flags.TC if rng.random() < 0.1 else 0
    r.set_rcode(rng.choice([0, 0, 0, 2, 3, 5]))
    for section in (r.answer, r.authority, r.additional):
        used = set()  # dnspython would merge a second rrset of a name and type (and its TTL)
        for _ in range(rng.randint(0, 5)):
            t = rng.choice(list(KEPT) + [28, 13])
            owner = rand_name(rng)
            if (owner, t) in used:
                continue
            used.add((owner, t))
            ttl = rng.choice([0, 60, 3600, CAP, CAP + 1, 8 * 86400, 2**31 - 1])
            rd = rand_rdata(rng, t)
            if rng.random() < 0.1:
                # Another class, the same bytes: 0x8001 would pass for IN in a 15-bit read.
                rd = dns.rdata.GenericRdata(rng.choice([2, 4, 254, 0x8001]), t,
                                            rd.to_digestable())
            rrs = dns.rrset.RRset(owner, rd.rdclass, t)
            rrs.add(rd, ttl)
            section.append(rrs)
    return r


def expected_records(wire):
    """dnspython's view of the kept records of a reply: sorted (sec, name, type, ttl, hexdata)."""
    m = dns.message.from_wire(wire)
    out = []
    for sec, section in ((2, m.answer), (3, m.authority), (4, m.additional)):
        for rrs in section:
            if rrs.rdclass != dns.rdataclass.IN or rrs.rdtype not in KEPT:
                continue
            owner = text_of(rrs.name)
            for rd in rrs:
                d = data_of(rd)
                if owner is None or d is None:
                    continue
                out.append((sec, owner, int(rrs.rdtype), min(rrs.ttl, CAP), d.hex()))
    return sorted(out)


def decoded_records(probe, wire):
    lines = probe.ask("D " + wire.hex(), until_end=True)
    q = lines[0].split()
    recs = []
    for l in lines[1:-1]:
        _, sec, name, t, ttl, data = l.split(" ")
        recs.append((int(sec), name, int(t), int(ttl), "" if data == "-" else data))
    return q, sorted(recs), lines[-1] == "END 1"


def test_decoder_matches_dnspython_on_random_replies(probe):
    rng = random.Random(20261208)
    kinds = set()
    for _ in range(400):
        r = rand_reply(rng)
        wire = r.to_wire()  # dnspython compresses owner and RDATA names
        q, got, complete = decoded_records(probe, wire)
        assert complete
        want = expected_records(wire)
        assert got == want, r.to_text()
        # The header as read: question, ID, AA, TC (the flag: nothing was cut) and RCODE.
        assert q[1:] == [text_of(r.question[0].name), str(r.question[0].rdtype), str(r.id),
                         str(int(bool(r.flags & dns.flags.AA))),
                         str(int(bool(r.flags & dns.flags.TC))), str(r.rcode())]
        kinds.update(t for _, _, t, _, _ in want)
    assert kinds == set(KEPT)


def record_ends(wire):
    """Offsets where the question and each resource record of a whole message end, walked by
    the wire layout alone (names skipped label by label or up to a pointer)."""
    def skip_name(p):
        while True:
            v = wire[p]
            if v >= 192:
                return p + 2
            p += v + 1
            if v == 0:
                return p
    qd, an, ns, ar = struct.unpack(">4H", wire[4:12])
    p = 12
    for _ in range(qd):
        p = skip_name(p) + 4
    ends = [p]
    for _ in range(an + ns + ar):
        p = skip_name(p) + 8
        p += 2 + struct.unpack(">H", wire[p:p + 2])[0]
        ends.append(p)
    assert p == len(wire)
    return ends, (an, ns, ar)


def whole_records_before(wire, cut):
    """The message cut after its last resource record that ends at or before cut, with the
    counts saying so: what a decoder that stops at a cut record must have kept."""
    ends, counts = record_ends(wire)
    n = sum(1 for e in ends[1:] if e <= cut)
    kept = []
    for c in counts:
        kept.append(min(c, n))
        n -= kept[-1]
    return wire[:6] + struct.pack(">3H", *kept) + wire[12:ends[sum(kept)]]


def test_cut_replies_are_incomplete_and_keep_the_whole_records_before_the_cut(probe):
    rng = random.Random(5)
    cuts = 0
    for _ in range(100):
        wire = rand_reply(rng).to_wire()
        ends, _ = record_ends(wire)
        # Anywhere, at each record's end and one byte past it, and the whole message.
        points = {rng.randint(12, len(wire)), len(wire), len(wire) - 1}
        for e in ends[:-1]:
            points.update((e, e + 1))
        for cut in sorted(p for p in points if 12 <= p <= len(wire)):
            q, got, complete = decoded_records(probe, wire[:cut])
            # Every count the header gives must be met: only the whole message is complete.
            assert complete == (cut == len(wire)), cut
            assert complete or q[5] == "1", cut  # an incomplete reply counts as truncated
            want = expected_records(whole_records_before(wire, cut)) if cut >= ends[0] else []
            assert got == want, cut
            cuts += 1
    assert cuts > 500


# ---- the server's reply writer, against the message layout and decoded by dnspython -------------

def rand_text_name(rng):
    labels = [rand_label(rng) for _ in range(rng.randint(0, 4))]
    return ".".join(labels) + ("." if labels and rng.random() < 0.7 else "")


def norm(text):
    """The absolute lower-case form of a name as ZipName encodes it."""
    labels = [l for l in text.split(".") if l]
    return ".".join(labels).lower() + "." if labels else "."


# Names no wire form can carry: a label of 64 characters, a label holding a blank.
UNWRITABLE = ["x" * 64 + ".example.", "a b.example."]


def our_record(rng):
    """(type, owner text, in-memory data); now and then one the writer must leave out."""
    t = rng.choice(list(KEPT))
    n = lambda: rng.choice(UNWRITABLE) if rng.random() < 0.02 else norm(rand_text_name(rng))
    if t == 1:
        data = bytes(rng.randint(0, 255) for _ in range(rng.choice([4] * 30 + [3, 5])))
    elif t in (2, 5, 12):
        data = n().encode()
    elif t == 6:
        mname, rname = n(), n()
        if rng.random() < 0.5:
            # Both in a zone named nowhere before: RNAME can only point into MNAME.
            zone = "z%d.%s" % (rng.randint(0, 999), norm(rand_text_name(rng)).lstrip("."))
            mname, rname = "ns1." + zone, "hostmaster." + zone
        data = (mname.encode() + b"\0" + rname.encode() + b"\0" +
                struct.pack(">5I", *(rng.randint(0, 2**32 - 1) for _ in range(5))))
    elif t == 15:
        data = struct.pack(">H", rng.randint(0, 65535)) + n().encode()
    elif t == 16:
        data = b"".join(bytes([len(s)]) + s for s in
                        (bytes(rng.choice(b"abc xyz") for _ in range(rng.randint(0, 9)))
                         for _ in range(rng.randint(1, 3))))
    else:
        data = struct.pack(">3H", *(rng.randint(0, 65535) for _ in range(3))) + n().encode()
    owner = rng.choice(UNWRITABLE) if rng.random() < 0.02 else rand_text_name(rng)
    return t, owner, data


def send_order(recs, builds):
    """The order of a section in the builds-th reply written from the same records: a run of A
    records of one name (ending at the 100th position at the latest) starts one place further
    on in each reply."""
    order, i = list(range(len(recs))), 0
    while i < len(recs):
        t, owner = recs[i][0], recs[i][1]
        last = i
        while (t == 1 and last + 1 < len(recs) and last + 1 < 100 and recs[last + 1][0] == 1
               and recs[last + 1][1] == owner):
            last += 1
        k = last - i + 1
        if k >= 2:
            r = (builds - 1) % k
            order[i:last + 1] = [i + (r + p) % k for p in range(k)]
        i = last + 1
    return [recs[j] for j in order]


def rdata_literal(msg, t, data):
    """RDATA of in-memory data, names compressed against msg; None when it cannot be written."""
    def z(name):
        return zipname_literal(msg, name.decode("latin-1"))
    if t == 1:
        return data if len(data) == 4 else None
    if t in (2, 5, 12):
        return z(data)
    if t == 6:
        mname, rname = data[:-20].split(b"\0")[:2]
        m, r = z(mname), z(rname)
        return None if m is None or r is None else m + r + data[-20:]
    if t in (15, 33):
        fixed = 2 if t == 15 else 6
        target = z(data[fixed:])
        return None if target is None else data[:fixed] + target
    return data


def reply_literal(qid, aa, rd, ra, rcode, qtype, qname, age, builds, items):
    """The reply message by the written layout: header, question, then sections 2 to 4 in
    send order, each record's names compressed against the message up to its TTL; records whose
    names or data have no wire form are left out and not counted. Also the records written."""
    flags = bytes([0x80 | (0x04 if aa else 0) | (0x01 if rd else 0), (0x80 if ra else 0) | rcode])
    head = struct.pack(">H", qid) + flags + b"\0\1"
    sections = []
    for sec in (2, 3, 4):
        sent = []
        for t, owner, data, ttl in send_order([i[1:] for i in items if i[0] == sec], builds):
            # Whether a record can be written does not depend on the message around it.
            if zipname_literal(b"", owner) is None or rdata_literal(b"", t, data) is None:
                continue
            sent.append((t, owner, data, max(ttl - age, 0)))
        sections.append(sent)
    msg = head + struct.pack(">3H", *(len(s) for s in sections))
    q = zipname_literal(msg, qname)
    if q is None:
        return None, None
    msg += q + struct.pack(">HH", qtype, 1)
    for sent in sections:
        for t, owner, data, ttl in sent:
            msg += zipname_literal(msg, owner) + struct.pack(">HHI", t, 1, ttl)
            rdata = rdata_literal(msg, t, data)
            msg += struct.pack(">H", len(rdata)) + rdata
    return msg, sections


def rand_items(rng):
    items = []
    while len(items) < rng.randint(1, 12):
        sec = rng.choice([2, 2, 3, 4])
        if rng.random() < 0.15:
            # A run of addresses of one name, which successive replies rotate.
            owner = rand_text_name(rng)
            for _ in range(rng.randint(2, 5)):
                items.append((sec, 1, owner, bytes(rng.randint(0, 255) for _ in range(4)),
                              rng.choice([60, 3600])))
            continue
        t, owner, data = our_record(rng)
        items.append((sec, t, owner, data, rng.choice([0, 1, 60, 3600, CAP, 2**31 - 1])))
    return items


def test_reply_writer_follows_the_layout_and_decodes_in_dnspython(probe):
    rng = random.Random(99)
    compressed = left_out = rotated = 0
    for _ in range(400):
        qid, aa, rd, ra = rng.randint(0, 65535), rng.randint(0, 1), rng.randint(0, 1), rng.randint(0, 1)
        rcode = rng.choice([0, 0, 2, 3, 4])
        qtype = rng.choice([1, 2, 5, 6, 12, 15, 16, 33, 255])
        qname = rng.choice(UNWRITABLE) if rng.random() < 0.02 else rand_text_name(rng)
        age, builds = rng.choice([0, 0, 1, 30, 3599, 4000]), rng.randint(1, 4)
        items = rand_items(rng)
        line = "B %d %d %d %d %d %d %s %d %d " % (qid, aa, rd, ra, rcode, qtype, hx(qname.encode()),
                                                age, builds)
        line += " ".join("%d:%d:%s:%s:%d" % (sec, t, hx(o.encode()), hx(d), ttl)
                         for sec, t, o, d, ttl in items)
        out = probe.ask(line)[0]
        want, sections = reply_literal(qid, aa, rd, ra, rcode, qtype, qname, age, builds, items)
        assert out == "B " + (want.hex() if want else "-"), line
        if want is None:
            continue

        # dnspython's reading of the same bytes, record by record in message order.
        m = dns.message.from_wire(want, one_rr_per_rrset=True)
        assert m.id == qid and m.rcode() == rcode and m.opcode() == 0
        assert m.flags & (dns.flags.QR | dns.flags.AA | dns.flags.RD | dns.flags.RA | dns.flags.TC) \
            == dns.flags.QR | (dns.flags.AA * aa) | (dns.flags.RD * rd) | (dns.flags.RA * ra)
        assert [(text_of(r.name), r.rdtype, r.rdclass) for r in m.question] == [(norm(qname), qtype, 1)]
        for section, sent in zip((m.answer, m.authority, m.additional), sections):
            got = [(int(r.rdtype), text_of(r.name), r.ttl, data_of(r[0]).hex()) for r in section]
            assert got == [(t, norm(o), ttl, d.hex()) for t, o, d, ttl in sent], line
        compressed += b"\xc0" in want[12:]
        left_out += sum(map(len, sections)) < len(items)
        rotated += any(send_order(recs, builds) != recs
                       for recs in ([i[1:] for i in items if i[0] == sec] for sec in (2, 3, 4)))
    assert compressed > 200 and left_out > 20 and rotated > 20, (compressed, left_out, rotated)


# ---- ZipName against the compression algorithm, transcribed literally ---------------------

def zipname_literal(msg, name):
    labels, rest = [], name
    while True:
        rest = rest.lstrip(".")
        if not rest:
            break
        head, _, rest = rest.partition(".")
        labels.append(head.encode("latin-1"))
    for l in labels:
        if len(l) > 63 or any(c < 0x21 or c == 0x7F for c in l):
            return None
    enc = b"".join(bytes([len(l)]) + l for l in labels) + b"\0"
    if len(enc) > 255:
        return None
    if enc == b"\0":
        return enc
    while True:
        out, pos, changed = b"", 0, False
        while True:
            v = enc[pos]
            if v == 0 or v >= 192:
                out += enc[pos:]
                break
            p = msg.find(enc[pos:])
            if p != -1 and p <= 16383:
                out += bytes([p // 256 + 192, p & 0xFF])
                changed = True
                break
            out += enc[pos:pos + v + 1]
            pos += v + 1
        enc = out
        if not changed:
            return enc


def test_zipname_matches_the_literal_algorithm(probe):
    rng = random.Random(3)
    for _ in range(1500):
        msg = os.urandom(0)
        for _ in range(rng.randint(0, 8)):
            n = rand_text_name(rng)
            z = zipname_literal(msg, n)
            msg += (z or b"") + bytes(rng.randint(0, 255) for _ in range(rng.randint(0, 3)))
        name = rand_text_name(rng)
        if rng.random() < 0.05:
            name = "x" * rng.choice([63, 64]) + "." + name
        want = zipname_literal(msg, name)
        got = probe.ask("Z %s %s" % (hx(msg), hx(name.encode())))[0]
        assert got == "Z " + (want.hex() if want else "-"), (msg, name)
        if want:
            u = probe.ask("U %s %d" % (hx(msg + want), len(msg)))[0]
            assert u == "U " + (norm(name) if norm(name) != "." else "-")
