"""Authoritative answers of a real kestserv, checked with dig and dnspython (never our codec)."""
import re
import socket
import struct
import subprocess
import time

import dns.flags
import dns.message
import dns.query
import dns.rcode
import dns.rdataclass
import dns.rdatatype
import pytest

from conftest import parse_ini, probe, probe_query, udp_exchange

ZONE = """\
@ 3600 SOA ns1 hostmaster 2026010101 7200 900 1209600 300
 3600 NS ns1
 3600 MX 10 mail
ns1 3600 A 10.0.0.1
mail 3600 A 10.0.0.25
www 3600 A 10.0.0.10
 3600 A 10.0.0.11
 3600 A 10.0.0.12
alias 3600 CNAME www
chain 7200 CNAME alias
_sip._udp.example.test. 3600 SRV 10 60 5060 sip
sip 3600 A 10.0.0.50
txt 3600 TXT "hello world" "second"
*.wild.example.test. 600 A 10.0.0.99
glued 3600 NS ns.glued.example.test.
ns.glued.example.test. 3600 A 10.0.0.60
noglue 3600 NS ns.elsewhere.net.
"""

REVERSE = """\
@ 3600 SOA ns1.example.test. hostmaster.example.test. 7 7200 900 1209600 300
 3600 NS ns1.example.test.
10 3600 PTR www.example.test.
"""


def crlf(text):
    return text.replace("\n", "\r\n").encode()


@pytest.fixture
def server(kestserv):
    k = kestserv()
    (k.home / "data" / "example.test.dns").write_bytes(crlf(ZONE))
    (k.home / "data" / "0.0.10.in-addr.arpa.dns").write_bytes(crlf(REVERSE))
    k.write_ini("DNSBind: 127.0.0.1\nDNSRecursion: 127.0.0.5\nLogDetail: NO\n")
    k.start()
    k.wait_for(r"   DNS service started on 127\.0\.0\.1$")
    k.wait_for(r"   Loading Zone: example\.test\.$")
    k.wait_for(r"   Loading Zone: 0\.0\.10\.in-addr\.arpa\.$")
    yield k
    assert k.stop() == 0


def ask(name, rdtype, source="127.0.0.5", rd=True, rdclass="IN"):
    q = dns.message.make_query(name, rdtype, rdclass)
    if not rd:
        q.flags &= ~dns.flags.RD
    return dns.query.udp(q, "127.0.0.1", source=source, timeout=30)


def rrs(msg, section):
    """Section records as (name, ttl, type, text) in message order."""
    out = []
    for rrset in getattr(msg, section):
        for rd in rrset:
            out.append((rrset.name.to_text(), rrset.ttl, dns.rdatatype.to_text(rrset.rdtype),
                        rd.to_text()))
    return out


def flags(msg):
    return dns.flags.to_text(msg.flags).split()


def test_exact_answer_with_authority_and_glue_rotating(server):
    r = ask("www.example.test.", "A")
    assert r.rcode() == dns.rcode.NOERROR
    assert sorted(flags(r)) == ["AA", "QR", "RA", "RD"]
    assert sorted(a[3] for a in rrs(r, "answer")) == ["10.0.0.10", "10.0.0.11", "10.0.0.12"]
    assert rrs(r, "authority") == [("example.test.", 3600, "NS", "ns1.example.test.")]
    assert rrs(r, "additional") == [("ns1.example.test.", 3600, "A", "10.0.0.1")]
    orders = [[a[3] for a in rrs(ask("www.example.test.", "A"), "answer")] for _ in range(3)]
    # Each reply moves the address run on by one place.
    assert len({o[0] for o in orders}) == 3
    for before, after in zip(orders, orders[1:]):
        assert after == before[1:] + before[:1]


