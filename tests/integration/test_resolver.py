"""kestserv as a recursive resolver in the fake internet: answers checked with dig and dnspython
(never our codec), queries that leave counted at the peers' relays."""
import math
import os
import random
import re
import socket
import struct
import subprocess
import threading
import time

import dns.exception
import dns.flags
import dns.message
import dns.query
import dns.rcode
import dns.rdata
import dns.rdatatype
import dns.rrset
import pytest

from conftest import parse_ini, probe
from fakenet import answer_set

STARTED = r"   DNS service started on 127\.0\.0\.1$"
HINTS = r"   Loading Root DNS server records\.\.\.$"
RESOLVER = "127.0.0.1"
# How long a reply that must come may take, on the slowest machine: a bound, never a measure.
WAIT = 120


@pytest.fixture
def resolver(fake_internet, kestserv):
    """Starts kestserv in the fake internet with extra settings; waits until the hints are in."""

    def start(extra=""):
        k = fake_internet.install(kestserv(), extra)
        k.start()
        k.wait_for(STARTED)
        k.wait_for(HINTS)
        return k

    return start


def ask(name, rtype, source=RESOLVER, rd=True, timeout=WAIT):
    q = dns.message.make_query(name, rtype)
    if not rd:
        q.flags &= ~dns.flags.RD
    r = dns.query.udp(q, RESOLVER, source=source, timeout=timeout)
    assert r.id == q.id and r.flags & dns.flags.QR
    return r


def rcode(msg):
    return dns.rcode.to_text(msg.rcode())


def ttls(msg, section="answer"):
    return [rrset.ttl for rrset in getattr(msg, section)]


def soa_of(msg):
    """The authority section as [(zone, ttl)] of its SOA records, and whether it holds only them."""
    soas = [(r.name.to_text().lower(), r.ttl, len(r)) for r in msg.authority
            if r.rdtype == dns.rdatatype.SOA]
    return soas, len(soas) == len(msg.authority)


def dig(name, rtype, *opts, source=None):
    """dig through kestserv: (status, flags, answer set)."""
    cmd = ["dig", f"+time={WAIT}", "+tries=1", *opts, f"@{RESOLVER}", name, rtype]
    if source:
        cmd[1:1] = ["-b", source]
    out = subprocess.run(cmd, capture_output=True, text=True, timeout=2 * WAIT).stdout
    status, flags, section, answer = None, set(), None, set()
    for line in out.splitlines():
        if "status:" in line:
            status = line.split("status:")[1].split(",")[0].strip()
        elif line.startswith(";; flags:"):
            flags = set(line.split(":")[1].split(";")[0].split())
        elif line.startswith(";; ") and line.endswith(" SECTION:"):
            section = line[3:].split()[0]
        elif section == "ANSWER" and line and not line.startswith(";"):
            owner, _ttl, _cls, rtype_, data = line.split(None, 4)
            answer.add(f"{owner.lower()} {rtype_} {data if rtype_ == 'TXT' else data.lower()}")
    assert status, out
    return status, flags, answer


def asked(f, peer, name=None):
    """Questions (name, type) the peer got, optionally only for one name."""
    return [(q.qname, q.qtype) for q in f.queries(peer) if name is None or q.qname == name]


def within(name, zone):
    return zone == "." or name == zone or name.endswith("." + zone)


def ttl_window(full, since):
    """The TTLs a record given with TTL full at or after `since` (a monotonic time) may show
    now: counted down in whole seconds from full, never up."""
    gone = math.ceil(time.monotonic() - since) + 1
    return max(0, full - gone), full


class Burst:
    """Many questions from one client socket; replies collected by ID until a deadline."""

    def __init__(self, source=RESOLVER):
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.bind((source, 0))
        self.sent = {}      # id -> (name, type, time sent)
        self.replies = {}   # id -> (message, seconds taken)

    def send(self, name, rtype):
        q = dns.message.make_query(name, rtype)
        while q.id in self.sent:
            q.id = random.randint(1, 65535)
        self.sent[q.id] = (name, rtype, time.monotonic())
        self.sock.sendto(q.to_wire(), (RESOLVER, 53))
        return q.id

    def collect(self, timeout=WAIT, count=None):
        """Until every question (or count of them) has its reply, or the timeout has passed."""
        deadline = time.monotonic() + timeout
        while len(self.replies) < (len(self.sent) if count is None else count):
            left = deadline - time.monotonic()
            if left <= 0:
                break
            self.sock.settimeout(left)
            try:
                data = self.sock.recv(65535)
            except socket.timeout:
                break
            msg = dns.message.from_wire(data)
            assert msg.id in self.sent and msg.id not in self.replies, msg.id
            name, rtype, t0 = self.sent[msg.id]
            assert [(r.name.to_text().lower(), dns.rdatatype.to_text(r.rdtype))
                    for r in msg.question] == [(name, rtype)]
            self.replies[msg.id] = (msg, time.monotonic() - t0)
        return self.replies

    def extra(self):
        """Replies waiting now that no question asked for (a reply twice, say)."""
        out = []
        self.sock.setblocking(False)
        try:
            while True:
                out.append(dns.message.from_wire(self.sock.recv(65535)))
        except BlockingIOError:
            return out
        finally:
            self.sock.setblocking(True)

    def by_name(self):
        return {self.sent[i][0]: m for i, (m, _) in self.replies.items()}

    def close(self):
        self.sock.close()


