"""Helpers of the transfer-out tests: zone texts, kestserv as a primary, BIND and Knot as its
secondaries on their own 127.0.0.N addresses at port 53, and waits on what they answer.

Every helper runs inside the test's private namespace (the `netns` fixture of conftest.py)."""
import re
import shutil
import socket
import struct
import subprocess
import time
from pathlib import Path

from daemons import (add_address, bind_files, knot_command, knot_server_lines,  # noqa: F401
                     stop_process)

import dns.flags
import dns.message
import dns.name
import dns.query
import dns.rdata
import dns.rdataclass
import dns.rdatatype
import dns.zone

from conftest import parse_ini

KEST_IP = "127.0.0.1"
BIND_IP = "127.0.0.2"
KNOT_IP = "127.0.0.3"


def zone_text(zone, serial, hosts=20, notify=(), secure=True, extra=""):
    """A zone in the server's file grammar (and in master-file syntax dnspython reads too)."""
    lines = []
    if notify:
        lines.append("; NOTIFY " + " ".join(notify))
    if not secure:
        lines.append("; NOTSECURE")
    # Long refresh and retry: a secondary that picks up a change did so because of a NOTIFY.
    lines += [
        f"@ 3600 SOA ns1 hostmaster {serial} 86400 86400 1209600 300",
        " 3600 NS ns1",
        " 3600 MX 10 mail",
        "ns1 3600 A 10.0.0.1",
        "mail 3600 A 10.0.0.25",
        "alias 600 CNAME www",
        'txt 600 TXT "serial ' + str(serial) + '" "second string"',
        f"_sip._udp.{zone} 600 SRV 10 60 5060 mail",
        "www 600 A 10.0.0.10",
    ]
    for i in range(hosts):
        lines.append(f"h{i} 300 A 10.{(i >> 16) & 255}.{(i >> 8) & 255}.{i & 255}")
    text = "\n".join(lines) + "\n" + extra
    return text


def crlf(text):
    return text.replace("\r\n", "\n").replace("\n", "\r\n").encode()


def expected_records(zone, text):
    """The zone's records as dnspython reads the same text: a set of (name, ttl, type, rdata)."""
    z = dns.zone.from_text(text, origin=zone, relativize=False, check_origin=False)
    out = set()
    for name, node in z.nodes.items():
        for rds in node.rdatasets:
            for rd in rds:
                out.add((name.to_text().lower(), rds.ttl, dns.rdatatype.to_text(rds.rdtype),
                         rd.to_text().lower()))
    return out


def records_of(messages):
    """The answer records of transfer messages, in order, as (name, ttl, type, rdata)."""
    out = []
    for m in messages:
        for rrset in m.answer:
            for rd in rrset:
                out.append((rrset.name.to_text().lower(), rrset.ttl,
                            dns.rdatatype.to_text(rrset.rdtype), rd.to_text().lower()))
    return out


def parse_presentation(text):
    """Records of dig/kdig output (comment lines skipped), in order, as (name, ttl, type, rdata)."""
    out = []
    for line in text.splitlines():
        line = line.strip()
        if not line or line.startswith(";"):
            continue
        parts = line.split(None, 4)
        if len(parts) < 5 or parts[2] != "IN":
            continue
        name, ttl, _, rtype, rdata = parts
        rd = dns.rdata.from_text(dns.rdataclass.IN, rtype, rdata, origin=dns.name.root,
                                 relativize=False)
        out.append((name.lower(), int(ttl), rtype, rd.to_text().lower()))
    return out


def start_primary(kestserv, zones, extra_ini=""):
    """kestserv on 127.0.0.1 holding the given {zone: text} files; waits until they are loaded."""
    k = kestserv()
    for zone, text in zones.items():
        (k.home / "data" / (zone + "dns")).write_bytes(crlf(text))
    k.write_ini(f"DNSBind: {KEST_IP}\nLogDetail: NO\n" + extra_ini)
    k.start()
    k.wait_for(r"   DNS service started on 127\.0\.0\.1$")
    for zone in zones:
        k.wait_for(r"   Loading Zone: " + re.escape(zone) + "$", timeout=60)
    return k


def reload_zone(k, zone):
    """The editor's reload datagram for one zone."""
    port = int(dict(parse_ini(k.ini))["ReloadPort"])
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    try:
        s.sendto(f"reload {zone}".encode(), ("127.0.0.1", port))
    finally:
        s.close()


def tcp_messages(request_wire, timeout=30, server=(KEST_IP, 53), source="127.0.0.1",
                 until_soa=2):
    """Sends one request over TCP and reads framed messages until the closing SOA of a transfer
    (the until_soa-th SOA record) or one refusal; returns the raw messages."""
    s = socket.create_connection(server, timeout=timeout, source_address=(source, 0))
    out = []
    try:
        s.sendall(struct.pack("!H", len(request_wire)) + request_wire)
        soas = 0
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            head = _read_exact(s, 2)
            if head is None:
                break
            body = _read_exact(s, struct.unpack("!H", head)[0])
            if body is None:
                break
            out.append(body)
            m = dns.message.from_wire(body, one_rr_per_rrset=True, ignore_trailing=True)
            if m.rcode() != 0:
                break
            soas += sum(1 for r in m.answer if r.rdtype == dns.rdatatype.SOA)
            if soas >= until_soa:
                break
    finally:
        s.close()
    return out


