"""Networks for the DHCP tests: the test's own namespace (from the `netns` fixture) is the server
side; every client lives in a namespace of its own, held by a sleeping process and joined to the
server side by a veth pair. Nothing is named globally, so tests run side by side, and each client
namespace goes away (with its veth pair) when its holder ends."""
import ctypes
import os
import re
import shutil
import signal
import socket
import subprocess
import time
from pathlib import Path

import pytest

CLONE_NEWNET = 0x40000000
_libc = ctypes.CDLL(None, use_errno=True)
_counter = [0]


def need(*programs):
    missing = [p for p in programs if not shutil.which(p)]
    if missing:
        pytest.skip("not installed: " + ", ".join(missing) + " (scripts/install-deps.sh)")


def run(*args, check=True):
    return subprocess.run(list(args), check=check, capture_output=True, text=True)


def wait_until(condition, what, timeout=30):
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError("timed out waiting for " + what)
        time.sleep(0.02)


def server_link(name, address):
    """A veth pair whose end `name` stays here with address (a.b.c.d/len); returns the name of
    the other end, still here, for a client to take."""
    _counter[0] += 1
    peer = f"kc{os.getpid() % 1000}x{_counter[0]}"
    run("ip", "link", "add", name, "type", "veth", "peer", "name", peer)
    run("ip", "addr", "add", address, "dev", name)
    run("ip", "link", "set", name, "up")
    return peer


class Client:
    """A namespace of its own holding one end of a veth pair (named eth0 there)."""

    def __init__(self, link, folder, mac):
        self.folder = Path(folder)
        self.folder.mkdir(parents=True, exist_ok=True)
        self.holder = subprocess.Popen(["unshare", "--net", "sleep", "infinity"])
        ns = f"/proc/{self.holder.pid}/ns/net"
        wait_until(lambda: os.readlink(ns) != os.readlink("/proc/thread-self/ns/net"),
                   "the client namespace")
        run("ip", "link", "set", link, "netns", str(self.holder.pid))
        self.ifname = "eth0"
        self.do("ip", "link", "set", link, "name", self.ifname)
        self.do("ip", "link", "set", self.ifname, "address", mac)
        self.do("ip", "link", "set", "lo", "up")
        self.do("ip", "link", "set", self.ifname, "up")
        self.procs = []

    def cmd(self, *args):
        return ["nsenter", "-t", str(self.holder.pid), "-n", *args]

    def do(self, *args, check=True):
        return run(*self.cmd(*args), check=check)

    def start(self, *args):
        p = subprocess.Popen(self.cmd(*args), stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                             stdin=subprocess.DEVNULL, text=True)
        self.procs.append(p)
        return p

    def socket(self, *args):
        """A socket made inside the client's namespace."""
        here = os.open("/proc/thread-self/ns/net", os.O_RDONLY)
        there = os.open(f"/proc/{self.holder.pid}/ns/net", os.O_RDONLY)
        try:
            if _libc.setns(there, CLONE_NEWNET) != 0:
                raise OSError(ctypes.get_errno(), "setns")
            try:
                return socket.socket(*args)
            finally:
                if _libc.setns(here, CLONE_NEWNET) != 0:
                    raise OSError(ctypes.get_errno(), "setns back")
        finally:
            os.close(here)
            os.close(there)

    def addresses(self):
        out = self.do("ip", "-4", "-o", "addr", "show", "dev", self.ifname).stdout
        return re.findall(r"inet (\d+\.\d+\.\d+\.\d+)/", out)

    def dig(self, *args):
        return self.do("dig", "@192.0.2.1", "+time=5", "+tries=1", "+norec", *args).stdout

    def close(self):
        for p in self.procs:
            if p.poll() is None:
                p.kill()
            p.wait()
        self.holder.kill()
        self.holder.wait()


UDHCPC_SCRIPT = r"""#!/bin/sh
# Records each event with what the server handed out, and sets the address like a real client.
out="$EVENTS"
{ echo "event=$1"; for v in ip subnet router dns domain lease serverid hostname; do
    eval "echo $v=\${$v}"; done; echo; } >> "$out"
case "$1" in
    bound|renew) ip addr flush dev "$interface"; ip addr add "$ip/$subnet" dev "$interface" ;;
    deconfig) ip addr flush dev "$interface" ;;
esac
exit 0
"""