# ---------------------------------------------------------------------------------------------
# Resolution and the cache


def test_every_leaf_zone_resolves_and_the_second_asking_stays_inside(fake_internet, resolver):
    f = fake_internet
    k = resolver()
    positive = {q: e for q, e in f.answers.items() if e.answer and q[0] not in f.short_ttl}
    first = {}
    for (name, rtype), want in positive.items():
        r = ask(name, rtype)
        assert (rcode(r), answer_set(r)) == (want.rcode, set(want.answer)), (name, rtype)
        assert r.flags & dns.flags.RA and r.flags & dns.flags.RD, name
        first[(name, rtype)] = r
    # Every leaf zone was asked at the server that holds it.
    for zone in f.leaf_zones:
        peer = f.zones[zone].peer
        assert any(within(n, zone) for n, _ in asked(f, peer)), zone
    # The glueless zone's server address was looked up at the zone that holds it.
    assert ("ns.hoster.example.", "A") in asked(f, "knot")
    # Query IDs are drawn at random within 1 to 32767, not counted up.
    sent = sorted((q for p in f.peers for q in f.queries(p)), key=lambda q: q.when)
    ids = [q.id for q in sent]
    assert len(ids) >= 30 and all(1 <= i <= 32767 for i in ids), ids
    assert sum(b - a == 1 for a, b in zip(ids, ids[1:])) < len(ids) // 4, ids
    assert len(set(ids)) > len(ids) * 0.9, ids
    # Queries to authoritative servers do not ask for recursion.
    assert not any(q.rd for q in sent)
    # dig sees the same.
    for name, rtype in (("www.alpha.test.", "A"), ("www.glueless.test.", "A"),
                        ("chain.alpha.test.", "A"), ("beta.example.", "MX")):
        status, flags, answer = dig(name, rtype)
        assert (status, answer) == ("NOERROR", set(positive[(name, rtype)].answer)), name
        assert {"qr", "rd", "ra"} <= flags

    f.reset_counts()
    for (name, rtype), want in positive.items():
        r = ask(name, rtype)
        assert (rcode(r), answer_set(r)) == (want.rcode, set(want.answer)), (name, rtype)
        # TTLs run down from what the first answer said, never up.
        before = {(x.name, x.rdtype): x.ttl for x in first[(name, rtype)].answer}
        for rrset in r.answer:
            assert rrset.ttl <= before[(rrset.name, rrset.rdtype)], (name, rrset)
    assert f.counts() == {p: 0 for p in f.peers}
    assert k.running()
    f.check()


def test_identical_questions_at_once_make_one_resolution(fake_internet, resolver):
    f = fake_internet
    resolver()
    held = []
    f.tamper("bind", lambda wire: held.append(wire))   # hold bind's replies back
    a, b = Burst(), Burst()
    try:
        ida, idb = a.send("www.gamma.test.", "A"), b.send("www.gamma.test.", "A")
        deadline = time.monotonic() + WAIT
        while not held:
            assert time.monotonic() < deadline, "no query reached bind"
            time.sleep(0.02)
        f.tamper("bind", None)
        f.send_as("bind", held[-1], RESOLVER)
        for burst, qid in ((a, ida), (b, idb)):
            burst.collect()
            msg, _ = burst.replies[qid]
            assert answer_set(msg) == set(f.answers[("www.gamma.test.", "A")].answer)
        assert asked(f, "bind", "www.gamma.test.") == [("www.gamma.test.", "A")] * len(held)
        assert len(held) == 1
    finally:
        a.close()
        b.close()


def test_name_errors_and_no_data_are_cached_with_their_soa(fake_internet, resolver):
    f = fake_internet
    resolver()
    # The root's own negative answers are left out: its SOA shares the name "." with the
    # permanent root hints, which keep every learnt record of that name out of the cache.
    cases = [q for q in f.nxdomain + f.nodata
             if f.zones[f.answers[q].soa_zone].negative_ttl >= 60 and f.answers[q].soa_zone != "."]
    assert len(cases) >= 5
    for name, rtype in cases:
        want = f.answers[(name, rtype)]
        r = ask(name, rtype)
        assert (rcode(r), r.answer) == (want.rcode, []), name
        soas, only = soa_of(r)
        assert only and [(z, n) for z, _, n in soas] == [(want.soa_zone, 1)], name
        assert soas[0][1] <= f.zones[want.soa_zone].negative_ttl
    f.reset_counts()
    for name, rtype in cases:
        want = f.answers[(name, rtype)]
        r = ask(name, rtype)
        assert (rcode(r), r.answer) == (want.rcode, []), name
        soas, only = soa_of(r)
        assert only and [(z, n) for z, _, n in soas] == [(want.soa_zone, 1)], name
        assert 0 <= soas[0][1] <= f.zones[want.soa_zone].negative_ttl, name
    assert f.total() == 0
    # A no-data answer says nothing about the name's other types.
    r = ask("www.alpha.test.", "A")
    assert answer_set(r) == set(f.answers[("www.alpha.test.", "A")].answer)


