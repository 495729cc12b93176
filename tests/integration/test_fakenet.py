"""The fake internet itself, asked directly with dig and dnspython (no resolver of ours involved):
the delegations hang together, each kind of broken server is broken the way it should be, and the
counters count."""
import os
import socket
import subprocess
import time
from pathlib import Path

import dns.exception
import dns.flags
import dns.message
import dns.query
import dns.rcode
import dns.rdatatype
import pytest

from conftest import KestServ
from fakenet import answer_set

# Each delegation as its parent serves it: child zone -> (NS names, glue "name A address" texts).
DELEGATIONS = {
    "test.": ({"ns1.nic.test."}, {"ns1.nic.test. A 127.0.0.3"}),
    "example.": ({"ns1.nic.example."}, {"ns1.nic.example. A 127.0.0.4"}),
    "alpha.test.": ({"ns1.alpha.test."}, {"ns1.alpha.test. A 127.0.0.5"}),
    "gamma.test.": ({"ns1.gamma.test."}, {"ns1.gamma.test. A 127.0.0.4"}),
    "glueless.test.": ({"ns.hoster.example."}, set()),
    "mixed.test.": ({"ns1.mixed.test.", "ns2.mixed.test."},
                    {"ns1.mixed.test. A 127.0.0.5", "ns2.mixed.test. A 127.0.0.2"}),
    "dead.test.": ({"ns.dead.test."}, {"ns.dead.test. A 127.0.0.6"}),
    "cycle.test.": ({"ns.cycle.example."}, set()),
    "beta.example.": ({"ns1.beta.example."}, {"ns1.beta.example. A 127.0.0.3"}),
    "hoster.example.": ({"ns1.hoster.example."}, {"ns1.hoster.example. A 127.0.0.3"}),
    "halfdead.example.": ({"ns1.halfdead.example.", "ns2.halfdead.example."},
                          {"ns1.halfdead.example. A 127.0.0.6", "ns2.halfdead.example. A 127.0.0.5"}),
    "lame.example.": ({"ns1.lame.example.", "ns2.lame.example."},
                      {"ns1.lame.example. A 127.0.0.2", "ns2.lame.example. A 127.0.0.5"}),
    "void.example.": ({"ns.void.example."}, {"ns.void.example. A 127.0.0.7"}),
    "cycle.example.": ({"ns.cycle.test."}, set()),
}


def within(name, zone):
    return zone == "." or name == zone or name.endswith("." + zone)


def parent(zone):
    return zone.split(".", 1)[1] or "."


# A bound for replies that must come; questions to peers that never answer say how long.
WAIT = 30


def ask(ip, name, rtype, timeout=WAIT, tcp=False):
    q = dns.message.make_query(name, rtype)
    q.flags &= ~dns.flags.RD
    if tcp:
        return dns.query.tcp(q, ip, timeout=timeout)
    return dns.query.udp(q, ip, timeout=timeout)


def dig(ip, name, rtype, *opts):
    """dig's reply as (status, flags, {section: set of "owner TYPE data"}), TTLs by owner/type."""
    out = subprocess.run(["dig", "+norec", f"+time={WAIT}", "+tries=1", *opts, f"@{ip}", name,
                          rtype], capture_output=True, text=True, timeout=2 * WAIT).stdout
    status, flags, section = None, set(), None
    sections = {"ANSWER": set(), "AUTHORITY": set(), "ADDITIONAL": set()}
    ttls = {}
    for line in out.splitlines():
        if "status:" in line:
            status = line.split("status:")[1].split(",")[0].strip()
        elif line.startswith(";; flags:"):
            flags = set(line.split(":")[1].split(";")[0].split())
        elif line.startswith(";; ") and line.endswith(" SECTION:"):
            section = line[3:].split()[0]
        elif section in sections and line and not line.startswith(";"):
            owner, ttl, _cls, rtype_, data = line.split(None, 4)
            sections[section].add(f"{owner.lower()} {rtype_} "
                                  f"{data if rtype_ == 'TXT' else data.lower()}")
            ttls[(owner.lower(), rtype_)] = int(ttl)
    assert status, out
    return status, flags, sections, ttls


