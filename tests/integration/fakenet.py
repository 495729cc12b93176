"""A small fake internet for resolver tests, built inside the test's private network namespace.

Peers (real authoritative servers from Debian, each with its own config, zone files, pid file and
working folder under a temporary folder, started by hand and stopped at teardown):

    127.0.0.1  kestserv, the resolver under test (DNSBind 127.0.0.1)
    127.0.0.2  "root"    NSD:  "."
    127.0.0.3  "knot"    Knot: test., beta.example., hoster.example.
    127.0.0.4  "bind"    BIND: example., gamma.test.
    127.0.0.5  "leaf"    NSD:  alpha.test., glueless.test., mixed.test., halfdead.example.
    127.0.0.6  "silent"  reads every query (UDP and TCP) and never answers
    127.0.0.7  nothing listens (the kernel refuses)

Each peer's port 53 (UDP and TCP) is held by a counting relay in this process, which logs every
query the peer gets and passes it on to the daemon on port 10053 of the same address; replies leave
from the peer's own address and port 53, so a resolver sees the address it asked. Counting in the
relay is exact and synchronous: a query is counted before its reply can exist. A query that gets
no reply (the silent peer, a muted one) is counted when the relay reads it, so the counters first
send a marker datagram to every peer's port and wait until the relay has read it: whatever reached
a peer before is counted then.

The zone files are in fakenet_zones/. Nothing in the peers reaches out: no recursion, no
forwarding, no notifies, no transfers; BIND's root hints point at the fake root.
"""
import dataclasses
import os
import selectors
import shutil
import socket
import struct
import subprocess
import tempfile
import threading
import time
from collections import OrderedDict
from pathlib import Path

import pytest

from daemons import bind_files, knot_command, knot_server_lines, stop_process

try:
    import dns.exception
    import dns.flags
    import dns.message
    import dns.query
    import dns.rcode
    import dns.rdatatype
except ImportError:  # pragma: no cover - Debian's python3-dnspython is a test dependency
    dns = None

ZONE_DIR = Path(__file__).with_name("fakenet_zones")
BACKEND_PORT = 10053
# A datagram starting with this goes no further than the relay, which notes that it got there.
SYNC_MARK = b"kest-fakenet-sync "

RESOLVER_IP = "127.0.0.1"
ROOT_IP = "127.0.0.2"
KNOT_IP = "127.0.0.3"
BIND_IP = "127.0.0.4"
LEAF_IP = "127.0.0.5"
SILENT_IP = "127.0.0.6"
CLOSED_IP = "127.0.0.7"

# name -> (kind, address, zones served in order)
PEERS = {
    "root": ("nsd", ROOT_IP, ["."]),
    "knot": ("knot", KNOT_IP, ["test.", "beta.example.", "hoster.example."]),
    "bind": ("bind", BIND_IP, ["example.", "gamma.test."]),
    "leaf": ("nsd", LEAF_IP, ["alpha.test.", "glueless.test.", "mixed.test.", "halfdead.example."]),
    "silent": ("silent", SILENT_IP, []),
}


@dataclasses.dataclass(frozen=True)
class Zone:
    name: str
    peer: str            # the peer that serves it
    ip: str
    ttl: int             # the zone's default TTL
    negative_ttl: int    # SOA minimum: how long a name error or no-data answer may be cached
    file: Path


@dataclasses.dataclass(frozen=True)
class Expected:
    """What a resolver must end with for a question: the rcode and the answer section as a set of
    "owner TYPE data" texts (CNAMEs of a chain included)."""
    rcode: str
    answer: frozenset
    soa_zone: str = ""   # for negative answers, the zone whose SOA belongs in the authority section


def _a(*records):
    return Expected("NOERROR", frozenset(records))