def test_short_lived_answers_are_asked_again_once_they_run_out(fake_internet, resolver):
    f = fake_internet
    resolver()
    short = [("nosuch.gamma.test.", "A"), ("www.gamma.test.", "MX"), ("brief.alpha.test.", "A")]
    assert f.zones["gamma.test."].negative_ttl == 2 and f.short_ttl["brief.alpha.test."] == 2

    def check(name, rtype):
        r = ask(name, rtype)
        want = f.answers[(name, rtype)]
        assert (rcode(r), answer_set(r)) == (want.rcode, set(want.answer)), name
        return r

    # Each is learnt, then answered from the cache while it lasts. Its two seconds are real
    # time: should the machine stall that long between the two questions, it is asked again
    # and the pair is tried anew.
    for q in short:
        for _ in range(10):
            check(*q)
            f.reset_counts()
            check(*q)
            if f.total() == 0:
                break
        else:
            pytest.fail(f"{q} was never answered from the cache")
    # Each is asked again, until its server is asked once more: once it ran out.
    f.reset_counts()
    peer = {"nosuch.gamma.test.": "bind", "www.gamma.test.": "bind", "brief.alpha.test.": "leaf"}
    pending = list(short)
    deadline = time.monotonic() + WAIT
    while pending:
        for q in list(pending):
            check(*q)
            if asked(f, peer[q[0]], q[0]):
                pending.remove(q)
        assert time.monotonic() < deadline, f"still answered from the cache: {pending}"
        time.sleep(0.2)
    assert asked(f, "bind", "nosuch.gamma.test.") == [("nosuch.gamma.test.", "A")]
    assert asked(f, "bind", "www.gamma.test.") == [("www.gamma.test.", "MX")]
    assert asked(f, "leaf", "brief.alpha.test.") == [("brief.alpha.test.", "A")]
    # The delegations live longer than the records: only the leaf servers were asked.
    assert f.count("root") == 0 and f.count("knot") == 0


def test_cname_questions_and_a_cname_loop_across_zones(fake_internet, resolver):
    f = fake_internet
    resolver()
    # Asked for the CNAME itself, the chain is not followed.
    r = ask("ftp.alpha.test.", "CNAME")
    assert answer_set(r) == {"ftp.alpha.test. CNAME www.beta.example."}
    assert f.count("knot") == 1   # the TLD test.'s referral, nothing in beta.example.
    (name, chain), = f.cname_loop.items()
    f.reset_counts()
    r = ask(name, "A")
    assert rcode(r) == "NOERROR" and answer_set(r) == set(chain)
    assert f.total() < 20
    f.reset_counts()
    r = ask(name, "A")
    assert answer_set(r) == set(chain) and f.total() == 0


def test_auto_cname_folds_a_chain_across_zones_into_its_target(fake_internet, resolver):
    f = fake_internet
    resolver("AutoCNAME: YES")
    r = ask("chain.alpha.test.", "A")
    assert answer_set(r) == {"chain.alpha.test. A 192.0.2.40"}
    # The folded record keeps the smallest TTL of the chain.
    assert r.answer[0].ttl <= min(f.zones[z].ttl for z in ("alpha.test.", "beta.example.",
                                                           "gamma.test.", "glueless.test."))
    r = ask("brief.alpha.test.", "A")
    assert answer_set(r) == {"brief.alpha.test. A 192.0.2.13"}


def test_lame_server_is_dropped_and_the_zone_still_resolves(fake_internet, resolver):
    f = fake_internet
    k = resolver()
    (good_name, lame_ip), = f.lame_but_resolves.items()
    # The choice between the two servers is random: ask new names until the lame one was tried.
    # Name errors only: a positive answer's authority section would teach both servers again.
    # The root is also asked once as the root, on the way down.
    for i in range(12):
        if len([n for n, _ in asked(f, lame_ip) if within(n, "mixed.test.")]) >= 2:
            break
        r = ask(f"nosuch{i}.mixed.test.", "A")
        assert rcode(r) == "NXDOMAIN", i
    else:
        pytest.fail("the lame server of mixed.test. was never asked")
    k.wait_for(r"   \*\* Error: Lame delegation for mixed\.test\. on ns2\.mixed\.test\. "
               r"\(127\.0\.0\.2\)$")
    # Once dropped, it is never asked about the zone again.
    f.reset_counts()
    for i in range(6):
        assert rcode(ask(f"other{i}.mixed.test.", "A")) == "NXDOMAIN"
    r = ask(good_name, "A")
    assert answer_set(r) == set(f.answers[(good_name, "A")].answer)
    assert f.count(lame_ip) == 0 and f.count("leaf") == 7
    # A zone whose servers are all lame ends in server failure after both were tried.
    f.reset_counts()
    r = ask("www.lame.example.", "A")
    assert rcode(r) == "SERVFAIL" and not r.answer
    assert asked(f, "leaf", "www.lame.example.") == [("www.lame.example.", "A")]
    assert ("www.lame.example.", "A") in asked(f, "root")