def referral(reply):
    """NS names of a referral's authority section, by delegated zone."""
    zones = {}
    for rrset in reply.authority:
        if rrset.rdtype == dns.rdatatype.NS:
            zones.setdefault(rrset.name.to_text().lower(), set()).update(
                rd.target.to_text().lower() for rd in rrset)
    return zones


def test_peers_run_inside_the_tests_namespace_on_their_own_addresses(fake_internet):
    here = os.stat("/proc/thread-self/ns/net")
    kinds = set()
    for p in fake_internet.peers.values():
        if p.proc is None:
            continue
        kinds.add(p.kind)
        there = os.stat(f"/proc/{p.proc.pid}/ns/net")
        assert (there.st_dev, there.st_ino) == (here.st_dev, here.st_ino), p.name
        assert p.proc.poll() is None, p.name
        for f in p.dir.iterdir():   # everything the peer made lives in its own folder
            assert f.resolve().is_relative_to(p.dir)
    assert kinds == {"nsd", "knot", "bind"}
    assert fake_internet.relay.thread_netns == fake_internet.relay.netns
    lo = subprocess.run(["ip", "-4", "addr", "show", "dev", "lo"], capture_output=True, text=True)
    for ip in ("127.0.0.2", "127.0.0.3", "127.0.0.4", "127.0.0.5", "127.0.0.6"):
        assert f"inet {ip}/32" in lo.stdout


def test_each_parent_refers_to_its_children_with_the_right_glue(fake_internet):
    for zone, (ns, glue) in DELEGATIONS.items():
        server = fake_internet.peer_of(parent(zone)).ip
        status, flags, s, _ = dig(server, "www." + zone, "A")
        assert (status, "aa" in flags, s["ANSWER"]) == ("NOERROR", False, set()), zone
        assert s["AUTHORITY"] == {f"{zone} NS {n}" for n in ns}, zone
        assert s["ADDITIONAL"] == glue, zone


def test_leaves_answer_their_own_part_authoritatively(fake_internet):
    checked = 0
    for (name, rtype), want in fake_internet.answers.items():
        if not want.answer:
            continue
        zone = max((z for z in fake_internet.zones if within(name, z)), key=len)
        status, flags, s, _ = dig(fake_internet.peer_of(zone).ip, name, rtype)
        # A server gives what its zone holds of a chain; the rest is the resolver's work.
        own = {r for r in want.answer if within(r.split()[0], zone)}
        assert (status, "aa" in flags) == ("NOERROR", True), name
        assert s["ANSWER"] == own, (name, rtype)
        checked += 1
    assert checked >= 20
    status, _, _, ttls = dig(fake_internet.ip("leaf"), "brief.alpha.test.", "A")
    assert ttls[("brief.alpha.test.", "A")] == fake_internet.short_ttl["brief.alpha.test."]


def test_name_errors_and_no_data_carry_one_soa_with_the_negative_ttl(fake_internet):
    assert len(fake_internet.nxdomain) >= 4 and len(fake_internet.nodata) >= 3
    seen_kinds = set()
    for name, rtype in fake_internet.nxdomain + fake_internet.nodata:
        want = fake_internet.answers[(name, rtype)]
        zone = fake_internet.zones[want.soa_zone]
        peer = fake_internet.peer_of(zone.name)
        seen_kinds.add(peer.kind)
        reply = ask(peer.ip, name, rtype)
        assert dns.rcode.to_text(reply.rcode()) == want.rcode, name
        assert reply.flags & dns.flags.AA and not reply.answer, name
        assert [(r.name.to_text().lower(), r.rdtype, len(r)) for r in reply.authority] == \
            [(zone.name, dns.rdatatype.SOA, 1)], name
        assert reply.authority[0][0].minimum == zone.negative_ttl == reply.authority[0].ttl
    assert seen_kinds == {"nsd", "knot", "bind"}
    assert fake_internet.zones["gamma.test."].negative_ttl == 2