# Questions with the answers a working resolver must give. Tests should take them from here.
ANSWERS = {
    ("www.alpha.test.", "A"): _a("www.alpha.test. A 192.0.2.10"),
    ("alpha.test.", "A"): _a("alpha.test. A 192.0.2.1"),
    ("multi.alpha.test.", "A"): _a("multi.alpha.test. A 192.0.2.11", "multi.alpha.test. A 192.0.2.12"),
    ("alpha.test.", "MX"): _a("alpha.test. MX 10 mail.alpha.test."),
    ("alpha.test.", "TXT"): _a('alpha.test. TXT "alpha zone" "second string"'),
    ("_sip._udp.alpha.test.", "SRV"): _a("_sip._udp.alpha.test. SRV 10 60 5060 sip.alpha.test."),
    ("alpha.test.", "NS"): _a("alpha.test. NS ns1.alpha.test."),
    ("brief.alpha.test.", "A"): _a("brief.alpha.test. A 192.0.2.13"),
    ("ftp.alpha.test.", "A"): _a("ftp.alpha.test. CNAME www.beta.example.",
                                 "www.beta.example. A 192.0.2.20"),
    ("alias.alpha.test.", "A"): _a("alias.alpha.test. CNAME alias2.alpha.test.",
                                   "alias2.alpha.test. CNAME www.alpha.test.",
                                   "www.alpha.test. A 192.0.2.10"),
    ("chain.alpha.test.", "A"): _a("chain.alpha.test. CNAME chain.beta.example.",
                                   "chain.beta.example. CNAME chain.gamma.test.",
                                   "chain.gamma.test. CNAME www.glueless.test.",
                                   "www.glueless.test. A 192.0.2.40"),
    ("www.beta.example.", "A"): _a("www.beta.example. A 192.0.2.20"),
    ("beta.example.", "MX"): _a("beta.example. MX 5 mx.beta.example."),
    ("beta.example.", "TXT"): _a('beta.example. TXT "beta zone"'),
    ("_ldap._tcp.beta.example.", "SRV"): _a("_ldap._tcp.beta.example. SRV 0 5 389 www.beta.example."),
    ("www.gamma.test.", "A"): _a("www.gamma.test. A 192.0.2.30"),
    ("gamma.test.", "TXT"): _a('gamma.test. TXT "gamma zone"'),
    ("www.glueless.test.", "A"): _a("www.glueless.test. A 192.0.2.40"),
    ("glueless.test.", "TXT"): _a('glueless.test. TXT "glueless zone"'),
    ("ns.hoster.example.", "A"): _a("ns.hoster.example. A 127.0.0.5"),
    ("www.mixed.test.", "A"): _a("www.mixed.test. A 192.0.2.60"),
    ("www.halfdead.example.", "A"): _a("www.halfdead.example. A 192.0.2.70"),
    # name errors, at a leaf of each kind of server, at a TLD and at the root
    ("nosuch.alpha.test.", "A"): Expected("NXDOMAIN", frozenset(), "alpha.test."),
    ("nosuch.beta.example.", "A"): Expected("NXDOMAIN", frozenset(), "beta.example."),
    ("nosuch.gamma.test.", "A"): Expected("NXDOMAIN", frozenset(), "gamma.test."),
    ("nosuch.test.", "A"): Expected("NXDOMAIN", frozenset(), "test."),
    ("nosuch.", "A"): Expected("NXDOMAIN", frozenset(), "."),
    # names without data of the type asked
    ("www.alpha.test.", "MX"): Expected("NOERROR", frozenset(), "alpha.test."),
    ("www.beta.example.", "TXT"): Expected("NOERROR", frozenset(), "beta.example."),
    ("www.gamma.test.", "MX"): Expected("NOERROR", frozenset(), "gamma.test."),
}

NXDOMAIN = [q for q, e in ANSWERS.items() if e.rcode == "NXDOMAIN"]
NODATA = [q for q, e in ANSWERS.items() if e.rcode == "NOERROR" and not e.answer]

# Records with a short TTL, for tests of expiry: name -> seconds.
SHORT_TTL = {"brief.alpha.test.": 2}

# Names no resolver can answer: it must end with server failure, and end.
UNRESOLVABLE = {
    "www.lame.example.": "every server is lame (one refers upwards, one refuses)",
    "www.dead.test.": "the only server never answers",
    "www.void.example.": "nothing listens at the only server's address",
    "www.cycle.test.": "glueless delegations that need each other",
}

# A CNAME loop across two zones: a resolver must stop when the chain comes back round.
CNAME_LOOP = {"loop.alpha.test.": frozenset({"loop.alpha.test. CNAME loop.beta.example.",
                                             "loop.beta.example. CNAME loop.alpha.test."})}

# Names that resolve although one of their servers is broken.
LAME_BUT_RESOLVES = {"www.mixed.test.": ROOT_IP}        # the root refers upwards
SLOW_BUT_RESOLVES = {"www.halfdead.example.": SILENT_IP}  # one server never answers


