"""Helpers of the look-up tool's integration tests: the tool run as a process (optionally with
host names mapped in a private mount namespace), NSD and BIND serving one zone on loopback
addresses, small fake WHOIS servers, and an independent rendering of the output rules from
dnspython's reading of the same replies."""
import os
import socket
import subprocess
import threading
import time

import dns.flags
import dns.message
import dns.query
import dns.rcode
import dns.rdatatype

from daemons import bind_files, stop_process

RCODE_TEXT = {
    1: "Format Error - could not interpret the query.",
    2: "Server Failure.",
    3: "Name does not exist!",
    4: "Not implemented - no support for this query type.",
    5: "Refused - will not answer this client or this query type.",
}
_LOW = ["A", "NS", "MD", "MF", "CNAME", "SOA", "MB", "MG", "MR", "NULL", "WKS", "PTR", "HINFO",
        "MINFO", "MX", "TXT"]
SECTIONS = ["Answer", "Authority", "Additional"]


def lookup_path():
    path = os.environ.get("KEST_LOOKUP", "")
    assert path and os.access(path, os.X_OK), "lookup executable not given ($KEST_LOOKUP)"
    return path


def run_lookup(args, home, hosts=None, timeout=60):
    """Runs `lookup args` with home as its program directory; with hosts (a file), that file is
    /etc/hosts for the process (a private mount namespace). Returns the CompletedProcess."""
    env = dict(os.environ)
    for var in ("DISPLAY", "WAYLAND_DISPLAY"):
        env.pop(var, None)
    env["KESTRUNE_HOME"] = str(home)
    cmd = [lookup_path(), *args]
    if hosts is not None:
        cmd = ["unshare", "-m", "--propagation", "private", "sh", "-c",
               'mount --bind "$0" /etc/hosts && exec "$@"', str(hosts), *cmd]
    return subprocess.run(cmd, env=env, capture_output=True, text=True, timeout=timeout)


# ---- The output rules, written again over dnspython's reading of a reply ---------------------

def type_name(t):
    if 1 <= t <= 16:
        return _LOW[t - 1]
    return {28: "AAAA", 33: "SRV", 252: "AXFR", 253: "MAILB", 254: "MAILA", 255: "*"}.get(
        t, f"?{t}?")


def duration(s):
    parts = []
    for size, word in ((86400, "Day"), (3600, "Hour"), (60, "Minute")):
        if s >= size:
            n = s // size
            parts.append(f"{n} {word}" + ("s" if n > 1 else ""))
            s -= n * size
    if not parts or s >= 1:
        parts.append(f"{s} Second" + ("" if s == 1 else "s"))
    return ", ".join(parts)


def record_lines(owner, rd, ttl):
    t = rd.rdtype
    head = f"{type_name(t)}-record for {owner}"
    name = lambda n: n.to_text().lower()  # noqa: E731
    if t == 1:
        out = [f"{head} = {rd.address}"]
    elif t in (2, 5, 12):
        out = [f"{head} = {name(rd.target)}"]
    elif t == 6:
        rname = name(rd.rname).replace(".", "@", 1)
        out = [f"{head} = {name(rd.mname)}", f"    Responsible Person = {rname}",
               f"    Serial Number = {rd.serial}",
               f"    Refresh Interval = {duration(rd.refresh)}",
               f"    Retry Interval = {duration(rd.retry)}",
               f"    Expire Interval = {duration(rd.expire)}",
               f"    Default / Minimum TTL = {duration(rd.minimum)}"]
    elif t == 15:
        out = [f"{head} = {name(rd.exchange)}", f"    Preference = {rd.preference}"]
    elif t == 16:
        text = ", ".join(s.decode("latin-1") for s in rd.strings)
        out = [f"{head} = " + "".join(c for c in text if 32 <= ord(c) <= 126)]
    elif t == 33:
        out = [f"{head} = {name(rd.target)}", f"    Priority = {rd.priority}",
               f"    Weight = {rd.weight}", f"    Port = {rd.port}"]
    else:
        out = [f"{head} (record type not implemented)"]
    return out + [f"    TTL = {duration(ttl)}"]


def rrset_lines(rrset):
    out = []
    for rd in rrset:
        out += record_lines(rrset.name.to_text().lower(), rd, rrset.ttl)
    return out


def expected_reply(msg, name, qtype, recursion=True):
    aa = bool(msg.flags & dns.flags.AA)
    ra = bool(msg.flags & dns.flags.RA)
    lines = [f"Authoritative Answer: {'Yes' if aa else 'No'}",
             f"Recursion Available: {'Yes' if ra else 'No'}"]
    rcode = msg.rcode()
    if rcode:
        lines += ["", "Header:", RCODE_TEXT[rcode]]
    counts = [sum(len(r) for r in sec) for sec in (msg.answer, msg.authority, msg.additional)]
    if rcode == 0 and counts[0] == 0:
        sure = aa or (recursion and ra)
        lines += ["", "Answer:",
                  f"No {type_name(qtype)}-Records {'exist' if sure else 'found'} for {name}"]
    for title, sec, count in zip(SECTIONS, (msg.answer, msg.authority, msg.additional), counts):
        if count:
            lines += ["", title + ":"]
            for rrset in sec:
                lines += rrset_lines(rrset)
    return "\n".join(lines) + "\n"


