"""Zones made by the editor's wizards, served by a real kestserv and asked with dig; the classless
reverse zone look-up asking a real server (kestserv, and NSD on another port) that holds the
parent's RFC 2317 CNAMEs."""
import os
import subprocess
import time
from pathlib import Path

import dns.message
import dns.query
import dns.rcode
import pytest

from daemons import add_address, stop_process


@pytest.fixture(scope="session")
def zones_tool(kestserv_path):
    """The test tool that drives the editor's controllers; built beside kestserv."""
    path = os.environ.get("KEST_ZONES_TOOL") or str(
        Path(kestserv_path).resolve().parents[1] / "tests" / "editor" / "kest_zones_tool")
    if not os.access(path, os.X_OK):
        pytest.fail(f"kest_zones_tool not found at {path} (set $KEST_ZONES_TOOL)")
    return path


def tool(exe, *args):
    r = subprocess.run([exe, *args], capture_output=True, text=True, timeout=120)
    assert r.returncode == 0, r.stdout + r.stderr
    return r.stdout


def dig(name, rtype, server="127.0.0.1", port=53):
    out = subprocess.run(["dig", f"@{server}", "-p", str(port), "+norec", "+short", "+time=2",
                          "+tries=3", name, rtype], capture_output=True, text=True, timeout=60)
    assert out.returncode == 0, out.stdout + out.stderr
    return sorted(out.stdout.split("\n")[:-1])


def crlf(text):
    return text.replace("\n", "\r\n").encode()


def test_wizard_zones_are_served(kestserv, zones_tool):
    k = kestserv()
    k.write_ini("Name: ns1.shop.test\nPrimaryIP: 127.0.0.1\nDNSBind: 127.0.0.1\nLogDetail: NO\n")
    home = str(k.home)
    tool(zones_tool, "quick", home, "shop.test", "10.20.30.80", "10.20.30.25", "10.20.30.21")
    assert tool(zones_tool, "reverse", home, "10.20.30.77", "24", "shop.test").strip() == \
        "30.20.10.in-addr.arpa"
    k.start()
    k.wait_for(r"   Loading Zone: shop\.test\.$")
    k.wait_for(r"   Loading Zone: 30\.20\.10\.in-addr\.arpa\.$")
    k.wait_for(r"   DNS service started on 127\.0\.0\.1$")

    assert dig("www.shop.test", "A") == ["10.20.30.80"]
    assert dig("ftp.shop.test", "A") == ["10.20.30.21"]
    assert dig("mail.shop.test", "A") == ["10.20.30.25"]
    assert dig("shop.test", "MX") == ["100 mail.shop.test."]
    assert dig("shop.test", "NS") == ["ns1.shop.test."]
    # With the server at 127.0.0.1 the wizard makes no address record for it.
    assert dig("ns1.shop.test", "A") == []
    assert dig("shop.test", "SOA")[0].split()[:2] == ["ns1.shop.test.", "hostmaster.shop.test."]
    # Every address of the /24 has its name, made by the auto fill rule.
    assert dig("77.30.20.10.in-addr.arpa", "PTR") == ["10-20-30-77.shop.test."]
    assert dig("0.30.20.10.in-addr.arpa", "PTR") == ["10-20-30-0.shop.test."]
    assert dig("255.30.20.10.in-addr.arpa", "PTR") == ["10-20-30-255.shop.test."]
    assert dig("30.20.10.in-addr.arpa", "NS") == ["ns1.shop.test."]
    assert k.stop() == 0


PARENT = """\
@ 3600 SOA ns1.example.test. hostmaster.example.test. 1 7200 900 1209600 300
@ 3600 NS ns1.example.test.
128/25 3600 NS ns1.example.test.
129 3600 CNAME 129.128/25.1.168.192.in-addr.arpa.
130 3600 CNAME 130.128/25.1.168.192.in-addr.arpa.
"""