def answer_set(message, section="answer"):
    """A reply's section as a set of "owner TYPE data" texts, comparable with Expected.answer."""
    out = set()
    for rrset in getattr(message, section):
        for rd in rrset:
            out.add(f"{rrset.name.to_text().lower()} {dns.rdatatype.to_text(rrset.rdtype)} "
                    f"{rd.to_text().lower() if rrset.rdtype != dns.rdatatype.TXT else rd.to_text()}")
    return out


def _zone_info(name, peer, ip):
    file = ZONE_DIR / ("root.zone" if name == "." else name.rstrip(".") + ".zone")
    ttl = negative = 0
    for line in file.read_text().splitlines():
        line = line.split(";", 1)[0].split()
        if line[:1] == ["$TTL"]:
            ttl = int(line[1])
        elif "SOA" in line:
            negative = int(line[-1])
    return Zone(name, peer, ip, ttl, negative, file)


ZONES = {z: _zone_info(z, peer, ip) for peer, (_, ip, zones) in PEERS.items() for z in zones}


# ---------------------------------------------------------------------------------------------
# Counting relay

@dataclasses.dataclass
class Query:
    when: float
    client: tuple
    qname: str
    qtype: str
    proto: str
    id: int = -1          # the message ID (-1: not a readable DNS message)
    rd: bool = False      # recursion desired



class Counter:
    """The queries one peer address received (the relay fills it)."""

    def __init__(self, ip):
        self.ip = ip
        self.queries = []
        self.muted = False   # when set, the peer drops every query (counted) like a dead server
        self.tamper = None   # when set, UDP replies pass through it: bytes in, bytes or None out
        self._lock = threading.Lock()

    def note(self, wire, client, proto):
        try:
            msg = dns.message.from_wire(wire)
            q = msg.question[0]
            query = Query(time.monotonic(), client, q.name.to_text().lower(),
                          dns.rdatatype.to_text(q.rdtype), proto, msg.id,
                          bool(msg.flags & dns.flags.RD))
        except Exception:
            query = Query(time.monotonic(), client, "", "", proto)
        with self._lock:
            self.queries.append(query)

    @property
    def count(self):
        return len(self.queries)

    def reset(self):
        with self._lock:
            self.queries.clear()