def test_delegation_to_this_server_is_lame_and_never_asked(fake_internet, resolver):
    f = fake_internet

    def glue_to_us(wire):
        msg = dns.message.from_wire(wire)
        for rrset in msg.additional:
            if rrset.name.to_text() == "ns1.alpha.test.":
                rrset.clear()
                rrset.add(dns.rdata.from_text("IN", "A", RESOLVER))
        return msg.to_wire()

    k = resolver()
    f.tamper("knot", glue_to_us)
    r = ask("www.alpha.test.", "A")
    assert rcode(r) == "SERVFAIL" and not r.answer
    k.wait_for(r"   \*\* Error: Lame delegation on this server \(127\.0\.0\.1\) for alpha\.test\.$")
    assert f.count("leaf") == 0
    # It never sent the question to itself: had it, the question would have been handled before
    # a probe sent now.
    probe(source=RESOLVER)
    assert sum("Request from 127.0.0.1 for A-record for www.alpha.test." in line
               for line in k.lines) == 1


def test_unanswerable_names_end_in_server_failure(fake_internet, resolver):
    f = fake_internet
    k = resolver()
    burst = Burst()
    try:
        for name in f.unresolvable:
            burst.send(name, "A")
        burst.collect()
        names = burst.by_name()
        assert set(names) == set(f.unresolvable)
        for name, msg in names.items():
            assert rcode(msg) == "SERVFAIL" and not msg.answer, name
    finally:
        burst.close()
    # The silent server got the query and its retries: four plus the last one.
    assert asked(f, "silent") == [("www.dead.test.", "A")] * 5
    # Glueless servers that need each other: the look-ups nest only so deep.
    cycle = [q for p in f.peers for q in asked(f, p) if "cycle" in q[0]]
    assert 0 < len(cycle) < 40
    r = ask("www.alpha.test.", "A")
    assert answer_set(r) == set(f.answers[("www.alpha.test.", "A")].answer)
    assert k.running()


def test_min_time_out_keeps_a_silent_server_longer(fake_internet, resolver):
    f = fake_internet
    resolver("MinTimeOut: 6")
    r = ask("www.dead.test.", "A")
    assert rcode(r) == "SERVFAIL"
    # Beyond the four tries and the last one, it kept asking while the time was not yet up.
    assert len(asked(f, "silent")) > 5


def test_half_dead_zone_resolves_through_its_live_server(fake_internet, resolver):
    f = fake_internet
    resolver()
    (name, silent_ip), = f.slow_but_resolves.items()
    f.mute("leaf")           # the live server is dead too for a while: the silent one is tried
    burst = Burst()
    try:
        qid = burst.send(name, "A")
        deadline = time.monotonic() + WAIT
        while not asked(f, silent_ip, name) or not asked(f, "leaf", name):
            assert time.monotonic() < deadline, f.counts()
            time.sleep(0.05)
        f.mute("leaf", False)
        burst.collect()
        msg, _ = burst.replies[qid]
        assert answer_set(msg) == set(f.answers[(name, "A")].answer)
    finally:
        burst.close()


# ---------------------------------------------------------------------------------------------
# Replies that must change nothing


def _reply(qname, qtype, qid, answers=(), aa=True):
    """A reply message built with dnspython; answers are (name, type, data) triples."""
    r = dns.message.make_response(dns.message.make_query(qname, qtype))
    r.id = qid
    if aa:
        r.flags |= dns.flags.AA
    for name, rtype, data in answers:
        r.answer.append(dns.rrset.from_text(name, 3600, "IN", rtype, data))
    return r.to_wire()


def test_forged_replies_are_ignored_and_never_cached(fake_internet, resolver):
    f = fake_internet
    resolver()
    # Unsolicited replies, before anyone asked: a plausible one from the server that holds the
    # name, and one from the root about a name it would never answer.
    for qid in (1, 77, 4242, 32767):
        f.send_as("bind", _reply("www.gamma.test.", "A", qid,
                                 [("www.gamma.test.", "A", "6.6.6.5")]), RESOLVER)
        f.send_as("root", _reply("www.beta.example.", "A", qid,
                                 [("www.beta.example.", "A", "6.6.6.6")]), RESOLVER)
    assert answer_set(ask("alpha.test.", "A")) == {"alpha.test. A 192.0.2.1"}   # learns the zone
    held = []
    f.tamper("leaf", lambda wire: held.append(wire))
    client = Burst()
    try:
        qid = client.send("www.alpha.test.", "A")
        deadline = time.monotonic() + WAIT
        while not held:
            assert time.monotonic() < deadline, "no query reached the leaf"
            time.sleep(0.02)
        real = dns.message.from_wire(held[-1])
        seen = {q.id for q in f.queries("leaf")}
        wrong_id = next(i for i in range(real.id + 1, real.id + 100) if (i & 0x7FFF) not in seen)
        wrong_id &= 0x7FFF
        www = [("www.alpha.test.", "A", "6.6.6.1")]
        f.send_as("leaf", _reply("www.alpha.test.", "A", wrong_id, www), RESOLVER)
        f.send_as("knot", _reply("www.alpha.test.", "A", real.id, www), RESOLVER)
        f.send_as("root", _reply("www.alpha.test.", "A", real.id, www), RESOLVER)
        f.send_as("leaf", _reply("mail.alpha.test.", "A", real.id,
                                 [("mail.alpha.test.", "A", "6.6.6.2")] + www), RESOLVER)
        f.send_as("leaf", _reply("www.alpha.test.", "TXT", real.id,
                                 www + [("www.alpha.test.", "TXT", '"forged"')]), RESOLVER)
        # Forgeries come first in the socket's queue; then the real reply is let through.
        f.tamper("leaf", None)
        f.send_as("leaf", held[-1], RESOLVER)
        client.collect()
        msg, _ = client.replies[qid]
        assert answer_set(msg) == {"www.alpha.test. A 192.0.2.10"}
    finally:
        f.tamper("leaf", None)
        client.close()
    f.reset_counts()
    assert answer_set(ask("www.alpha.test.", "A")) == {"www.alpha.test. A 192.0.2.10"}
    assert f.total() == 0
    assert answer_set(ask("mail.alpha.test.", "A")) == {"mail.alpha.test. A 192.0.2.25"}
    assert answer_set(ask("www.gamma.test.", "A")) == {"www.gamma.test. A 192.0.2.30"}
    assert answer_set(ask("www.beta.example.", "A")) == {"www.beta.example. A 192.0.2.20"}
    assert rcode(ask("www.alpha.test.", "TXT")) == "NOERROR"
    assert not ask("www.alpha.test.", "TXT").answer
    # None of these came from the cache: each was asked where it lives.
    assert asked(f, "leaf", "mail.alpha.test.") == [("mail.alpha.test.", "A")]
    assert ("www.gamma.test.", "A") in asked(f, "bind")
    assert ("www.beta.example.", "A") in asked(f, "knot")
    f.check()


