#!/usr/bin/python3
"""Kestrune against its peers, side by side in one run, inside a private network namespace.

Workload 1 (authoritative), workload 2 (cache hits through forwarders to one NSD) and workload 3
(time and peak memory to load a big zone and answer the first query). The figures that count are
the ratios to the best peer measured in the same run; absolute numbers depend on the machine.
Run through run.sh, which installs what is missing and builds kestserv first.
"""
import argparse
import ctypes
import os
import random
import re
import shutil
import signal
import socket
import string
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import dns.exception
import dns.flags
import dns.message
import dns.query
import dns.rcode
import dns.rdatatype

HERE = Path(__file__).resolve().parent
REPO = HERE.parent.parent
TEMPLATES = HERE / "templates"
CLONE_NEWNET = 0x40000000
CLK_TCK = os.sysconf("SC_CLK_TCK")
SERVER_CORE = "0"
DNSPERF_CORE = "1"
ZONE = "bench.test."
BIG_ZONE = "big.test."
SOA_MINIMUM = 3600
TTL = 3600

# Addresses on loopback, one per server and workload, so no start ever waits for a port.
ADDR = {
    ("auth", "Kestrune"): "127.0.0.2", ("auth", "NSD"): "127.0.0.3", ("auth", "Knot"): "127.0.0.4",
    ("auth", "BIND"): "127.0.0.5", ("auth", "Unbound"): "127.0.0.6",
    ("auth", "dnsmasq"): "127.0.0.7",
    ("cache", "NSD"): "127.0.0.10", ("cache", "Kestrune"): "127.0.0.12",
    ("cache", "Unbound"): "127.0.0.16", ("cache", "dnsmasq"): "127.0.0.17",
    ("load", "Kestrune"): "127.0.0.22", ("load", "NSD"): "127.0.0.23",
    ("load", "Knot"): "127.0.0.24",
}


class Unavailable(Exception):
    """A server that could not be measured; the text says why."""


# ---------------------------------------------------------------- namespace and processes

def enter_private_namespace():
    if not shutil.which("ip"):
        sys.exit("bench: needs ip (iproute2) to set up its network namespace")
    libc = ctypes.CDLL(None, use_errno=True)
    if libc.unshare(CLONE_NEWNET) != 0:
        err = ctypes.get_errno()
        sys.exit(f"bench: cannot make a private network namespace ({os.strerror(err)}); run as root")
    subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
    # BIND listens only on addresses an interface holds, so loopback gets each one by name.
    for addr in sorted(set(ADDR.values())):
        subprocess.run(["ip", "addr", "add", f"{addr}/32", "dev", "lo"], check=True)
    links = subprocess.run(["ip", "-o", "link"], capture_output=True, text=True, check=True).stdout
    if len(links.strip().splitlines()) != 1:
        sys.exit("bench: the new namespace has more than loopback; refusing to run")


class Proc:
    """A server process started in a session of its own, so its whole group can be stopped."""

    running = []

    def __init__(self, name, argv, log, env=None, stdout=None):
        self.name = name
        self.log = Path(log)
        self.started = time.monotonic()
        with open(self.log, "ab") as logf:
            out = subprocess.DEVNULL if stdout == "null" else logf
            self.popen = subprocess.Popen(["taskset", "-c", SERVER_CORE, *argv], env=env,
                                          stdin=subprocess.DEVNULL, stdout=out, stderr=logf,
                                          start_new_session=True)
        Proc.running.append(self)

    @property
    def pid(self):
        return self.popen.pid

    def alive(self):
        return self.popen.poll() is None

    def group(self):
        """Pids of every process left in this server's process group."""
        pids = []
        for entry in os.listdir("/proc"):
            if entry.isdigit():
                fields = read_stat(int(entry))
                if fields and int(fields[2]) == self.pid:
                    pids.append(int(entry))
        return pids

    def tail(self, lines=6):
        try:
            text = self.log.read_text(errors="replace").strip().splitlines()
        except OSError:
            return ""
        return " | ".join(text[-lines:])

    def stop(self):
        if self in Proc.running:
            Proc.running.remove(self)
        for sig, wait in ((signal.SIGTERM, 10), (signal.SIGKILL, 5)):
            try:
                os.killpg(self.pid, sig)
            except ProcessLookupError:
                pass
            deadline = time.monotonic() + wait
            while time.monotonic() < deadline:
                self.popen.poll()
                if not self.group():
                    return
                time.sleep(0.05)
        self.popen.poll()

    @classmethod
    def stop_all(cls):
        for proc in list(cls.running):
            proc.stop()