def test_classless_lookup_reads_the_parents_cname_from_kestserv(kestserv, zones_tool, tmp_path):
    k = kestserv()
    (k.home / "data" / "1.168.192.in-addr.arpa.dns").write_bytes(crlf(PARENT))
    k.write_ini("DNSBind: 127.0.0.1\nLogDetail: NO\n")
    k.start()
    k.wait_for(r"   Loading Zone: 1\.168\.192\.in-addr\.arpa\.$")
    k.wait_for(r"   DNS service started on 127\.0\.0\.1$")
    editor_home = tmp_path / "editor"
    (editor_home / "data").mkdir(parents=True)
    (editor_home / "kestrund.ini").write_bytes(b"PrimaryIP: 127.0.0.1\r\n")

    lines = tool(zones_tool, "lookup", str(editor_home), "192.168.1.128/25").splitlines()
    assert lines[0] == ("Sending request to 127.0.0.1 about CNAME-Record for "
                        "129.1.168.192.in-addr.arpa...")
    assert "Answer: CNAME-record for 129.1.168.192.in-addr.arpa. = " \
           "129.128/25.1.168.192.in-addr.arpa." in lines
    assert lines[-2] == 'Reverse Zone Name = "128/25.1.168.192.in-addr.arpa"'
    assert lines[-1] == "zone: 128/25.1.168.192.in-addr.arpa"

    # A network the parent did not delegate: no CNAME for its first address.
    lines = tool(zones_tool, "lookup", str(editor_home), "192.168.1.64/26").splitlines()
    assert lines[-2:] == ["Reverse Zone has not been Sub-Delegated!", "zone: "], lines
    assert k.stop() == 0


def test_classless_lookup_asks_nsd_on_the_configured_port(netns, zones_tool, tmp_path):
    ip, port = "127.0.0.2", 5300
    add_address(ip)
    d = tmp_path / "nsd"
    d.mkdir()
    (d / "parent.zone").write_text("$ORIGIN 1.168.192.in-addr.arpa.\n$TTL 3600\n" +
                                   PARENT.replace("@ 3600", "@"))
    (d / "nsd.conf").write_text("\n".join([
        "server:", f"  ip-address: {ip}@{port}", "  do-ip6: no", "  server-count: 1",
        '  username: ""', '  chroot: ""', f'  zonesdir: "{d}"', '  database: ""',
        f'  pidfile: "{d}/nsd.pid"', f'  xfrdfile: "{d}/xfrd.state"',
        f'  zonelistfile: "{d}/zone.list"', f'  xfrdir: "{d}"', f'  logfile: "{d}/nsd.log"',
        "remote-control:", "  control-enable: no",
        "zone:", '  name: "1.168.192.in-addr.arpa"', '  zonefile: "parent.zone"', ""]))
    proc = subprocess.Popen(["nsd", "-d", "-c", str(d / "nsd.conf")], cwd=d,
                            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                            stderr=subprocess.STDOUT)
    try:
        deadline = time.monotonic() + 60
        while True:
            assert proc.poll() is None, (d / "nsd.log").read_text(errors="replace")
            try:
                r = dns.query.udp(dns.message.make_query("1.168.192.in-addr.arpa.", "SOA"), ip,
                                  timeout=0.5, port=port)
                if r.rcode() == dns.rcode.NOERROR and r.answer:
                    break
            except dns.exception.Timeout:
                pass
            assert time.monotonic() < deadline, "nsd did not answer"
        editor_home = tmp_path / "editor"
        (editor_home / "data").mkdir(parents=True)
        (editor_home / "kestrund.ini").write_bytes(
            f"PrimaryIP: {ip}\r\nDNSPort: {port}\r\n".encode())
        lines = tool(zones_tool, "lookup", str(editor_home), "192.168.1.128/25").splitlines()
        assert lines[0].startswith(f"Sending request to {ip} about"), lines
        assert lines[-1] == "zone: 128/25.1.168.192.in-addr.arpa", lines
    finally:
        stop_process(proc)
