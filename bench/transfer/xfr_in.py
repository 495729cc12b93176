#!/usr/bin/python3
"""Zone transfer IN: how long Kestrune takes to copy a big zone from a Knot primary, against BIND 9
copying the same zone from the same primary, in one run. Not a test: it prints times and ratios.

    /usr/bin/python3 bench/transfer/xfr_in.py [--records N] [--rounds R] [--kestserv PATH]

Run as root from the top of the repository (bench/transfer/run.sh runs it too). It moves itself
into a private network namespace with only loopback, starts Knot on 127.0.0.3 serving a zone of N
A records (default 100,000), then, one at a time, R rounds each (default 3): Kestrune on 127.0.0.1
with the zone as a secondary zone of Knot, and BIND 9 on 127.0.0.4 as a secondary of Knot. The time
runs from starting the secondary to its first correct authoritative answer for the zone's last
record (polled with short dnspython queries), so both include a process start; the median round is
reported.
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
ROOT = HERE.parent.parent
sys.path.insert(0, str(ROOT / "tests" / "integration"))

import dns.flags  # noqa: E402
import dns.message  # noqa: E402
import dns.query  # noqa: E402
import dns.exception  # noqa: E402

from xfr_in_peers import Primary, secondary_file, zone_text  # noqa: E402

ZONE = "big.test."
KNOT_IP, KEST_IP, BIND_IP = "127.0.0.3", "127.0.0.1", "127.0.0.4"


def enter_namespace():
    """Runs the rest of this script again inside a new network namespace (unshare -n)."""
    if os.environ.get("KEST_XFRIN_NETNS") != "1":
        env = dict(os.environ, KEST_XFRIN_NETNS="1")
        os.execvpe("unshare", ["unshare", "-n", sys.executable, *sys.argv], env)
    subprocess.run(["ip", "link", "set", "lo", "up"], check=True)


def last_answered(ip, name, want, deadline):
    q = dns.message.make_query(name, "A")
    q.flags &= ~dns.flags.RD
    while time.monotonic() < deadline:
        try:
            r = dns.query.udp(q, ip, timeout=0.05)
            if r.flags & dns.flags.AA and r.answer and r.answer[0][0].to_text() == want:
                return True
        except (dns.exception.Timeout, OSError):
            pass
        time.sleep(0.005)
    return False


def stop(proc):
    if proc.poll() is None:
        proc.terminate()
        try:
            proc.wait(15)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()


def kestrune_round(exe, work, last, want):
    home = Path(tempfile.mkdtemp(dir=work, prefix="kest-"))
    (home / "data").mkdir()
    (home / "data" / (ZONE + "dns")).write_bytes(secondary_file(KNOT_IP))
    (home / "kestrund.ini").write_bytes(f"DNSBind: {KEST_IP}\r\nWriteLog: NO\r\n".encode())
    env = dict(os.environ, KESTRUNE_HOME=str(home))
    for var in ("DISPLAY", "WAYLAND_DISPLAY"):
        env.pop(var, None)
    t0 = time.monotonic()
    proc = subprocess.Popen([exe, "-n"], env=env, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL)
    ok = last_answered(KEST_IP, last, want, t0 + 300)
    elapsed = time.monotonic() - t0
    stop(proc)
    return elapsed if ok else None


def bind_round(work, last, want):
    d = Path(tempfile.mkdtemp(dir=work, prefix="bind-"))
    subprocess.run(["ip", "addr", "add", f"{BIND_IP}/32", "dev", "lo"], capture_output=True)
    (d / "named.conf").write_text(f"""options {{
    directory "{d}";
    pid-file "{d}/named.pid";
    lock-file "{d}/named.lock";
    session-keyfile "{d}/session.key";
    managed-keys-directory "{d}";
    geoip-directory none;
    listen-on port 53 {{ {BIND_IP}; }};
    listen-on-v6 {{ none; }};
    recursion no;
    dnssec-validation no;
    transfer-source {BIND_IP};
    notify no;
}};
controls {{ }};
zone "{ZONE}" {{ type secondary; primaries {{ {KNOT_IP}; }}; file "{d}/big.db";
    masterfile-format text; }};
""")
    t0 = time.monotonic()
    proc = subprocess.Popen(["named", "-4", "-g", "-n", "1", "-U", "1", "-c", str(d / "named.conf")],
                            cwd=d, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                            stdin=subprocess.DEVNULL)
    ok = last_answered(BIND_IP, last, want, t0 + 300)
    elapsed = time.monotonic() - t0
    stop(proc)
    return elapsed if ok else None


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--records", type=int, default=100_000)
    ap.add_argument("--rounds", type=int, default=3)
    ap.add_argument("--kestserv", default=os.environ.get("KESTSERV",
                                                         str(ROOT / "build" / "server" / "kestserv")))
    args = ap.parse_args()
    if os.geteuid() != 0:
        sys.exit("xfr_in.py: run as root (private network namespace, port 53)")
    for exe in ("knotd", "named"):
        if not shutil.which(exe, path="/usr/sbin:/usr/bin"):
            sys.exit(f"xfr_in.py: {exe} missing (apt-get install knot bind9)")
    if not os.access(args.kestserv, os.X_OK):
        sys.exit(f"xfr_in.py: no kestserv at {args.kestserv} (--kestserv or $KESTSERV)")
    enter_namespace()

    n = args.records
    recs = [f"h{i} 300 IN A 10.{i >> 16 & 255}.{i >> 8 & 255}.{i & 255}" for i in range(n)]
    last = f"h{n - 1}.{ZONE}"
    want = f"10.{(n - 1) >> 16 & 255}.{(n - 1) >> 8 & 255}.{(n - 1) & 255}"
    work = tempfile.mkdtemp(prefix="kest-bench-xfrin-")
    knot = Primary("knot", KNOT_IP, ZONE, work, notify=())
    knot.write_zone(zone_text(ZONE, 1, recs))
    results = {}
    try:
        knot.start(timeout=120)
        for name, fn in (("Kestrune", lambda: kestrune_round(args.kestserv, work, last, want)),
                         ("BIND 9", lambda: bind_round(work, last, want))):
            times = [fn() for _ in range(args.rounds)]
            results[name] = None if None in times else statistics.median(times)
    finally:
        knot.stop()
        shutil.rmtree(work, ignore_errors=True)

    print(f"Zone transfer IN: {n:,} A records from a Knot primary (median of {args.rounds})")
    print(f"{'secondary':<12}{'seconds':>10}{'vs BIND':>10}")
    base = results.get("BIND 9")
    for name, t in results.items():
        if t is None:
            print(f"{name:<12}{'not available (no correct answer)':>20}")
            continue
        ratio = f"{t / base:.2f}" if base else "-"
        print(f"{name:<12}{t:>10.2f}{ratio:>10}")


if __name__ == "__main__":
    main()