def read_stat(pid):
    """Fields of /proc/<pid>/stat from the state on (index 0 is the state), or None."""
    try:
        raw = Path(f"/proc/{pid}/stat").read_text()
    except OSError:
        return None
    return raw[raw.rfind(")") + 2:].split()


def cpu_ticks(pids):
    total = 0
    for pid in pids:
        fields = read_stat(pid)
        if fields:
            total += int(fields[11]) + int(fields[12])  # utime, stime
    return total


def vm_hwm_kib(pid):
    try:
        for line in Path(f"/proc/{pid}/status").read_text().splitlines():
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    except OSError:
        pass
    return 0


def udp_sockets(addr, port=53):
    """(inode, drops) of the UDP sockets bound to addr:port in this namespace."""
    want = f"{int.from_bytes(socket.inet_aton(addr), 'little'):08X}:{port:04X}"
    found = []
    for line in Path("/proc/net/udp").read_text().splitlines()[1:]:
        cols = line.split()
        if cols[1] == want:
            found.append((cols[9], int(cols[-1])))
    return found


def socket_inodes(addr, port=53):
    return {inode for inode, _ in udp_sockets(addr, port)}


def socket_drops(addr, port=53):
    """Datagrams the kernel dropped because the server's receive buffer was full."""
    return sum(drops for _, drops in udp_sockets(addr, port))


def socket_holders(addr, port=53):
    """Pids of every process holding a UDP socket bound to addr:port."""
    links = {f"socket:[{i}]" for i in socket_inodes(addr, port)}
    pids = set()
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            for fd in os.listdir(f"/proc/{entry}/fd"):
                if os.readlink(f"/proc/{entry}/fd/{fd}") in links:
                    pids.add(int(entry))
                    break
        except OSError:
            continue
    return sorted(pids)


# ---------------------------------------------------------------- zone and query file

class Zone:
    def __init__(self, origin, hosts, rng):
        self.origin = origin
        self.hosts = {}  # relative name -> address text
        self.hosts["ns1"] = "10.0.0.1"
        self.hosts["mail"] = "10.0.0.25"
        used = set(self.hosts.values())
        width = len(str(hosts))
        for i in range(hosts - len(self.hosts)):
            while True:
                ip = f"10.{rng.randrange(1, 255)}.{rng.randrange(256)}.{rng.randrange(1, 255)}"
                if ip not in used or hosts > 500000:
                    break
            used.add(ip)
            self.hosts[f"host{i:0{width}d}"] = ip

    def fqdn(self, rel):
        return f"{rel}.{self.origin}"

    def soa_text(self):
        return f"ns1 hostmaster 2026120801 7200 900 1209600 {SOA_MINIMUM}"

    def write_kestrune(self, path):
        lines = [f"@ {TTL} SOA {self.soa_text()}", f" {TTL} NS ns1", f" {TTL} MX 10 mail"]
        lines += [f"{name} {TTL} A {ip}" for name, ip in self.hosts.items()]
        Path(path).write_bytes(("\r\n".join(lines) + "\r\n").encode())

    def write_master(self, path):
        lines = [f"$ORIGIN {self.origin}", f"$TTL {TTL}", f"@ IN SOA {self.soa_text()}",
                 "@ IN NS ns1", "@ IN MX 10 mail"]
        lines += [f"{name} IN A {ip}" for name, ip in self.hosts.items()]
        Path(path).write_text("\n".join(lines) + "\n")

    def unbound_local_data(self):
        o = self.origin
        out = [f'    local-zone: "{o}" static',
               f'    local-data: "{o} {TTL} IN SOA ns1.{o} hostmaster.{o} 2026120801 7200 900 '
               f'1209600 {SOA_MINIMUM}"',
               f'    local-data: "{o} {TTL} IN NS ns1.{o}"',
               f'    local-data: "{o} {TTL} IN MX 10 mail.{o}"']
        out += [f'    local-data: "{self.fqdn(n)} {TTL} IN A {ip}"' for n, ip in self.hosts.items()]
        return "\n".join(out)

    def write_hosts(self, path):
        Path(path).write_text("".join(f"{ip} {self.fqdn(n)}\n" for n, ip in self.hosts.items()))


