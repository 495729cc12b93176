"""Zone transfers out of a real kestserv: dig and kdig AXFR, the several-records form of our own
transfer client, refusals of a secure zone, and BIND 9 and Knot as secondaries that follow
Kestrune's NOTIFY. Records are checked against dnspython's reading of the same zone text."""
import subprocess
import tempfile

import dns.message
import dns.rcode
import pytest

from xfr_out_peers import (BIND_IP, KNOT_IP, Secondary, add_address, expected_records,
                           parse_presentation, peers_missing, records_of, reload_zone,
                           start_primary, tcp_messages, wait_serial, zone_text)

ZONE = "example.test."
SECURE = "secure.test."


def run(cmd, timeout=60):
    return subprocess.run(cmd, capture_output=True, text=True, timeout=timeout)


def assert_transfer(records, text, zone):
    """The SOA first and last, and every record of the zone once in between."""
    assert records, "no records"
    assert records[0][2] == "SOA" and records[-1][2] == "SOA"
    assert records[0] == records[-1]
    body = records[:-1]
    assert len(body) == len(set(body))
    assert set(records) == expected_records(zone, text)


@pytest.fixture
def primary(kestserv):
    texts = {ZONE: zone_text(ZONE, 5, hosts=300, secure=False),
             SECURE: zone_text(SECURE, 9, hosts=5, notify=("127.0.0.9",))}
    k = start_primary(kestserv, texts)
    k.texts = texts
    yield k
    assert k.stop() == 0


def test_dig_and_kdig_transfer_every_record_soa_first_and_last(primary):
    if peers_missing("dig", "kdig"):
        pytest.fail("dig or kdig missing (scripts/install-deps.sh)")
    text = primary.texts[ZONE]
    out = run(["dig", "+nocookie", "@127.0.0.1", ZONE, "AXFR"])
    assert out.returncode == 0, out.stderr
    assert_transfer(parse_presentation(out.stdout), text, ZONE)
    out = run(["kdig", "@127.0.0.1", ZONE, "AXFR"])
    assert out.returncode == 0, out.stderr
    assert_transfer(parse_presentation(out.stdout), text, ZONE)
    primary.wait_for(r"   Zone Transfer Request from 127\.0\.0\.1 for example\.test\.$")
    primary.wait_for(r"   Sending Zone Transfer to 127\.0\.0\.1 for example\.test\.$")


def test_the_ms_form_fills_messages_just_past_a_thousand_bytes(primary):
    q = dns.message.make_query(ZONE, "AXFR")
    q.flags = 0
    messages = tcp_messages(q.to_wire() + b"MS")
    assert len(messages) > 5
    for raw in messages[:-1]:
        # Just past the mark: no record is longer than the zone's longest one (about 60 bytes).
        assert 1000 < len(raw) < 1100, len(raw)
    parsed = [dns.message.from_wire(m, one_rr_per_rrset=True) for m in messages]
    assert all(m.id == q.id for m in parsed)
    assert_transfer(records_of(parsed), primary.texts[ZONE], ZONE)
    # The plain form: one record per message.
    plain = tcp_messages(q.to_wire())
    assert all(len(dns.message.from_wire(m, one_rr_per_rrset=True).answer) == 1 for m in plain)
    assert len(plain) == len(records_of(parsed))


def test_a_secure_zone_refuses_hosts_outside_its_notify_list(primary):
    add_address("127.0.0.9")
    out = run(["dig", "+nocookie", "+comments", "@127.0.0.1", SECURE, "AXFR"])
    assert "status: REFUSED" in out.stdout, out.stdout
    out = run(["kdig", "@127.0.0.1", SECURE, "AXFR"])
    assert "REFUSED" in out.stdout + out.stderr, out.stdout + out.stderr
    q = dns.message.make_query(SECURE, "AXFR")
    refused = tcp_messages(q.to_wire())
    assert len(refused) == 1
    r = dns.message.from_wire(refused[0])
    assert r.rcode() == dns.rcode.REFUSED and r.id == q.id and not r.answer
    primary.wait_for(r"   Sending answer to 127\.0\.0\.1 about Zone Transfer for secure\.test\.$")
    primary.wait_for(r"   -> Header: Refused\.$")
    # The listed host gets it.
    out = run(["dig", "+nocookie", "-b", "127.0.0.9", "@127.0.0.1", SECURE, "AXFR"])
    assert_transfer(parse_presentation(out.stdout), primary.texts[SECURE], SECURE)


