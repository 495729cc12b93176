#!/usr/bin/python3
"""Writes the seed corpora of the fuzz targets under fuzz/corpus/<target>/.

Seeds: real replies of a local NSD (started in a network namespace of this script's own, where
only loopback exists, serving a small zone; skipped when nsd is not installed or no namespace can
be made), replies built with dnspython (compressed names, every
kept type, other types and classes), and hand-made malformed messages (pointer loops, forward and
out-of-range pointers, labels running off the end, bad label bytes, short RDATA, 15-bit traps).

    /usr/bin/python3 fuzz/make_corpus.py [--no-peer]

The corpus is committed; this script is how it was made, not part of the build.
"""
import ctypes
import hashlib
import os
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import time

import dns.message
import dns.rdata
import dns.rdataclass
import dns.rrset

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(HERE, "corpus")

ZONE = """$ORIGIN example.org.
$TTL 3600
@       IN SOA ns1.example.org. hostmaster.example.org. 4000000000 7200 3600 1209600 300
@       IN NS  ns1
@       IN NS  ns2.other.net.
@       IN MX  10 mail
@       IN MX  65535 backup.mail
@       IN TXT "v=spf1 mx -all" "second string"
ns1     IN A   192.0.2.1
mail    IN A   192.0.2.25
mail    IN A   192.0.2.26
www     IN CNAME web.example.org.
web     IN A   192.0.2.80
web     IN AAAA 2001:db8::80
_sip._tcp IN SRV 10 60 5060 sipserver.example.org.
sipserver IN A 192.0.2.60
host    IN HINFO "cpu" "os"
week    604801 IN A 192.0.2.7
"""

REVERSE = """$ORIGIN 2.0.192.in-addr.arpa.
$TTL 3600
@  IN SOA ns1.example.org. hostmaster.example.org. 1 7200 3600 1209600 300
@  IN NS  ns1.example.org.
1  IN PTR ns1.example.org.
25 IN PTR mail.example.org.
"""


CLONE_NEWNET = 0x40000000
CLONE_NEWUSER = 0x10000000


def private_network():
    """Moves this process into a network namespace of its own with loopback up, so the peer
    started below is reachable from here alone; False when none can be made. Without root, a
    user namespace of its own (mapped to the same user) makes it possible."""
    libc = ctypes.CDLL(None, use_errno=True)
    if libc.unshare(CLONE_NEWNET) != 0:
        uid, gid = os.getuid(), os.getgid()
        if libc.unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0:
            return False
        for name, text in (("setgroups", "deny"), ("uid_map", f"0 {uid} 1"),
                           ("gid_map", f"0 {gid} 1")):
            with open(f"/proc/self/{name}", "w") as f:
                f.write(text)
    ip = shutil.which("ip", path="/usr/sbin:/usr/bin:/sbin:/bin")
    return bool(ip) and subprocess.run([ip, "link", "set", "lo", "up"]).returncode == 0