def make_queries(zone, count, rng, path):
    """count lines: 80% A of random hosts, 10% MX of the apex, 10% A of names that do not exist."""
    names = list(zone.hosts)
    lines = []
    for _ in range(count):
        r = rng.random()
        if r < 0.8:
            lines.append(f"{zone.fqdn(rng.choice(names))} A")
        elif r < 0.9:
            lines.append(f"{zone.origin} MX")
        else:
            lines.append(f"nx{rng.randrange(1000):03d}.{zone.origin} A")
    Path(path).write_text("\n".join(lines) + "\n")
    return lines


# ---------------------------------------------------------------- answers

def ask(addr, name, rdtype, timeout=1.0):
    q = dns.message.make_query(name, rdtype)
    return dns.query.udp(q, addr, port=53, timeout=timeout)


def answer_problem(zone, addr, name, rdtype, timeout=1.0):
    """None when the server answers this question correctly, else what is wrong."""
    try:
        r = ask(addr, name, rdtype, timeout)
    except dns.exception.Timeout:
        return f"{name} {rdtype}: no answer"
    except (OSError, dns.exception.DNSException) as e:
        return f"{name} {rdtype}: {e.__class__.__name__}"
    rel = name[:-len(zone.origin) - 1] if name.endswith("." + zone.origin) else None
    rrs = [rd for rrset in r.answer if rrset.rdtype == dns.rdatatype.from_text(rdtype)
           for rd in rrset]
    if rel in zone.hosts and rdtype == "A":
        got = sorted(rd.to_text() for rd in rrs)
        if r.rcode() != dns.rcode.NOERROR or got != [zone.hosts[rel]]:
            return f"{name} A: {dns.rcode.to_text(r.rcode())} {got}"
    elif name == zone.origin and rdtype == "MX":
        got = [rd.to_text() for rd in rrs]
        if r.rcode() != dns.rcode.NOERROR or got != [f"10 mail.{zone.origin}"]:
            return f"{name} MX: {dns.rcode.to_text(r.rcode())} {got}"
    elif r.rcode() != dns.rcode.NXDOMAIN:
        return f"{name} {rdtype}: {dns.rcode.to_text(r.rcode())}, not NXDOMAIN"
    return None


def check_answers(zone, addr, questions):
    problems = [p for p in (answer_problem(zone, addr, n, t) for n, t in questions) if p]
    if problems:
        raise Unavailable("wrong answers: " + "; ".join(problems[:3]))


def sample_questions(zone, rng, query_lines=None):
    if query_lines:
        picks = rng.sample(query_lines, min(6, len(query_lines)))
        qs = [tuple(line.split()) for line in picks]
    else:
        qs = [(zone.fqdn(n), "A") for n in rng.sample(list(zone.hosts), 4)]
    qs.append((zone.origin, "MX"))
    qs.append((f"nx{rng.randrange(1000):03d}.{zone.origin}", "A"))
    return qs


def wait_correct(proc, zone, addr, name, timeout, poll=0.02):
    """Seconds from the process start until name A is answered correctly."""
    deadline = time.monotonic() + timeout
    problem = "nothing asked"
    while time.monotonic() < deadline:
        if not proc.alive():
            raise Unavailable(f"exited with {proc.popen.returncode}: {proc.tail()}".rstrip(": "))
        problem = answer_problem(zone, addr, name, "A", timeout=0.05)
        if problem is None:
            return time.monotonic() - proc.started
        time.sleep(poll)
    log = proc.tail(3)
    raise Unavailable(f"no correct answer within {timeout:.0f} s (last: {problem})"
                      + (f"; log: {log}" if log else ""))


# ---------------------------------------------------------------- servers

def fill(template, **values):
    return string.Template((TEMPLATES / template).read_text()).substitute(values)


class Server:
    """One server of one workload: writes its files, starts, stops."""

    name = "?"
    stdout = None

    def __init__(self, workload, work, opts):
        self.workload = workload
        self.addr = ADDR[(workload, self.name)]
        self.dir = Path(work) / f"{workload}-{self.name.lower()}"
        self.dir.mkdir(parents=True, exist_ok=True)
        self.opts = opts
        self.proc = None

    def log(self):
        return self.dir / "server.log"

    def start(self):
        self.proc = Proc(self.name, self.argv(), self.log(), env=self.env(), stdout=self.stdout)
        return self.proc

    def env(self):
        return None

    def stop(self):
        if self.proc:
            self.proc.stop()

    def version(self):
        return ""