def test_ttls_longer_than_a_week_are_cut_to_a_week(fake_internet, resolver):
    f = fake_internet
    resolver()

    def eight_days(wire):
        msg = dns.message.from_wire(wire)
        for rrset in msg.answer:
            rrset.ttl = 8 * 86400
        return msg.to_wire()

    f.tamper("leaf", eight_days)
    since = time.monotonic()
    r = ask("www.alpha.test.", "A")
    f.tamper("leaf", None)
    assert answer_set(r) == {"www.alpha.test. A 192.0.2.10"}
    week = 7 * 86400
    lo, hi = ttl_window(week, since)
    assert lo <= r.answer[0].ttl <= hi
    f.reset_counts()
    r = ask("www.alpha.test.", "A")
    lo, hi = ttl_window(week, since)
    assert lo <= r.answer[0].ttl <= hi and f.total() == 0


def test_records_outside_the_asked_zone_are_dropped_with_spoof_secure(fake_internet, resolver):
    f = fake_internet
    resolver("SpoofSecure: YES")

    def add_foreign(wire):
        msg = dns.message.from_wire(wire)
        msg.additional.append(dns.rrset.from_text("www.beta.example.", 3600, "IN", "A", "6.6.6.7"))
        return msg.to_wire()

    f.tamper("leaf", add_foreign)
    assert answer_set(ask("www.alpha.test.", "A")) == {"www.alpha.test. A 192.0.2.10"}
    f.tamper("leaf", None)
    f.reset_counts()
    assert answer_set(ask("www.beta.example.", "A")) == {"www.beta.example. A 192.0.2.20"}
    assert ("www.beta.example.", "A") in asked(f, "knot")
    # What the zone's own server said is cached as usual.
    f.reset_counts()
    assert answer_set(ask("www.alpha.test.", "A")) == {"www.alpha.test. A 192.0.2.10"}
    assert f.total() == 0


def _pointer_loop(wire):
    """The reply with its first answer's owner replaced by a compression pointer to itself."""
    msg = dns.message.from_wire(wire)
    head = struct.pack("!HHHHHH", msg.id, 0x8400, 1, 1, 0, 0)
    q = msg.question[0]
    body = head + q.name.to_wire() + struct.pack("!HH", q.rdtype, 1)
    return body + struct.pack("!H", 0xC000 | len(body)) + struct.pack("!HHIH", 1, 1, 3600, 4) + \
        bytes([6, 6, 6, 8])


BROKEN = {
    # question -> how the leaf's reply to it is spoilt, and the answer once it is not
    ("www.alpha.test.", "A"): (lambda w: w[:12], {"www.alpha.test. A 192.0.2.10"}),  # header
    ("mail.alpha.test.", "A"): (lambda w: w[:20], {"mail.alpha.test. A 192.0.2.25"}),  # question
    ("multi.alpha.test.", "A"): (lambda w: w[:-6], {"multi.alpha.test. A 192.0.2.11",  # records
                                                    "multi.alpha.test. A 192.0.2.12"}),
    ("sip.alpha.test.", "A"): (lambda w: w[:2] + bytes([0x84, 0]) + os.urandom(60),   # garbage
                               {"sip.alpha.test. A 192.0.2.50"}),
    ("alpha.test.", "A"): (_pointer_loop, {"alpha.test. A 192.0.2.1"}),          # endless name
    ("ftp.alpha.test.", "A"): (lambda w: os.urandom(3),                          # too short
                               {"ftp.alpha.test. CNAME www.beta.example.",
                                "www.beta.example. A 192.0.2.20"}),
    ("_sip._udp.alpha.test.", "SRV"): (lambda w: w[:2] + bytes([w[2] | 0x02]) + w[3:],  # TC set
                                       {"_sip._udp.alpha.test. SRV 10 60 5060 sip.alpha.test."}),
}
TRUNCATED_BUT_WHOLE = ("_sip._udp.alpha.test.", "SRV")


