"""Fixtures for tests that run our programs as real processes.

Every test that uses `netns` runs in a private network namespace of its own: the test's thread is
moved into a new one (unshare), so the processes it starts and the sockets it opens live there,
port 53 is free, no packet can leave the machine, and the namespace goes away with its last user
even when the run is killed.

Every kestserv gets stand-ins for the places outside its program directory it can write (the unit
folder, systemctl, the autostart folder, the user's settings and runtime folders) through the
environment; the `kestserv` fixture fails a test after which any of them changed unasked.

A run in which tests were skipped ends with exit status 77 (CTest's SKIP_RETURN_CODE), or fails
when $CI is set: CI runs as root and must run everything.
"""
import ctypes
import os
import queue
import re
import shutil
import signal
import socket
import struct
import subprocess
import tempfile
import threading
import time
from pathlib import Path

import pytest

from fakenet import fake_internet  # noqa: F401  (the fake internet fixture of resolver tests)

CLONE_NEWNET = 0x40000000
_libc = ctypes.CDLL(None, use_errno=True)
SKIPPED_EXIT_STATUS = 77
_skipped = []


def _setns(fd):
    if _libc.setns(fd, CLONE_NEWNET) != 0:
        err = ctypes.get_errno()
        raise OSError(err, os.strerror(err))


def _in_ci():
    return os.environ.get("CI", "").strip().lower() not in ("", "0", "false", "no")


def pytest_runtest_logreport(report):
    if report.skipped:
        reason = report.longrepr[2] if isinstance(report.longrepr, tuple) else str(report.longrepr)
        _skipped.append(f"{report.nodeid}: {reason}")


def pytest_sessionfinish(session, exitstatus):
    # A skipped test must not read as a pass: CTest shows status 77 as "Skipped".
    if exitstatus == 0 and _skipped:
        session.exitstatus = 1 if _in_ci() else SKIPPED_EXIT_STATUS


def pytest_terminal_summary(terminalreporter):
    if _skipped:
        verdict = "a failure under CI" if _in_ci() else "the run counts as skipped"
        terminalreporter.write_line(f"{len(_skipped)} test(s) skipped, {verdict}:", red=True)
        for line in _skipped:
            terminalreporter.write_line("  " + line)


def pytest_addoption(parser):
    parser.addoption("--kestserv", default=os.environ.get("KESTSERV", ""),
                     help="path of the kestserv executable")


@pytest.fixture(scope="session")
def kestserv_path(request):
    path = request.config.getoption("--kestserv")
    if not path or not os.access(path, os.X_OK):
        pytest.fail("kestserv executable not given (--kestserv or $KESTSERV)")
    return path


@pytest.fixture
def netns():
    """A private network namespace with loopback up, entered for the test's duration; its id
    (the text of /proc/thread-self/ns/net) is the fixture's value."""
    if os.geteuid() != 0 or not shutil.which("ip"):
        pytest.skip("private network namespaces need root and iproute2")
    original = os.open("/proc/thread-self/ns/net", os.O_RDONLY)
    try:
        if _libc.unshare(CLONE_NEWNET) != 0:
            err = ctypes.get_errno()
            pytest.skip(f"cannot create a network namespace: {os.strerror(err)}")
        ns = os.readlink("/proc/thread-self/ns/net")
        assert ns != os.readlink(f"/proc/self/fd/{original}")
        subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
        yield ns
    finally:
        _setns(original)
        os.close(original)


class HostFolders:
    """Stand-ins for the places outside its program directory that kestserv can write, handed
    to it through the environment: the unit folder and systemctl (a script that records its
    arguments), the autostart folder, and the user's home, settings, cache, data, runtime and
    temporary folders (Qt and the settings store follow the XDG variables)."""

    def __init__(self, root):
        self.root = Path(root)
        self.units = self.root / "units"
        self.autostart = self.root / "autostart"
        self.systemctl = self.root / "bin" / "systemctl"
        self.calls_file = self.root / "systemctl.calls"
        self.dirs = {name: self.root / name for name in
                     ("home", "config", "cache", "data", "runtime", "tmp")}
        for d in [self.units, self.autostart, self.systemctl.parent, *self.dirs.values()]:
            d.mkdir(parents=True, exist_ok=True)
        self.dirs["runtime"].chmod(0o700)
        self.systemctl.write_text(f"#!/bin/sh\nprintf '%s\\n' \"$*\" >> '{self.calls_file}'\n")
        self.systemctl.chmod(0o755)
        self._baseline = self.snapshot()

    def env(self):
        return {
            "KESTRUNE_UNIT_DIR": str(self.units),
            "KESTRUNE_SYSTEMCTL": str(self.systemctl),
            "KESTRUNE_AUTOSTART_DIR": str(self.autostart),
            "HOME": str(self.dirs["home"]),
            "XDG_CONFIG_HOME": str(self.dirs["config"]),
            "XDG_CACHE_HOME": str(self.dirs["cache"]),
            "XDG_DATA_HOME": str(self.dirs["data"]),
            "XDG_RUNTIME_DIR": str(self.dirs["runtime"]),
            "TMPDIR": str(self.dirs["tmp"]),
        }

    def snapshot(self):
        out = {}
        for path in sorted(self.root.rglob("*")):
            rel = str(path.relative_to(self.root))
            out[rel] = "dir" if path.is_dir() else path.read_bytes()
        return out

    def changes(self):
        """What changed since the last call (or since they were made): sorted "added X",
        "removed X" and "changed X" lines; the state now becomes the new starting point."""
        now = self.snapshot()
        out = [f"added {p}" for p in now if p not in self._baseline]
        out += [f"removed {p}" for p in self._baseline if p not in now]
        out += [f"changed {p}" for p in now if p in self._baseline and now[p] != self._baseline[p]]
        self._baseline = now
        return sorted(out)

    def calls(self):
        """The systemctl command lines run so far."""
        return self.calls_file.read_text().splitlines() if self.calls_file.exists() else []