class Kestrune(Server):
    name = "Kestrune"
    stdout = "null"  # headless runs echo every log line; a user pays for it, nobody reads it here

    def setup(self, zone=None, upstream=None):
        (self.dir / "data").mkdir(exist_ok=True)
        ini = [f"DNSBind: {self.addr}"]
        if zone:
            zone.write_kestrune(self.dir / "data" / f"{zone.origin}dns")
        if upstream:
            ini += ["RecursionOut: YES", f"NS: {upstream}"]
        ini += self.opts.kestrune_setting
        (self.dir / "kestrund.ini").write_bytes(("\r\n".join(ini) + "\r\n").encode())

    def argv(self):
        return [self.opts.kestserv, "-n"]

    def env(self):
        env = {k: v for k, v in os.environ.items()
               if k not in ("DISPLAY", "WAYLAND_DISPLAY", "NOTIFY_SOCKET")}
        env["KESTRUNE_HOME"] = str(self.dir)
        return env

    def version(self):
        rev = subprocess.run(["git", "-C", str(REPO), "describe", "--always", "--dirty"],
                             capture_output=True, text=True).stdout.strip()
        return f"kestserv {rev}"


class NSD(Server):
    name = "NSD"

    def setup(self, zone):
        zone.write_master(self.dir / "zone.txt")
        (self.dir / "nsd.conf").write_text(fill("nsd.conf", addr=self.addr, dir=self.dir,
                                                zone=zone.origin, zonefile="zone.txt"))

    def argv(self):
        return ["nsd", "-d", "-c", str(self.dir / "nsd.conf")]

    def version(self):
        out = subprocess.run(["nsd", "-v"], capture_output=True, text=True)
        return (out.stdout + out.stderr).splitlines()[0]


class Knot(Server):
    name = "Knot"

    def setup(self, zone):
        zone.write_master(self.dir / "zone.txt")
        (self.dir / "knot.conf").write_text(fill("knot.conf", addr=self.addr, dir=self.dir,
                                                 zone=zone.origin, zonefile=self.dir / "zone.txt"))

    def argv(self):
        return ["knotd", "-c", str(self.dir / "knot.conf")]

    def version(self):
        return subprocess.run(["knotd", "-V"], capture_output=True, text=True).stdout.strip()


class BIND(Server):
    name = "BIND"

    def setup(self, zone):
        zone.write_master(self.dir / "zone.txt")
        (self.dir / "named.conf").write_text(fill("named.conf", addr=self.addr, dir=self.dir,
                                                  zone=zone.origin.rstrip("."),
                                                  zonefile=self.dir / "zone.txt"))

    def argv(self):
        return ["named", "-f", "-n", "1", "-4", "-c", str(self.dir / "named.conf")]

    def version(self):
        return subprocess.run(["named", "-v"], capture_output=True, text=True).stdout.strip()


class Unbound(Server):
    name = "Unbound"

    def setup(self, zone=None, upstream=None):
        if upstream:
            # Unbound answers the reserved test. domain itself unless told not to.
            body = (f'    local-zone: "test." nodefault\n\n'
                    f'forward-zone:\n    name: "."\n    forward-addr: {upstream}@53')
        else:
            body = zone.unbound_local_data()
        (self.dir / "unbound.conf").write_text(fill("unbound.conf", addr=self.addr, dir=self.dir,
                                                    body=body))

    def argv(self):
        return ["unbound", "-d", "-c", str(self.dir / "unbound.conf")]

    def version(self):
        out = subprocess.run(["unbound", "-V"], capture_output=True, text=True).stdout
        return out.splitlines()[0] if out else "unbound"


