"""Kestrune as a secondary when its primary goes away: the copy answers until its lifetime ends,
then "Zone has expired: "; the lifetime is kept in zonettl.dat across a restart. In a file of its
own: waiting for the once-a-minute check takes a minute, which can run beside the other files."""
import re

import dns.flags

from xfr_in_peers import (ZONE, Primary, answers, ask, folder, records,  # noqa: F401  (fixture)
                          start_secondary, wait_until, zone_text)


def test_stopped_primary_copy_answers_until_it_expires(netns, kestserv, kest_home, folder):
    primary = Primary("bind", "127.0.0.2", ZONE, folder)
    # Expire 20 s: the copy's lifetime ends before the next once-a-minute check.
    primary.write_zone(zone_text(ZONE, 7, records(1), refresh=3600, retry=600, expire=20))
    primary.start()
    k = start_secondary(kestserv, kest_home, "127.0.0.2")
    k.wait_for(r"Received Zone Transfer from 127\.0\.0\.2 for sec\.test\.", 30)
    primary.stop()
    r = ask("www.sec.test.", "A")
    assert r.flags & dns.flags.AA and len(answers(r)) == 2
    assert not any("Zone has expired" in l for l in k.lines)
    k.wait_for(r"Zone has expired: sec\.test\.", 90)
    r = ask("www.sec.test.", "A")
    assert r is not None and not answers(r)
    # The file keeps the header only, so a restart starts empty too.
    assert (kest_home / "data" / "sec.test.dns").read_bytes() == b"; PrimaryIP 127.0.0.2\r\n"


def test_zone_lifetime_survives_a_restart(netns, kestserv, kest_home, folder):
    primary = Primary("bind", "127.0.0.2", ZONE, folder)
    primary.write_zone(zone_text(ZONE, 3, records(1), expire=7200))
    primary.start()
    k = start_secondary(kestserv, kest_home, "127.0.0.2")
    k.wait_for(r"Received Zone Transfer from 127\.0\.0\.2 for sec\.test\.", 30)
    # Saved soon after it changed, not only at shutdown.
    ttl = kest_home / "data" / "zonettl.dat"
    wait_until(lambda: ttl.exists() and b"sec.test." in ttl.read_bytes(), 10, "zonettl.dat")
    primary.stop()
    assert k.stop() == 0
    m = re.fullmatch(rb"sec\.test\.  (\d+)\r\n", ttl.read_bytes())
    assert m and 7100 < int(m.group(1)) <= 7200, ttl.read_bytes()

    # Started again with the primary gone: the copy answers at once and stays past the check.
    k2 = kestserv()
    k2.start()
    k2.wait_for(r"Sending request to 127\.0\.0\.2 for SOA-record for sec\.test\.", 30)
    r = ask("www.sec.test.", "A")
    assert r.flags & dns.flags.AA and len(answers(r)) == 2
    assert not any("Zone has expired" in l for l in k2.lines)
