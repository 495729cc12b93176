"""Kestrune as a secondary of real primaries (BIND 9, Knot) in a private namespace: the zone is
transferred, written to data/ in the server's layout, answered with authority; a new serial on
the primary plus its NOTIFY brings the new data; a stopped primary leaves the copy answering until
it expires; zonettl.dat carries the lifetime across a restart."""
import re
from pathlib import Path

import dns.flags
import dns.rdatatype
import dns.zone
import pytest

from daemons import knot_command, stop_process
from xfr_in_peers import (KEST_IP, ZONE, Primary, ScriptedPrimary, add_address, answers,  # noqa: F401
                          ask, folder, kest_settings, records, secondary_file, start_secondary,
                          tcp_served, wait_until, zone_text)



def expected_answers(text, origin):
    """What a server of the zone must answer, name -> set of "owner TYPE data", read from the
    primary's own file by dnspython (not by our reader)."""
    z = dns.zone.from_text(text, origin=origin, relativize=False)
    out = {}
    for name, node in z.nodes.items():
        for rds in node.rdatasets:
            t = dns.rdatatype.to_text(rds.rdtype)
            for rd in rds:
                data = rd.to_text() if t == "TXT" else rd.to_text().lower()
                out.setdefault((name.to_text().lower(), t), set()).add(
                    f"{name.to_text().lower()} {t} {data}")
    return out


def check_answers(text, origin=ZONE):
    for (name, rdtype), want in expected_answers(text, origin).items():
        if rdtype == "SOA":
            continue
        r = ask(name, rdtype)
        assert r is not None, f"no answer for {name} {rdtype}"
        assert r.flags & dns.flags.AA, f"{name} {rdtype} not authoritative"
        got = {a for a in answers(r) if a.split()[1] == rdtype or rdtype == "CNAME"}
        assert want <= answers(r), f"{name} {rdtype}: {answers(r)} lacks {want - got}"


def check_layout(path, primary_ip, serial):
    """The server's layout: the PrimaryIP line, the SOA as the "@" line, one record a line."""
    lines = path.read_bytes().decode().split("\r\n")
    assert lines[-1] == ""
    assert lines[0] == f"; PrimaryIP {primary_ip}"
    assert re.fullmatch(rf"@ \d+ SOA ns1\.sec\.test\. hostmaster\.sec\.test\. {serial} "
                        r"\d+ \d+ \d+ \d+", lines[1]), lines[1]
    body = [line for line in lines[2:] if line]
    for line in body:
        assert re.fullmatch(r"\S* \d+ (A|NS|CNAME|MX|TXT|SRV|PTR) .+", line), line
    return body


@pytest.mark.parametrize("kind,ip", [("bind", "127.0.0.2"), ("knot", "127.0.0.3")])
def test_secondary_of_a_real_primary(kind, ip, netns, kestserv, kest_home, folder):
    primary = Primary(kind, ip, ZONE, folder)
    text1 = zone_text(ZONE, 1, records(1))
    primary.write_zone(text1)
    primary.start()
    try:
        k = start_secondary(kestserv, kest_home, ip)
        k.wait_for(rf"Received Zone Transfer from {re.escape(ip)} for sec\.test\.", 30)
        body = check_layout(kest_home / "data" / "sec.test.dns", ip, 1)
        assert len(body) == len(records(1)) + 2  # the NS and ns1's address
        check_answers(text1)
        requests = [l for l in k.lines if "Sending Zone Transfer Request to" in l]
        # Knot answers the several-records form with FORMERR: the client asks again plainly.
        assert len(requests) == (2 if kind == "knot" else 1), requests

        # Knot sends its NOTIFY only over TCP.
        assert tcp_served(ZONE)
        # A new serial and the primary's NOTIFY bring the new data within seconds.
        text2 = zone_text(ZONE, 2, records(2))
        primary.write_zone(text2)
        primary.reload(2)
        k.wait_for(rf"Zone Update Notification from {re.escape(ip)} about sec\.test\.", 15)
        k.wait_for(r"Sending Notification Acknowledgement to " + re.escape(ip), 5)
        wait_until(lambda: ask("v2.sec.test.", "A") and answers(ask("v2.sec.test.", "A")),
                   15, "the new record")
        check_layout(kest_home / "data" / "sec.test.dns", ip, 2)
        check_answers(text2)
        assert not answers(ask("v1.sec.test.", "A"))
    finally:
        primary.stop()


def test_transfers_leave_from_the_bound_address(netns, kestserv, kest_home, folder):
    # A primary that lets one secondary address transfer: the server bound to that address asks
    # from it, not from the address the system would pick (127.0.0.1 on this loopback).
    bound = "127.0.0.6"
    add_address(bound)
    primary = Primary("bind", "127.0.0.2", ZONE, folder, notify=(bound,), allow_transfer=bound)
    text = zone_text(ZONE, 1, records(1))
    primary.write_zone(text)
    primary.start()
    try:
        (kest_home / "data" / "sec.test.dns").write_bytes(secondary_file("127.0.0.2"))
        k = kestserv()
        k.write_ini(f"DNSBind: {bound}\nWriteLog: NO\n")
        k.start()
        k.wait_for(r"Received Zone Transfer from 127\.0\.0\.2 for sec\.test\.", 30)
        assert answers(ask("www.sec.test.", "A", server=bound)) == {
            "www.sec.test. A 192.0.2.1", "www.sec.test. A 192.0.2.2"}
    finally:
        primary.stop()