def test_lame_servers_refuse_or_refer_upwards(fake_internet):
    root, leaf = fake_internet.root_ip, fake_internet.ip("leaf")
    for name in ("www.mixed.test.", "www.lame.example."):
        reply = ask(root, name, "A")
        zone = name.split(".", 1)[1]
        assert reply.rcode() == dns.rcode.NOERROR and not reply.answer
        assert not reply.flags & dns.flags.AA
        (referred,) = referral(reply)
        assert len(referred) < len(zone) and within(zone, referred), (name, referred)
    assert ask(leaf, "www.lame.example.", "A").rcode() == dns.rcode.REFUSED
    status, _, s, _ = dig(leaf, "www.lame.example.", "A")
    assert status == "REFUSED" and not s["ANSWER"]
    # The good half of mixed.test. answers.
    assert answer_set(ask(leaf, "www.mixed.test.", "A")) == \
        set(fake_internet.answers[("www.mixed.test.", "A")].answer)


def test_silent_server_never_answers_and_closed_address_refuses(fake_internet):
    fake_internet.reset_counts()
    with pytest.raises(dns.exception.Timeout):
        ask(fake_internet.silent_ip, "www.dead.test.", "A", timeout=0.5)
    with pytest.raises((dns.exception.Timeout, socket.timeout, TimeoutError)):
        ask(fake_internet.silent_ip, "www.dead.test.", "A", timeout=0.5, tcp=True)
    # A TCP query is counted by its connection's own thread.
    deadline = time.monotonic() + WAIT
    while fake_internet.count("silent") < 2:
        assert time.monotonic() < deadline, fake_internet.queries("silent")
        time.sleep(0.01)
    assert [(q.qname, q.proto) for q in fake_internet.queries("silent")] == \
        [("www.dead.test.", "udp"), ("www.dead.test.", "tcp")]
    out = subprocess.run(["dig", "+norec", "+time=1", "+tries=1", f"@{fake_internet.silent_ip}",
                          "www.halfdead.example.", "A"], capture_output=True, text=True, timeout=10)
    assert "timed out" in out.stdout and "status:" not in out.stdout
    assert fake_internet.count("silent") == 3
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.settimeout(1)
    s.connect((fake_internet.closed_ip, 53))
    s.send(dns.message.make_query("www.void.example.", "A").to_wire())
    with pytest.raises(ConnectionRefusedError):
        s.recv(512)
    s.close()


def test_counters_count_every_query_and_only_the_peers(fake_internet):
    f = fake_internet
    ask(f.ip("knot"), "www.beta.example.", "A")
    f.reset_counts()
    assert f.total() == 0
    for name in ("www.beta.example.", "beta.example.", "www.alpha.test."):
        ask(f.ip("knot"), name, "MX")
    ask(f.ip("bind"), "www.gamma.test.", "A", tcp=True)
    dig(f.root_ip, "www.alpha.test.", "A")
    assert f.counts() == {"root": 1, "knot": 3, "bind": 1, "leaf": 0, "silent": 0}
    assert f.count(f.ip("knot")) == 3 and f.total() == 5
    assert [(q.qname, q.qtype, q.proto) for q in f.queries("knot")] == [
        ("www.beta.example.", "MX", "udp"), ("beta.example.", "MX", "udp"),
        ("www.alpha.test.", "MX", "udp")]
    assert f.queries("bind")[0].proto == "tcp"
    assert not f.queries("knot")[0].rd and f.queries("root")[0].rd is False
    # A query straight to the daemon's own port passes the relay by, so it is not counted.
    q = dns.message.make_query("www.gamma.test.", "A")
    dns.query.udp(q, f.ip("bind"), port=10053, timeout=WAIT)
    assert f.count("bind") == 1
    # A muted peer drops queries but still counts them, and answers again when unmuted.
    f.mute("leaf")
    with pytest.raises(dns.exception.Timeout):
        ask(f.ip("leaf"), "www.alpha.test.", "A", timeout=0.5)
    f.mute("leaf", False)
    assert answer_set(ask(f.ip("leaf"), "www.alpha.test.", "A")) == {"www.alpha.test. A 192.0.2.10"}
    assert f.count("leaf") == 2
    f.check()