class Relay:
    """One thread relaying UDP for every peer (TCP connections get a thread each)."""

    MAX_UPSTREAM = 128

    def __init__(self):
        self.sel = selectors.DefaultSelector()
        self._wake_r, self._wake_w = socket.socketpair()
        self.sel.register(self._wake_r, selectors.EVENT_READ, ("wake", None, None))
        self._upstream = OrderedDict()   # (front, client) -> socket towards the daemon
        self._conns = set()              # open TCP connections of clients
        self._sockets = []
        self.fronts = {}                 # address -> its UDP socket on port 53
        self._stop = False
        self._thread = None
        self.netns = os.readlink("/proc/thread-self/ns/net")
        self.thread_netns = None
        self.errors = []
        self.synced = set()              # sync tokens the relay has read
        self._synced_cond = threading.Condition()

    def add(self, ip, counter, backend):
        u = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        u.bind((ip, 53))
        self.sel.register(u, selectors.EVENT_READ, ("front", (u, counter, backend), None))
        self.fronts[ip] = u
        t = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        t.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        t.bind((ip, 53))
        t.listen(16)
        self.sel.register(t, selectors.EVENT_READ, ("listen", (t, counter, backend), None))
        self._sockets += [u, t]

    def start(self):
        self._ready = threading.Event()
        self._thread = threading.Thread(target=self._run, name="fakenet-relay", daemon=True)
        self._thread.start()
        self._ready.wait(60)
        if self.thread_netns != self.netns:
            raise RuntimeError("the relay thread is not in the test's network namespace")

    def stop(self):
        self._stop = True
        self._wake_w.send(b"x")
        if self._thread:
            self._thread.join(5)
        for conn in list(self._conns):
            try:
                conn.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
        for s in self._sockets + list(self._upstream.values()) + [self._wake_r, self._wake_w]:
            s.close()
        self.sel.close()

    def _run(self):
        # Threads inherit the namespace of the thread that made them; check it anyway, since a
        # relay outside the test's namespace would talk to the machine's loopback.
        self.thread_netns = os.readlink("/proc/thread-self/ns/net")
        self._ready.set()
        if self.thread_netns != self.netns:
            return
        while not self._stop:
            for key, _ in self.sel.select(1.0):
                kind, front, client = key.data
                try:
                    if kind == "front":
                        self._from_client(*front)
                    elif kind == "up":
                        data = key.fileobj.recv(65535)
                        tamper = front[1].tamper
                        if tamper is not None:
                            data = tamper(data)
                        if data is not None:
                            front[0].sendto(data, client)
                    elif kind == "listen":
                        conn, addr = front[0].accept()
                        self._conns.add(conn)
                        threading.Thread(target=self._tcp, args=(conn, addr, front[1], front[2]),
                                         daemon=True).start()
                except Exception as e:  # a test's tamper function may raise too
                    if not self._stop:
                        self.errors.append(repr(e))

    def _from_client(self, sock, counter, backend):
        data, client = sock.recvfrom(65535)
        if data.startswith(SYNC_MARK):
            with self._synced_cond:
                self.synced.add(data)
                self._synced_cond.notify_all()
            return
        counter.note(data, client, "udp")
        if counter.muted or backend is None:
            return
        key = (sock.fileno(), client)
        up = self._upstream.get(key)
        if up is None:
            up = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
            up.connect(backend)
            self.sel.register(up, selectors.EVENT_READ, ("up", (sock, counter), client))
            self._upstream[key] = up
            while len(self._upstream) > self.MAX_UPSTREAM:
                _, old = self._upstream.popitem(last=False)
                self.sel.unregister(old)
                old.close()
        else:
            self._upstream.move_to_end(key)
        up.send(data)

    def sync(self, timeout=60):
        """Returns once the relay has read every datagram that reached a peer's port before."""
        tokens = []
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
            s.bind(("127.0.0.1", 0))
            for ip in self.fronts:
                token = SYNC_MARK + os.urandom(8).hex().encode()
                tokens.append(token)
                s.sendto(token, (ip, 53))
        deadline = time.monotonic() + timeout
        with self._synced_cond:
            while not all(t in self.synced for t in tokens):
                left = deadline - time.monotonic()
                if left <= 0 or self._thread is None or not self._thread.is_alive():
                    raise AssertionError("the relay did not read its sync datagrams")
                self._synced_cond.wait(left)
            self.synced.difference_update(tokens)

    @staticmethod
    def _read_exact(s, n):
        buf = b""
        while len(buf) < n:
            chunk = s.recv(n - len(buf))
            if not chunk:
                return None
            buf += chunk
        return buf

    def _tcp(self, conn, addr, counter, backend):
        conn.settimeout(10)
        up = None
        try:
            while True:
                head = self._read_exact(conn, 2)
                msg = head and self._read_exact(conn, struct.unpack("!H", head)[0])
                if msg is None:
                    return
                counter.note(msg, addr, "tcp")
                if counter.muted or backend is None:
                    continue
                if up is None:
                    up = socket.create_connection(backend, timeout=10)
                up.sendall(head + msg)
                rhead = self._read_exact(up, 2)
                reply = rhead and self._read_exact(up, struct.unpack("!H", rhead)[0])
                if reply is None:
                    return
                conn.sendall(rhead + reply)
        except OSError:
            pass
        finally:
            self._conns.discard(conn)
            conn.close()
            if up is not None:
                up.close()


# ---------------------------------------------------------------------------------------------
# Daemons

def _nsd_conf(d, ip, zones):
    lines = [
        "server:",
        f"  ip-address: {ip}@{BACKEND_PORT}",
        "  do-ip6: no",
        "  server-count: 1",
        '  username: ""',
        '  chroot: ""',
        f'  zonesdir: "{d}"',
        '  database: ""',
        f'  pidfile: "{d}/nsd.pid"',
        f'  xfrdfile: "{d}/xfrd.state"',
        f'  zonelistfile: "{d}/zone.list"',
        f'  xfrdir: "{d}"',
        f'  logfile: "{d}/nsd.log"',
        "  verbosity: 1",
        "  hide-version: yes",
        "  refuse-any: no",
        "remote-control:",
        "  control-enable: no",
    ]
    for z in zones:
        lines += ["zone:", f'  name: "{z}"', f'  zonefile: "{ZONES[z].file.name}"']
    (d / "nsd.conf").write_text("\n".join(lines) + "\n")
    return ["nsd", "-d", "-c", str(d / "nsd.conf")]


def _knot_conf(d, ip, zones):
    (d / "db").mkdir()
    lines = knot_server_lines(d, f"{ip}@{BACKEND_PORT}") + [
        "template:",
        "  - id: default",
        f'    storage: "{d}"',
        "    zonefile-sync: -1",
        "    zonefile-load: whole",
        "    journal-content: none",
        "    semantic-checks: off",
        "zone:",
    ]
    for z in zones:
        lines += [f"  - domain: {z}", f'    file: "{ZONES[z].file.name}"']
    (d / "knot.conf").write_text("\n".join(lines) + "\n")
    return knot_command(d, d / "knot.conf")


