"""Primaries for the tests of Kestrune as a secondary: BIND and Knot serving a zone from a file
on their own 127.0.0.N address, port 53, inside the test's private namespace, allowing transfers
to anyone and notifying 127.0.0.1; and a scripted primary in this process for abuse cases.

Each primary's zone file can be rewritten with a new serial and reloaded; the daemon then sends
its NOTIFY to Kestrune on 127.0.0.1.
"""
import os
import shutil
import signal
import socket
import struct
import subprocess
import tempfile
import threading
import time
from pathlib import Path

from daemons import (add_address, bind_files, knot_command, knot_server_lines,  # noqa: F401
                     stop_process)

import dns.flags
import dns.message
import dns.query
import dns.rcode
import dns.rdatatype
import dns.exception

try:
    import pytest
except ImportError:  # the benchmark uses the primaries without pytest
    pytest = None

KEST_IP = "127.0.0.1"
ZONE = "sec.test."


def zone_text(zone, serial, records, refresh=3600, retry=600, expire=86400, minimum=60):
    """A zone in the usual master-file syntax: SOA, NS, then the "owner TTL TYPE data" lines."""
    lines = [f"$ORIGIN {zone}", "$TTL 300",
             f"@ 3600 IN SOA ns1.{zone} hostmaster.{zone} {serial} {refresh} {retry} {expire} "
             f"{minimum}",
             f"@ 3600 IN NS ns1.{zone}",
             "ns1 300 IN A 192.0.2.53"]
    lines += records
    return "\n".join(lines) + "\n"




class Primary:
    """A real primary daemon (kind "bind" or "knot") for one zone."""

    def __init__(self, kind, ip, zone, folder, notify=(KEST_IP,), allow_transfer="any"):
        self.kind, self.ip, self.zone = kind, ip, zone
        self.allow_transfer = allow_transfer
        self.dir = Path(folder) / f"{kind}-{ip}"
        self.dir.mkdir(parents=True)
        self.file = self.dir / (zone.rstrip(".") + ".zone")
        self.notify = list(notify)
        self.proc = None
        self._log = None

    def write_zone(self, text):
        self.file.write_text(text)

    def _bind_conf(self):
        notify = "".join(f"{ip}; " for ip in self.notify)
        text = f"""options {{
{bind_files(self.dir)}    listen-on port 53 {{ {self.ip}; }};
    listen-on-v6 {{ none; }};
    recursion no;
    allow-transfer {{ {self.allow_transfer}; }};
    dnssec-validation no;
    notify-source {self.ip};
    transfer-source {self.ip};
    max-transfer-time-out 60;
}};
controls {{ }};
zone "{self.zone}" {{ type primary; file "{self.file}"; notify explicit;
    also-notify {{ {notify}}}; }};
"""
        (self.dir / "named.conf").write_text(text)
        return ["named", "-4", "-g", "-n", "1", "-U", "1", "-c", str(self.dir / "named.conf")]

    def _knot_conf(self):
        (self.dir / "db").mkdir(exist_ok=True)
        remotes = "".join(f"  - id: kest{i}\n    address: {ip}@53\n    via: {self.ip}\n"
                          for i, ip in enumerate(self.notify))
        notify = ", ".join(f"kest{i}" for i in range(len(self.notify)))
        head = "\n".join(knot_server_lines(self.dir, f"{self.ip}@53"))
        text = f"""{head}
remote:
{remotes}acl:
  - id: anyone
    address: 0.0.0.0/0
    action: transfer
template:
  - id: default
    storage: "{self.dir}"
    zonefile-sync: -1
    zonefile-load: whole
    journal-content: none
    semantic-checks: off
zone:
  - domain: {self.zone}
    file: "{self.file}"
    acl: anyone
"""
        if self.notify:
            text += f"    notify: [{notify}]\n"
        (self.dir / "knot.conf").write_text(text)
        return knot_command(self.dir, self.dir / "knot.conf")

    def start(self, timeout=20):
        add_address(self.ip)
        cmd = self._bind_conf() if self.kind == "bind" else self._knot_conf()
        self._log = open(self.dir / "daemon.log", "ab")
        self.proc = subprocess.Popen(cmd, cwd=self.dir, stdin=subprocess.DEVNULL,
                                     stdout=self._log, stderr=subprocess.STDOUT)
        self.wait_serial(None, timeout)
        return self

    def serial(self):
        """The serial the primary answers with now, or None."""
        q = dns.message.make_query(self.zone, "SOA")
        q.flags &= ~dns.flags.RD
        try:
            r = dns.query.udp(q, self.ip, timeout=0.3)
        except (dns.exception.Timeout, OSError):
            return None
        if r.rcode() != dns.rcode.NOERROR or not r.answer:
            return None
        return r.answer[0][0].serial

    def wait_serial(self, serial, timeout=20):
        """Waits until the primary serves the zone (with this serial when one is given)."""
        deadline = time.monotonic() + timeout
        while True:
            if self.proc.poll() is not None:
                raise RuntimeError(f"{self.kind} ended with {self.proc.returncode}:\n" + self.log())
            got = self.serial()
            if got is not None and (serial is None or got == serial):
                return got
            if time.monotonic() > deadline:
                raise RuntimeError(f"{self.kind} not serving {self.zone} serial {serial}:\n"
                                   + self.log())
            time.sleep(0.05)

    def reload(self, serial):
        """Reads the zone file again (it was rewritten with a new serial); NOTIFY follows."""
        if self.kind == "bind":
            self.proc.send_signal(signal.SIGHUP)
        else:
            subprocess.run(["knotc", "-s", str(self.dir / "knot.sock"), "zone-reload", self.zone],
                           check=True, capture_output=True)
        self.wait_serial(serial)

    def log(self):
        p = self.dir / "daemon.log"
        return p.read_text(errors="replace") if p.exists() else ""

    def stop(self):
        stop_process(self.proc, 10)
        if self._log:
            self._log.close()
            self._log = None