def ask(server, name, qtype, port=53, recursion=True):
    q = dns.message.make_query(name, qtype)
    if not recursion:
        q.flags &= ~dns.flags.RD
    return dns.query.udp(q, server, port=port, timeout=5)


def record_blocks(text):
    """The output's record blocks (a record line and its indented lines), in order."""
    blocks = []
    for line in text.splitlines():
        if line.startswith("    ") and blocks:
            blocks[-1] += "\n" + line
        elif "-record for " in line:
            blocks.append(line)
    return blocks


def expected_transfer_blocks(server, zone, port=53):
    """The records of a zone transfer read by dnspython, as blocks, without the closing SOA."""
    blocks = []
    for m in dns.query.xfr(server, zone, port=port, timeout=10, lifetime=30,
                           relativize=False):
        for rrset in m.answer:
            for rd in rrset:
                blocks.append("\n".join(record_lines(rrset.name.to_text().lower(), rd, rrset.ttl)))
    assert blocks[0].startswith("SOA-record") and blocks[-1] == blocks[0]
    return blocks[:-1]


# ---- Peers --------------------------------------------------------------------------------

def wait_serving(ip, zone, proc, log, deadline=60):
    end = time.monotonic() + deadline
    while True:
        if proc.poll() is not None:
            raise AssertionError(f"peer on {ip} ended:\n" + log.read_text(errors="replace"))
        try:
            q = dns.message.make_query(zone, "SOA")
            q.flags &= ~dns.flags.RD
            r = dns.query.udp(q, ip, timeout=0.2)
            if r.rcode() == dns.rcode.NOERROR and r.flags & dns.flags.AA and r.answer:
                return
        except (dns.exception.Timeout, OSError):
            pass
        assert time.monotonic() < end, f"peer on {ip} not serving {zone}:\n" + log.read_text(
            errors="replace")
        time.sleep(0.05)


def start_nsd(d, ip, zone, text):
    d.mkdir()
    (d / "zone.db").write_text(text)
    conf = "\n".join([
        "server:", f"  ip-address: {ip}", "  do-ip6: no", "  server-count: 1", '  username: ""',
        '  chroot: ""', f'  zonesdir: "{d}"', '  database: ""', f'  pidfile: "{d}/nsd.pid"',
        f'  xfrdfile: "{d}/xfrd.state"', f'  zonelistfile: "{d}/zone.list"', f'  xfrdir: "{d}"',
        f'  logfile: "{d}/nsd.log"', "  verbosity: 1", "  refuse-any: no",
        "remote-control:", "  control-enable: no",
        "zone:", f'  name: "{zone}"', '  zonefile: "zone.db"']) + "\n"
    (d / "nsd.conf").write_text(conf)
    log = d / "daemon.log"
    proc = subprocess.Popen(["nsd", "-d", "-c", str(d / "nsd.conf")], cwd=d,
                            stdin=subprocess.DEVNULL, stdout=open(log, "wb"),
                            stderr=subprocess.STDOUT)
    wait_serving(ip, zone, proc, log)
    return proc


def start_bind(d, ip, zone, text):
    d.mkdir()
    (d / "zone.db").write_text(text)
    # One record per transfer message: the closing SOA comes in a message of its own.
    conf = f"""options {{
{bind_files(d)}    listen-on {{ {ip}; }};
    listen-on-v6 {{ none; }};
    recursion no;
    allow-transfer {{ any; }};
    transfer-format one-answer;
    notify no;
    dnssec-validation no;
}};
controls {{ }};
zone "{zone}" {{ type primary; file "{d}/zone.db"; }};
"""
    (d / "named.conf").write_text(conf)
    log = d / "daemon.log"
    proc = subprocess.Popen(["named", "-4", "-g", "-n", "1", "-U", "1", "-c", str(d / "named.conf")],
                            cwd=d, stdin=subprocess.DEVNULL, stdout=open(log, "wb"),
                            stderr=subprocess.STDOUT)
    wait_serving(ip, zone, proc, log)
    return proc


class FakeWhois:
    """A WHOIS server on ip:43 that answers every question with one text and closes; it keeps
    the questions it was asked. The socket is made by the caller's thread (so it lives in the
    test's network namespace)."""

    def __init__(self, ip, answer, port=43):
        self.answer = answer.encode()
        self.questions = []
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.sock.bind((ip, port))
        self.sock.listen(8)
        self.thread = threading.Thread(target=self._serve, daemon=True)
        self.thread.start()

    def _serve(self):
        while True:
            try:
                conn, _ = self.sock.accept()
            except OSError:
                return
            with conn:
                data = b""
                while not data.endswith(b"\r\n"):
                    chunk = conn.recv(1024)
                    if not chunk:
                        break
                    data += chunk
                self.questions.append(data.decode(errors="replace"))
                conn.sendall(self.answer)

    def close(self):
        self.sock.close()


__all__ = ["stop_process"]
