#!/usr/bin/env python3
"""DHCP benchmark: Kestrune against dnsmasq and Kea's DHCPv4 server, driven by perfdhcp.

Moves itself into a private network namespace; each server runs alone, pinned to core 0, on one
end of a veth pair (198.18.0.1/21, the benchmarking range) with a pool of 2,000 addresses, and
perfdhcp, pinned to core 1, runs in a second namespace on the other end. Per server:

- max DORA/s: the most four-way exchanges completed per second over offered loads doubling from
  250/s (2,000 simulated clients), stopping once fewer than half of those offered complete;
- CPU us/DORA: at a fixed offered load (-r 1000), the server's user plus system time divided by the
  exchanges completed.

perfdhcp poses as a relay (it sets giaddr and listens where a relay would). The peers answer
relays; Kestrune, which does not relay, answers clients without address by broadcast to port 68,
so for Kestrune perfdhcp listens on port 68 and a rule in its own namespace hands those
broadcasts to its address. The packets the servers receive are the same for all three.

Prints the table and writes it to bench/results/dhcp-last-run.txt. Options: --duration S,
--fixed-rate R, --servers Kestrune,dnsmasq,dnsmasq-nofile,Kea, --keep."""
import argparse
import ctypes
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
ROOT = HERE.parent.parent
CLONE_NEWNET = 0x40000000
SERVER_IP = "198.18.0.1"
CLIENT_IP = "198.18.7.250"
POOL = ("198.18.0.10", "198.18.7.217")  # 2,000 addresses
CLIENTS = 2000
HZ = os.sysconf("SC_CLK_TCK")


def run(*args, check=True, **kw):
    return subprocess.run(list(args), check=check, capture_output=True, text=True, **kw)


def private_namespace():
    libc = ctypes.CDLL(None, use_errno=True)
    if libc.unshare(CLONE_NEWNET) != 0:
        sys.exit("bench: cannot make a network namespace (run as root)")
    run("ip", "link", "set", "lo", "up")


class ClientSide:
    def __init__(self, work):
        run("ip", "link", "add", "srv0", "type", "veth", "peer", "name", "cl0")
        run("ip", "addr", "add", SERVER_IP + "/21", "dev", "srv0")
        run("ip", "link", "set", "srv0", "up")
        self.holder = subprocess.Popen(["unshare", "--net", "sleep", "infinity"])
        me = os.readlink("/proc/self/ns/net")
        while os.readlink(f"/proc/{self.holder.pid}/ns/net") == me:
            time.sleep(0.01)
        run("ip", "link", "set", "cl0", "netns", str(self.holder.pid))
        self.do("ip", "link", "set", "lo", "up")
        self.do("ip", "addr", "add", CLIENT_IP + "/21", "dev", "cl0")
        self.do("ip", "link", "set", "cl0", "up")
        rules = Path(work) / "broadcast.nft"
        rules.write_text("table ip bench {\n  chain pre {\n"
                         "    type nat hook prerouting priority -100;\n"
                         f"    udp dport 68 ip daddr 255.255.255.255 dnat to {CLIENT_IP}\n"
                         "  }\n}\n")
        self.do("nft", "-f", str(rules))

    def do(self, *args, **kw):
        return run("nsenter", "-t", str(self.holder.pid), "-n", *args, **kw)

    def perfdhcp(self, rate, seconds, port68):
        args = ["taskset", "-c", "1", "perfdhcp", "-4", "-l", "cl0", "-R", str(CLIENTS),
                "-r", str(rate), "-p", str(seconds), "-W", "500000"]
        if port68:
            args += ["-L", "68"]
        out = self.do(*args, check=False, timeout=seconds + 60).stdout
        return parse_perfdhcp(out)

    def close(self):
        self.holder.kill()
        self.holder.wait()


def parse_perfdhcp(text):
    """Completed exchanges (acknowledgements received) and the rate perfdhcp reports."""
    stats = {}
    for block in re.split(r"\*\*\*Statistics for: ", text)[1:]:
        kind = block.split("*", 1)[0].strip()
        got = re.search(r"received packets: (\d+)", block)
        sent = re.search(r"sent packets: (\d+)", block)
        stats[kind] = (int(sent.group(1)) if sent else 0, int(got.group(1)) if got else 0)
    rate = re.search(r"Rate: ([\d.]+) 4-way exchanges/second", text)
    return {
        "acks": stats.get("REQUEST-ACK", (0, 0))[1],
        "offers": stats.get("DISCOVER-OFFER", (0, 0))[1],
        "discovers": stats.get("DISCOVER-OFFER", (0, 0))[0],
        "rate": float(rate.group(1)) if rate else 0.0,
        "text": text,
    }