class ScriptedPrimary:
    """A primary written out here: answers the SOA query over UDP with its serial, and serves the
    transfer over TCP in messages of `per_message` records, writing the stream `segment` bytes
    per send. Counts the transfer requests and notes whether each asked with the "MS" suffix."""

    def __init__(self, ip, zone, serial, records, per_message=100, segment=None):
        self.ip, self.zone, self.serial = ip, zone, serial
        self.records = records          # dnspython rrsets, the SOA not included
        self.per_message = per_message
        self.segment = segment
        self.requests = []              # True for a request with "MS"
        self.sent_bytes = 0
        self.done = threading.Event()
        self._stop = threading.Event()
        self._threads = []

    def start(self):
        add_address(self.ip)
        self.udp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.udp.bind((self.ip, 53))
        self.udp.settimeout(0.2)
        self.tcp = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.tcp.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.tcp.bind((self.ip, 53))
        self.tcp.listen(4)
        self.tcp.settimeout(0.2)
        for fn in (self._serve_udp, self._serve_tcp):
            t = threading.Thread(target=fn, daemon=True)
            t.start()
            self._threads.append(t)
        return self

    def soa(self):
        import dns.rrset
        return dns.rrset.from_text(self.zone, 3600, "IN", "SOA",
                                   f"ns1.{self.zone} hostmaster.{self.zone} {self.serial} 3600 600 "
                                   f"86400 60")

    def _serve_udp(self):
        while not self._stop.is_set():
            try:
                data, peer = self.udp.recvfrom(65535)
            except socket.timeout:
                continue
            except OSError:
                return
            try:
                q = dns.message.from_wire(data)
            except Exception:
                continue
            r = dns.message.make_response(q)
            r.flags |= dns.flags.AA
            if q.question and q.question[0].rdtype == dns.rdatatype.SOA:
                r.answer.append(self.soa())
            self.udp.sendto(r.to_wire(), peer)

    def stream(self, query_id):
        q = dns.message.make_query(self.zone, "AXFR")
        out = []
        sets = [self.soa()] + list(self.records) + [self.soa()]
        for i in range(0, len(sets), self.per_message):
            r = dns.message.make_response(q)
            r.id = query_id
            r.flags |= dns.flags.AA
            for s in sets[i:i + self.per_message]:
                r.answer.append(s)
            w = r.to_wire(max_size=65535)
            out.append(struct.pack("!H", len(w)) + w)
        return b"".join(out)

    def _serve_tcp(self):
        while not self._stop.is_set():
            try:
                conn, _ = self.tcp.accept()
            except socket.timeout:
                continue
            except OSError:
                return
            with conn:
                conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
                conn.settimeout(10)
                try:
                    head = conn.recv(2)
                    n = struct.unpack("!H", head)[0]
                    req = b""
                    while len(req) < n:
                        chunk = conn.recv(n - len(req))
                        if not chunk:
                            break
                        req += chunk
                    self.requests.append(req.endswith(b"MS"))
                    query_id = struct.unpack("!H", req[:2])[0]
                    data = self.stream(query_id)
                    step = self.segment or len(data)
                    for i in range(0, len(data), step):
                        if self._stop.is_set():
                            return
                        conn.sendall(data[i:i + step])
                        self.sent_bytes += min(step, len(data) - i)
                    self.done.set()
                    # Let the client close first.
                    conn.settimeout(30)
                    conn.recv(1)
                except (OSError, struct.error):
                    pass

    def stop(self):
        self._stop.set()
        for s in (getattr(self, "udp", None), getattr(self, "tcp", None)):
            if s is not None:
                s.close()
        for t in self._threads:
            t.join(2)


