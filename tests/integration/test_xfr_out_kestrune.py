"""Kestrune on both ends: a secondary Kestrune copying a zone from a Kestrune primary with its
own several-records request, and the copy read back whole. (The chain BIND -> Kestrune -> Knot is
tested with the secondary side's tests.)"""
import tempfile
from pathlib import Path

import pytest

from xfr_out_peers import (add_address, crlf, expected_records, parse_presentation,
                           start_primary, wait_serial, zone_text)
from test_xfr_out import assert_transfer, run

ZONE = "chain.test."
HERE = Path(__file__).resolve().parent
CLIENT = HERE.parent.parent / "server" / "replication" / "ctlZTS.cpp"

pytestmark = pytest.mark.skipif(
    not CLIENT.exists(),
    reason="needs the zone transfer client (server/replication/ctlZTS.cpp, the secondary side)")

KEST_SECOND = "127.0.0.4"


@pytest.fixture
def folder():
    with tempfile.TemporaryDirectory(prefix="kest-k2k-") as d:
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
