"""The record editor against a real kestserv: a record the editor saves is answered at once
(the reload datagram), and a zone it deletes stops answering (the unload datagram). Answers are
read with dig, the editor is driven through its controllers by editor_probe."""
import os
import re
import subprocess
import time

import pytest

from conftest import parse_ini

ZONE = (
    "@ 3600 SOA ns1 hostmaster 2026010101 7200 900 1209600 300\r\n"
    " 3600 NS ns1\r\n"
    "ns1 3600 A 10.0.0.1\r\n"
)


@pytest.fixture
def editor_probe():
    path = os.environ.get("EDITOR_PROBE", "")
    if not path or not os.access(path, os.X_OK):
        pytest.fail("editor_probe executable not given ($EDITOR_PROBE)")
    return path


@pytest.fixture
def server(kestserv):
    k = kestserv()
    (k.home / "data" / "example.test.dns").write_bytes(ZONE.encode())
    k.write_ini("DNSBind: 127.0.0.1\nDNSRecursion: 127.0.0.5\nLogDetail: NO\n")
    k.start()
    k.wait_for(r"   DNS service started on 127\.0\.0\.1$")
    k.wait_for(r"   Loading Zone: example\.test\.$")
    deadline = time.monotonic() + 60
    while not any(key == "ReloadPort" for key, _ in parse_ini(k.ini)):
        assert time.monotonic() < deadline, "ReloadPort never published"
        time.sleep(0.05)
    yield k
    assert k.stop() == 0


def dig(name, rdtype):
    """dig's answer as (flags, answer lines with single blanks)."""
    out = subprocess.run(["dig", "@127.0.0.1", "-b", "127.0.0.2", "+norecurse", "+tries=1",
                          "+time=10", name, rdtype], capture_output=True, text=True,
                         check=True).stdout
    flags = re.search(r";; flags: ([a-z ]*);", out).group(1).split()
    answer, in_answer = [], False
    for line in out.splitlines():
        if line.startswith(";; ANSWER SECTION:"):
            in_answer = True
        elif in_answer and line.strip() and not line.startswith(";"):
            answer.append(" ".join(line.split()))
        elif in_answer:
            in_answer = False
    return flags, answer


def wait_dig(name, rdtype, predicate, timeout=30):
    deadline = time.monotonic() + timeout
    while True:
        flags, answer = dig(name, rdtype)
        if predicate(flags, answer) or time.monotonic() > deadline:
            return flags, answer
        time.sleep(0.05)


def run_probe(probe, home, *args):
    r = subprocess.run([probe, str(home), *args], capture_output=True, text=True, timeout=120)
    assert r.returncode == 0, r.stderr
    return r


# What the user types into the record dialog, what dig is asked, and the answer line expected.
RECORDS = [
    (["www", "A", "10.0.0.80"], "www.example.test", "A",
     "www.example.test. 3600 IN A 10.0.0.80"),
    (["alias", "CNAME", "www.example.test"], "alias.example.test", "CNAME",
     "alias.example.test. 3600 IN CNAME www.example.test."),
    (["mail", "MX", "70000", "mx.example.net"], "mail.example.test", "MX",
     "mail.example.test. 3600 IN MX 4464 mx.example.net."),
    (["info", "TXT", 'say "hi"; (twice)'], "info.example.test", "TXT",
     'info.example.test. 3600 IN TXT "say \\"hi\\"; (twice)"'),
    (["_sip._udp.example.test", "SRV", "0", "5", "5060", "sip.example.test"],
     "_sip._udp.example.test", "SRV",
     "_sip._udp.example.test. 3600 IN SRV 0 5 5060 sip.example.test."),
    (["10", "PTR", "host.example.net"], "10.example.test", "PTR",
     "10.example.test. 3600 IN PTR host.example.net."),
    (["*.apps.example.test", "A", "10.0.0.99"], "x.apps.example.test", "A",
     "x.apps.example.test. 3600 IN A 10.0.0.99"),
]


def test_records_saved_by_the_editor_are_answered_at_once(server, editor_probe):
    loading = r"   Loading Zone: example\.test\.$"
    for n, (typed, name, rdtype, expected) in enumerate(RECORDS, start=2):
        run_probe(editor_probe, server.home, "add", "example.test", *typed)
        server.wait_count(loading, n)
        flags, answer = wait_dig(name, rdtype, lambda f, a: expected in a)
        assert "aa" in flags and answer == [expected], (typed, answer)

    # A name server at the apex joins the one there.
    run_probe(editor_probe, server.home, "add", "example.test", "example.test", "NS",
              "ns2.example.net")
    server.wait_count(loading, len(RECORDS) + 2)
    flags, answer = wait_dig("example.test", "NS", lambda f, a: len(a) == 2)
    assert sorted(answer) == ["example.test. 3600 IN NS ns1.example.test.",
                              "example.test. 3600 IN NS ns2.example.net."]

    # Every save moved the serial on: to today's first, then by one.
    today = int(time.strftime("%Y%m%d") + "01")
    first = max(today, 2026010102)
    flags, answer = dig("example.test", "SOA")
    serial = int(answer[0].split()[6])
    assert serial == first + len(RECORDS), answer


def test_a_zone_deleted_in_the_editor_stops_answering(server, editor_probe):
    flags, answer = dig("ns1.example.test", "A")
    assert "aa" in flags and answer == ["ns1.example.test. 3600 IN A 10.0.0.1"]
    r = run_probe(editor_probe, server.home, "delete", "example.test")
    assert "box: Delete Zone 'example.test' ?" in r.stderr
    server.wait_for(r"   Removing Zone: example\.test\.$")
    flags, answer = wait_dig("ns1.example.test", "A", lambda f, a: "aa" not in f)
    assert "aa" not in flags and answer == []
    assert not (server.home / "data" / "example.test.dns").exists()