def test_mx_srv_txt_ptr_and_their_additional_records(server):
    mx = ask("example.test.", "MX")
    assert rrs(mx, "answer") == [("example.test.", 3600, "MX", "10 mail.example.test.")]
    assert ("mail.example.test.", 3600, "A", "10.0.0.25") in rrs(mx, "additional")
    assert rrs(mx, "additional")[0] == ("mail.example.test.", 3600, "A", "10.0.0.25")

    srv = ask("_sip._udp.example.test.", "SRV")
    assert rrs(srv, "answer") == [("_sip._udp.example.test.", 3600, "SRV",
                                   "10 60 5060 sip.example.test.")]
    assert rrs(srv, "additional")[0] == ("sip.example.test.", 3600, "A", "10.0.0.50")

    txt = ask("txt.example.test.", "TXT")
    assert rrs(txt, "answer") == [("txt.example.test.", 3600, "TXT", '"hello world" "second"')]

    ptr = ask("10.0.0.10.in-addr.arpa.", "PTR")
    assert rrs(ptr, "answer") == [("10.0.0.10.in-addr.arpa.", 3600, "PTR", "www.example.test.")]
    assert dns.flags.AA & ptr.flags


def test_cname_chain_inside_own_zone(server):
    r = ask("chain.example.test.", "A")
    ans = rrs(r, "answer")
    assert ans[:2] == [("chain.example.test.", 7200, "CNAME", "alias.example.test."),
                       ("alias.example.test.", 3600, "CNAME", "www.example.test.")]
    assert sorted(a[3] for a in ans[2:]) == ["10.0.0.10", "10.0.0.11", "10.0.0.12"]
    assert dns.flags.AA & r.flags
    # Asked for the CNAME itself, the chain is not followed.
    assert rrs(ask("chain.example.test.", "CNAME"), "answer") == [ans[0]]


def test_name_error_no_data_and_wildcards(server):
    nx = ask("nope.example.test.", "A")
    assert nx.rcode() == dns.rcode.NXDOMAIN and dns.flags.AA & nx.flags
    assert rrs(nx, "answer") == []
    soa = rrs(nx, "authority")
    assert len(soa) == 1 and soa[0][2] == "SOA"
    assert soa[0][3] == "ns1.example.test. hostmaster.example.test. 2026010101 7200 900 1209600 300"

    nodata = ask("www.example.test.", "MX")
    assert nodata.rcode() == dns.rcode.NOERROR and rrs(nodata, "answer") == []
    assert [x[2] for x in rrs(nodata, "authority")] == ["SOA"]

    wild = ask("a.b.wild.example.test.", "A")
    assert rrs(wild, "answer") == [("a.b.wild.example.test.", 600, "A", "10.0.0.99")]
    assert rrs(wild, "authority") == [("example.test.", 3600, "NS", "ns1.example.test.")]
    assert wild.rcode() == dns.rcode.NOERROR


def test_delegations_without_recursion(server):
    r = ask("host.glued.example.test.", "A", rd=False)
    assert not dns.flags.AA & r.flags and not dns.flags.RD & r.flags
    assert rrs(r, "answer") == []
    assert rrs(r, "authority") == [("glued.example.test.", 3600, "NS", "ns.glued.example.test.")]
    assert rrs(r, "additional") == [("ns.glued.example.test.", 3600, "A", "10.0.0.60")]

    r = ask("host.noglue.example.test.", "A", rd=False)
    assert rrs(r, "authority") == [("noglue.example.test.", 3600, "NS", "ns.elsewhere.net.")]
    assert rrs(r, "additional") == []


def test_recursion_available_per_client(server):
    # 127.0.0.5 matches DNSRecursion; 127.0.0.9 does not.
    allowed = subprocess.run(["dig", "@127.0.0.1", "-b", "127.0.0.5", "+tries=1", "+time=30",
                              "www.example.test.", "A"], capture_output=True, text=True)
    refused = subprocess.run(["dig", "@127.0.0.1", "-b", "127.0.0.9", "+tries=1", "+time=30",
                              "www.example.test.", "A"], capture_output=True, text=True)
    assert "flags: qr aa rd ra;" in allowed.stdout, allowed.stdout
    assert "flags: qr aa rd;" in refused.stdout, refused.stdout
    assert "status: NOERROR" in refused.stdout
    # Outside own zones a client without recursion gets what is known: nothing.
    r = ask("www.elsewhere.net.", "A", source="127.0.0.9")
    assert r.rcode() == dns.rcode.NOERROR and not dns.flags.RA & r.flags
    assert rrs(r, "answer") == [] and rrs(r, "authority") == []