def wait_until(fn, timeout, what):
    """Polls fn until it returns something true; its value. Fails with `what` after timeout."""
    deadline = time.monotonic() + timeout
    while True:
        got = fn()
        if got:
            return got
        if time.monotonic() > deadline:
            raise AssertionError(f"timed out waiting for {what}")
        time.sleep(0.05)


def ask(name, rdtype, server=KEST_IP, timeout=1.0):
    """One UDP question to a server; the reply, or None on time-out."""
    q = dns.message.make_query(name, rdtype)
    q.flags &= ~dns.flags.RD
    try:
        return dns.query.udp(q, server, timeout=timeout)
    except (dns.exception.Timeout, OSError):
        return None


def answers(reply):
    """The answer section as a set of "owner TYPE data" texts (names lower case)."""
    out = set()
    for rrset in reply.answer:
        for rd in rrset:
            out.add(f"{rrset.name.to_text().lower()} {dns.rdatatype.to_text(rrset.rdtype)} "
                    f"{rd.to_text().lower() if rrset.rdtype != dns.rdatatype.TXT else rd.to_text()}")
    return out


def kest_settings(extra=""):
    text = f"DNSBind: {KEST_IP}\nWriteLog: NO\n"
    return text + extra


def secondary_file(primary_ip):
    """A secondary zone's file as an administrator starts it: the primary's address only."""
    return f"; PRIMARYIP {primary_ip}\r\n".encode()


def tcp_served(zone, ip=KEST_IP, timeout=10.0):
    """Whether kestserv answers DNS over TCP (the transfer server's side of replication): a query
    for the SOA of a zone it holds gets a reply on the connection."""
    q = dns.message.make_query(zone, "SOA")
    q.flags &= ~dns.flags.RD
    try:
        dns.query.tcp(q, ip, timeout=timeout)
        return True
    except (dns.exception.DNSException, OSError, EOFError):
        return False


def records(version):
    """The zone's records at a version: a few of each type the server keeps."""
    out = [
        "www 300 IN A 192.0.2.1",
        "www 300 IN A 192.0.2.2",
        "@ 600 IN MX 10 mail",
        "mail 300 IN A 192.0.2.25",
        "ftp 300 IN CNAME www",
        'txt 300 IN TXT "version" "%d"' % version,
        "_sip._tcp 300 IN SRV 10 20 5060 www",
        "deep.sub 300 IN A 192.0.2.9",
        f"v{version} 300 IN A 192.0.2.{100 + version}",
    ]
    return out


if pytest is not None:
    @pytest.fixture
    def folder():
        d = tempfile.mkdtemp(prefix="kest-xfrin-")
        yield Path(d)
        shutil.rmtree(d, ignore_errors=True)


def start_secondary(kestserv, kest_home, primary_ip, zone=ZONE, extra=""):
    (kest_home / "data" / (zone + "dns")).write_bytes(secondary_file(primary_ip))
    k = kestserv()
    k.write_ini(kest_settings(extra))
    return k.start()