def cpu_seconds(pids):
    total = 0
    for pid in pids:
        try:
            fields = Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()
        except OSError:
            continue
        total += int(fields[11]) + int(fields[12])  # utime, stime
    return total / HZ


def descendants(pid):
    out = [pid]
    for p in Path("/proc").iterdir():
        if p.name.isdigit():
            try:
                ppid = int(Path(p, "stat").read_text().rsplit(")", 1)[1].split()[1])
            except (OSError, IndexError, ValueError):
                continue
            if ppid == pid:
                out.append(int(p.name))
    return out


class Server:
    name = ""
    port68 = False

    def __init__(self, work):
        self.work = Path(work) / self.name
        self.work.mkdir(parents=True, exist_ok=True)
        self.proc = None

    def command(self):
        raise NotImplementedError

    def env(self):
        return dict(os.environ)

    def start(self):
        log = open(self.work / "stdout.log", "wb")
        self.proc = subprocess.Popen(["taskset", "-c", "0", *self.command()], env=self.env(),
                                     stdout=log, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)

    def pids(self):
        return descendants(self.proc.pid)

    def stop(self):
        if self.proc and self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(timeout=20)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()


class Kestrune(Server):
    name = "Kestrune"
    port68 = True

    def command(self):
        (self.work / "data").mkdir(exist_ok=True)
        (self.work / "kestrund.ini").write_bytes(
            ("Name: gateway\r\nDNSPort: 5353\r\n"
             f"DHCP: {SERVER_IP} lan {POOL[0]} {POOL[1]} 255.255.248.0 198.18.0.254 3600\r\n")
            .encode())
        return [os.environ.get("KESTSERV", str(ROOT / "build-bench/server/kestserv")), "-n"]

    def env(self):
        e = dict(os.environ)
        e["KESTRUNE_HOME"] = str(self.work)
        for var in ("DISPLAY", "WAYLAND_DISPLAY"):
            e.pop(var, None)
        return e


class Dnsmasq(Server):
    name = "dnsmasq"

    def command(self):
        w = self.work
        return ["dnsmasq", "--no-daemon", "--conf-file=/dev/null", "--port=0", "--interface=srv0",
                "--bind-interfaces", f"--dhcp-range={POOL[0]},{POOL[1]},255.255.248.0,1h",
                f"--dhcp-leasefile={w}/dnsmasq.leases", f"--dhcp-lease-max={CLIENTS}",
                "--dhcp-option=option:router,198.18.0.254",
                f"--dhcp-option=option:dns-server,{SERVER_IP}", "--domain=lan", "--no-ping",
                "--dhcp-authoritative", f"--log-facility={w}/dnsmasq.log",
                f"--pid-file={w}/dnsmasq.pid", "--user=root", "--group=root"]


class DnsmasqNoFile(Dnsmasq):
    """dnsmasq without its lease file, which it rewrites and syncs to disk after every change."""
    name = "dnsmasq-nofile"

    def command(self):
        return [a for a in super().command() if not a.startswith("--dhcp-leasefile=")] + \
            ["--leasefile-ro"]


class Kea(Server):
    name = "Kea"

    def command(self):
        w = self.work
        conf = {"Dhcp4": {
            "interfaces-config": {"interfaces": ["srv0"]},
            "lease-database": {"type": "memfile", "persist": True, "lfc-interval": 0,
                               "name": str(w / "kea-leases4.csv")},
            "valid-lifetime": 3600,
            "subnet4": [{"id": 1, "subnet": "198.18.0.0/21",
                         "pools": [{"pool": f"{POOL[0]} - {POOL[1]}"}],
                         "option-data": [{"name": "routers", "data": "198.18.0.254"},
                                         {"name": "domain-name-servers", "data": SERVER_IP},
                                         {"name": "domain-name", "data": "lan"}]}],
            "loggers": [{"name": "kea-dhcp4", "severity": "INFO",
                         "output_options": [{"output": str(w / "kea.log")}]}],
        }}
        path = w / "kea-dhcp4.conf"
        path.write_text(json.dumps(conf, indent=1))
        return ["kea-dhcp4", "-c", str(path)]

    def env(self):
        e = dict(os.environ)
        e["KEA_PIDFILE_DIR"] = str(self.work)
        e["KEA_LOCKFILE_DIR"] = str(self.work)
        return e