def peer_replies():
    """Raw replies of a local NSD in a private network namespace (nothing leaves it). The whole
    process moves into that namespace; nothing after this needs the network."""
    nsd = shutil.which("nsd") or ("/usr/sbin/nsd" if os.path.exists("/usr/sbin/nsd") else None)
    if not nsd:
        print("nsd not installed: no peer replies", file=sys.stderr)
        return []
    if not private_network():
        print("no private network namespace: no peer replies", file=sys.stderr)
        return []
    d = tempfile.mkdtemp(prefix="kest-corpus-")
    port = 53
    with open(os.path.join(d, "example.org.zone"), "w") as f:
        f.write(ZONE)
    with open(os.path.join(d, "reverse.zone"), "w") as f:
        f.write(REVERSE)
    conf = os.path.join(d, "nsd.conf")
    with open(conf, "w") as f:
        f.write(f"""server:
  ip-address: 127.0.0.1
  port: {port}
  zonesdir: "{d}"
  pidfile: "{d}/nsd.pid"
  database: ""
  username: ""
  xfrdfile: "{d}/xfrd.state"
  zonelistfile: "{d}/zone.list"
  logfile: "{d}/nsd.log"
  server-count: 1
remote-control:
  control-enable: no
zone:
  name: example.org
  zonefile: example.org.zone
zone:
  name: 2.0.192.in-addr.arpa
  zonefile: reverse.zone
""")
    proc = subprocess.Popen([nsd, "-d", "-c", conf], stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)
    out = []
    try:
        questions = [("example.org.", "SOA"), ("example.org.", "NS"), ("example.org.", "MX"),
                     ("example.org.", "TXT"), ("example.org.", "ANY"), ("www.example.org.", "A"),
                     ("_sip._tcp.example.org.", "SRV"), ("mail.example.org.", "A"),
                     ("nowhere.example.org.", "A"), ("web.example.org.", "MX"),
                     ("host.example.org.", "HINFO"), ("week.example.org.", "A"),
                     ("1.2.0.192.in-addr.arpa.", "PTR"), ("WwW.ExAmPlE.OrG.", "A"),
                     ("web.example.org.", "AAAA")]
        s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        # The peer is up once it answers; then each question gets its reply.
        deadline = time.monotonic() + 60
        s.settimeout(0.5)
        while True:
            try:
                s.sendto(dns.message.make_query("example.org.", "SOA").to_wire(),
                         ("127.0.0.1", port))
                s.recvfrom(65535)
                break
            except (socket.timeout, ConnectionRefusedError):
                if time.monotonic() > deadline or proc.poll() is not None:
                    raise RuntimeError("nsd did not come up")
                time.sleep(0.1)
        s.settimeout(30)
        for name, rdtype in questions:
            q = dns.message.make_query(name, rdtype)
            s.sendto(q.to_wire(), ("127.0.0.1", port))
            while True:
                reply = s.recvfrom(65535)[0]
                if reply[:2] == q.to_wire()[:2]:
                    break
            out.append(reply)
        s.close()
    finally:
        proc.terminate()
        proc.wait(timeout=10)
        shutil.rmtree(d, ignore_errors=True)
    print(f"peer replies: {len(out)}", file=sys.stderr)
    return out


def built_replies():
    out = []
    q = dns.message.make_query("Host.Zone.ORG.", "A")
    r = dns.message.make_response(q)
    add = lambda sec, name, t, text, ttl=3600, cls="IN": sec.append(
        dns.rrset.from_text(name, ttl, cls, t, text))
    add(r.answer, "host.zone.org.", "A", "10.0.0.1", 8 * 86400)
    add(r.answer, "host.zone.org.", "CNAME", "alias.zone.org.")
    add(r.authority, "zone.org.", "NS", "ns.zone.org.")
    add(r.authority, "zone.org.", "SOA", "ns.zone.org. admin.zone.org. 4294967295 1 2 3 4")
    add(r.additional, "zone.org.", "MX", "10 mail.zone.org.")
    add(r.additional, "zone.org.", "TXT", '"abc" "d\\009"')
    add(r.additional, "_x._tcp.zone.org.", "SRV", "1 2 3 target.zone.org.")
    add(r.additional, "1.0.0.10.in-addr.arpa.", "PTR", "host.zone.org.")
    add(r.additional, "host.zone.org.", "AAAA", "2001:db8::1")
    out.append(r.to_wire())
    r2 = dns.message.make_response(dns.message.make_query("a.b.", "TXT"))
    r2.answer.append(dns.rrset.RRset(dns.name.from_text("a.b."), 3, 16))
    r2.answer[0].add(dns.rdata.GenericRdata(3, 16, b"\x03chs"), 60)
    out.append(r2.to_wire())
    return out


def header(qd=0, an=0, ns=0, ar=0):
    return struct.pack(">HBBHHHH", 0x1234, 0x81, 0x80, qd, an, ns, ar)


def rr(owner, t, c, ttl, rdata):
    return owner + struct.pack(">HHIH", t, c, ttl, len(rdata)) + rdata