def _bind_conf(d, ip, zones):
    (d / "hints").write_text(f". 3600000 NS a.root.test.\na.root.test. 3600000 A {ROOT_IP}\n")
    text = f"""options {{
{bind_files(d)}    listen-on port {BACKEND_PORT} {{ {ip}; }};
    listen-on-v6 {{ none; }};
    recursion no;
    allow-recursion {{ none; }};
    allow-query-cache {{ none; }};
    allow-transfer {{ none; }};
    notify no;
    dnssec-validation no;
    version none;
    hostname none;
    server-id none;
}};
controls {{ }};
zone "." {{ type hint; file "{d}/hints"; }};
"""
    for z in zones:
        text += f'zone "{z}" {{ type primary; file "{d}/{ZONES[z].file.name}"; notify no; }};\n'
    (d / "named.conf").write_text(text)
    return ["named", "-4", "-g", "-n", "1", "-U", "1", "-c", str(d / "named.conf")]


_CONF = {"nsd": _nsd_conf, "knot": _knot_conf, "bind": _bind_conf}
_EXE = {"nsd": "nsd", "knot": "knotd", "knotc": "knotc", "bind": "named"}


class Peer:
    def __init__(self, name, kind, ip, zones, folder):
        self.name, self.kind, self.ip, self.zones = name, kind, ip, list(zones)
        self.dir = folder
        self.counter = Counter(ip)
        self.proc = None
        self._log = None

    @property
    def backend(self):
        return None if self.kind == "silent" else (self.ip, BACKEND_PORT)

    def start(self):
        if self.kind == "silent":
            return
        self.dir.mkdir()
        for z in self.zones:
            shutil.copy(ZONES[z].file, self.dir / ZONES[z].file.name)
        cmd = _CONF[self.kind](self.dir, self.ip, self.zones)
        self._log = open(self.dir / "daemon.log", "wb")
        self.proc = subprocess.Popen(cmd, cwd=self.dir, stdin=subprocess.DEVNULL,
                                     stdout=self._log, stderr=subprocess.STDOUT)

    def log_text(self):
        out = ""
        for f in ("daemon.log", "nsd.log"):
            if (self.dir / f).exists():
                out += (self.dir / f).read_text(errors="replace")
        return out

    def wait_ready(self, deadline):
        """Waits until the daemon answers authoritatively for each of its zones."""
        if self.kind == "silent":
            return
        pending = list(self.zones)
        while pending:
            if self.proc.poll() is not None:
                raise RuntimeError(f"{self.name} ({self.kind}) ended with {self.proc.returncode}:\n"
                                   + self.log_text())
            try:
                q = dns.message.make_query(pending[0], "SOA")
                q.flags &= ~dns.flags.RD
                r = dns.query.udp(q, self.ip, timeout=0.2, port=BACKEND_PORT)
                if r.rcode() == dns.rcode.NOERROR and r.flags & dns.flags.AA and r.answer:
                    pending.pop(0)
                    continue
            except (dns.exception.Timeout, OSError):
                pass
            if time.monotonic() > deadline:
                raise RuntimeError(f"{self.name} ({self.kind}) not serving {pending[0]} in time:\n"
                                   + self.log_text())
            time.sleep(0.05)

    def stop(self):
        stop_process(self.proc, 5)
        if self._log:
            self._log.close()


# ---------------------------------------------------------------------------------------------
# The fixture's object

def hints_text(root_servers=(("a.root.test.", ROOT_IP),)):
    """A root hints file in the server's cache file grammar, CR LF line ends."""
    lines = ["; Root hints of the fake internet (test use only)"]
    for name, _ in root_servers:
        lines.append(f".                        3600000  NS  {name}")
    for name, ip in root_servers:
        lines.append(f"{name:<24} 3600000  A   {ip}")
    return "".join(line + "\r\n" for line in lines)


