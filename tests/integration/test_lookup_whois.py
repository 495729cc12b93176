"""WHOIS through the look-up tool's command line against small fake WHOIS servers on loopback
addresses, in a private network namespace, with the servers' host names mapped in a private
mount namespace. No public WHOIS server is ever asked."""
import subprocess

import pytest

from lookup_peers import FakeWhois, run_lookup

REGISTRY = ("127.0.0.10", "whois.verisign-grs.com")
REGISTRAR = ("127.0.0.11", "whois.registrar.test")
ARIN = ("127.0.0.12", "whois.arin.net")
RIPE = ("127.0.0.13", "whois.ripe.net")


@pytest.fixture
def whois(netns, tmp_path):
    for ip, _ in (REGISTRY, REGISTRAR, ARIN, RIPE):
        subprocess.run(["ip", "addr", "add", f"{ip}/8", "dev", "lo"], capture_output=True)
    servers = {
        "registry": FakeWhois(REGISTRY[0], "   Domain Name: EXAMPLE.COM\n"
                              f"   Registrar WHOIS Server: {REGISTRAR[1]}\n   Status: ok\n"),
        "registrar": FakeWhois(REGISTRAR[0], "Domain Name: example.com\nRegistrant: Example Ltd\n"),
        "arin": FakeWhois(ARIN[0], "NetRange: 193.0.0.0 - 193.255.255.255\nMaintainer: RIPE\n"),
        "ripe": FakeWhois(RIPE[0], "inetnum: 193.0.0.0 - 193.0.7.255\r\nnetname: RIPE-NCC\r\n"),
    }
    hosts = tmp_path / "hosts"
    hosts.write_text("127.0.0.1 localhost\n"
                     + "".join(f"{ip} {name}\n" for ip, name in (REGISTRY, REGISTRAR, ARIN, RIPE)))
    (tmp_path / "whois.dat").write_text("com : whois.verisign-grs.com\r\nnet:whois.verisign-grs.com\r\n")
    yield servers, tmp_path, hosts
    for s in servers.values():
        s.close()


def test_registry_refers_to_registrar(whois):
    servers, home, hosts = whois
    r = run_lookup(["-t", "whois", "--auto-whois", "www.example.com"], home, hosts=hosts)
    assert r.returncode == 0, r.stderr
    assert r.stdout == "Domain Name: example.com\nRegistrant: Example Ltd\n"
    assert servers["registry"].questions == ["example.com\r\n"]
    assert servers["registrar"].questions == ["example.com\r\n"]


def test_arin_refers_to_ripe(whois):
    servers, home, hosts = whois
    r = run_lookup(["-t", "WHOIS", "--auto-whois", "193.0.6.139"], home, hosts=hosts)
    assert r.returncode == 0, r.stderr
    assert r.stdout == "inetnum: 193.0.0.0 - 193.0.7.255\nnetname: RIPE-NCC\n"
    assert servers["arin"].questions == ["193.0.6.139\r\n"]
    assert servers["ripe"].questions == ["193.0.6.139\r\n"]


def test_asked_server_answers_without_referral(whois):
    servers, home, hosts = whois
    # Asked by name without auto: the registrar answers itself, nobody else is asked.
    r = run_lookup(["-t", "whois", "-s", REGISTRAR[1], "example.com"], home, hosts=hosts)
    assert r.returncode == 0
    assert r.stdout == "Domain Name: example.com\nRegistrant: Example Ltd\n"
    assert servers["registry"].questions == []
    # A closed WHOIS port: cannot connect.
    r = run_lookup(["-t", "whois", "-s", "127.0.0.14", "example.com"], home, hosts=hosts)
    assert r.returncode == 10
    assert r.stderr == "Cannot connect to 127.0.0.14\n"