def raw_exchange(data, source="127.0.0.5", timeout=30.0):
    return udp_exchange(data, source, timeout)


def test_not_implemented_replies_byte_for_byte(server):
    for q in (dns.message.make_query("www.example.test.", "AAAA"),
              dns.message.make_query("version.bind.", "TXT", "CH")):
        wire = q.to_wire()
        reply = raw_exchange(wire)
        assert reply is not None
        assert reply[:2] == wire[:2]
        assert reply[2] == wire[2] | 0x80
        assert reply[3] == 0x84
        assert reply[4:] == wire[4:]
    inverse = bytearray(dns.message.make_query("www.example.test.", "A").to_wire())
    inverse[2] = (inverse[2] & ~0x78) | (1 << 3)
    reply = raw_exchange(bytes(inverse))
    assert reply[3] == 0x84 and reply[4:] == bytes(inverse[4:])
    server.wait_for(r"   Sending answer to 127\.0\.0\.5 about AAAA-record for www\.example\.test\.$")
    server.wait_for(r"CHAOS class record")


def test_malformed_queries_get_no_reply(server):
    q = bytearray(dns.message.make_query("www.example.test.", "A").to_wire())
    q[4:6] = b"\x00\x00"  # QDCOUNT 0
    malformed = [bytes(q),
                 b"\x12\x34\x01\x00\x00\x01\x00\x00\x00\x00\x00\x00\x03ww",  # name cut short
                 b"\x00" * 11]                                                    # no header
    incomplete = r"   Incomplete DNS Request from 127\.0\.0\.5$"
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind(("127.0.0.5", 0))
        s.settimeout(30)
        for wire in malformed:
            s.sendto(wire, ("127.0.0.1", 53))
        # The first two are logged; the third is too short to be. Once they are, a probe sent
        # after them is answered: any reply to them would have come first.
        server.wait_count(incomplete, 2)
        wire = probe_query()
        s.sendto(wire, ("127.0.0.1", 53))
        first = s.recv(65535)
        assert first[:2] == wire[:2] and first[2] & 0x80, first
    assert server.count(incomplete) == 2
    # Still answering.
    assert ask("www.example.test.", "A").rcode() == dns.rcode.NOERROR


def flood(wire, source, count, probe_source):
    """Sends count copies of a query from source at once; how many were answered."""
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind((source, 0))
        for _ in range(count):
            s.sendto(wire, ("127.0.0.1", 53))
        # A probe sent after them is handled after each of theirs has started (and been let
        # through or dropped); a handler that let the probe's run inside it is over by the time
        # a second probe is answered.
        probe(probe_source)
        probe(probe_source)
        answered = 0
        s.setblocking(False)
        while True:
            try:
                s.recv(65535)
            except BlockingIOError:
                return answered
            answered += 1