class FakeInternet:
    resolver_ip = RESOLVER_IP
    root_ip = ROOT_IP
    silent_ip = SILENT_IP
    closed_ip = CLOSED_IP
    zones = ZONES
    answers = ANSWERS
    nxdomain = NXDOMAIN
    nodata = NODATA
    unresolvable = UNRESOLVABLE
    cname_loop = CNAME_LOOP
    lame_but_resolves = LAME_BUT_RESOLVES
    slow_but_resolves = SLOW_BUT_RESOLVES
    short_ttl = SHORT_TTL

    def __init__(self, folder, peers, relay):
        self.folder = Path(folder)
        self.peers = peers              # name -> Peer
        self.relay = relay
        self.hints_path = self.folder / "named.root"
        self.hints_path.write_bytes(hints_text().encode())

    # addresses and zones
    def ip(self, peer):
        return self.peers[peer].ip

    def peer_of(self, zone):
        return self.peers[ZONES[zone].peer]

    @property
    def leaf_zones(self):
        return [z for z in ZONES if z.count(".") >= 2]

    # counters: each reading first lets the relay catch up with what was sent before it
    def _peer(self, key):
        for p in self.peers.values():
            if key in (p.name, p.ip):
                return p
        raise KeyError(key)

    def count(self, peer):
        """Queries the peer (name or address) got since the start or the last reset."""
        self.relay.sync()
        return self._peer(peer).counter.count

    def queries(self, peer):
        self.relay.sync()
        return list(self._peer(peer).counter.queries)

    def counts(self):
        self.relay.sync()
        return {name: p.counter.count for name, p in self.peers.items()}

    def total(self):
        return sum(self.counts().values())

    def reset_counts(self):
        self.relay.sync()
        for p in self.peers.values():
            p.counter.reset()

    def mute(self, peer, muted=True):
        """Makes a peer drop every query from now on (still counted), as if it had died."""
        self._peer(peer).counter.muted = muted

    def tamper(self, peer, fn):
        """Passes the peer's UDP replies through fn (wire bytes in; bytes, or None to drop, out);
        None restores plain replies. For forged, truncated or garbage replies from a real peer."""
        self._peer(peer).counter.tamper = fn

    def send_as(self, peer, wire, to, port=53):
        """Sends a datagram from the peer's address and port 53, as the peer's replies leave."""
        self.relay.fronts[self._peer(peer).ip].sendto(wire, (to, port))

    # the resolver's side
    def kestrund_ini(self, extra=""):
        """Settings text for kestserv in the fake internet (KestServ.write_ini makes it CR LF)."""
        text = f"DNSBind: {RESOLVER_IP}\nWriteLog: YES\n"
        if extra:
            text += extra if extra.endswith("\n") else extra + "\n"
        return text

    def install(self, kest, extra=""):
        """Puts the root hints and settings into a KestServ's program directory."""
        shutil.copy(self.hints_path, Path(kest.home) / "named.root")
        kest.write_ini(self.kestrund_ini(extra))
        return kest

    def check(self):
        """Raises when the relay met errors (call at the end of a test that wants to know)."""
        if self.relay.errors:
            raise AssertionError("relay errors: " + "; ".join(self.relay.errors))


def _in_namespace(ns):
    """Whether this thread is in the namespace that the `netns` fixture made (its id)."""
    return os.readlink("/proc/thread-self/ns/net") == ns


@pytest.fixture
def fake_internet(netns):
    """The fake internet in the test's own namespace; everything is stopped at the end."""
    if dns is None:
        pytest.fail("dnspython is missing (python3-dnspython, scripts/install-deps.sh)")
    missing = [exe for exe in _EXE.values() if not shutil.which(exe, path="/usr/sbin:/usr/bin")]
    if missing:
        pytest.fail("peers missing: " + ", ".join(missing) + " (run scripts/install-deps.sh)")
    if not _in_namespace(netns):
        pytest.fail("refusing to build the fake internet outside a private network namespace")
    folder = tempfile.mkdtemp(prefix="kest-fakenet-")
    peers = {}
    relay = Relay()
    try:
        for name, (kind, ip, zones) in PEERS.items():
            # BIND listens only on addresses an interface holds; the others bind any 127/8.
            subprocess.run(["ip", "addr", "add", f"{ip}/32", "dev", "lo"], check=True,
                           capture_output=True)
            peers[name] = Peer(name, kind, ip, zones, Path(folder) / name)
        for p in peers.values():
            relay.add(p.ip, p.counter, p.backend)
        for p in peers.values():
            p.start()
        deadline = time.monotonic() + 120
        for p in peers.values():
            p.wait_ready(deadline)
        relay.start()
        yield FakeInternet(folder, peers, relay)
    finally:
        for p in peers.values():
            p.stop()
        relay.stop()
        shutil.rmtree(folder, ignore_errors=True)