def test_replies_can_be_tampered_with_and_sent_from_a_peers_address(fake_internet):
    f = fake_internet
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.bind(("127.0.0.1", 0))
    s.settimeout(WAIT)
    query = dns.message.make_query("www.beta.example.", "A")
    query.id = 4242
    f.tamper("knot", lambda wire: wire[:5])
    s.sendto(query.to_wire(), (f.ip("knot"), 53))
    data, sender = s.recvfrom(512)
    assert (len(data), data[:2], data[2] & 0x84, sender) == (5, b"\x10\x92", 0x84, (f.ip("knot"), 53))
    # A dropped reply: once the relay has dropped it, the next one is passed on, and it is the
    # first to come (the relay passes replies on in order).
    dropped = []
    f.tamper("knot", lambda wire: dropped.append(wire))
    query.id = 4243
    s.sendto(query.to_wire(), (f.ip("knot"), 53))
    deadline = time.monotonic() + WAIT
    while not dropped:
        assert time.monotonic() < deadline, "no reply of knot reached the relay"
        time.sleep(0.01)
    f.tamper("knot", None)
    assert dropped[0][:2] == b"\x10\x93"
    query.id = 4244
    s.sendto(query.to_wire(), (f.ip("knot"), 53))
    reply = dns.message.from_wire(s.recvfrom(512)[0])
    assert reply.id == 4244 and answer_set(reply) == {"www.beta.example. A 192.0.2.20"}
    assert [q.id for q in f.queries("knot")] == [4242, 4243, 4244]
    f.send_as("bind", b"forged", "127.0.0.1", s.getsockname()[1])
    assert s.recvfrom(512) == (b"forged", (f.ip("bind"), 53))
    s.close()
    f.check()


# ---------------------------------------------------------------------------------------------
# An iterative walk by hand from the root hints

class Unresolvable(Exception):
    pass


class Walker:
    def __init__(self, hints_path, silent=()):
        self.roots = []
        # Addresses known never to answer (an unconnected socket does not learn that nothing
        # listens): asked with a short wait.
        self.silent = set(silent)
        self.asked = []
        names = {}
        for line in Path(hints_path).read_bytes().decode().split("\r\n"):
            words = line.split(";")[0].split()
            if len(words) == 4 and words[2] == "NS" and words[0] == ".":
                names[words[3]] = None
            elif len(words) == 4 and words[2] == "A":
                names[words[0]] = words[3]
        self.roots = [(n, ip) for n, ip in names.items() if ip]

    def resolve(self, name, rtype, depth=0):
        """(rcode text, answer set); follows CNAMEs across zones and resolves glueless servers."""
        if depth > 4:
            raise Unresolvable("name servers depend on each other: " + name)
        records, current, seen = set(), name, {name}
        while True:
            rcode, got = self._resolve_one(current, rtype, depth)
            records |= got
            if rcode != "NOERROR":
                return rcode, records
            # Follow the chain as far as the records go, then ask for the rest.
            moved = False
            while rtype != "CNAME":
                targets = [r.split()[2] for r in records if r.split()[:2] == [current, "CNAME"]]
                if not targets:
                    break
                current, moved = targets[0], True
                if current in seen:
                    raise Unresolvable("CNAME loop at " + current)
                seen.add(current)
            if not moved or any(r.split()[:2] == [current, rtype] for r in records):
                return rcode, records

    def _resolve_one(self, name, rtype, depth):
        zone, servers = ".", list(self.roots)
        for _ in range(20):
            for ns, ip in servers:
                ips = [ip] if ip else self._addresses(ns, depth)
                for addr in ips:
                    self.asked.append((addr, name))
                    try:
                        reply = ask(addr, name, rtype,
                                    timeout=0.2 if addr in self.silent else WAIT)
                    except (dns.exception.Timeout, OSError):
                        continue
                    rcode = dns.rcode.to_text(reply.rcode())
                    if rcode not in ("NOERROR", "NXDOMAIN"):
                        continue    # refused: lame
                    if reply.answer or reply.flags & dns.flags.AA:
                        return rcode, answer_set(reply)
                    deeper = {z: n for z, n in referral(reply).items()
                              if len(z) > len(zone) and within(name, z)}
                    if not deeper:
                        continue    # upward or sideways referral: lame
                    zone, nsnames = max(deeper.items(), key=lambda item: len(item[0]))
                    glue = {}
                    for rrset in reply.additional:
                        if rrset.rdtype == dns.rdatatype.A:
                            glue.setdefault(rrset.name.to_text().lower(), []).extend(
                                rd.address for rd in rrset)
                    servers = [(n, a) for n in sorted(nsnames) for a in glue.get(n, [None])]
                    break
                else:
                    continue
                break
            else:
                raise Unresolvable(f"no server of {zone} answers for {name}")
        raise Unresolvable("too many referrals for " + name)

    def _addresses(self, ns, depth):
        try:
            rcode, records = self.resolve(ns, "A", depth + 1)
        except Unresolvable:
            return []
        return [r.split()[2] for r in records if r.split()[:2] == [ns, "A"]]