def measure(server, client, args):
    server.start()
    try:
        # Ready when a short run completes exchanges.
        deadline = time.monotonic() + 30
        while True:
            if server.proc.poll() is not None:
                return {"error": "ended at start; see " + str(server.work / "stdout.log")}
            probe = client.perfdhcp(50, 1, server.port68)
            if probe["acks"] > 0:
                break
            if time.monotonic() > deadline:
                return {"error": "no acknowledgement within 30 s"}
        fixed_before = cpu_seconds(server.pids())
        fixed = client.perfdhcp(args.fixed_rate, args.duration, server.port68)
        fixed_cpu = cpu_seconds(server.pids()) - fixed_before
        best, rate = 0.0, 250
        while rate <= 64000:
            run_ = client.perfdhcp(rate, args.duration, server.port68)
            done = run_["acks"] / args.duration
            best = max(best, done)
            if done < rate / 2:
                break
            rate *= 2
        if fixed["acks"] == 0 or best == 0:
            return {"error": "no exchanges completed under load"}
        return {
            "max": best,
            "cpu_us": fixed_cpu * 1e6 / fixed["acks"],
            "fixed_done": fixed["acks"] / max(1, fixed["discovers"]),
        }
    finally:
        server.stop()


def main():
    p = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    p.add_argument("--duration", type=int, default=10)
    p.add_argument("--fixed-rate", type=int, default=1000)
    p.add_argument("--servers", default="Kestrune,dnsmasq,dnsmasq-nofile,Kea")
    p.add_argument("--keep", action="store_true")
    args = p.parse_args()
    for tool in ("perfdhcp", "dnsmasq", "kea-dhcp4", "nft", "taskset", "nsenter"):
        if not shutil.which(tool):
            sys.exit(f"bench: {tool} missing (bench/dhcp/run.sh installs it)")

    private_namespace()
    work = tempfile.mkdtemp(prefix="kest-dhcp-bench-")
    client = ClientSide(work)
    kinds = {"Kestrune": Kestrune, "dnsmasq": Dnsmasq, "dnsmasq-nofile": DnsmasqNoFile,
             "Kea": Kea}
    results = {}
    try:
        for name in args.servers.split(","):
            print(f"bench: {name} ...", flush=True)
            results[name] = measure(kinds[name](work), client, args)
    finally:
        client.close()
        if not args.keep:
            shutil.rmtree(work, ignore_errors=True)
        else:
            print("bench: work folder kept:", work)

    base = results.get("Kestrune", {})
    lines = [f"DHCP, pool of {CLIENTS} addresses, {CLIENTS} perfdhcp clients, "
             f"{args.duration} s per run, fixed load {args.fixed_rate}/s",
             "",
             "| server | max DORA/s | CPU us/DORA | completed at fixed load | "
             "Kestrune speed ratio | Kestrune CPU ratio |",
             "|---|---|---|---|---|---|"]
    for name, r in results.items():
        if "error" in r:
            lines.append(f"| {name} | not available: {r['error']} | | | | |")
            continue
        speed = f"{base['max'] / r['max']:.2f}" if "max" in base else "-"
        cpu = f"{base['cpu_us'] / r['cpu_us']:.2f}" if "cpu_us" in base else "-"
        lines.append(f"| {name} | {r['max']:.0f} | {r['cpu_us']:.1f} | "
                     f"{100 * r['fixed_done']:.1f}% | {speed} | {cpu} |")
    lines += ["", "Speed ratio: Kestrune's max DORA/s over the server's (above 1: Kestrune faster). "
              "CPU ratio: Kestrune's CPU per exchange over the server's (below 1: Kestrune "
              "cheaper)."]
    text = "\n".join(lines)
    print(text)
    out = ROOT / "bench" / "results"
    out.mkdir(exist_ok=True)
    (out / "dhcp-last-run.txt").write_text(text + "\n")


if __name__ == "__main__":
    main()