def malformed():
    h1 = header(0, 1)
    return [
        header(0, 1) + b"\xc0\x0c" + struct.pack(">HHIH", 1, 1, 60, 4) + b"\x01\x02\x03\x04",  # self loop owner
        h1 + rr(b"\xc0\x0e\xc0\x0c", 1, 1, 60, b"\1\2\3\4"),  # two-pointer loop
        h1 + rr(b"\x01a\xc0\x0c", 1, 1, 60, b"\1\2\3\4"),  # label then loop
        h1 + rr(b"\x01a\xc3\xff", 1, 1, 60, b"\1\2\3\4"),  # pointer out of range
        h1 + rr(b"\x05ab", 1, 1, 60, b""),  # label past the end
        h1 + rr(b"\x03a b\x00", 1, 1, 60, b"\1\2\3\4"),  # blank in a label
        h1 + rr(b"\x03a.b\x00", 1, 1, 60, b"\1\2\3\4"),  # dot in a label
        h1 + rr(b"\x00", 1, 1, 60, b"\1\2\3"),  # short A
        h1 + rr(b"\x00", 15, 1, 60, b"\0\1"),  # MX without a name
        h1 + rr(b"\x00", 33, 1, 60, b"\0\1\0\2\0\3"),  # SRV without a name
        h1 + rr(b"\x00", 6, 1, 60, b"\x02ns\x00\x05admin\x00" + b"\1" * 19),  # short SOA
        h1 + rr(b"\x00", 16, 1, 60, b"\x05ab"),  # TXT string past the end
        h1 + rr(b"\x00", 2, 1, 60, b"\x03ab") + b"c\x00",  # NS name past its RDATA
        h1 + rr(b"\x00", 0x8001, 1, 60, b"\1\2\3\4"),  # type 32769 (15-bit trap)
        h1 + rr(b"\x00", 1, 0x8001, 60, b"\1\2\3\4"),  # class 32769 (15-bit trap)
        h1 + b"\x00" + struct.pack(">HHIH", 1, 1, 60, 0x8004) + b"\1\2\3\4",  # RDLENGTH 0x8004
        h1 + rr(b"\x00", 1, 1, 0x80000000, b"\1\2\3\4"),  # TTL 2^31
        header(0, 0x7fff, 0x7fff, 0x7fff),  # huge counts, no data
        header(1) + b"\x01q\x00\x00",  # question cut short
        header(1, 1) + b"\x40" + b"x" * 64 + b"\x00\x00\x01\x00\x01",  # label of 64
        header(0, 1) + b"\x00" * 9,  # nine bytes after the owner
        b"\x12\x34\x81",  # shorter than a header
        h1 + rr(b"\xc0\x0e", 1, 1, 60, b"\1\2\3\4") + rr(b"\x02ok\x00", 5, 1, 60, b"\xc0\x0c"),
    ]


def names_inputs(msgs):
    """fuzz_names: offset (2 bytes), span length (2 bytes), message."""
    out = []
    for m in msgs:
        for off in (12, 0, len(m) // 2, 0x3fff):
            out.append(struct.pack(">HH", off, 7) + m)
    out.append(struct.pack(">HH", 0, 255) + b"\x03abc\xc0\x00")
    out.append(struct.pack(">HH", 2, 255) + b"\xc0\x02\xc0\x00")
    out.append(struct.pack(">HH", 0, 255) + b"\x3f" + b"a" * 63 + b"\x00")
    out.append(struct.pack(">HH", 0, 255) + b"\xbf" + b"a" * 191 + b"\x00")
    return out


def zip_inputs(msgs):
    """fuzz_zipname: message length (2 bytes), message, name text."""
    names = [b"host.zone.org.", b"HOST.Zone.org", b"..a..b..", b"", b".", b"org.",
             b"x" * 63 + b".org", b"x" * 64 + b".org", b"a b.c", b"\x7f.x", b"mail.zone.org.",
             b"ns1.example.org.", b"_sip._tcp.example.org.", b"*.wild.card."]
    out = []
    for i, m in enumerate(msgs[:30]):
        for n in names[i % 3::3]:
            out.append(struct.pack(">H", len(m)) + m + n)
    return out


def write(target, inputs):
    d = os.path.join(CORPUS, target)
    os.makedirs(d, exist_ok=True)
    for old in os.listdir(d):
        os.remove(os.path.join(d, old))
    seen = set()
    for data in inputs:
        h = hashlib.sha1(data).hexdigest()
        if h in seen:
            continue
        seen.add(h)
        with open(os.path.join(d, h), "wb") as f:
            f.write(data)
    print(f"{target}: {len(seen)} seeds", file=sys.stderr)


def main():
    real = [] if "--no-peer" in sys.argv else peer_replies()
    msgs = real + built_replies() + malformed()
    write("fuzz_reply", msgs)
    write("fuzz_names", names_inputs(msgs))
    write("fuzz_zipname", zip_inputs(real + built_replies()) + zip_inputs(malformed()))


if __name__ == "__main__":
    main()