def test_truncated_and_garbage_replies_change_nothing_and_crash_nothing(fake_internet, resolver):
    f = fake_internet
    k = resolver()
    assert answer_set(ask("alpha.test.", "TXT"))   # learns the zone's server

    def spoil(wire):
        q = dns.message.from_wire(wire).question[0]
        key = (q.name.to_text().lower(), dns.rdatatype.to_text(q.rdtype))
        return BROKEN[key][0](wire) if key in BROKEN else wire

    f.tamper("leaf", spoil)
    burst = Burst()
    try:
        for name, rtype in BROKEN:
            burst.send(name, rtype)
        # Garbage straight at the resolver's port too, as replies and as queries.
        for peer in ("leaf", "root"):
            for n in (12, 13, 40, 300):
                f.send_as(peer, bytes([0x12, 0x34, 0x84, 0x00]) + os.urandom(n - 4), RESOLVER)
                f.send_as(peer, bytes([0x12, 0x34, 0x01, 0x00]) + os.urandom(n - 4), RESOLVER)
        burst.collect()
        for name, msg in burst.by_name().items():
            assert "6.6.6.8" not in str(msg), name
        # A complete reply flagged truncated still answers the question.
        assert answer_set(burst.by_name()[TRUNCATED_BUT_WHOLE[0]]) == BROKEN[TRUNCATED_BUT_WHOLE][1]
    finally:
        burst.close()
        f.tamper("leaf", None)
    assert k.running()
    k.wait_for(r"   -> Incomplete\.\.\.$")
    # Nothing of the spoilt replies stayed: every name is asked again and answered right.
    f.reset_counts()
    for (name, rtype), (_, want) in BROKEN.items():
        r = ask(name, rtype)
        assert answer_set(r) == want, name
    assert all(asked(f, "leaf", name) for name, _ in BROKEN)
    assert k.running()
    f.check()


# ---------------------------------------------------------------------------------------------
# Cache files, hosts file, forwarding, limits, recursion per client


def cache_file_records(raw):
    """The saved cache file as {(owner, type, data): ttl}; a line starting blank keeps the owner."""
    out, owner = {}, None
    for line in raw.decode().split("\r\n")[1:]:
        if not line:
            continue
        words = line.split()
        if not line[0].isspace():
            owner = words.pop(0)
        assert owner, line
        out[(owner, words[1], " ".join(words[2:]))] = int(words[0])
    return out


def test_cache_is_saved_at_shutdown_and_loaded_at_start(fake_internet, resolver):
    f = fake_internet
    k = resolver("CacheReload: YES")
    names = [("www.alpha.test.", "A"), ("ftp.alpha.test.", "A"), ("beta.example.", "MX"),
             ("www.glueless.test.", "A"), ("brief.alpha.test.", "A")]
    since = time.monotonic()
    first = {q: ask(*q) for q in names}
    assert k.stop() == 0
    cache = k.home / "named.cache"
    text = cache.read_bytes()
    assert text.startswith(b"; Kestrune - Cache\r\n")
    saved = cache_file_records(text)
    assert ("www.alpha.test.", "A", "192.0.2.10") in saved
    assert ("ftp.alpha.test.", "CNAME", "www.beta.example.") in saved
    assert ("beta.example.", "MX", "5 mx.beta.example.") in saved
    assert ("glueless.test.", "NS", "ns.hoster.example.") in saved
    lo, hi = ttl_window(f.zones["alpha.test."].ttl, since)
    assert lo <= saved[("www.alpha.test.", "A", "192.0.2.10")] <= hi
    # Root hints are permanent: not in the saved cache.
    assert not any(rec[0] == "a.root.test." for rec in saved)

    # The file is made ten minutes older, as if the server had been down that long: brief's two
    # seconds have passed, the others have as long left as they had less those ten minutes.
    age = 600
    st = cache.stat()
    os.utime(cache, ns=(st.st_atime_ns, st.st_mtime_ns - age * 10**9))
    k2 = resolver("CacheReload: YES")
    k2.wait_for(r"   Loading Cache\.\.\.$")
    f.reset_counts()
    for q in names[:-1]:
        r = ask(*q)
        assert answer_set(r) == answer_set(first[q]), q
        # The file's age was taken off: the TTLs are below those first given by that much.
        before = {(x.name, x.rdtype): x.ttl for x in first[q].answer}
        for rrset in r.answer:
            assert rrset.ttl < before[(rrset.name, rrset.rdtype)], (q, rrset)
            for rd in rrset:
                key = (rrset.name.to_text().lower(), dns.rdatatype.to_text(rrset.rdtype),
                       rd.to_text().lower())
                assert rrset.ttl <= saved[key] - age, (q, rrset, saved[key])
    assert f.total() == 0
    # The record that ran out while the server was down is asked for again.
    assert answer_set(ask("brief.alpha.test.", "A")) == {"brief.alpha.test. A 192.0.2.13"}
    assert asked(f, "leaf") == [("brief.alpha.test.", "A")]
    assert k2.stop() == 0
    # Without the setting nothing is read back.
    k3 = resolver()
    f.reset_counts()
    assert answer_set(ask("www.alpha.test.", "A")) == {"www.alpha.test. A 192.0.2.10"}
    assert f.total() > 0
    assert not any("Loading Cache" in line for line in k3.lines)