class Dnsmasq(Server):
    name = "dnsmasq"

    def setup(self, zone=None, upstream=None):
        d = self.dir
        self.args = ["--keep-in-foreground", "--conf-file=/dev/null", "--no-hosts", "--no-resolv",
                     f"--listen-address={self.addr}", "--bind-interfaces", "--port=53",
                     "--user=root", f"--pid-file={d}/dnsmasq.pid", f"--log-facility={d}/dnsmasq.log"]
        if upstream:
            # MX answers are kept only when asked for, and the query file has them.
            self.args += [f"--server={upstream}", "--cache-size=10000", "--cache-rr=MX"]
        else:
            zone.write_hosts(d / "hosts")
            dom = zone.origin.rstrip(".")
            self.args += [f"--addn-hosts={d}/hosts", f"--local=/{dom}/",
                          f"--mx-host={dom},mail.{dom},10", f"--local-ttl={TTL}"]

    def argv(self):
        return ["dnsmasq", *self.args]

    def version(self):
        out = subprocess.run(["dnsmasq", "--version"], capture_output=True, text=True).stdout
        return out.splitlines()[0] if out else "dnsmasq"


# ---------------------------------------------------------------- dnsperf

def dnsperf(addr, qfile, seconds=None, qps=None, runs=None, clients=8, outstanding=500):
    argv = ["taskset", "-c", DNSPERF_CORE, "dnsperf", "-s", addr, "-p", "53", "-d", str(qfile),
            "-c", str(clients), "-T", "1", "-q", str(outstanding), "-t", "2"]
    if seconds:
        argv += ["-l", str(seconds)]
    if runs:
        argv += ["-n", str(runs)]
    if qps:
        argv += ["-Q", str(qps)]
    limit = (seconds or 60) + 60
    out = subprocess.run(argv, capture_output=True, text=True, timeout=limit)
    text = out.stdout + out.stderr
    stats = {}
    for key, rx in (("sent", r"Queries sent:\s+(\d+)"), ("completed", r"Queries completed:\s+(\d+)"),
                    ("lost", r"Queries lost:\s+(\d+)"), ("runtime", r"Run time \(s\):\s+([\d.]+)"),
                    ("qps", r"Queries per second:\s+([\d.]+)")):
        m = re.search(rx, text)
        if not m:
            raise Unavailable("dnsperf: " + " | ".join(text.strip().splitlines()[-3:]))
        stats[key] = float(m.group(1))
    codes = {}
    m = re.search(r"Response codes:\s+(.*)", text)
    if m:
        for code, n in re.findall(r"([A-Z]+) (\d+)", m.group(1)):
            codes[code] = int(n)
    stats["codes"] = codes
    stats["answered"] = codes.get("NOERROR", 0) + codes.get("NXDOMAIN", 0)
    return stats