class KestServ:
    """kestserv run as a real process on a program directory of its own."""

    def __init__(self, exe, home, env=None, host=None):
        self.exe = exe
        self.home = Path(home)
        self.host = host
        self.env = dict(os.environ)
        for var in ("DISPLAY", "WAYLAND_DISPLAY", "NOTIFY_SOCKET", "INVOCATION_ID"):
            self.env.pop(var, None)
        self.env["KESTRUNE_HOME"] = str(self.home)
        self._extra_env = dict(env or {})
        self.env.update(self._extra_env)
        self.proc = None
        self.lines = []
        self.eof = False
        self._queue = queue.Queue()

    @property
    def ini(self):
        return self.home / "kestrund.ini"

    def write_ini(self, text):
        self.ini.write_bytes(text.replace("\r\n", "\n").replace("\n", "\r\n").encode())

    def start(self, *args):
        if self.host is None:
            self.host = HostFolders(self.home / ".host")
        self.env.update(self.host.env())
        self.env.update(self._extra_env)
        self.proc = subprocess.Popen([self.exe, *(args or ("-n",))], env=self.env,
                                     stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                     stdin=subprocess.DEVNULL)
        threading.Thread(target=self._reader, daemon=True).start()
        return self

    def _reader(self):
        for raw in self.proc.stdout:
            line = raw.decode("utf-8", "replace").rstrip("\r\n")
            self.lines.append(line)
            self._queue.put(line)
        self.eof = True
        self._queue.put(None)

    def wait_for(self, pattern, timeout=60):
        """Waits for a log line matching the regular expression; returns it."""
        rx = re.compile(pattern)
        for line in list(self.lines):
            if rx.search(line):
                return line
        deadline = time.monotonic() + timeout
        while True:
            left = deadline - time.monotonic()
            if left <= 0:
                break
            try:
                line = self._queue.get(timeout=left)
            except queue.Empty:
                break
            if line is None:
                break
            if rx.search(line):
                return line
        raise AssertionError(f"no line matching {pattern!r}; output was:\n" + "\n".join(self.lines))

    def count(self, pattern):
        """Log lines so far that match the regular expression."""
        rx = re.compile(pattern)
        return sum(1 for line in list(self.lines) if rx.search(line))

    def wait_count(self, pattern, n, timeout=60):
        """Waits until n log lines match the regular expression."""
        deadline = time.monotonic() + timeout
        while self.count(pattern) < n:
            if time.monotonic() > deadline or self.eof and self.count(pattern) < n:
                raise AssertionError(f"fewer than {n} lines matching {pattern!r}; output was:\n"
                                     + "\n".join(self.lines))
            time.sleep(0.01)

    def running(self):
        return self.proc is not None and self.proc.poll() is None

    def stop(self, sig=signal.SIGTERM, timeout=60):
        if not self.running():
            return self.proc.returncode if self.proc else None
        self.proc.send_signal(sig)
        try:
            return self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
            raise AssertionError("kestserv did not end after " + sig.name)


@pytest.fixture
def kest_home():
    with tempfile.TemporaryDirectory(prefix="kest-home-") as d:
        (Path(d) / "data").mkdir()
        yield Path(d)


@pytest.fixture
def kestserv(kestserv_path, kest_home, netns):
    """A factory of kestserv processes in the test's namespace, all with the same stand-in host
    folders (`host` of each); all are stopped at the end, and the test fails when the host
    folders changed in a way it did not take note of (HostFolders.changes)."""
    made = []
    with tempfile.TemporaryDirectory(prefix="kest-host-") as d:
        host = HostFolders(d)

        def make(env=None, home=None):
            k = KestServ(kestserv_path, home or kest_home, env, host)
            made.append(k)
            return k

        yield make
        for k in made:
            if k.running():
                k.proc.kill()
                k.proc.wait()
        changed = host.changes()
        assert not changed, "kestserv wrote outside its program directory: " + ", ".join(changed)


def parse_ini(path):
    """The settings file as (key, value) pairs in file order."""
    pairs = []
    for line in Path(path).read_bytes().decode().split("\r\n"):
        if line:
            key, _, value = line.partition(":")
            pairs.append((key.strip(), value.strip()))
    return pairs


def udp_exchange(data, source, timeout=2.0, server=("127.0.0.1", 53)):
    """Sends one datagram from source to the server; the reply's bytes, or None on time-out."""
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.bind((source, 0))
    s.settimeout(timeout)
    try:
        s.sendto(data, server)
        try:
            return s.recvfrom(65535)[0]
        except socket.timeout:
            return None
    finally:
        s.close()


def probe_query(qid=0x5AFE, name="probe.invalid."):
    """A query for a type the server does not implement (AAAA): answered at once, by no look-up
    and from no zone, whatever the settings."""
    wire = struct.pack("!HHHHHH", qid, 0x0100, 1, 0, 0, 0)
    for label in name.rstrip(".").split("."):
        wire += bytes([len(label)]) + label.encode()
    return wire + b"\x00" + struct.pack("!HH", 28, 1)


def probe(source="127.0.0.1", server=("127.0.0.1", 53), timeout=60):
    """Sends the probe query and waits for its reply: a sign that the server has handled what
    reached it before. Fails when no reply comes."""
    wire = probe_query()
    reply = udp_exchange(wire, source, timeout, server)
    assert reply is not None, "no reply to the probe query"
    assert reply[:2] == wire[:2] and reply[2] & 0x80, reply
    return reply