# dhclient hands its script an environment of its own: the events file is written in.
DHCLIENT_SCRIPT = r"""#!/bin/sh
{ echo "event=$reason"; echo "ip=$new_ip_address"; echo "subnet=$new_subnet_mask";
  echo "router=$new_routers"; echo "dns=$new_domain_name_servers";
  echo "domain=$new_domain_name"; echo "hostname=$new_host_name"; echo "lease=$new_dhcp_lease_time";
  echo; } >> "@EVENTS@"
case "$reason" in
    PREINIT) ip link set "$interface" up ;;
    BOUND|RENEW|REBIND|REBOOT)
        ip addr flush dev "$interface"; ip addr add "$new_ip_address/$new_subnet_mask" dev "$interface" ;;
    RELEASE|EXPIRE|STOP) ip addr flush dev "$interface" ;;
esac
exit 0
"""


def events(path):
    """The recorded events: a list of dicts, in order."""
    path = Path(path)
    if not path.exists():
        return []
    out = []
    for block in path.read_text().split("\n\n"):
        fields = dict(line.split("=", 1) for line in block.splitlines() if "=" in line)
        if fields:
            out.append(fields)
    return out


class Udhcpc:
    """busybox udhcpc in a client namespace, in the foreground, recording its events."""

    def __init__(self, client, hostname=None, client_id=True, tries=3):
        self.client = client
        self.events_file = client.folder / "udhcpc.events"
        script = client.folder / "udhcpc.script"
        script.write_text(UDHCPC_SCRIPT)
        script.chmod(0o755)
        args = ["env", f"EVENTS={self.events_file}", "udhcpc", "-f", "-n", "-i", client.ifname,
                "-s", str(script), "-t", str(tries), "-T", "1"]
        if hostname:
            args += ["-x", f"hostname:{hostname}"]
        if not client_id:
            args.append("-C")
        self.proc = client.start(*args)

    def events(self):
        return events(self.events_file)

    def bound(self, timeout=30):
        return wait_until(lambda: next((e for e in self.events() if e["event"] == "bound"), None),
                          "udhcpc to bind", timeout)

    def failed(self, timeout=30):
        """Waits for udhcpc to give up (it exits with -n); True when it never bound."""
        self.proc.wait(timeout=timeout)
        return self.proc.returncode != 0 and not any(e["event"] == "bound" for e in self.events())

    def signal(self, sig):
        # nsenter and env exec udhcpc in their own process.
        self.proc.send_signal(sig)


class Dhclient:
    """ISC dhclient in a client namespace, in the foreground."""

    def __init__(self, client, hostname):
        self.client = client
        f = client.folder
        self.events_file = f / "dhclient.events"
        self.script = f / "dhclient.script"
        self.script.write_text(DHCLIENT_SCRIPT.replace("@EVENTS@", str(self.events_file)))
        self.script.chmod(0o755)
        self.conf = f / "dhclient.conf"
        self.conf.write_text(f'send host-name "{hostname}";\n'
                             "request subnet-mask, routers, domain-name-servers, domain-name;\n"
                             "timeout 30;\n")
        self.lease = f / "dhclient.leases"
        self.pid = f / "dhclient.pid"
        self.proc = client.start(*self._args("-d"))

    def _args(self, *extra):
        return ["dhclient", "-4", *extra, "-sf", str(self.script),
                "-cf", str(self.conf), "-lf", str(self.lease), "-pf", str(self.pid),
                self.client.ifname]

    def events(self):
        return events(self.events_file)

    def bound(self, timeout=30):
        return wait_until(lambda: next((e for e in self.events() if e["event"] == "BOUND"), None),
                          "dhclient to bind", timeout)

    def release(self):
        return self.client.do(*self._args("-r"), check=False)


def lease_lines(home):
    path = Path(home) / "dhcp.dat"
    if not path.exists():
        return []
    return path.read_bytes().decode().split("\r\n")


def lease_line(home, name):
    """dhcp.dat's line of the lease named name, split into its fields, or None."""
    for line in lease_lines(home):
        if line.startswith(name + " "):
            return line.split(" ")
    return None


def ini(*dhcp_lines, extra=""):
    return "Name: gateway\n" + "".join("DHCP: " + d + "\n" for d in dhcp_lines) + extra