def test_knot_100k_record_zone(netns, kestserv, kest_home, folder):
    n = 100_000
    recs = [f"h{i} 300 IN A 10.{i >> 16 & 255}.{i >> 8 & 255}.{i & 255}" for i in range(n)]
    primary = Primary("knot", "127.0.0.3", ZONE, folder, notify=())
    primary.write_zone(zone_text(ZONE, 1, recs))
    primary.start(timeout=60)
    try:
        k = start_secondary(kestserv, kest_home, "127.0.0.3")
        k.wait_for(r"Received Zone Transfer from 127\.0\.0\.3 for sec\.test\.", 120)
        body = check_layout(kest_home / "data" / "sec.test.dns", "127.0.0.3", 1)
        got = {line for line in body if line.startswith("h")}
        want = {f"h{i} 300 A 10.{i >> 16 & 255}.{i >> 8 & 255}.{i & 255}" for i in range(n)}
        assert got == want
        for i in (0, 1, 4095, 65536, n - 1):
            r = ask(f"h{i}.sec.test.", "A")
            assert answers(r) == {f"h{i}.sec.test. A 10.{i >> 16 & 255}.{i >> 8 & 255}.{i & 255}"}
    finally:
        primary.stop()


def test_one_byte_segments_leave_udp_answers_flowing(netns, kestserv, kest_home, folder):
    import dns.rrset
    n = 70_000
    recs = [dns.rrset.from_text(f"h{i}.{ZONE}", 300, "IN", "A",
                                f"10.{i >> 16 & 255}.{i >> 8 & 255}.{i & 255}") for i in range(n)]
    primary = ScriptedPrimary("127.0.0.5", ZONE, 1, recs, per_message=200, segment=1).start()
    # A zone of its own to answer while the transfer trickles in.
    (kest_home / "data" / "own.test.dns").write_bytes(
        b"@ 3600 SOA ns1 hm 1 3600 600 86400 60\r\nwww 300 A 192.0.2.77\r\n")
    try:
        k = start_secondary(kestserv, kest_home, "127.0.0.5")
        k.wait_for(r"Sending Zone Transfer Request to 127\.0\.0\.5", 30)
        asked = lost = 0
        while not primary.done.is_set():
            r = ask("www.own.test.", "A", timeout=2)
            asked += 1
            if r is None or answers(r) != {"www.own.test. A 192.0.2.77"}:
                lost += 1
            if asked > 5000:
                break
        k.wait_for(r"Received Zone Transfer from 127\.0\.0\.5 for sec\.test\.", 60)
        assert asked >= 10 and lost == 0, (asked, lost)
        body = check_layout(kest_home / "data" / "sec.test.dns", "127.0.0.5", 1)
        assert len(body) == n
        assert primary.requests == [True]
    finally:
        primary.stop()


def test_chain_bind_to_kestrune_to_knot(netns, kestserv, kest_home, folder):
    bind = Primary("bind", "127.0.0.2", ZONE, folder)
    bind.write_zone(zone_text(ZONE, 1, records(1)))
    bind.start()
    try:
        # Kestrune notifies its own secondary, Knot on 127.0.0.3.
        (kest_home / "data" / "sec.test.dns").write_bytes(
            b"; PRIMARYIP 127.0.0.2\r\n; NOTIFY 127.0.0.3\r\n; NOTSECURE\r\n")
        k = kestserv()
        k.write_ini(kest_settings())
        k.start()
        k.wait_for(r"Received Zone Transfer from 127\.0\.0\.2 for sec\.test\.", 30)
        assert tcp_served(ZONE)
        knot = _knot_secondary(folder, "127.0.0.3", KEST_IP)
        try:
            wait_until(lambda: _serial_at("127.0.0.3") == 1, 30, "Knot to copy serial 1")
            bind.write_zone(zone_text(ZONE, 2, records(2)))
            bind.reload(2)
            wait_until(lambda: _serial_at("127.0.0.3") == 2, 30, "serial 2 at the bottom")
            assert answers(ask("v2.sec.test.", "A", server="127.0.0.3"))
        finally:
            stop_process(knot)
    finally:
        bind.stop()


def _serial_at(ip):
    r = ask(ZONE, "SOA", server=ip, timeout=0.3)
    return r.answer[0][0].serial if r is not None and r.answer else None


def _knot_secondary(folder, ip, primary_ip):
    import subprocess
    from xfr_in_peers import add_address
    d = Path(folder) / "knot-secondary"
    (d / "db").mkdir(parents=True)
    add_address(ip)
    (d / "knot.conf").write_text(f"""server:
    rundir: "{d}"
    listen: {ip}@53
remote:
  - id: up
    address: {primary_ip}@53
    via: {ip}
acl:
  - id: up
    address: {primary_ip}
    action: notify
database:
    storage: "{d}/db"
template:
  - id: default
    storage: "{d}"
zone:
  - domain: {ZONE}
    master: up
    acl: up
""")
    return subprocess.Popen(knot_command(d, d / "knot.conf"), cwd=d,
                            stdout=open(d / "log", "wb"), stderr=subprocess.STDOUT)