def test_flood_blocks_the_sender_and_blocks_file_is_written(kestserv):
    k = kestserv()
    (k.home / "data" / "example.test.dns").write_bytes(crlf(ZONE))
    k.write_ini("DNSBind: 127.0.0.1\nBombLevel: 5\nNoBlock: 127.0.0.8\n")
    k.start()
    k.wait_for(r"   Loading Zone: example\.test\.$")
    wire = dns.message.make_query("www.example.test.", "A").to_wire()
    # More than five requests in a run within a second from one address block it. The run's
    # clock is real: should the machine stall for a second inside the run of ten, a new run
    # starts and more get through; another address is tried then.
    blocked = None
    for source in ("127.0.0.7", "127.0.0.17", "127.0.0.27"):
        answered = flood(wire, source, 10, "127.0.0.9")
        assert answered >= 5, (source, answered)
        if answered == 5:
            blocked = source
            break
    assert blocked, "no run of ten requests was blocked after five"
    k.wait_for(r"   IP address " + re.escape(blocked) +
               r" blocked \(more than 5 Requests per second\)$")
    assert flood(wire, "127.0.0.8", 10, "127.0.0.9") == 10
    assert k.count(r"   IP address 127\.0\.0\.8 blocked") == 0
    # Once blocked, always blocked.
    assert flood(wire, blocked, 1, "127.0.0.9") == 0
    assert k.stop() == 0
    blocks = (k.home / "blocks.dat").read_bytes().decode().split("\r\n")
    assert blocks[0] == "; Kestrune - IP address blocks"
    assert blocked in blocks and "127.0.0.8" not in blocks


def send_reload(k, text, source="127.0.0.1"):
    port = int(dict(parse_ini(k.ini))["ReloadPort"])
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.bind((source, 0))
    s.sendto(text.encode(), ("127.0.0.1", port))
    s.close()


def wait_answer(name, rdtype, predicate, timeout=30.0, **kw):
    deadline = time.monotonic() + timeout
    while True:
        r = ask(name, rdtype, **kw)
        if predicate(r) or time.monotonic() > deadline:
            return r
        time.sleep(0.1)


def test_reload_port_commands_change_the_answers(server):
    data = server.home / "data"
    (data / "new.test.dns").write_bytes(crlf("@ 300 SOA ns1 hm 1 2 3 4 5\nhost 300 A 10.1.1.1\n"))
    loading = r"   Loading Zone: new\.test\.$"
    # Only 127.0.0.1 may send commands. A command from there sent after the other one is
    # handled after it: once it is, the other has been dropped.
    send_reload(server, "reload new.test", source="127.0.0.2")
    send_reload(server, "reload example.test")
    server.wait_count(r"   Loading Zone: example\.test\.$", 2)
    assert server.count(loading) == 0
    assert not dns.flags.AA & ask("host.new.test.", "A", rd=False).flags

    send_reload(server, "RELOAD P New.Test.")
    server.wait_count(loading, 1)
    r = wait_answer("host.new.test.", "A", lambda m: dns.flags.AA & m.flags, rd=False)
    assert rrs(r, "answer") == [("host.new.test.", 300, "A", "10.1.1.1")]

    # A zone file edited on disk is answered anew after "reload zone".
    (data / "new.test.dns").write_bytes(crlf("@ 300 SOA ns1 hm 2 2 3 4 5\nhost 300 A 10.1.1.2\n"))
    send_reload(server, "reload new.test")
    server.wait_count(loading, 2)
    r = wait_answer("host.new.test.", "A",
                    lambda m: rrs(m, "answer") and rrs(m, "answer")[0][3] == "10.1.1.2", rd=False)
    assert rrs(r, "answer") == [("host.new.test.", 300, "A", "10.1.1.2")]

    send_reload(server, "unload new.test")
    r = wait_answer("host.new.test.", "A", lambda m: not dns.flags.AA & m.flags, rd=False)
    assert not dns.flags.AA & r.flags and rrs(r, "answer") == []
    server.wait_for(r"   Removing Zone: new\.test\.$")

    # A full reload reads every file again.
    (data / "other.test.dns").write_bytes(crlf("@ 300 SOA ns1 hm 1 2 3 4 5\nx 300 A 10.2.2.2\n"))
    send_reload(server, "reload")
    server.wait_for(r"   Loading Zone: other\.test\.$")
    r = wait_answer("x.other.test.", "A", lambda m: dns.flags.AA & m.flags, rd=False)
    assert rrs(r, "answer") == [("x.other.test.", 300, "A", "10.2.2.2")]
    assert dns.flags.AA & ask("host.new.test.", "A", rd=False).flags