def _read_exact(s, n):
    buf = b""
    while len(buf) < n:
        chunk = s.recv(n - len(buf))
        if not chunk:
            return None
        buf += chunk
    return buf


def soa_serial(ip, zone, port=53, timeout=0.5):
    """The serial a server answers for the zone with authority, or None."""
    q = dns.message.make_query(zone, "SOA")
    q.flags &= ~dns.flags.RD
    try:
        r = dns.query.udp(q, ip, port=port, timeout=timeout)
    except (dns.exception.Timeout, OSError):
        return None
    if r.rcode() != 0 or not (r.flags & dns.flags.AA) or not r.answer:
        return None
    return r.answer[0][0].serial


def wait_serial(ip, zone, serial, timeout, peer=None):
    """Waits until the server at ip answers the zone's SOA with this serial."""
    deadline = time.monotonic() + timeout
    last = None
    while time.monotonic() < deadline:
        last = soa_serial(ip, zone)
        if last == serial:
            return
        if peer is not None and peer.proc.poll() is not None:
            raise AssertionError(f"{peer.kind} ended:\n{peer.log_text()}")
        time.sleep(0.1)
    raise AssertionError(f"{ip} answers serial {last} for {zone}, not {serial}"
                         + ("" if peer is None else "; its log:\n" + peer.log_text()[-4000:]))


class Secondary:
    """BIND 9 or Knot as a secondary of kestserv for some zones, listening on ip:53."""

    def __init__(self, kind, ip, zones, folder, primary=KEST_IP):
        self.kind, self.ip, self.zones = kind, ip, list(zones)
        self.dir = Path(folder) / kind
        self.primary = primary
        self.proc = None
        self._log = None

    def start(self):
        self.dir.mkdir(parents=True)
        cmd = self._bind_conf() if self.kind == "bind" else self._knot_conf()
        self._log = open(self.dir / "daemon.log", "wb")
        self.proc = subprocess.Popen(cmd, cwd=self.dir, stdin=subprocess.DEVNULL,
                                     stdout=self._log, stderr=subprocess.STDOUT)
        return self

    def _bind_conf(self):
        d = self.dir
        text = f"""options {{
{bind_files(d)}    listen-on port 53 {{ {self.ip}; }};
    listen-on-v6 {{ none; }};
    query-source address {self.ip};
    transfer-source {self.ip};
    notify-source {self.ip};
    recursion no;
    allow-transfer {{ any; }};
    notify no;
    dnssec-validation no;
    max-records 0;
}};
controls {{ }};
"""
        for z in self.zones:
            text += (f'zone "{z}" {{ type secondary; primaries {{ {self.primary}; }}; '
                     f'file "{d}/{z}db"; masterfile-format text; }};\n')
        (d / "named.conf").write_text(text)
        return ["named", "-4", "-g", "-n", "1", "-U", "1", "-c", str(d / "named.conf")]

    def _knot_conf(self):
        d = self.dir
        (d / "db").mkdir()
        lines = knot_server_lines(d, f"{self.ip}@53") + [
            "remote:",
            "  - id: primary",
            f"    address: {self.primary}@53",
            f"    via: {self.ip}",
            "acl:",
            "  - id: from_primary",
            f"    address: {self.primary}",
            "    action: notify",
            "  - id: anyone",
            "    address: 127.0.0.0/8",
            "    action: transfer",
            "template:",
            "  - id: default",
            f'    storage: "{d}"',
            "    zonefile-sync: -1",
            "    journal-content: none",
            "    semantic-checks: off",
            "zone:",
        ]
        for z in self.zones:
            lines += [f"  - domain: {z}", "    master: primary", "    acl: [from_primary, anyone]"]
        (d / "knot.conf").write_text("\n".join(lines) + "\n")
        return knot_command(d, d / "knot.conf")

    def log_text(self):
        p = self.dir / "daemon.log"
        return p.read_text(errors="replace") if p.exists() else ""

    def wait_log(self, pattern, timeout):
        rx = re.compile(pattern)
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if rx.search(self.log_text()):
                return
            if self.proc.poll() is not None:
                break
            time.sleep(0.1)
        raise AssertionError(f"{self.kind}: no log line {pattern!r}:\n{self.log_text()[-4000:]}")

    def stop(self):
        stop_process(self.proc, 10)
        if self._log:
            self._log.close()


def peers_missing(*exes):
    return [e for e in exes if not shutil.which(e, path="/usr/sbin:/usr/bin")]
