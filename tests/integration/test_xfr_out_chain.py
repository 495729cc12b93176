"""Kestrune between replicating servers: a secondary Kestrune copying from a Kestrune primary
(with its own several-records request), and a chain BIND 9 primary -> Kestrune secondary -> Knot
secondary of Kestrune in which a change at the top reaches the bottom through NOTIFY alone."""
import tempfile
from pathlib import Path

import pytest

from xfr_out_peers import (KNOT_IP, Secondary, add_address, crlf, expected_records,
                           parse_presentation, peers_missing, start_primary, wait_serial,
                           zone_text)
from test_xfr_out import assert_transfer, run

ZONE = "chain.test."
HERE = Path(__file__).resolve().parent
CLIENT = HERE.parent.parent / "server" / "replication" / "ctlZTS.cpp"

pytestmark = pytest.mark.skipif(
    not CLIENT.exists(),
    reason="needs the zone transfer client (server/replication/ctlZTS.cpp, the secondary side)")

BIND_TOP = "127.0.0.2"
KEST_SECOND = "127.0.0.4"


@pytest.fixture
def folder():
    with tempfile.TemporaryDirectory(prefix="kest-chain-") as d:
        yield Path(d)


def start_secondary_kest(kestserv, folder, ip, zone, primary, notify=()):
    """A kestserv on ip holding zone as a secondary of primary (header lines only to begin)."""
    home = folder / f"kest-{ip}"
    (home / "data").mkdir(parents=True)
    # Not secure, so that the test can read the copy back.
    head = (f"; PRIMARYIP {primary}\n" + (f"; NOTIFY {' '.join(notify)}\n" if notify else "")
            + "; NOTSECURE\n")
    (home / "data" / (zone + "dns")).write_bytes(crlf(head))
    k = kestserv(home=home)
    k.write_ini(f"DNSBind: {ip}\nLogDetail: NO\n")
    k.start()
    k.wait_for(r"   DNS service started on " + ip.replace(".", r"\.") + "$")
    return k


def test_a_kestrune_secondary_copies_a_kestrune_primary(kestserv, folder):
    # Not secure: the client's connection leaves from whatever address the system picks.
    text = zone_text(ZONE, 11, hosts=500, notify=(KEST_SECOND,), secure=False)
    top = start_primary(kestserv, {ZONE: text})
    add_address(KEST_SECOND)
    second = start_secondary_kest(kestserv, folder, KEST_SECOND, ZONE, "127.0.0.1")
    wait_serial(KEST_SECOND, ZONE, 11, timeout=90)
    top.wait_for(r"   Sending Zone Transfer to 127\.0\.0\.\d+ for chain\.test\.$")
    second.wait_for(r"Received Zone Transfer from 127\.0\.0\.1 for chain\.test\.$")
    out = run(["dig", "+nocookie", "-b", "127.0.0.4", "@127.0.0.1", ZONE, "AXFR"])
    assert_transfer(parse_presentation(out.stdout), text, ZONE)
    # The copy answers with authority what the primary holds.
    out = run(["dig", "+nocookie", "-b", "127.0.0.4", "@127.0.0.4", ZONE, "AXFR"])
    assert set(parse_presentation(out.stdout)) == expected_records(ZONE, text)
    assert second.stop() == 0
    assert top.stop() == 0


def test_a_change_at_a_bind_primary_reaches_knot_through_kestrune_by_notify(kestserv, folder):
    if peers_missing("named", "knotd"):
        pytest.fail("named or knotd missing (scripts/install-deps.sh)")
    # Kestrune starts first so the peers' addresses are not among its own.
    mid = start_secondary_kest(kestserv, folder, "127.0.0.1", ZONE, BIND_TOP, notify=(KNOT_IP,))
    add_address(BIND_TOP)
    add_address(KNOT_IP)
    text = zone_text(ZONE, 1, hosts=50)
    bind = Secondary("bind-primary", BIND_TOP, [ZONE], folder, zone_texts={ZONE: text},
                     notify=("127.0.0.1",)).start()
    knot = Secondary("knot", KNOT_IP, [ZONE], folder).start()
    try:
        wait_serial(BIND_TOP, ZONE, 1, timeout=30, peer=bind)
        wait_serial("127.0.0.1", ZONE, 1, timeout=90)
        wait_serial(KNOT_IP, ZONE, 1, timeout=60, peer=knot)
        # Every refresh timer is a day long: only NOTIFY can carry the change down.
        newer = zone_text(ZONE, 2, hosts=50, extra="fresh 300 A 10.9.9.9\n")
        bind.write_zone(ZONE, newer)
        bind.reload()
        mid.wait_for(r"   Zone Update Notification from 127\.0\.0\.2 about chain\.test\.$",
                     timeout=30)
        wait_serial("127.0.0.1", ZONE, 2, timeout=30)
        mid.wait_for(r"   Sending Zone Update Notification to 127\.0\.0\.3 about chain\.test\.$",
                     timeout=30)
        wait_serial(KNOT_IP, ZONE, 2, timeout=30, peer=knot)
        out = run(["dig", "+nocookie", "-b", "127.0.0.1", f"@{KNOT_IP}", ZONE, "AXFR"])
        assert set(parse_presentation(out.stdout)) == expected_records(ZONE, newer)
    finally:
        bind.stop()
        knot.stop()
    assert mid.stop() == 0
