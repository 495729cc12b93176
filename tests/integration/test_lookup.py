"""The look-up tool's command line against real servers in a private network namespace:
kestserv on 127.0.0.1, NSD on 127.0.0.2 and BIND on 127.0.0.3 serving the same zone. Expected
texts are the output rules applied to dnspython's reading of the same question's reply."""
import shutil
import socket
import subprocess

import dns.rdatatype

import pytest

from lookup_peers import (expected_reply, ask, expected_transfer_blocks, record_blocks,
                          run_lookup, start_bind, start_nsd, stop_process)
from xfr_out_peers import start_primary, zone_text

ZONE = "kest.test."
KEST, NSD, BIND = "127.0.0.1", "127.0.0.2", "127.0.0.3"
TYPES = ["A", "MX", "CNAME", "NS", "PTR", "SOA", "SRV", "TXT", "ANY"]
# A name per type where the zone has such a record (ANY and PTR ask at names with several/none).
NAMES = {"A": "www.kest.test", "MX": "kest.test", "CNAME": "alias.kest.test",
         "NS": "kest.test", "PTR": "www.kest.test", "SOA": "kest.test",
         "SRV": "_sip._udp.kest.test", "TXT": "txt.kest.test", "ANY": "mail.kest.test"}


@pytest.fixture
def servers(kestserv, netns, tmp_path):
    if not (shutil.which("nsd") and shutil.which("named")):
        pytest.fail("nsd or named missing (scripts/install-deps.sh)")
    for ip in (NSD, BIND):
        subprocess.run(["ip", "addr", "add", f"{ip}/8", "dev", "lo"], capture_output=True)
    text = zone_text(ZONE, 7, hosts=40, secure=False)
    kest = start_primary(kestserv, {ZONE: text})
    nsd = start_nsd(tmp_path / "nsd", NSD, ZONE, text)
    bind = start_bind(tmp_path / "bind", BIND, ZONE, text)
    yield {"kest": KEST, "nsd": NSD, "bind": BIND, "home": tmp_path}
    stop_process(nsd)
    stop_process(bind)
    kest.stop()


@pytest.mark.parametrize("server", ["kest", "nsd", "bind"])
def test_every_type(servers, server):
    ip = servers[server]
    for t in TYPES:
        for recursion in (True, False):
            args = ["-s", ip, "-t", t.lower(), NAMES[t]] + ([] if recursion else ["-R"])
            r = run_lookup(args, servers["home"])
            assert r.returncode == 0, (t, r.stderr)
            assert r.stderr == ""
            want = expected_reply(ask(ip, NAMES[t], t, recursion=recursion), NAMES[t],
                                  dns.rdatatype.from_text(t), recursion)
            assert r.stdout == want, (server, t, recursion)
            assert "\r" not in r.stdout


def test_name_error_refused_and_reverse(servers):
    r = run_lookup(["-s", KEST, "nothere.kest.test"], servers["home"])
    assert r.returncode == 0
    assert r.stdout.startswith("Authoritative Answer: Yes\nRecursion Available: ")
    assert "\n\nHeader:\nName does not exist!\n" in r.stdout
    assert r.stdout == expected_reply(ask(KEST, "nothere.kest.test", "A"), "nothere.kest.test", 1)
    # BIND without recursion refuses a name it holds no zone for.
    r = run_lookup(["-s", BIND, "-R", "www.other.test"], servers["home"])
    assert r.returncode == 0
    assert r.stdout == ("Authoritative Answer: No\nRecursion Available: No\n\nHeader:\n"
                        "Refused - will not answer this client or this query type.\n")
    # An address asked for by A is asked for by its reverse name.
    r = run_lookup(["-s", BIND, "-R", "10.0.0.1"], servers["home"])
    assert r.returncode == 0
    assert r.stdout == expected_reply(ask(BIND, "1.0.0.10.in-addr.arpa", "PTR", recursion=False),
                                      "1.0.0.10.in-addr.arpa", 12, False)


@pytest.mark.parametrize("server", ["kest", "bind"])
def test_zone_transfer(servers, server):
    ip = servers[server]
    r = run_lookup(["-s", ip, "-t", "AXFR", "kest.test"], servers["home"])
    assert r.returncode == 0, r.stderr
    assert r.stdout.startswith("Zone Transfer:\n\nSOA-record for kest.test. = ")
    want = expected_transfer_blocks(ip, ZONE)
    got = record_blocks(r.stdout)
    assert got[0] == want[0]
    assert sorted(got) == sorted(want)
    assert len(got) > 40


def test_silent_server_and_closed_port(servers):
    # A UDP socket that reads and never answers.
    silent = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    silent.bind(("127.0.0.1", 0))
    port = silent.getsockname()[1]
    try:
        r = run_lookup(["-s", "127.0.0.1", "-p", str(port), "--timeout", "1", "x.test"],
                       servers["home"])
        assert r.returncode == 9
        assert r.stdout == ""
        assert r.stderr == "No answer from 127.0.0.1\n"
        assert silent.recv(512)[12:] == b"\x01x\x04test\x00\x00\x01\x00\x01"
    finally:
        silent.close()
    # Nobody listens on that port any more: the zone transfer's connection is refused.
    r = run_lookup(["-s", "127.0.0.1", "-p", str(port), "-t", "axfr", "x.test"], servers["home"])
    assert r.returncode == 10
    assert r.stdout == ""
    assert r.stderr == "Connection refused\n"


def test_server_by_host_name(servers):
    hosts = servers["home"] / "hosts"
    hosts.write_text(f"127.0.0.1 localhost\n{BIND} ns.bind.test\n")
    r = run_lookup(["-s", "ns.bind.test", "-R", "www.kest.test"], servers["home"], hosts=hosts)
    assert r.returncode == 0, r.stderr
    assert r.stdout == expected_reply(ask(BIND, "www.kest.test", "A", recursion=False),
                                      "www.kest.test", 1, False)
    # A name the hosts file does not hold (and no name server in the namespace).
    r = run_lookup(["-s", "nowhere.test", "www.kest.test"], servers["home"], hosts=hosts)
    assert r.returncode == 10
    assert r.stderr == "Cannot connect to nowhere.test\n"


def test_default_server_from_settings(servers):
    (servers["home"] / "kestrund.ini").write_bytes(f"PrimaryIP: {NSD}\r\n".encode())
    r = run_lookup(["-R", "-t", "mx", "kest.test"], servers["home"])
    assert r.returncode == 0
    assert r.stdout == expected_reply(ask(NSD, "kest.test", "MX", recursion=False), "kest.test",
                                      15, False)