HOSTS = """\
# test hosts file
127.1.2.3   www.beta.example  HostAlias  # the name is also served out there
127.1.2.4\tMyHost.Local
127.1.2.5
::1 v6host
127.1.2.6 ...
127.1.2.7 !!!
"""


def test_hosts_file_names_are_answered_and_never_overwritten(fake_internet, resolver, kest_home):
    f = fake_internet
    hosts = kest_home / "hosts.txt"
    hosts.write_text(HOSTS)
    since = time.monotonic()
    k = resolver(f"Hosts: {hosts}\nHostsTTL: 1234")
    k.wait_for(r'   Loading hosts file "' + re.escape(str(hosts).lower()) + r'"\.\.\.$')
    f.reset_counts()
    r = ask("www.beta.example.", "A")
    assert answer_set(r) == {"www.beta.example. A 127.1.2.3"}
    lo, hi = ttl_window(1234, since)
    assert lo <= r.answer[0].ttl <= hi
    assert answer_set(ask("myhost.local.", "A")) == {"myhost.local. A 127.1.2.4"}
    assert answer_set(ask("hostalias.", "A")) == {"hostalias. CNAME www.beta.example.",
                                                  "www.beta.example. A 127.1.2.3"}
    assert answer_set(ask("3.2.1.127.in-addr.arpa.", "PTR")) == \
        {"3.2.1.127.in-addr.arpa. PTR www.beta.example."}
    assert f.total() == 0
    # Resolution that meets the name (a CNAME to it, an SRV whose target it is, with its address
    # in the additional section) leaves the hosts file's address in place.
    r = ask("ftp.alpha.test.", "A")
    assert answer_set(r) == {"ftp.alpha.test. CNAME www.beta.example.",
                             "www.beta.example. A 127.1.2.3"}
    r = ask("_ldap._tcp.beta.example.", "SRV")
    assert answer_set(r) == set(f.answers[("_ldap._tcp.beta.example.", "SRV")].answer)
    assert ("_ldap._tcp.beta.example.", "SRV") in asked(f, "knot")
    for _ in range(2):
        r = ask("www.beta.example.", "A")
        assert answer_set(r) == {"www.beta.example. A 127.1.2.3"}
    assert ("www.beta.example.", "A") not in asked(f, "knot")
    # The IPv6 line gives nothing: the name is looked for outside and does not exist.
    r = ask("v6host.", "A")
    assert rcode(r) == "NXDOMAIN" and not r.answer
    # Names that clean to nothing give no record of the root.
    r = ask(".", "A")
    assert rcode(r) == "NOERROR" and not r.answer
    # A full reload over the reload port reads the hosts file again: the old names are gone.
    hosts.write_text("127.1.2.8 other.host\n")
    port = None
    deadline = time.monotonic() + WAIT
    while port is None:
        port = next((v for key, v in parse_ini(k.ini) if key == "ReloadPort"), None)
        assert port or time.monotonic() < deadline, "ReloadPort never written"
        time.sleep(0.05)
    loads = sum("Loading hosts file" in line for line in k.lines)
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as ctl:
        ctl.sendto(b"reload", ("127.0.0.1", int(port)))
    deadline = time.monotonic() + WAIT
    while sum("Loading hosts file" in line for line in k.lines) == loads:
        assert time.monotonic() < deadline, "the hosts file was not read again"
        time.sleep(0.05)
    assert answer_set(ask("other.host.", "A")) == {"other.host. A 127.1.2.8"}
    f.reset_counts()
    assert answer_set(ask("www.beta.example.", "A")) == {"www.beta.example. A 192.0.2.20"}
    assert ("www.beta.example.", "A") in asked(f, "knot")


OWN_TEST_ZONE = """\
@ 3600 SOA ns1.nic hostmaster.nic 2026120901 7200 900 1209600 300
 3600 NS ns1.nic
ns1.nic 3600 A 127.0.0.3
alpha 3600 NS ns1.alpha
ns1.alpha 3600 A 127.0.0.5
away 3600 CNAME www.beta.example.
"""


def test_own_zone_delegation_and_cname_leading_outside(fake_internet, resolver, kest_home):
    f = fake_internet
    (kest_home / "data" / "test.dns").write_bytes(OWN_TEST_ZONE.replace("\n", "\r\n").encode())
    k = resolver()
    k.wait_for(r"   Loading Zone: test\.$")
    # The own zone's delegation is followed straight to the leaf; no root, no TLD.
    for _ in range(2):
        r = ask("www.alpha.test.", "A")
        assert answer_set(r) == {"www.alpha.test. A 192.0.2.10"}
    assert f.count("root") == 0 and f.count("knot") == 0
    # Below the own zone's delegation the answer is cached like any other.
    assert asked(f, "leaf", "www.alpha.test.") == [("www.alpha.test.", "A")]
    r = ask("away.test.", "A")
    assert [(x.name.to_text(), dns.rdatatype.to_text(x.rdtype)) for x in r.answer][0] == \
        ("away.test.", "CNAME")
    assert answer_set(r) == {"away.test. CNAME www.beta.example.", "www.beta.example. A 192.0.2.20"}
    assert ("www.beta.example.", "A") in asked(f, "knot")


