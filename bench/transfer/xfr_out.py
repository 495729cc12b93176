#!/usr/bin/env python3
"""Transfers out: the same zone of N A records (100,000 by default) served by Kestrune, BIND 9
and Knot, each on its own loopback address in a private network namespace, fetched with the same
`kdig AXFR` client several times; the median wall time of each and the ratios to Kestrune.

Every transfer is checked before it counts: the number of records, and the SOA first and last.
Not a test: nothing is asserted about speed. Runnable alone (as root):
    KESTSERV=build-bench/server/kestserv /usr/bin/python3 bench/transfer/xfr_out.py"""
import argparse
import ctypes
import os
import shutil
import signal
import socket
import statistics
import struct
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import dns.exception
import dns.flags
import dns.message
import dns.query

CLONE_NEWNET = 0x40000000
ZONE = "bench.test."
ADDR = {"Kestrune": "127.0.0.2", "BIND 9": "127.0.0.3", "Knot": "127.0.0.4"}


def enter_private_namespace():
    libc = ctypes.CDLL(None, use_errno=True)
    if libc.unshare(CLONE_NEWNET) != 0:
        err = ctypes.get_errno()
        sys.exit(f"bench: cannot make a private network namespace ({os.strerror(err)}); run as root")
    subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
    for addr in ADDR.values():
        subprocess.run(["ip", "addr", "add", f"{addr}/32", "dev", "lo"], check=True)
    links = subprocess.run(["ip", "-o", "link"], capture_output=True, text=True, check=True).stdout
    if len(links.strip().splitlines()) != 1:
        sys.exit("bench: the new namespace has more than loopback; refusing to run")


def zone_lines(n):
    yield "@ 3600 SOA ns1 hostmaster 1 86400 3600 1209600 300"
    yield "@ 3600 NS ns1"
    yield "ns1 3600 A 10.255.0.1"
    for i in range(n):
        yield f"h{i} 300 A 10.{(i >> 16) & 255}.{(i >> 8) & 255}.{i & 255}"


def write_zones(d, n):
    body = "\n".join(zone_lines(n)) + "\n"
    (d / "kest" / "data").mkdir(parents=True)
    (d / "kest" / "data" / (ZONE + "dns")).write_bytes(
        ("; NOTSECURE\n" + body).replace("\n", "\r\n").encode())
    master = f"$ORIGIN {ZONE}\n$TTL 300\n" + body
    for peer in ("bind", "knot"):
        (d / peer).mkdir()
        (d / peer / "zone.db").write_text(master)


def start_kestrune(d, exe):
    home = d / "kest"
    (home / "kestrund.ini").write_bytes(
        f"DNSBind: {ADDR['Kestrune']}\r\nLogDetail: NO\r\nLogInOnly: YES\r\n".encode())
    env = dict(os.environ, KESTRUNE_HOME=str(home))
    for var in ("DISPLAY", "WAYLAND_DISPLAY"):
        env.pop(var, None)
    return subprocess.Popen([exe, "-n"], env=env, stdout=open(home / "out.log", "wb"),
                            stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)


def start_bind(d):
    b = d / "bind"
    (b / "named.conf").write_text(f"""options {{
    directory "{b}"; pid-file "{b}/named.pid"; lock-file "{b}/named.lock";
    session-keyfile "{b}/session.key"; managed-keys-directory "{b}"; bindkeys-file "{b}/bind.keys";
    geoip-directory none; listen-on port 53 {{ {ADDR['BIND 9']}; }}; listen-on-v6 {{ none; }};
    recursion no; allow-transfer {{ any; }}; notify no; dnssec-validation no;
}};
controls {{ }};
zone "{ZONE}" {{ type primary; file "{b}/zone.db"; }};
""")
    return subprocess.Popen(["named", "-4", "-g", "-n", "1", "-U", "1", "-c", str(b / "named.conf")],
                            stdout=open(b / "out.log", "wb"), stderr=subprocess.STDOUT,
                            stdin=subprocess.DEVNULL)


def start_knot(d):
    k = d / "knot"
    (k / "db").mkdir()
    (k / "knot.conf").write_text(f"""server:
    rundir: "{k}"
    pidfile: "{k}/knot.pid"
    listen: {ADDR['Knot']}@53
    udp-workers: 1
    tcp-workers: 1
    background-workers: 1
control:
    listen: "{k}/knot.sock"
database:
    storage: "{k}/db"
acl:
  - id: any
    address: 127.0.0.0/8
    action: transfer
template:
  - id: default
    storage: "{k}"
    zonefile-sync: -1
    journal-content: none
    semantic-checks: off
zone:
  - domain: {ZONE}
    file: "zone.db"
    acl: any
""")
    return subprocess.Popen(["knotd", "-c", str(k / "knot.conf")], stdout=open(k / "out.log", "wb"),
                            stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)


def wait_ready(ip, proc, timeout=300):
    deadline = time.monotonic() + timeout
    q = dns.message.make_query(ZONE, "SOA")
    q.flags &= ~dns.flags.RD
    while time.monotonic() < deadline:
        if proc.poll() is not None:
            return False
        try:
            r = dns.query.udp(q, ip, timeout=0.5)
            if r.rcode() == 0 and r.flags & dns.flags.AA and r.answer:
                return True
        except (dns.exception.Timeout, OSError):
            pass
        time.sleep(0.1)
    return False