def test_walk_from_the_root_hints_resolves_every_name(fake_internet):
    f = fake_internet
    walker = Walker(f.hints_path, silent=[f.silent_ip, f.closed_ip])
    assert walker.roots == [("a.root.test.", f.root_ip)]
    wrong = {}
    for (name, rtype), want in f.answers.items():
        got = walker.resolve(name, rtype)
        if got != (want.rcode, set(want.answer)):
            wrong[(name, rtype)] = got
    assert not wrong
    # The glueless zone's server address came from a walk of its own through hoster.example.
    assert (f.ip("knot"), "ns.hoster.example.") in walker.asked
    # Every leaf zone was reached at the server that holds it.
    for zone in ("alpha.test.", "beta.example.", "gamma.test.", "glueless.test.", "mixed.test."):
        assert any(ip == f.peer_of(zone).ip and within(n, zone) for ip, n in walker.asked), zone


def test_walk_gives_up_on_every_broken_name(fake_internet):
    f = fake_internet
    walker = Walker(f.hints_path, silent=[f.silent_ip, f.closed_ip])
    for name in f.unresolvable:
        with pytest.raises(Unresolvable):
            walker.resolve(name, "A")
    for name, chain in f.cname_loop.items():
        with pytest.raises(Unresolvable, match="CNAME loop"):
            walker.resolve(name, "A")
        got = set()
        for owner in sorted({r.split()[0] for r in chain}):
            zone = max((z for z in f.zones if within(owner, z)), key=len)
            got |= answer_set(ask(f.peer_of(zone).ip, owner, "A"))
        assert got == set(chain)
    assert f.count("silent") >= 1
    assert (f.root_ip, "www.lame.example.") in walker.asked
    assert (f.ip("leaf"), "www.lame.example.") in walker.asked
    # Each half-broken zone resolves through its good server.
    for name in list(f.lame_but_resolves) + list(f.slow_but_resolves):
        assert walker.resolve(name, "A") == ("NOERROR", set(f.answers[(name, "A")].answer))


def test_root_hints_and_settings_for_kestserv(fake_internet, tmp_path):
    raw = fake_internet.hints_path.read_bytes()
    assert raw.endswith(b"\r\n") and b"\n" not in raw.replace(b"\r\n", b"")
    lines = [line.split() for line in raw.decode().split("\r\n")
             if line and not line.startswith(";")]
    assert lines == [[".", "3600000", "NS", "a.root.test."],
                     ["a.root.test.", "3600000", "A", fake_internet.root_ip]]
    k = KestServ("/bin/false", tmp_path)
    fake_internet.install(k, "CacheReload: YES")
    assert (tmp_path / "named.root").read_bytes() == raw
    assert k.ini.read_bytes() == b"DNSBind: 127.0.0.1\r\nWriteLog: YES\r\nCacheReload: YES\r\n"


def test_kestserv_runs_beside_the_peers_with_the_installed_settings(fake_internet, kestserv):
    f = fake_internet
    k = f.install(kestserv())
    assert (k.home / "named.root").read_bytes() == f.hints_path.read_bytes()
    k.start()
    k.wait_for(r"   DNS service started on 127\.0\.0\.1$")
    query = dns.message.make_query("www.alpha.test.", "A")
    reply = dns.query.udp(query, f.resolver_ip, timeout=WAIT)
    assert reply.id == query.id and reply.flags & dns.flags.QR
    # The peers still hold their own port 53 and answer.
    assert answer_set(ask(f.ip("leaf"), "www.alpha.test.", "A")) == {"www.alpha.test. A 192.0.2.10"}
    assert k.stop() == 0