def test_forwarding_goes_only_to_the_configured_servers(fake_internet, resolver):
    f = fake_internet
    k = resolver(f"RecursionOut: YES\nNS: {f.silent_ip}\nNS: {f.ip('bind')}")
    for _ in range(2):
        r = ask("www.gamma.test.", "A")
        assert answer_set(r) == set(f.answers[("www.gamma.test.", "A")].answer)
    r = ask("nosuch.gamma.test.", "A")
    assert rcode(r) == "NXDOMAIN"
    counts = f.counts()
    assert counts["root"] == counts["knot"] == counts["leaf"] == 0, counts
    assert counts["bind"] >= 1
    for peer in ("bind", "silent"):
        for q in f.queries(peer):
            assert q.rd, (peer, q)
    # A forwarder that cannot help (bind refuses names outside its zones) leaves the other.
    assert k.stop() == 0
    k = resolver(f"RecursionOut: YES\nNS: {f.ip('bind')}\nNS: {f.ip('leaf')}")
    f.reset_counts()
    for q in (("www.alpha.test.", "A"), ("multi.alpha.test.", "A"), ("alpha.test.", "MX")):
        r = ask(*q)
        assert answer_set(r) == set(f.answers[q].answer), q
    assert f.count("root") == f.count("knot") == 0
    assert k.stop() == 0
    # Forwarding without servers: server failure, nothing sent.
    resolver("RecursionOut: YES")
    f.reset_counts()
    r = ask("www.alpha.test.", "A")
    assert rcode(r) == "SERVFAIL" and f.total() == 0


def test_burst_of_distinct_questions_stays_within_the_job_limit(fake_internet, resolver):
    f = fake_internet
    k = resolver()
    burst = Burst()
    try:
        # Each of these waits on the silent server, so the jobs pile up.
        names = [f"h{i}.dead.test." for i in range(150)]
        for name in names:
            burst.send(name, "A")
        # Two probes answered at once (no look-up), sent after the burst, show that every
        # question of it was taken in or dropped; each one taken in has asked a server by then.
        probe(source=RESOLVER)
        probe(source=RESOLVER)
        taken = {q.qname for p in f.peers for q in f.queries(p)} & set(names)
        assert 90 <= len(taken) <= 101, len(taken)
        got = burst.collect(count=len(taken))
        assert {name for name in burst.by_name()} == taken
        assert all(rcode(m) == "SERVFAIL" for m, _ in got.values())
        # Glueless servers that need each other, many at once: each ends.
        cycle = Burst()
        try:
            for i in range(20):
                cycle.send(f"c{i}.cycle.test.", "A")
            done = cycle.collect()
            assert len(done) == 20 and all(rcode(m) == "SERVFAIL" for m, _ in done.values())
        finally:
            cycle.close()
        distinct = {q.qname for q in f.queries("silent")}
        assert distinct <= taken and len(f.queries("silent")) <= 5 * len(taken)
        assert k.running()
        want = set(f.answers[("www.alpha.test.", "A")].answer)
        assert answer_set(ask("www.alpha.test.", "A")) == want
        # The questions dropped got no reply, not even late.
        assert burst.extra() == []
    finally:
        burst.close()


def test_recursion_only_for_allowed_clients(fake_internet, resolver):
    f = fake_internet
    resolver("DNSRecursion: 127.0.0.1")
    # Not allowed: the closest known servers (the root hints), no answer, RA clear, nothing sent.
    r = ask("www.alpha.test.", "A", source="127.0.0.9")
    assert rcode(r) == "NOERROR" and not r.answer and not r.flags & dns.flags.RA
    assert answer_set(r, "authority") == {". NS a.root.test."}
    status, flags, answer = dig("www.alpha.test.", "A", source="127.0.0.9")
    assert status == "NOERROR" and "ra" not in flags and "rd" in flags and not answer
    assert f.total() == 0
    # A pattern without "*" allows every address that begins with it.
    r = ask("www.beta.example.", "A", source="127.0.0.12")
    assert r.flags & dns.flags.RA
    assert answer_set(r) == set(f.answers[("www.beta.example.", "A")].answer)
    f.reset_counts()
    # Allowed: resolved, RA set.
    status, flags, answer = dig("www.alpha.test.", "A")
    assert (status, answer) == ("NOERROR", {"www.alpha.test. A 192.0.2.10"})
    assert {"qr", "rd", "ra"} <= flags
    # The client without recursion now gets what the cache holds, and the zone's servers for
    # names the cache does not know, still with RA clear and without a query.
    f.reset_counts()
    r = ask("www.alpha.test.", "A", source="127.0.0.9")
    assert answer_set(r) == {"www.alpha.test. A 192.0.2.10"} and not r.flags & dns.flags.RA
    r = ask("other.alpha.test.", "A", source="127.0.0.9")
    assert not r.answer and answer_set(r, "authority") == {"alpha.test. NS ns1.alpha.test."}
    assert answer_set(r, "additional") == {"ns1.alpha.test. A 127.0.0.5"}
    # The allowed client not asking for recursion gets the same, with RA set.
    r = ask("other.alpha.test.", "A", rd=False)
    assert not r.answer and r.flags & dns.flags.RA and not r.flags & dns.flags.RD
    assert answer_set(r, "authority") == {"alpha.test. NS ns1.alpha.test."}
    assert f.total() == 0