def transfer(ip, want):
    """One kdig AXFR: (seconds, None) or (None, what was wrong)."""
    t0 = time.monotonic()
    out = subprocess.run(["kdig", f"@{ip}", ZONE, "AXFR"], capture_output=True, text=True,
                         timeout=600)
    took = time.monotonic() - t0
    records = [l.split() for l in out.stdout.splitlines() if l and not l.startswith(";")]
    if len(records) != want:
        return None, f"{len(records)} records instead of {want}"
    if records[0][3] != "SOA" or records[-1][3] != "SOA":
        return None, "not framed by the SOA"
    return took, None


def raw_transfer(ip, want, suffix=b""):
    """The same transfer read by a minimal framed reader that only counts records (the server's
    share of the time, without the client's decoding): (seconds, None) or (None, why)."""
    q = dns.message.make_query(ZONE, "AXFR")
    q.flags = 0
    wire = q.to_wire() + suffix
    s = socket.create_connection((ip, 53), timeout=60)
    try:
        t0 = time.monotonic()
        s.sendall(struct.pack("!H", len(wire)) + wire)
        buf = bytearray()
        at = 0
        records = 0
        while records < want:
            chunk = s.recv(1 << 20)
            if not chunk:
                return None, f"closed after {records} records"
            buf += chunk
            while len(buf) - at >= 2:
                n = struct.unpack_from("!H", buf, at)[0]
                if len(buf) - at - 2 < n:
                    break
                if n < 12 or buf[at + 5] & 0x0F:
                    return None, "an error reply"
                records += struct.unpack_from("!H", buf, at + 2 + 6)[0]
                at += 2 + n
            if at > (1 << 22):
                del buf[:at]
                at = 0
        return time.monotonic() - t0, None
    finally:
        s.close()


def median_of(rounds, fn):
    times = []
    for _ in range(rounds):
        took, why = fn()
        if took is None:
            return None, why
        times.append(took)
    return statistics.median(times), None


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--records", type=int, default=100_000)
    ap.add_argument("--rounds", type=int, default=5)
    args = ap.parse_args()
    exe = os.environ.get("KESTSERV", "")
    if not exe or not os.access(exe, os.X_OK):
        sys.exit("bench: set KESTSERV to the kestserv executable (bench/transfer/run.sh does)")
    for tool in ("kdig", "named", "knotd", "ip"):
        if not shutil.which(tool, path="/usr/sbin:/usr/bin:/sbin:/bin"):
            sys.exit(f"bench: {tool} missing (bench/transfer/run.sh installs it)")
    enter_private_namespace()
    d = Path(tempfile.mkdtemp(prefix="kest-bench-xfr-out-"))
    procs = {}
    try:
        write_zones(d, args.records)
        procs = {"Kestrune": start_kestrune(d, exe), "BIND 9": start_bind(d), "Knot": start_knot(d)}
        want = args.records + 3 + 1  # SOA, NS, ns1 and the hosts, the SOA again
        results = {}
        for name, proc in procs.items():
            if not wait_ready(ADDR[name], proc):
                results[name] = (None, "did not start serving the zone")
                continue
            ip = ADDR[name]
            results[name] = (median_of(args.rounds, lambda: transfer(ip, want)),
                             median_of(args.rounds, lambda: raw_transfer(ip, want)))
        # Our own transfer client's request form: several records per message.
        results["Kestrune MS"] = ((None, "kdig cannot ask for it"), median_of(
            args.rounds, lambda: raw_transfer(ADDR["Kestrune"], want, b"MS")))
        base = results["Kestrune"][0][0]
        raw_base = results["Kestrune"][1][0]
        lines = [f"Zone transfer out: {args.records} A records, median of {args.rounds} rounds",
                 "kdig: `kdig AXFR` end to end; raw: a framed reader that only counts records",
                 f"{'server':<12} {'kdig s':>8} {'/ Kestrune':>11} {'raw s':>8} {'/ Kestrune':>11}"]
        for name, ((secs, why), (raw, rwhy)) in results.items():
            cells = []
            for v, b, w in ((secs, base, why), (raw, raw_base, rwhy)):
                if v is None:
                    cells += ["-", "-"]
                else:
                    cells += [f"{v:.3f}", f"{v / b:.2f}" if b else "-"]
            line = f"{name:<12} {cells[0]:>8} {cells[1]:>11} {cells[2]:>8} {cells[3]:>11}"
            notes = [w for w in (why, rwhy) if w]
            if notes and name != "Kestrune MS":
                line += "  not available: " + "; ".join(notes)
            lines.append(line)
        text = "\n".join(lines)
        print(text)
        out = Path(__file__).resolve().parent.parent / "results"
        out.mkdir(exist_ok=True)
        (out / "last-xfr-out.txt").write_text(text + "\n")
    finally:
        for p in procs.values():
            if p.poll() is None:
                p.send_signal(signal.SIGTERM)
        for p in procs.values():
            try:
                p.wait(15)
            except subprocess.TimeoutExpired:
                p.kill()
        shutil.rmtree(d, ignore_errors=True)


if __name__ == "__main__":
    main()