def measure(server, qfile, opts, upstream=None):
    """Highest answered rate at full speed, then CPU per answered query and losses at a fixed load."""
    full = dnsperf(server.addr, qfile, seconds=opts.duration)
    pids = socket_holders(server.addr)
    if not pids:
        raise Unavailable("no process holds the server's socket")
    up_pids = socket_holders(upstream) if upstream else []
    before, up_before, drops_before = cpu_ticks(pids), cpu_ticks(up_pids), socket_drops(server.addr)
    # 50 ms of queries in flight: enough for any server that keeps up, while a busy client's
    # catch-up bursts stay small; a server that falls behind shows as "offered only".
    fixed = dnsperf(server.addr, qfile, seconds=opts.duration, qps=opts.load,
                    outstanding=max(100, opts.load // 20))
    after, up_after, drops = cpu_ticks(pids), cpu_ticks(up_pids), socket_drops(server.addr)
    if not server.proc.alive():
        raise Unavailable(f"exited during the run: {server.proc.tail(3)}")
    notes = []
    for run, label in ((full, "full speed"), (fixed, "fixed load")):
        other = {c: n for c, n in run["codes"].items() if c not in ("NOERROR", "NXDOMAIN")}
        if other:
            notes.append(f"{label}: " + ", ".join(f"{c} {n}" for c, n in other.items()))
    if drops > drops_before:
        notes.append(f"{drops - drops_before} of the lost dropped at the server's full socket")
    offered = fixed["sent"] / fixed["runtime"] if fixed["runtime"] else 0
    if offered < opts.load * 0.95:
        notes.append(f"offered only {offered:,.0f} q/s")
    cpu_us = (after - before) / CLK_TCK / fixed["answered"] * 1e6 if fixed["answered"] else None
    result = {
        "max_qps": full["answered"] / full["runtime"] if full["runtime"] else 0,
        "cpu_us": cpu_us,
        "lost": int(fixed["sent"] - fixed["answered"]),
        "lost_pct": 100.0 * (fixed["sent"] - fixed["answered"]) / fixed["sent"] if fixed["sent"] else 0,
        "procs": len(pids),
        "notes": notes,
    }
    if upstream:
        result["upstream_ms"] = (up_after - up_before) / CLK_TCK * 1000
    return result


# ---------------------------------------------------------------- workloads

def run_auth(work, opts, rng, report):
    zone = Zone(ZONE, 2000, rng)
    qlines = make_queries(zone, opts.queries, rng, work / "queries-auth.txt")
    rows = []
    for cls in (Kestrune, NSD, Knot, BIND, Unbound, Dnsmasq):
        if not opts.wants(cls.name):
            continue
        srv = cls("auth", work, opts)
        row = {"server": cls.name}
        try:
            srv.setup(zone)
            srv.start()
            probe = zone.fqdn(next(iter(zone.hosts)))
            row["ready_s"] = wait_correct(srv.proc, zone, srv.addr, probe, opts.start_timeout)
            check_answers(zone, srv.addr, sample_questions(zone, rng, qlines))
            row.update(measure(srv, work / "queries-auth.txt", opts))
            report.versions[cls.name] = srv.version()
        except Exception as e:  # a peer that fails is reported and skipped
            row["na"] = failure(e)
        finally:
            srv.stop()
        progress(f"auth  {cls.name:9s} {brief_row(row)}")
        rows.append(row)
    return rows


def run_cache(work, opts, rng, report):
    zone = Zone(ZONE, 2000, rng)
    qfile = work / "queries-cache.txt"
    qlines = make_queries(zone, opts.queries, rng, qfile)
    rows = []
    upstream = NSD("cache", work, opts)
    try:
        try:
            upstream.setup(zone)
            upstream.start()
            wait_correct(upstream.proc, zone, upstream.addr, zone.fqdn("ns1"), opts.start_timeout)
        except Exception as e:
            progress(f"cache upstream NSD did not start: {failure(e)}")
            return [{"server": c, "na": f"upstream NSD did not start: {failure(e)}"}
                    for c in ("Kestrune", "Unbound", "dnsmasq") if opts.wants(c)]
        for cls in (Kestrune, Unbound, Dnsmasq):
            if not opts.wants(cls.name):
                continue
            srv = cls("cache", work, opts)
            row = {"server": cls.name}
            stage = "warm-up check failed: "
            try:
                srv.setup(upstream=upstream.addr)
                srv.start()
                probe = zone.fqdn("ns1")
                wait_correct(srv.proc, zone, srv.addr, probe, opts.start_timeout, poll=0.2)
                warm = dnsperf(srv.addr, qfile, runs=1, qps=2000, clients=1, outstanding=20)
                row["warm_answered"] = warm["answered"]
                check_answers(zone, srv.addr, sample_questions(zone, rng, qlines))
                stage = ""
                row.update(measure(srv, qfile, opts, upstream=upstream.addr))
                report.versions[cls.name] = srv.version()
            except Exception as e:
                row["na"] = stage + failure(e)
            finally:
                srv.stop()
            progress(f"cache {cls.name:9s} {brief_row(row)}")
            rows.append(row)
    finally:
        upstream.stop()
    return rows


def run_load(work, opts, rng, report):
    zone = Zone(BIG_ZONE, opts.big, rng)
    last = list(zone.hosts)[-1]
    rows = []
    for cls in (Kestrune, NSD, Knot):
        if not opts.wants(cls.name):
            continue
        srv = cls("load", work, opts)
        row = {"server": cls.name}
        try:
            srv.setup(zone)
            srv.start()
            row["load_s"] = wait_correct(srv.proc, zone, srv.addr, zone.fqdn(last),
                                         opts.load_timeout)
            row["hwm_mib"] = max(vm_hwm_kib(p) for p in srv.proc.group()) / 1024
            check_answers(zone, srv.addr, sample_questions(zone, rng))
            report.versions[cls.name] = srv.version()
        except Exception as e:  # a peer that fails is reported and skipped
            row["na"] = failure(e)
        finally:
            srv.stop()
            shutil.rmtree(srv.dir, ignore_errors=True)
        progress(f"load  {cls.name:9s} {brief_row(row)}")
        rows.append(row)
    return rows


# ---------------------------------------------------------------- table

def failure(e):
    if isinstance(e, Unavailable):
        return str(e)
    if isinstance(e, subprocess.TimeoutExpired):
        return f"{Path(e.cmd[3]).name if len(e.cmd) > 3 else e.cmd} did not end in {e.timeout:.0f} s"
    return f"{e.__class__.__name__}: {e}"


def progress(text):
    print(text, file=sys.stderr, flush=True)


def brief_row(row):
    if "na" in row:
        return "not available: " + row["na"]
    return ", ".join(f"{k} {v:.3g}" if isinstance(v, float) else f"{k} {v}"
                     for k, v in row.items() if k not in ("server", "notes"))


def ratio(value, best):
    return f"{value / best:.2f}" if value is not None and best else "-"


def best_peer(rows, key, pick):
    vals = [r[key] for r in rows if r["server"] != "Kestrune" and r.get(key) is not None]
    return pick(vals) if vals else None


class Report:
    def __init__(self):
        self.lines = []
        self.versions = {}

    def add(self, text=""):
        self.lines.append(text)

    def rate_table(self, title, rows, upstream=False):
        self.add(title)
        head = f"  {'server':9s} {'max q/s':>9s} {'ratio':>6s} {'CPU us/q':>9s} {'ratio':>6s} " \
               f"{'lost':>7s} {'lost %':>7s}"
        if upstream:
            head += f" {'upstr ms':>8s}"
        self.add(head + "  notes")
        qbest = best_peer(rows, "max_qps", max)
        cbest = best_peer(rows, "cpu_us", min)
        for r in rows:
            if "na" in r:
                self.add(f"  {r['server']:9s} not available: {r['na']}")
                continue
            cpu = f"{r['cpu_us']:.2f}" if r["cpu_us"] is not None else "-"
            line = f"  {r['server']:9s} {r['max_qps']:9,.0f} {ratio(r['max_qps'], qbest):>6s} " \
                   f"{cpu:>9s} {ratio(r['cpu_us'], cbest):>6s} {r['lost']:7d} {r['lost_pct']:7.2f}"
            if upstream:
                line += f" {r.get('upstream_ms', 0):8.0f}"
            self.add(line + ("  " + "; ".join(r["notes"]) if r["notes"] else ""))
        self.add()

    def load_table(self, title, rows):
        self.add(title)
        self.add(f"  {'server':9s} {'seconds':>8s} {'ratio':>6s} {'VmHWM MiB':>10s} {'ratio':>6s}")
        tbest = best_peer(rows, "load_s", min)
        mbest = best_peer(rows, "hwm_mib", min)
        for r in rows:
            if "na" in r:
                self.add(f"  {r['server']:9s} not available: {r['na']}")
                continue
            self.add(f"  {r['server']:9s} {r['load_s']:8.2f} {ratio(r['load_s'], tbest):>6s} "
                     f"{r['hwm_mib']:10.1f} {ratio(r['hwm_mib'], mbest):>6s}")
        self.add()


def loadavg():
    return " ".join(Path("/proc/loadavg").read_text().split()[:3])


# ---------------------------------------------------------------- main

def parse_args():
    p = argparse.ArgumentParser(description="Kestrune against its peers (see bench/README.md).")
    p.add_argument("--quick", action="store_true",
                   help="short runs and a smaller big zone, to try the driver")
    p.add_argument("--workloads", default="1,2,3", help="comma list of 1, 2, 3 (default all)")
    p.add_argument("--servers", default="",
                   help="comma list of servers to run (default all): Kestrune,NSD,Knot,BIND,Unbound,dnsmasq")
    p.add_argument("--kestserv", default=os.environ.get("KESTSERV",
                                                        str(REPO / "build-bench/server/kestserv")))
    p.add_argument("--kestrune-setting", action="append", default=[], metavar="LINE",
                   help="an extra kestrund.ini line for Kestrune, e.g. 'LogDetail: NO'")
    p.add_argument("--duration", type=int, help="seconds of each dnsperf run (30; quick 5)")
    p.add_argument("--load", type=int, default=40000, help="fixed offered load, queries per second")
    p.add_argument("--big", type=int, help="records of the big zone (1000000; quick 100000)")
    p.add_argument("--queries", type=int, default=10000, help="lines of the query file")
    p.add_argument("--seed", type=int, help="seed of the zone and query generator")
    p.add_argument("--out", default=str(HERE.parent / "results" / "last-run.txt"))
    p.add_argument("--keep", action="store_true", help="keep the work folder (configs, logs)")
    opts = p.parse_args()
    opts.duration = opts.duration or (5 if opts.quick else 30)
    opts.big = opts.big or (100000 if opts.quick else 1000000)
    opts.seed = opts.seed if opts.seed is not None else random.randrange(1 << 30)
    opts.start_timeout = 20
    opts.load_timeout = 120 if opts.quick else 900
    wanted = {s.strip().lower() for s in opts.servers.split(",") if s.strip()}
    opts.wants = lambda name: not wanted or name.lower() in wanted
    opts.workload_set = {w.strip() for w in opts.workloads.split(",")}
    return opts


def main():
    opts = parse_args()
    if os.geteuid() != 0:
        sys.exit("bench: run as root (network namespace, port 53)")
    missing = [t for t in ("dnsperf", "taskset", "ip", "nsd", "knotd", "named", "unbound", "dnsmasq")
               if not shutil.which(t)]
    if missing:
        progress("bench: missing " + ", ".join(missing) + " (run.sh installs them); "
                 "servers without their program are reported as not available")
    if opts.wants("Kestrune") and not os.access(opts.kestserv, os.X_OK):
        progress(f"bench: no kestserv at {opts.kestserv}; Kestrune is reported as not available")
    enter_private_namespace()
    os.sched_setaffinity(0, {int(DNSPERF_CORE)})

    def on_signal(signum, _frame):
        raise KeyboardInterrupt(f"signal {signum}")

    signal.signal(signal.SIGINT, signal.default_int_handler)  # also when started in background
    signal.signal(signal.SIGTERM, on_signal)
    signal.signal(signal.SIGHUP, on_signal)

    work = Path(tempfile.mkdtemp(prefix="kest-bench-"))
    rng = random.Random(opts.seed)
    report = Report()
    started = time.strftime("%Y-%m-%d %H:%M:%S UTC", time.gmtime())
    load_before = loadavg()
    sections = []
    try:
        if "1" in opts.workload_set:
            sections.append(("auth", run_auth(work, opts, rng, report)))
        if "2" in opts.workload_set:
            sections.append(("cache", run_cache(work, opts, rng, report)))
        if "3" in opts.workload_set:
            sections.append(("load", run_load(work, opts, rng, report)))
    except KeyboardInterrupt:
        progress("bench: interrupted; stopping every server")
        return 130
    finally:
        signal.signal(signal.SIGINT, signal.SIG_IGN)
        Proc.stop_all()
        signal.signal(signal.SIGINT, signal.default_int_handler)
        if opts.keep:
            progress(f"bench: work folder kept in {work}")
        else:
            shutil.rmtree(work, ignore_errors=True)

    report.add(f"Kestrune benchmark, {'quick' if opts.quick else 'full'} mode, {started}, "
               f"seed {opts.seed}")
    report.add(f"{os.cpu_count()} cores; servers on core {SERVER_CORE}, dnsperf on core "
               f"{DNSPERF_CORE}; load average {load_before} at the start, {loadavg()} at the end")
    report.add(f"dnsperf runs of {opts.duration} s; fixed load {opts.load:,} q/s; "
               f"query file of {opts.queries:,} lines: 80% A of random hosts, 10% MX, 10% NXDOMAIN")
    report.add("Ratios are to the best peer of the same run (1.00 = the best peer): higher is better "
               "for q/s, lower for CPU, seconds and memory.")
    report.add()
    for kind, rows in sections:
        if kind == "auth":
            report.rate_table("Workload 1, authoritative: zone of 2,000 A records plus SOA, NS, MX",
                              rows)
        elif kind == "cache":
            report.rate_table("Workload 2, cache hits: forwarding to one NSD, warmed with one pass "
                              "(upstr ms = NSD's CPU during the fixed-load run)", rows, upstream=True)
        else:
            report.load_table(f"Workload 3, start to first correct answer with a zone of "
                              f"{opts.big:,} A records (peak VmHWM of the server's processes)", rows)
    report.add("Versions: " + "; ".join(f"{k}: {v}" for k, v in report.versions.items()))
    text = "\n".join(report.lines) + "\n"
    print(text)
    out = Path(opts.out)
    out.parent.mkdir(parents=True, exist_ok=True)
    out.write_text(text)
    progress(f"bench: table written to {out}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