@pytest.fixture
def secondaries():
    made = []
    folder = tempfile.mkdtemp(prefix="kest-xfr-out-")

    def make(kind, ip, zones):
        s = Secondary(kind, ip, zones, folder)
        made.append(s)
        return s.start()

    yield make
    for s in made:
        s.stop()
    subprocess.run(["rm", "-rf", folder])


def test_bind_and_knot_secondaries_copy_the_zone_and_follow_its_notify(kestserv, secondaries):
    if peers_missing("named", "knotd"):
        pytest.fail("named or knotd missing (scripts/install-deps.sh)")
    notify = (BIND_IP, KNOT_IP)
    k = start_primary(kestserv, {ZONE: zone_text(ZONE, 1, notify=notify)})
    add_address(BIND_IP)
    add_address(KNOT_IP)
    bind = secondaries("bind", BIND_IP, [ZONE])
    knot = secondaries("knot", KNOT_IP, [ZONE])
    wait_serial(BIND_IP, ZONE, 1, timeout=30, peer=bind)
    wait_serial(KNOT_IP, ZONE, 1, timeout=30, peer=knot)
    k.wait_for(r"   Sending Zone Transfer to 127\.0\.0\.2 for example\.test\.$")
    k.wait_for(r"   Sending Zone Transfer to 127\.0\.0\.3 for example\.test\.$")

    # A new serial and a new record; the refresh timer is a day, so only the NOTIFY brings it.
    newer = zone_text(ZONE, 2, notify=notify, extra="fresh 300 A 10.9.9.9\n")
    (k.home / "data" / (ZONE + "dns")).write_bytes(newer.replace("\n", "\r\n").encode())
    reload_zone(k, ZONE)
    k.wait_for(r"   Sending Zone Update Notification to 127\.0\.0\.2 about example\.test\.$")
    k.wait_for(r"   Sending Zone Update Notification to 127\.0\.0\.3 about example\.test\.$")
    wait_serial(BIND_IP, ZONE, 2, timeout=30, peer=bind)
    wait_serial(KNOT_IP, ZONE, 2, timeout=30, peer=knot)
    k.wait_for(r"   Notification Acknowledgement from 127\.0\.0\.2$")
    k.wait_for(r"   Notification Acknowledgement from 127\.0\.0\.3$")
    bind.wait_log(r"notify from 127\.0\.0\.1#53", timeout=5)
    knot.wait_log(r"(?i)notify", timeout=5)
    for ip in (BIND_IP, KNOT_IP):
        out = run(["dig", "+nocookie", "-b", "127.0.0.1", f"@{ip}", ZONE, "AXFR"])
        assert_transfer(parse_presentation(out.stdout), newer, ZONE)
    assert k.stop() == 0


def test_a_100k_record_zone_reaches_bind_complete(kestserv, secondaries):
    if peers_missing("named"):
        pytest.fail("named missing (scripts/install-deps.sh)")
    text = zone_text(ZONE, 3, hosts=100_000, notify=(BIND_IP,))
    k = start_primary(kestserv, {ZONE: text})
    add_address(BIND_IP)
    bind = secondaries("bind", BIND_IP, [ZONE])
    wait_serial(BIND_IP, ZONE, 3, timeout=120, peer=bind)
    k.wait_for(r"   Sending Zone Transfer to 127\.0\.0\.2 for example\.test\.$")
    # BIND's copy, read back by dnspython from BIND itself.
    q = dns.message.make_query(ZONE, "AXFR")
    messages = tcp_messages(q.to_wire(), timeout=120, server=(BIND_IP, 53))
    parsed = [dns.message.from_wire(m, one_rr_per_rrset=True) for m in messages]
    assert_transfer(records_of(parsed), text, ZONE)
    assert k.stop() == 0
